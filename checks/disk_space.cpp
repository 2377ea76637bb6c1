// Portable layer. Free disk space on the drive of the base temporary folder.
#include "checks/disk_space.h"

#include "app/carryall_app.h"
#include "app/string_ids.h"
#include "checks/checks.h"
#include "payload/resource_table.h"

namespace carryall {

namespace {
// The component buffers of the split, each counting its terminating NUL.
constexpr std::size_t kDriveSize = 3;
constexpr std::size_t kDirectorySize = 256;
constexpr std::size_t kNameSize = 256;
constexpr std::size_t kExtensionSize = 256;
constexpr uint64_t kBytesPerKB = 1024;
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
  if (parts.drive.size() >= drive_size || parts.directory.size() >= directory_size ||
      parts.name.size() >= name_size || parts.extension.size() >= extension_size) {
    return std::nullopt;
  }
  return parts;
}

bool CheckFreeDiskSpace(CCarryallInstallerApp& app) {
  Log& log = app.log();
  log.Write(u"Free Disk Space\n");
  app.m_nFreeMB = 0;
  app.m_nRequiredMB = ReadDecimal(app.LoadString(kIdsRequiredDiskMB));

  // The private folder does not exist yet; its base folder's drive is the one to ask.
  const Text& path = app.m_strTempFolder;
  std::optional<PathParts> parts = SplitPath(path, kDriveSize, kDirectorySize, kNameSize, kExtensionSize);
  if (!parts) {
    log.Printf(u"Failed to parse directory for free disk space check. %s\n", path);
    return false;
  }
  app.m_strDiskDrive = parts->drive;
  log.Printf(u"Free Disk Space: Checking at least %I64d MB free on drive '%s' for temp directory '%s'\n",
             app.m_nRequiredMB, app.m_strDiskDrive, path);

  // A path without a drive letter (a share) gives empty text, which is asked as it is.
  std::optional<uint64_t> available = app.platform().machine.FreeBytesForCaller(app.m_strDiskDrive);
  if (!available) {
    log.Write(u"Failed to check free disk space.\n");
    return false;
  }
  app.m_nFreeMB = static_cast<int64_t>(*available / kBytesPerKB / kBytesPerKB);
  if (app.m_nFreeMB >= app.m_nRequiredMB) {
    log.Write(u"Free disk space requirement passed.\n");
    return true;
  }
  log.Printf(u"Insufficient disk space: %I64d MB required but only %I64d MB free.\n", app.m_nRequiredMB,
             app.m_nFreeMB);
  return false;
}

}  // namespace carryall
