// Portable layer. What this run put into the private folder, known by identity rather
// than by name. A name says nothing about what is behind it: a hard link is a second
// name of someone else's file, and under Wine a Unix symbolic link to a file reads as an
// ordinary file. So every file is written through a handle whose facts were looked at
// first, each file and folder the run makes is remembered by the identity its handle
// reports, the files are held against other writers and deleters while the wizard
// runs, and clean-up deletes an entry only through a handle that is on that very entry
// and on something this run made.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "base/path.h"
#include "platform/patience.h"
#include "platform/platform.h"

namespace carryall {

class OwnFiles {
 public:
  // Why Create refused an entry that was there already, or one it made elsewhere.
  enum class Refusal {
    kNone,
    kLink,   // a link, or a handle that landed somewhere else than at the name
    kNames,  // a file with more than one name (a hard link)
  };

  // Takes note of the private folder once it is named: base is the folder above it,
  // made says this run created it. Opens both and reads their handles; false (and no
  // file can be made in it afterwards) when the folder's handle is not on a real folder
  // at folder's place below base.
  bool NoteFolder(IFileSystem& files, const Text& base, const Text& folder, bool made);
  bool usable() const { return usable_; }

  // Takes note of a folder below the private folder that this run has just made.
  void NoteMadeFolder(IFileSystem& files, const Text& path);

  // Opens path below the private folder for this run's bytes. An entry that was there
  // already is used only when its handle shows a plain file with a single name at
  // path's own place, and it is emptied then; one the call made is never refused
  // unless the handle landed elsewhere (a link to nothing), and is deleted again then.
  // On success the identity is remembered. nullptr on failure: error holds the
  // system's error, or ERROR_STOPPED_ON_SYMLINK when the entry was refused, and
  // refusal says why. An open refused because another program holds the file is tried
  // again with patience.
  std::unique_ptr<IFileHandle> Create(IFileSystem& files, Patience& patience, const Text& path, uint32_t& error,
                                      Refusal& refusal);

  // Holds the file just written at path, its writer closed, until ReleaseHolds: no
  // other opener may then write, replace, rename or delete it, while the wizard can
  // still read and start it. False when the file cannot be held or is no longer the
  // one written. A hold refused because another program has the file open is tried
  // again with patience.
  bool Hold(IFileSystem& files, Patience& patience, const Text& path);
  void ReleaseHolds() { holds_.clear(); }
  std::size_t held() const { return holds_.size(); }

  // True when this run wrote a file under exactly this name.
  bool Wrote(const Text& path) const;
  // True when the private folder is this run's own: made by it, and open to others for
  // reading only.
  bool made() const { return made_; }

  // Whether the entry at path, whose handle reported facts, may be deleted: its handle
  // must be on the entry itself (not on a link's target), and it must be a file or
  // folder this run made, or lie inside a private folder that this run made.
  bool MayDelete(const Text& path, const HandleFacts& facts) const;

  // True when the handle with facts is on a real folder at path's own place.
  bool IsRealFolderHere(const Text& path, const HandleFacts& facts) const;

 private:
  struct Made {
    Text path;
    FileIdentity identity;
  };
  // The handle is on the entry at path itself, as far as the system says where it is.
  bool AtItsPlace(const Text& path, const HandleFacts& facts) const;
  bool Ours(const FileIdentity& identity) const;

  bool usable_ = false;
  bool made_ = false;  // the private folder is this run's own
  Text folder_;
  std::optional<Text> folder_final_;  // where the system puts the private folder
  std::vector<Made> files_;
  std::vector<Made> folders_;
  std::vector<std::unique_ptr<IFileHandle>> holds_;
};

// The facts of the entry at path, read through a handle that only looks.
Fallible<HandleFacts> LookAt(IFileSystem& files, const Text& path);

}  // namespace carryall
