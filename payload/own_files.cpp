// Portable layer. What this run put into the private folder.
#include "payload/own_files.h"

namespace carryall {

namespace {

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

// The part of path below folder as the system spells it: one backslash between
// components, "." components dropped; empty for the folder itself. nullopt when path
// does not lie below folder.
std::optional<Text> Below(const Text& folder, const Text& path) {
  if (path == folder) return Text();
  if (path.size() <= folder.size() || path.compare(0, folder.size(), folder) != 0 ||
      !IsSeparator(path[folder.size()])) {
    return std::nullopt;
  }
  Text out, part;
  for (std::size_t i = folder.size(); i <= path.size(); ++i) {
    if (i < path.size() && !IsSeparator(path[i])) {
      part.push_back(path[i]);
      continue;
    }
    if (!part.empty() && part != u".") out += u"\\" + part;
    part.clear();
  }
  return out;
}

Text WithoutTrailingSeparator(Text path) {
  while (!path.empty() && IsSeparator(path.back())) path.pop_back();
  return path;
}

}  // namespace

Fallible<HandleFacts> LookAt(IFileSystem& files, const Text& path) {
  Fallible<std::unique_ptr<IFileHandle>> handle = files.OpenEntry(path, /*deletion=*/false);
  if (!handle) return handle.failure();
  return (*handle)->Facts();
}

bool OwnFiles::NoteFolder(IFileSystem& files, const Text& base, const Text& folder, bool made) {
  folder_ = folder;
  const Fallible<HandleFacts> base_facts = LookAt(files, base);
  const Fallible<HandleFacts> facts = LookAt(files, folder);
  if (!base_facts || !facts) return false;
  if (!(facts->attributes & kFileAttributeDirectory) || (facts->attributes & kFileAttributeReparsePoint)) return false;
  // Where the folder must be: below where the system puts the base. Both are read the
  // same way, so links above the base (or a drive seen through another name) agree.
  std::optional<Text> name = Below(WithoutTrailingSeparator(base), folder);
  if (base_facts->final_path && facts->final_path) {
    if (!name || !SamePath(WithoutTrailingSeparator(*base_facts->final_path) + *name, *facts->final_path)) {
      return false;
    }
  }
  folder_final_ = facts->final_path;
  made_ = made;
  if (made) folders_.push_back({folder, facts->identity});
  usable_ = true;
  return true;
}

void OwnFiles::NoteMadeFolder(IFileSystem& files, const Text& path) {
  const Fallible<HandleFacts> facts = LookAt(files, path);
  // A folder that cannot be told from what came in its place is not remembered: it stays.
  if (facts && IsRealFolderHere(path, *facts)) folders_.push_back({path, facts->identity});
}

std::unique_ptr<IFileHandle> OwnFiles::Create(IFileSystem& files, Patience& patience, const Text& path, uint32_t& error,
                                              Refusal& refusal) {
  refusal = Refusal::kNone;
  if (!usable_ || !Below(folder_, path)) {
    error = kErrorStoppedOnLink;
    return nullptr;
  }
  Fallible<OpenedForWriting> opened =
      patience.Retry(path, /*access_denied_counts=*/false, [&] { return files.OpenForWriting(path); });
  if (!opened) {
    error = opened.error();
    return nullptr;
  }
  std::unique_ptr<IFileHandle> file = std::move(opened->handle);
  const bool created = opened->created;
  Fallible<HandleFacts> facts = file->Facts();
  if (facts &&
      ((facts->attributes & (kFileAttributeReparsePoint | kFileAttributeDirectory)) || !AtItsPlace(path, *facts))) {
    refusal = Refusal::kLink;
  } else if (facts && facts->links != 1) {
    refusal = Refusal::kNames;
  }
  if (!facts || refusal != Refusal::kNone) {
    // What the call made itself goes again (through a link to nothing it lands outside).
    if (created) (void)file->DeleteOnClose();  // when it cannot go, the clean-up keeps it
    error = kErrorStoppedOnLink;
    return nullptr;
  }
  if (!created && !file->Truncate()) {
    error = kErrorStoppedOnLink;
    return nullptr;
  }
  files_.push_back({path, facts->identity});
  return file;
}

bool OwnFiles::Hold(IFileSystem& files, Patience& patience, const Text& path) {
  Fallible<std::unique_ptr<IFileHandle>> hold =
      patience.Retry(path, /*access_denied_counts=*/false, [&] { return files.OpenForHolding(path); });
  const Fallible<HandleFacts> facts = hold ? (*hold)->Facts() : Fallible<HandleFacts>(hold.failure());
  // Between the writer's close and this open the name may have been given to another
  // file; the identity says whether it is still the one written.
  if (!facts || files_.empty() || files_.back().path != path || facts->identity != files_.back().identity ||
      !AtItsPlace(path, *facts)) {
    return false;
  }
  holds_.push_back(*std::move(hold));
  return true;
}

bool OwnFiles::Wrote(const Text& path) const {
  for (const Made& file : files_) {
    if (file.path == path) return true;
  }
  return false;
}

bool OwnFiles::MayDelete(const Text& path, const HandleFacts& facts) const {
  if (!AtItsPlace(path, facts)) return false;
  if (Ours(facts.identity)) return true;
  // Everything inside a folder this run made came during the run: the wizard's own
  // files, say. A link among them is seen here as itself (its handle is at its place),
  // so deleting it deletes the link alone.
  std::optional<Text> below = Below(folder_, path);
  return made_ && below && !below->empty();
}

bool OwnFiles::IsRealFolderHere(const Text& path, const HandleFacts& facts) const {
  return (facts.attributes & kFileAttributeDirectory) && !(facts.attributes & kFileAttributeReparsePoint) &&
         AtItsPlace(path, facts);
}

bool OwnFiles::AtItsPlace(const Text& path, const HandleFacts& facts) const {
  std::optional<Text> below = Below(folder_, path);
  if (!usable_ || !below) return false;
  if (!facts.final_path || !folder_final_) return true;  // the system cannot say where a handle is
  return SamePath(*folder_final_ + *below, *facts.final_path);
}

bool OwnFiles::Ours(const FileIdentity& identity) const {
  for (const Made& file : files_) {
    if (file.identity == identity) return true;
  }
  for (const Made& folder : folders_) {
    if (folder.identity == identity) return true;
  }
  return false;
}

}  // namespace carryall
