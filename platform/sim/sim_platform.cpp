// Simulated Windows for the host tests.
#include "platform/sim/sim_platform.h"

#include <algorithm>
#include <vector>

namespace carryall::sim {

namespace {
const std::map<uint32_t, Text>& ShippedStrings() {
  static const std::map<uint32_t, Text> table = {
#include "shipped_strings.inc"
  };
  return table;
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
}  // namespace

std::string Narrow(const Text& text) {
  std::string out;
  for (char16_t u : text) out.push_back(u < 0x100 ? static_cast<char>(u) : '?');
  return out;
}

Text Widen(const std::string& latin1) {
  Text out;
  for (char c : latin1) out.push_back(static_cast<unsigned char>(c));
  return out;
}

// ---- files ----

class SimFile : public IFile {
 public:
  SimFile(SimFileSystem& fs, std::string key) : fs_(fs), key_(std::move(key)) {}
  ~SimFile() override { fs_.files_[key_].open = false; }
  bool Write(const void* data, std::size_t size) override {
    fs_.files_[key_].bytes.append(static_cast<const char*>(data), size);
    return true;
  }

 private:
  SimFileSystem& fs_;
  std::string key_;
};

std::string SimFileSystem::Key(const std::string& ansi_path) {
  std::string key = ansi_path;
  std::transform(key.begin(), key.end(), key.begin(), LowerAscii);
  return key;
}

std::unique_ptr<IFile> SimFileSystem::OpenExclusive(const std::string& ansi_path, OpenMode mode) {
  std::string key = Key(ansi_path);
  if (ansi_path.empty() || unopenable.count(key) || directories.count(key) || key.back() == '\\') return nullptr;
  Entry& entry = files_[key];
  if (entry.open) return nullptr;  // exclusive: a second opener is refused
  if (mode == OpenMode::kTruncate) entry.bytes.clear();
  entry.open = true;
  return std::make_unique<SimFile>(*this, key);
}

std::optional<Text> SimFileSystem::GetFullPathName(const Text& path) {
  if (path.empty()) return std::nullopt;
  Text joined;
  auto is_sep = [](char16_t c) { return c == u'\\' || c == u'/'; };
  std::size_t root_len = 0;
  if (path.size() >= 2 && is_sep(path[0]) && is_sep(path[1])) {
    joined = path;  // UNC: \\server\share\...
    std::size_t slashes = 0, i = 2;
    for (; i < joined.size() && slashes < 2; ++i) {
      if (is_sep(joined[i])) ++slashes;
    }
    root_len = slashes < 2 ? joined.size() : i - 1;
  } else if (path.size() >= 2 && path[1] == u':') {
    joined = path.size() >= 3 && is_sep(path[2]) ? path : Text(path.substr(0, 2)) + u"\\" + path.substr(2);
    root_len = 2;
  } else if (is_sep(path[0])) {
    joined = current_directory.substr(0, 2) + path;
    root_len = 2;
  } else {
    joined = current_directory + u"\\" + path;
    root_len = 2;
  }
  // Normalise the components after the root: "." goes, ".." removes one.
  Text root = joined.substr(0, root_len);
  std::vector<Text> parts;
  Text part;
  for (std::size_t i = root_len; i <= joined.size(); ++i) {
    if (i == joined.size() || is_sep(joined[i])) {
      if (part == u"..") {
        if (!parts.empty()) parts.pop_back();
      } else if (!part.empty() && part != u".") {
        parts.push_back(part);
      }
      part.clear();
    } else {
      part.push_back(joined[i]);
    }
  }
  Text out = root;
  for (const Text& p : parts) out += u"\\" + p;
  if (parts.empty() || is_sep(path.back())) out += u"\\";
  return out;
}

std::optional<Text> SimFileSystem::GetFolderPath(int csidl) {
  auto it = folders.find(csidl);
  if (it == folders.end()) return std::nullopt;
  return it->second;
}

std::optional<Text> SimFileSystem::GetEnvironmentVariable(const Text& name) {
  auto it = environment.find(name);
  if (it == environment.end()) return std::nullopt;
  return it->second;
}

std::string SimFileSystem::Contents(const std::string& ansi_path) const {
  auto it = files_.find(Key(ansi_path));
  return it == files_.end() ? std::string() : it->second.bytes;
}

bool SimFileSystem::Exists(const std::string& ansi_path) const { return files_.count(Key(ansi_path)) != 0; }

void SimFileSystem::Put(const std::string& ansi_path, const std::string& bytes) {
  files_[Key(ansi_path)].bytes = bytes;
}

// ---- code page ----

std::optional<std::string> SimCodePage::ToAnsi(const Text& text) {
  Text until_nul = text.substr(0, text.find(u'\0'));
  std::string out;
  switch (kind) {
    case Kind::kBroken: return std::nullopt;
    case Kind::kWestern:
      for (char16_t u : until_nul) out.push_back(u < 0x100 ? static_cast<char>(u) : '?');
      return out;
    case Kind::kUtf8:
      for (char16_t u : until_nul) {
        if (u < 0x80) {
          out.push_back(static_cast<char>(u));
        } else if (u < 0x800) {
          out.push_back(static_cast<char>(0xC0 | (u >> 6)));
          out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
        } else {
          out.push_back(static_cast<char>(0xE0 | (u >> 12)));
          out.push_back(static_cast<char>(0x80 | ((u >> 6) & 0x3F)));
          out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
        }
      }
      return out;
  }
  return std::nullopt;
}

Text SimCodePage::FromAnsi(const std::string& ansi) {
  if (kind != Kind::kUtf8) return Widen(ansi);
  Text out;
  for (std::size_t i = 0; i < ansi.size();) {
    unsigned char c = static_cast<unsigned char>(ansi[i]);
    if (c < 0x80) {
      out.push_back(c);
      i += 1;
    } else if ((c & 0xE0) == 0xC0 && i + 1 < ansi.size()) {
      out.push_back(static_cast<char16_t>(((c & 0x1F) << 6) | (ansi[i + 1] & 0x3F)));
      i += 2;
    } else if (i + 2 < ansi.size()) {
      out.push_back(static_cast<char16_t>(((c & 0x0F) << 12) | ((ansi[i + 1] & 0x3F) << 6) | (ansi[i + 2] & 0x3F)));
      i += 3;
    } else {
      out.push_back(u'?');
      i += 1;
    }
  }
  return out;
}

// ---- resources ----

SimResources::SimResources() : strings(ShippedStrings()) {}

std::optional<Text> SimResources::LoadString(uint32_t id) {
  auto it = strings.find(id);
  if (it == strings.end() || it->second.empty()) return std::nullopt;
  return it->second;
}

// ---- threads and messages ----

SimThreads::~SimThreads() { JoinAll(); }

void SimThreads::JoinAll() {
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    threads.swap(threads_);
  }
  for (auto& t : threads) t.join();
}

EventHandle SimThreads::CreateManualResetEvent() {
  std::lock_guard<std::mutex> lock(mutex_);
  events_.push_back(std::make_unique<Event>());
  return events_.back().get();
}

void SimThreads::SetEvent(EventHandle event) {
  std::lock_guard<std::mutex> lock(mutex_);
  static_cast<Event*>(event)->set = true;
  changed_.notify_all();
}

void SimThreads::ResetEvent(EventHandle event) {
  std::lock_guard<std::mutex> lock(mutex_);
  static_cast<Event*>(event)->set = false;
}

bool SimThreads::IsSet(EventHandle event) {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<Event*>(event)->set;
}

bool SimThreads::StartThread(std::function<void()> body) {
  if (fail_thread_start) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  threads_.emplace_back(std::move(body));
  return true;
}

uint32_t SimThreads::WaitForEventsOrMessages(const EventHandle* handles, uint32_t count) {
  if (before_wait) before_wait(waits);
  ++waits;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    for (uint32_t i = 0; i < count; ++i) {
      if (static_cast<Event*>(handles[i])->set) return i;
    }
    if (!queue_.empty()) return count;
    changed_.wait(lock);
  }
}

bool SimThreads::PeekMessage(Message& message) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (queue_.empty()) return false;
  message = queue_.front();
  queue_.pop_front();
  return true;
}

void SimThreads::DispatchMessage(const Message& message) { dispatched.push_back(message.message); }

void SimThreads::Post(uint32_t message) {
  std::lock_guard<std::mutex> lock(mutex_);
  Message m;
  m.message = message;
  queue_.push_back(m);
  changed_.notify_all();
}

// ---- user interface ----

namespace {
class SimSplash : public ISplash {
 public:
  explicit SimSplash(SimUserInterface& ui) : ui_(ui) { Record("splash created"); }
  ~SimSplash() override { Record("splash destroyed"); }
  void Show() override { Record("splash show"); }
  void Hide() override { Record("splash hide"); }
  void End(int result) override { Record("splash end " + std::to_string(result)); }

 private:
  void Record(const std::string& what) {
    std::lock_guard<std::mutex> lock(ui_.mutex);
    ui_.events.push_back(what);
  }
  SimUserInterface& ui_;
};
}  // namespace

std::unique_ptr<ISplash> SimUserInterface::CreateSplash() {
  if (fail_splash) return nullptr;
  return std::make_unique<SimSplash>(*this);
}

int SimUserInterface::AskQuestion(const Text& heading, const Text& /*details*/) {
  std::lock_guard<std::mutex> lock(mutex);
  events.push_back("question");
  question_heading = heading;
  return question_answer;
}

void SimUserInterface::ShowReport(const Text& message, const Text& link) {
  std::lock_guard<std::mutex> lock(mutex);
  events.push_back("report");
  report_message = message;
  report_link = link;
}

}  // namespace carryall::sim
