// Portable layer. Removal of the private folder: only what this run made goes, and only
// through a handle on the very entry (see OwnFiles). A file another program still holds
// (a scanner, a debugger that keeps a crashed wizard) is waited for with patience, and
// marked for deletion at the next start of the system when it stays held.
#include "base/path.h"
#include "payload/payload.h"
#include "payload/temp_folder.h"
#include "platform/patience.h"

#include <vector>

namespace carryall {

namespace {
constexpr std::size_t kFindBuffer = 265;

// One clean-up: its one budget of waiting, and whether anything was left for the next
// start (a folder holding such an entry follows it there) or kept for good.
struct Cleanup {
  explicit Cleanup(PayloadContext& context) : ctx(context), patience(context.system, context.log) {}
  PayloadContext& ctx;
  Patience patience;
  std::vector<Text> left;  // held past the waiting: marked for the next start, or kept
  bool kept = false;
};

// Hands an entry that stays held to the system, to delete as it next starts. Only in a
// private folder this run made itself under a fresh GUID, which nobody else may write
// into and no later run names again: what stands at the path then is still this run's
// own when the system comes to it. A zero-GUID folder is the next zero-GUID run's too,
// and a mark by path would delete that run's files at the restart. True when the entry
// was dealt with that way (marked, or the marking failed and was logged).
bool LeaveForRestart(Cleanup& c, const Text& path, uint32_t error) {
  IFileSystem& files = c.ctx.files;
  const OwnFiles& own = c.ctx.folder.own;
  if (!own.made() || c.ctx.folder.zero_guid) return false;
  const Fallible<HandleFacts> facts = LookAt(files, path);
  if (!facts || !own.MayDelete(path, *facts)) return false;
  const Status marked = files.DeleteAtRestart(path);
  if (!marked) {
    c.ctx.log.Printf(u"Kept '%s': it is held (error %u) and could not be marked for deletion at restart, error %u\n",
                     path, error, marked.error());
    c.left.push_back(path);
    c.kept = true;
    return true;
  }
  if (error == kErrorDirNotEmpty) {
    c.ctx.log.Printf(u"Marked '%s' for deletion at the next restart, after what is left in it (error %u)\n", path,
                     error);
  } else if (IsHeldError(error, /*access_denied_counts=*/false)) {
    c.ctx.log.Printf(u"Marked '%s' for deletion at the next restart: it is still held (error %u)\n", path, error);
  } else {
    c.ctx.log.Printf(u"Marked '%s' for deletion at the next restart: it is still refused (error %u)\n", path, error);
  }
  c.left.push_back(path);
  return true;
}

// Whether a deletion of path that failed with error may yet succeed once other programs
// let go: the entry is held, or it is a folder that holds nothing but entries of this run
// that are on their way out (deleted while another program still has them open, or left
// for the next start).
bool Held(const Cleanup& c, uint32_t error) {
  return IsHeldError(error, /*access_denied_counts=*/true) || (error == kErrorDirNotEmpty && !c.kept);
}

bool LeftForLater(Cleanup& c, const Text& path, uint32_t error) {
  return Held(c, error) && LeaveForRestart(c, path, error);
}

// Deletes the entry at path through its own handle when this run may delete it, after
// logging line (a format with the path). Otherwise logs that it is kept, and why.
void RemoveEntry(Cleanup& c, const Text& path, std::u16string_view line) {
  IFileSystem& files = c.ctx.files;
  Log& log = c.ctx.log;
  // A file of the payload comes up again in the folder's walk: it is dealt with once.
  for (const Text& left : c.left) {
    if (SamePath(left, path)) return;
  }
  // Only an entry this run may delete is worth waiting for: a look takes no share of it.
  if (const Fallible<HandleFacts> look = LookAt(files, path); look && !c.ctx.folder.own.MayDelete(path, *look)) {
    log.Printf(u"Kept '%s': this run did not write it\n", path);
    c.kept = true;
    return;
  }
  // The handle that deletes is looked at again: the entry may have changed meanwhile.
  Fallible<std::unique_ptr<IFileHandle>> handle =
      c.patience.Retry(path, /*access_denied_counts=*/true, [&] { return files.OpenEntry(path, /*deletion=*/true); });
  const Fallible<HandleFacts> facts = handle ? (*handle)->Facts() : Fallible<HandleFacts>(handle.failure());
  if (!facts) {
    if (LeftForLater(c, path, facts.error())) return;
    log.Printf(u"Kept '%s': it could not be deleted\n", path);
    c.kept = true;
    return;
  }
  if (!c.ctx.folder.own.MayDelete(path, *facts)) {
    log.Printf(u"Kept '%s': this run did not write it\n", path);
    c.kept = true;
    return;
  }
  log.Printf(line, path);
  // The entry goes as the handle closes, whatever name it has by then.
  Status deleting = (*handle)->DeleteOnClose();
  if (!deleting && deleting.error() == kErrorAccessDenied && (facts->attributes & kFileAttributeReadOnly) &&
      !(facts->attributes & kFileAttributeDirectory)) {
    // Only the attribute (the wizard's, say) stands in the way, and nobody holds the
    // file: it is cleared through this handle, on the entry just found to be the run's.
    if (const Status cleared = (*handle)->ClearReadOnly(facts->attributes); cleared) {
      log.Printf(u"Cleared the read-only attribute of '%s'\n", path);
      deleting = (*handle)->DeleteOnClose();
    } else {
      log.Printf(u"'%s' is read-only, and the attribute could not be cleared, error %u\n", path, cleared.error());
    }
  }
  while (!deleting && Held(c, deleting.error()) && c.patience.Wait(path, deleting.error())) {
    deleting = (*handle)->DeleteOnClose();
  }
  if (deleting) return;
  handle->reset();
  if (LeftForLater(c, path, deleting.error())) return;
  log.Printf(u"Kept '%s': it could not be deleted\n", path);
  c.kept = true;
}

void DeleteFolderWith(Cleanup& c, const Text& folder) {
  IFileSystem& files = c.ctx.files;
  const OwnFiles& own = c.ctx.folder.own;
  const Fallible<HandleFacts> here = LookAt(files, folder);
  if (!here || !own.IsRealFolderHere(folder, *here)) {
    // A link at the folder's place (or a handle that lands elsewhere): never walked.
    RemoveEntry(c, folder, u"Remove Folder '%s'\n");
    return;
  }
  Text base = folder;
  if (base.empty() || base.back() != u'\\') base.push_back(u'\\');
  std::optional<Text> pattern = PathAppend(base, u"*.*", kFindBuffer);
  Fallible<FirstFound> found =
      pattern ? files.FindFirst(*pattern) : Fallible<FirstFound>(Failed(kErrorInvalidParameter));
  if (found) {
    for (Fallible<FindEntry> next = found->entry; next; next = found->search->Next()) {
      const FindEntry& entry = *next;
      if (base.size() + entry.name.size() + 1 > kFindBuffer) continue;  // would not fit: left alone
      Text path = base + entry.name;
      if (!(entry.attributes & kFileAttributeDirectory)) {
        RemoveEntry(c, path, u"Deletion file '%s'\n");
      } else if (entry.name != u"." && entry.name != u"..") {
        const Fallible<HandleFacts> sub = LookAt(files, path);
        if (sub && own.IsRealFolderHere(path, *sub) && !(entry.attributes & kFileAttributeReparsePoint)) {
          c.ctx.log.Printf(u"Deletion subfolder Folder of '%s'\n", path);
          DeleteFolderWith(c, path);
        } else {
          // A junction or directory link: the link itself at most, never what it points to.
          RemoveEntry(c, path, u"Remove Folder '%s'\n");
        }
      }
    }
    found->search.reset();
  }
  RemoveEntry(c, folder, u"Remove Folder '%s'\n");
}
}  // namespace

int32_t RemovePrivateFolder(PayloadContext& ctx, const ResourceTable& table) {
  Text folder = GetTempFolder(ctx);
  // The wizard has ended: the run's own holds would stop its own deletions.
  ctx.folder.own.ReleaseHolds();
  Cleanup c(ctx);
  for (const auto& record : table) {
    Text path;
    // Only the files this run wrote; a name that would leave the private folder or
    // name a device has no path and was never written.
    if (!record->GetFilePath(ctx, path) || !ctx.folder.own.Wrote(path)) continue;
    RemoveEntry(c, path, u"Manual Deletion of '%s'\n");
  }
  // Off the folder, so that it can go; from a root that cannot be entered it stays.
  (void)ctx.files.SetCurrentDirectory(u"\\");
  ctx.log.Printf(u"Deletion Folder of '%s'\n", folder);
  DeleteFolderWith(c, folder);
  return 0;
}

bool DeleteFolder(PayloadContext& ctx, const Text& folder) {
  Cleanup c(ctx);
  DeleteFolderWith(c, folder);
  return false;
}

}  // namespace carryall
