// Portable layer. The log's device on the platform.
#include "platform/log_device.h"

namespace carryall {

bool FileLogDevice::Open(const Text& path, bool append) {
  file_.reset();
  file_ = files_.OpenExclusive(path, append ? IFileSystem::OpenMode::kAppend : IFileSystem::OpenMode::kTruncate);
  return file_ != nullptr;
}

void FileLogDevice::Write(const std::string& bytes) {
  if (file_) file_->Write(bytes.data(), bytes.size());
}

void FileLogDevice::Close() { file_.reset(); }

std::optional<std::string> FileLogDevice::ToAnsi(const Text& text) { return code_page_.ToAnsi(text); }

}  // namespace carryall
