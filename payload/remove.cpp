// Portable layer. Removal of the private folder: only what this run made goes, and only
// through a handle on the very entry (see OwnFiles).
#include "base/path.h"
#include "payload/payload.h"
#include "payload/temp_folder.h"

namespace carryall {

namespace {
constexpr std::size_t kFindBuffer = 265;

// Deletes the entry at path through its own handle when this run may delete it, after
// logging line (a format with the path). Otherwise logs that it is kept, and why.
void RemoveEntry(PayloadContext& ctx, const Text& path, std::u16string_view line) {
  IFileSystem& files = ctx.files;
  Log& log = ctx.log;
  Fallible<std::unique_ptr<IFileHandle>> handle = files.OpenEntry(path, /*deletion=*/true);
  const Fallible<HandleFacts> facts = handle ? (*handle)->Facts() : Fallible<HandleFacts>(handle.failure());
  if (!facts) {
    log.Printf(u"Kept '%s': it could not be deleted\n", path);
    return;
  }
  if (!ctx.folder.own.MayDelete(path, *facts)) {
    log.Printf(u"Kept '%s': this run did not write it\n", path);
    return;
  }
  log.Printf(line, path);
  // The entry goes as the handle closes, whatever name it has by then.
  if (!(*handle)->DeleteOnClose()) log.Printf(u"Kept '%s': it could not be deleted\n", path);
}
}  // namespace

int32_t RemovePrivateFolder(PayloadContext& ctx, const ResourceTable& table) {
  Text folder = GetTempFolder(ctx);
  // The wizard has ended: the run's own holds would stop its own deletions.
  ctx.folder.own.ReleaseHolds();
  for (const auto& record : table) {
    Text path;
    // Only the files this run wrote; a name that would leave the private folder or
    // name a device has no path and was never written.
    if (!record->GetFilePath(ctx, path) || !ctx.folder.own.Wrote(path)) continue;
    RemoveEntry(ctx, path, u"Manual Deletion of '%s'\n");
  }
  // Off the folder, so that it can go; from a root that cannot be entered it stays.
  (void)ctx.files.SetCurrentDirectory(u"\\");
  ctx.log.Printf(u"Deletion Folder of '%s'\n", folder);
  DeleteFolder(ctx, folder);
  return 0;
}

bool DeleteFolder(PayloadContext& ctx, const Text& folder) {
  IFileSystem& files = ctx.files;
  Log& log = ctx.log;
  const OwnFiles& own = ctx.folder.own;
  const Fallible<HandleFacts> here = LookAt(files, folder);
  if (!here || !own.IsRealFolderHere(folder, *here)) {
    // A link at the folder's place (or a handle that lands elsewhere): never walked.
    RemoveEntry(ctx, folder, u"Remove Folder '%s'\n");
    return false;
  }
  Text base = folder;
  if (base.empty() || base.back() != u'\\') base.push_back(u'\\');
  std::optional<Text> pattern = PathAppend(base, u"*.*", kFindBuffer);
  Fallible<FirstFound> found = pattern ? files.FindFirst(*pattern) : Fallible<FirstFound>(Failed(kErrorInvalidParameter));
  if (found) {
    Fallible<FindEntry> next = found->entry;
    for (; next; next = found->search->Next()) {
      const FindEntry& entry = *next;
      if (base.size() + entry.name.size() + 1 > kFindBuffer) continue;  // would not fit: left alone
      Text path = base + entry.name;
      if (!(entry.attributes & kFileAttributeDirectory)) {
        RemoveEntry(ctx, path, u"Deletion file '%s'\n");
      } else if (entry.name != u"." && entry.name != u"..") {
        const Fallible<HandleFacts> sub = LookAt(files, path);
        if (sub && own.IsRealFolderHere(path, *sub) && !(entry.attributes & kFileAttributeReparsePoint)) {
          log.Printf(u"Deletion subfolder Folder of '%s'\n", path);
          DeleteFolder(ctx, path);
        } else {
          // A junction or directory link: the link itself at most, never what it points to.
          RemoveEntry(ctx, path, u"Remove Folder '%s'\n");
        }
      }
    }
    found->search.reset();
  }
  RemoveEntry(ctx, folder, u"Remove Folder '%s'\n");
  return false;
}

}  // namespace carryall
