// Portable layer. The log's device on the platform.
#include "platform/log_device.h"

namespace carryall {

bool FileLogDevice::Open(const Text& path, bool append) {
  file_.reset();
  auto opened = files_.OpenExclusive(path, append ? IFileSystem::OpenMode::kAppend : IFileSystem::OpenMode::kTruncate);
  if (!opened) return false;
  file_ = *std::move(opened);
  return true;
}

void FileLogDevice::Write(const std::string& bytes) {
  // A line the log cannot write is lost; the run goes on and its exit code still tells.
  if (file_) (void)file_->Write(bytes.data(), bytes.size());
}

void FileLogDevice::Close() { file_.reset(); }

std::optional<std::string> FileLogDevice::ToAnsi(const Text& text) {
  Fallible<std::string> ansi = code_page_.ToAnsi(text);
  if (!ansi) return std::nullopt;
  return *std::move(ansi);
}

}  // namespace carryall
