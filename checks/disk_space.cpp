// Portable layer. Free disk space on the volume of the base temporary folder.
#include "checks/disk_space.h"

#include <algorithm>

#include "base/path.h"
#include "base/string_ids.h"
#include "checks/checks.h"
#include "base/text.h"

namespace carryall {

namespace {
// The component buffers of the split, each counting its terminating NUL.
constexpr std::size_t kDriveSize = 3;
constexpr std::size_t kDirectorySize = 256;
constexpr std::size_t kNameSize = 256;
constexpr std::size_t kExtensionSize = 256;
constexpr uint64_t kBytesPerKB = 1024;

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

bool IsDrive(std::u16string_view path) {
  return path.size() >= 2 && path[1] == u':' &&
         ((path[0] >= u'A' && path[0] <= u'Z') || (path[0] >= u'a' && path[0] <= u'z'));
}

}  // namespace

std::optional<PathParts> SplitPath(std::u16string_view path, std::size_t drive_size, std::size_t directory_size,
                                   std::size_t name_size, std::size_t extension_size) {
  path = path.substr(0, path.find(u'\0'));
  PathParts parts;
  if (path.size() >= 2 && path[1] == u':') {
    parts.drive = Text(path.substr(0, 2));
    path.remove_prefix(2);
  }
  std::size_t last_separator = path.find_last_of(u"\\/");
  std::size_t name_start = last_separator == std::u16string_view::npos ? 0 : last_separator + 1;
  parts.directory = Text(path.substr(0, name_start));
  std::u16string_view tail = path.substr(name_start);
  std::size_t dot = tail.rfind(u'.');
  if (dot == std::u16string_view::npos) dot = tail.size();
  parts.name = Text(tail.substr(0, dot));
  parts.extension = Text(tail.substr(dot));
  if (parts.drive.size() >= drive_size || parts.directory.size() >= directory_size || parts.name.size() >= name_size ||
      parts.extension.size() >= extension_size) {
    return std::nullopt;
  }
  return parts;
}

Text WithoutNamespacePrefix(std::u16string_view path) {
  if (path.size() < 4 || !IsSeparator(path[0]) || !IsSeparator(path[1]) || (path[2] != u'?' && path[2] != u'.') ||
      !IsSeparator(path[3])) {
    return Text(path);
  }
  std::u16string_view rest = path.substr(4);
  if (IsDrive(rest)) return Text(rest);
  if (path[2] == u'?' && rest.size() >= 4 && EqualsIgnoreCase(rest.substr(0, 3), u"UNC") && IsSeparator(rest[3])) {
    return u"\\\\" + Text(rest.substr(4));
  }
  return Text(path);
}

Text LexicalVolumeRoot(std::u16string_view full_path) {
  Text path = WithoutNamespacePrefix(full_path);
  if (IsDrive(path)) return path.substr(0, 2) + u"\\";
  if (path.size() < 2 || !IsSeparator(path[0]) || !IsSeparator(path[1])) return Text();
  // What stays in the device namespace ("\\.\CON", "\\?\Volume{...}") is no share.
  if (path.size() >= 4 && (path[2] == u'.' || path[2] == u'?') && IsSeparator(path[3])) return Text();
  // \\server\share: two names, each ended by a separator or the end of the text.
  std::size_t server_end = path.find_first_of(u"\\/", 2);
  if (server_end == Text::npos || server_end == 2) return Text();
  std::size_t share_end = std::min(path.find_first_of(u"\\/", server_end + 1), path.size());
  if (share_end == server_end + 1) return Text();
  return u"\\\\" + path.substr(2, server_end - 2) + u"\\" + path.substr(server_end + 1, share_end - server_end - 1) +
         u"\\";
}

DiskVerdict CheckFreeDiskSpace(IMachineInfo& machine, Log& log, const Text& path, int64_t required_mb) {
  log.Write(u"Free Disk Space\n");
  DiskVerdict verdict;
  verdict.required_mb = required_mb;

  // The private folder does not exist yet; its base folder's volume is the one to ask.
  std::optional<PathParts> parts = SplitPath(path, kDriveSize, kDirectorySize, kNameSize, kExtensionSize);
  if (!parts) {
    log.Printf(u"Failed to parse directory for free disk space check. %s\n", path);
    return verdict;
  }
  if (NamesDevice(path)) {
    // A device (CON, NUL) has no free space to measure, and it is no folder at all: the
    // worker's temporary folder step refuses it as an unusable folder, which is the
    // failure to report (and, in a run with a user, the one that offers another folder).
    log.Printf(u"Free disk space not checked: '%s' is not a folder.\n", path);
    verdict.enough = true;
    return verdict;
  }

  // The space is that of the folder's own volume: the root the system names (a mount
  // point, a share), or else the one the text names. A drive path on its drive's root is
  // named and asked by its drive as it always was ("C:").
  Fallible<Text> answered = machine.GetVolumePathName(path);
  Text root = answered && !answered->empty() ? WithoutNamespacePrefix(*answered) : LexicalVolumeRoot(path);
  verdict.drive = !parts->drive.empty() && EqualsIgnoreCase(root, parts->drive + u"\\") ? parts->drive : root;
  log.Printf(u"Free Disk Space: Checking at least %I64d MB free on drive '%s' for temp directory '%s'\n",
             verdict.required_mb, verdict.drive, path);

  Fallible<uint64_t> available = machine.FreeBytesForCaller(verdict.drive);
  if (!available) {
    log.Write(u"Failed to check free disk space.\n");
    return verdict;
  }
  verdict.free_mb = static_cast<int64_t>(*available / kBytesPerKB / kBytesPerKB);
  if (verdict.free_mb >= verdict.required_mb) {
    log.Write(u"Free disk space requirement passed.\n");
    verdict.enough = true;
    return verdict;
  }
  log.Printf(u"Insufficient disk space: %I64d MB required but only %I64d MB free.\n", verdict.required_mb,
             verdict.free_mb);
  return verdict;
}

}  // namespace carryall
