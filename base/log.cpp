// Portable layer. The diagnostic log.
#include "base/log.h"

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

Log::Log(LogDevice& device) : device_(device) {}

void Log::WriteToFile(const Text& text) {
  // A line that cannot be converted is skipped rather than written from an empty buffer.
  std::optional<std::string> ansi = device_.ToAnsi(text);
  if (!ansi || ansi->empty()) return;
  // Text mode: every line feed reaches the file as carriage return plus line feed.
  std::string bytes;
  bytes.reserve(ansi->size() + ansi->size() / 16 + 2);
  for (char c : *ansi) {
    if (c == '\n') bytes.push_back('\r');
    bytes.push_back(c);
  }
  device_.Write(bytes);
}

void Log::Write(const Text& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (open_) {
    WriteToFile(text);
  } else {
    pending_ += text;
  }
}

void Log::Open(const Text& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (open_) {
    if (path == path_) return;
    device_.Close();
    open_ = false;
  }
  path_ = path;
  open_ = device_.Open(path, /*append=*/false);
  if (!open_) return;
  WriteToFile(pending_);
  pending_.clear();
}

void Log::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (open_) device_.Close();
  open_ = false;
}

void Log::Reopen() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (open_ || path_.empty()) return;
  open_ = device_.Open(path_, /*append=*/true);
}

bool Log::is_open() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return open_;
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
