// Portable layer. The diagnostic log.
#include "app/log.h"

namespace carryall {

Text EscapeForLog(std::u16string_view text) {
  Text shown;
  shown.reserve(text.size());
  for (char16_t unit : text.substr(0, text.find(u'\0'))) {
    if (unit >= 0x20 || unit == u'\t') {
      shown.push_back(unit);
    } else if (unit == u'\r') {
      shown += u"\\r";
    } else if (unit == u'\n') {
      shown += u"\\n";
    } else {
      shown += Format(u"\\x%02X", static_cast<unsigned>(unit));
    }
  }
  return shown;
}

Log::Log(IFileSystem& files, ICodePage& code_page) : files_(files), code_page_(code_page) {}

void Log::WriteToFile(const Text& text) {
  // A line that cannot be converted is skipped rather than written from an empty buffer.
  std::optional<std::string> ansi = code_page_.ToAnsi(text);
  if (!ansi || ansi->empty()) return;
  // Text mode: every line feed reaches the file as carriage return plus line feed.
  std::string bytes;
  bytes.reserve(ansi->size() + ansi->size() / 16 + 2);
  for (char c : *ansi) {
    if (c == '\n') bytes.push_back('\r');
    bytes.push_back(c);
  }
  file_->Write(bytes.data(), bytes.size());
}

void Log::Write(const Text& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_) {
    WriteToFile(text);
  } else {
    pending_ += text;
  }
}

void Log::Open(const Text& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_) {
    if (path == path_) return;
    file_.reset();
  }
  path_ = path;
  file_ = files_.OpenExclusive(path, IFileSystem::OpenMode::kTruncate);
  if (!file_) return;
  WriteToFile(pending_);
  pending_.clear();
}

void Log::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  file_.reset();
}

void Log::Reopen() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_ || path_.empty()) return;
  file_ = files_.OpenExclusive(path_, IFileSystem::OpenMode::kAppend);
}

bool Log::is_open() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return file_ != nullptr;
}

Text Log::path() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return path_;
}

Text Log::pending() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return pending_;
}

}  // namespace carryall
