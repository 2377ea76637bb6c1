// Portable layer. Removal of the private folder.
#include "app/carryall_app.h"
#include "base/path.h"
#include "payload/payload.h"
#include "payload/temp_folder.h"

namespace carryall {

namespace {
constexpr std::size_t kFindBuffer = 265;
}  // namespace

int32_t CCarryallInstallerApp::RemoveTempFolder() {
  IFileSystem& files = platform_.files;
  Text folder = GetTempFolder(*this);
  for (const CResource* record : m_resources) {
    Text path;
    // A name that would leave the private folder or name a device has no path and is
    // never deleted; nor is a file with a link on the way to it: the deletion would
    // reach into the link's target.
    if (!record->GetFilePath(*this, path) || path.empty()) continue;
    if (!IsLinkFree(files, folder, path, /*including_path=*/false)) continue;
    log_.Printf(u"Manual Deletion of '%s'\n", path);
    files.DeleteFile(path);
  }
  files.SetCurrentDirectory(u"\\");
  log_.Printf(u"Deletion Folder of '%s'\n", folder);
  DeleteFolder(*this, folder);
  return 0;
}

bool DeleteFolder(CCarryallInstallerApp& app, const Text& folder) {
  IFileSystem& files = app.platform().files;
  Log& log = app.log();
  std::optional<uint32_t> own = files.GetFileAttributes(folder);
  if (own && (*own & kFileAttributeReparsePoint)) {
    // A link at the folder's place: remove the link, never what it points to.
    log.Printf(u"Remove Folder '%s'\n", folder);
    files.RemoveDirectory(folder);
    return false;
  }
  Text base = folder;
  if (base.empty() || base.back() != u'\\') base.push_back(u'\\');
  std::optional<Text> pattern = PathAppend(base, u"*.*", kFindBuffer);
  FindEntry entry;
  std::unique_ptr<IFindHandle> search = pattern ? files.FindFirst(*pattern, entry) : nullptr;
  if (search) {
    do {
      if (base.size() + entry.name.size() + 1 > kFindBuffer) continue;  // would not fit: left alone
      Text path = base + entry.name;
      if (!(entry.attributes & kFileAttributeDirectory)) {
        log.Printf(u"Deletion file '%s'\n", path);
        files.DeleteFile(path);
      } else if (entry.name != u"." && entry.name != u"..") {
        log.Printf(u"Deletion subfolder Folder of '%s'\n", path);
        if (entry.attributes & kFileAttributeReparsePoint) {
          // A junction or directory link: remove the link, never what it points to.
          log.Printf(u"Remove Folder '%s'\n", path);
          files.RemoveDirectory(path);
        } else {
          DeleteFolder(app, path);
        }
      }
    } while (search->Next(entry));
    search.reset();
  }
  log.Printf(u"Remove Folder '%s'\n", folder);
  files.RemoveDirectory(folder);
  return false;
}

}  // namespace carryall
