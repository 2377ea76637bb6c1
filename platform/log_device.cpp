// Portable layer. The log's device on the platform.
#include "platform/log_device.h"

#include "base/path.h"

namespace carryall {

namespace {
bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }
}  // namespace

bool FileLogDevice::IsPlainFileHere(const Text& path, const HandleFacts& facts) {
  if ((facts.attributes & (kFileAttributeReparsePoint | kFileAttributeDirectory)) || facts.links != 1) return false;
  if (!facts.final_path) return true;  // the system cannot say where a handle is
  // Where the file must be: its name below where the system puts its folder. Links above
  // the folder are the path's own business; only the last component must be the file.
  const std::size_t cut = path.find_last_of(u"\\/");
  if (cut == Text::npos) return false;
  Fallible<std::unique_ptr<IFileHandle>> folder = files_.OpenEntry(PathRemoveFileSpec(path), /*deletion=*/false);
  const Fallible<HandleFacts> folder_facts = folder ? (*folder)->Facts() : Fallible<HandleFacts>(folder.failure());
  if (!folder_facts || !folder_facts->final_path) return false;
  Text expected = *folder_facts->final_path;
  while (!expected.empty() && IsSeparator(expected.back())) expected.pop_back();
  expected += u"\\" + path.substr(cut + 1);
  return SamePath(expected, *facts.final_path);
}

bool FileLogDevice::Open(const Text& path, bool append) {
  file_.reset();
  if (!append) identity_.reset();
  if (path.empty() || (append && !identity_)) return false;  // nothing of this run's to go on with
  Fallible<OpenedForWriting> opened = files_.OpenForWriting(path);
  if (!opened) return false;
  std::unique_ptr<IFileHandle> file = std::move(opened->handle);
  const Fallible<HandleFacts> facts = file->Facts();
  const bool usable = facts && IsPlainFileHere(path, *facts) && (!append || facts->identity == *identity_);
  if (!usable) {
    // What the open made itself goes again (a link to nothing lands outside).
    if (opened->created) (void)file->DeleteOnClose();
    return false;
  }
  const Status placed = append ? file->SeekToEnd() : opened->created ? Succeeded() : file->Truncate();
  if (!placed) return false;
  identity_ = facts->identity;
  file_ = std::move(file);
  return true;
}

void FileLogDevice::Write(const std::string& bytes) {
  // A line the log cannot write is lost; the run goes on and its exit code still tells.
  if (!file_) return;
  std::size_t written = 0;
  while (written < bytes.size()) {
    const Fallible<uint32_t> count =
        file_->WriteOnce(bytes.data() + written, static_cast<uint32_t>(bytes.size() - written));
    if (!count || *count == 0) return;
    written += *count;
  }
}

void FileLogDevice::Close() { file_.reset(); }

std::optional<std::string> FileLogDevice::ToAnsi(const Text& text) {
  Fallible<std::string> ansi = code_page_.ToAnsi(text);
  if (!ansi) return std::nullopt;
  return *std::move(ansi);
}

}  // namespace carryall
