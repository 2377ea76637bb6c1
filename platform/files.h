// Portable layer. Files and folders: writing, reading, searching and the identity of
// what a handle is open on, and the conversion of text to the ANSI code page.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/fallible.h"
#include "base/text.h"

namespace carryall {

// A file opened for reading, shared with other readers. Closed when the object goes away.
class IReadFile {
 public:
  virtual ~IReadFile() = default;
  // GetFileSize's low 32 bits.
  virtual Fallible<uint32_t> Size() = 0;
  // SetFilePointer(distance, FILE_END).
  virtual Status SeekFromEnd(int32_t distance) = 0;
  // ReadFile: the count read.
  virtual Fallible<uint32_t> Read(void* buffer, uint32_t size) = 0;
};

constexpr uint32_t kFileAttributeReadOnly = 0x1;
constexpr uint32_t kFileAttributeDirectory = 0x10;
constexpr uint32_t kFileAttributeNormal = 0x80;
constexpr uint32_t kFileAttributeReparsePoint = 0x400;

struct FindEntry {
  Text name;
  uint32_t attributes = 0;
};

// Which file or folder a handle is open on: its index on its volume, and the volume's
// serial number where the system cannot say where a handle is (final_path below is
// nullopt). Where it can, volume is 0: a place names one volume, so two handles at one
// place with one index are open on one file, and the serial number, which Wine fetches
// from its mount manager for each handle, is not asked for. Two handles with one
// identity are open on one file, whatever names led to it.
struct FileIdentity {
  uint32_t volume = 0;
  uint64_t index = 0;
  bool operator==(const FileIdentity&) const = default;
};

// What a handle says about the file or folder it is open on.
struct HandleFacts {
  uint32_t attributes = 0;
  uint32_t links = 0;  // the names the file has (nNumberOfLinks)
  FileIdentity identity;
  // The path the system gives the open file or folder (GetFinalPathNameByHandleW, in the
  // drive-letter form, without a "\\?\" prefix); nullopt where the system has no such
  // call. A handle opened through a link it did not see as one (as Wine opens a Unix
  // symbolic link to a file) is on the link's target, and this path names the target.
  std::optional<Text> final_path;
};

// An open file or folder. Closed when the object goes away; each operation needs the
// access that the call which opened it asked for, and fails without it.
class IFileHandle {
 public:
  virtual ~IFileHandle() = default;
  virtual Fallible<HandleFacts> Facts() = 0;
  // Empties the file (SetEndOfFile at offset 0).
  virtual Status Truncate() = 0;
  // One WriteFile call at the current position: the count of bytes the system reports
  // written (fewer than size is a short write, not a failure).
  virtual Fallible<uint32_t> WriteOnce(const void* data, uint32_t size) = 0;
  // Moves the position to the file's end, where the next write goes.
  virtual Status SeekToEnd() = 0;
  // Marks the file or folder for deletion (FileDispositionInfo): it goes when this
  // handle closes, whatever name it has by then. A folder must be empty. Nothing is
  // marked on failure.
  virtual Status DeleteOnClose() = 0;
  // Clears the read-only attribute of the file (FileBasicInfo, times unchanged), keeping
  // the other attributes that Facts reported; needs the access that OpenEntry asks for
  // with deletion. A read-only file refuses DeleteOnClose with access denied.
  virtual Status ClearReadOnly(uint32_t attributes) = 0;
};

// An open directory search (FindFirstFileExW); closed when the object goes away.
class IFindHandle {
 public:
  virtual ~IFindHandle() = default;
  // FindNextFileW; fails with kErrorNoMoreFiles when there are no more entries.
  virtual Fallible<FindEntry> Next() = 0;
};

// What OpenForWriting opened: the handle, and whether the call made the file.
struct OpenedForWriting {
  std::unique_ptr<IFileHandle> handle;
  bool created = false;
};

// A search that has started: its handle and the first entry it found.
struct FirstFound {
  std::unique_ptr<IFindHandle> search;
  FindEntry entry;
};

class IFileSystem {
 public:
  virtual ~IFileSystem() = default;

  // GetFullPathNameW without a length limit: the path resolved against the current
  // directory.
  virtual Fallible<Text> GetFullPathName(const Text& path) = 0;

  // CreateDirectoryW without security attributes: only the last level can be made.
  virtual Status CreateDirectory(const Text& path) = 0;
  // SHCreateDirectoryExW: every missing level.
  virtual Status CreateDirectoryTree(const Text& path) = 0;
  // Creates a file with no access rights, shared for everything, CREATE_ALWAYS and
  // delete-on-close, and closes it at once: proves a file can be made there.
  virtual Status CreateProbeFile(const Text& path) = 0;
  // CreateFileW(GENERIC_WRITE | DELETE, no sharing, CREATE_NEW, FILE_ATTRIBUTE_NORMAL |
  // FILE_FLAG_OPEN_REPARSE_POINT), and when an entry is there already OPEN_EXISTING: a
  // link at path's own place is opened as itself (or, a link to nothing, not at all),
  // and nothing is emptied, so that the caller can look at what it opened before it
  // writes.
  virtual Fallible<OpenedForWriting> OpenForWriting(const Text& path) = 0;
  // CreateFileW(GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT).
  // While the handle is open nobody else may write, replace, rename or delete the file;
  // readers, and a program started from the file, still may.
  virtual Fallible<std::unique_ptr<IFileHandle>> OpenForHolding(const Text& path) = 0;
  // CreateFileW(FILE_READ_ATTRIBUTES, with deletion DELETE | FILE_WRITE_ATTRIBUTES too, every sharing,
  // OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT): a file or a
  // folder, to look at and, with deletion, to delete through.
  virtual Fallible<std::unique_ptr<IFileHandle>> OpenEntry(const Text& path, bool deletion) = 0;
  // CreateFileW(GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING).
  virtual Fallible<std::unique_ptr<IReadFile>> OpenRead(const Text& path) = 0;
  virtual Status DeleteFile(const Text& path) = 0;
  // MoveFileExW(path, no new name, MOVEFILE_DELAY_UNTIL_REBOOT): the system deletes the
  // file, or the folder if it is empty by then, as it next starts, in the order they were
  // marked. Needs administrator rights (it is kept in HKLM).
  virtual Status DeleteAtRestart(const Text& path) = 0;
  virtual Status RemoveDirectory(const Text& path) = 0;
  virtual Status SetCurrentDirectory(const Text& path) = 0;
  // FindFirstFileExW(pattern, standard info, name match): the search and its first entry.
  virtual Fallible<FirstFound> FindFirst(const Text& pattern) = 0;
  // GetFileAttributesW: the entry's own attributes. A link (junction or symbolic link)
  // that the path's last component names is reported with kFileAttributeReparsePoint,
  // not followed; links above it are followed. Fails when nothing is there or the
  // attributes cannot be read.
  virtual Fallible<uint32_t> GetFileAttributes(const Text& path) = 0;
};

// Conversion between UTF-16 and the calling thread's ANSI code page (CP_THREAD_ACP).
class ICodePage {
 public:
  virtual ~ICodePage() = default;
  // No flags, default replacement character for what the code page cannot hold.
  // The result is sized from the converter's own answer, so multi-byte code pages
  // lose nothing. Text up to its first NUL.
  virtual Fallible<std::string> ToAnsi(const Text& text) = 0;
  virtual Text FromAnsi(const std::string& ansi) = 0;
};

}  // namespace carryall
