// Simulated Windows for the host tests: in-memory files, a string table, a scripted
// message queue, real events and threads, a recording user interface, and switches
// that make the system fail where a test needs it to.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace carryall::sim {

// Converts UTF-16 for tests: ASCII and Latin-1 map to one byte each.
std::string Narrow(const Text& text);
Text Widen(const std::string& latin1);

class SimFileSystem : public IFileSystem {
 public:
  struct Entry {
    std::string bytes;
    bool open = false;
  };

  std::unique_ptr<IFile> OpenExclusive(const std::string& ansi_path, OpenMode mode) override;
  std::optional<Text> GetFullPathName(const Text& path) override;
  std::optional<Text> GetTempPath() override { return temp_path; }
  std::optional<Text> GetFolderPath(int csidl) override;
  std::optional<Text> GetEnvironmentVariable(const Text& name) override;
  Text GetModuleFileName() override { return module_path; }

  // Contents of a file, keyed by its ANSI path compared ignoring ASCII case as Windows does.
  std::string Contents(const std::string& ansi_path) const;
  bool Exists(const std::string& ansi_path) const;
  void Put(const std::string& ansi_path, const std::string& bytes);

  Text current_directory = u"C:\\work";
  std::optional<Text> temp_path = Text(u"C:\\Users\\me\\AppData\\Local\\Temp\\");
  std::map<int, Text> folders = {{26, u"C:\\Users\\me\\AppData\\Roaming"}, {35, u"C:\\ProgramData"}};
  std::map<Text, Text> environment = {{u"SystemDrive", u"C:"}};
  Text module_path = u"C:\\work\\CarryallInstaller.exe";
  std::set<std::string> unopenable;  // ANSI paths that fail to open (lower case)
  std::set<std::string> directories = {"c:\\work", "c:\\"};  // cannot be opened as files (lower case)

 private:
  friend class SimFile;
  static std::string Key(const std::string& ansi_path);
  std::map<std::string, Entry> files_;
};

class SimCodePage : public ICodePage {
 public:
  enum class Kind {
    kWestern,  // one byte per unit below 0x100, '?' for the rest (like 1252)
    kUtf8,     // a multi-byte code page: up to three bytes per unit
    kBroken,   // every conversion fails
  };
  std::optional<std::string> ToAnsi(const Text& text) override;
  Text FromAnsi(const std::string& ansi) override;
  Kind kind = Kind::kWestern;
};

class SimResources : public IResources {
 public:
  SimResources();  // loaded with the shipped string table
  std::optional<Text> LoadString(uint32_t id) override;
  std::map<uint32_t, Text> strings;
};

class SimSystem : public ISystem {
 public:
  uint32_t GetTickCount() override { return tick += 16; }
  Text GetCommandLine() override { return command_line; }
  void InitCommonControls() override { ++common_controls; }
  void ComInitialize() override { ++com_init; }
  void ComUninitialize() override { ++com_uninit; }

  Text command_line = u"\"C:\\work\\CarryallInstaller.exe\"";
  uint32_t tick = 1000;
  int common_controls = 0;
  std::atomic<int> com_init{0};
  std::atomic<int> com_uninit{0};
};

class SimThreads : public IThreads {
 public:
  ~SimThreads() override;
  EventHandle CreateManualResetEvent() override;
  void SetEvent(EventHandle event) override;
  void ResetEvent(EventHandle event) override;
  bool StartThread(std::function<void()> body) override;
  uint32_t WaitForEventsOrMessages(const EventHandle* handles, uint32_t count) override;
  bool PeekMessage(Message& message) override;
  void DispatchMessage(const Message& message) override;

  void Post(uint32_t message);
  bool IsSet(EventHandle event);
  void JoinAll();

  // Runs on the waiting thread before each wait, with the number of waits so far; a
  // test steers the wait loop from here.
  std::function<void(int)> before_wait;
  bool fail_thread_start = false;
  std::vector<uint32_t> dispatched;
  int waits = 0;

 private:
  struct Event {
    bool set = false;
  };
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::unique_ptr<Event>> events_;
  std::deque<Message> queue_;
  std::vector<std::thread> threads_;
};

class SimUserInterface : public IUserInterface {
 public:
  std::unique_ptr<ISplash> CreateSplash() override;
  int AskQuestion(const Text& heading, const Text& details) override;
  void ShowReport(const Text& message, const Text& link) override;

  // What happened to windows, in order: "splash created", "splash show", "splash hide",
  // "splash end 5", "splash destroyed", "question", "report".
  std::vector<std::string> events;
  int question_answer = 2;
  Text question_heading;
  Text report_message;
  Text report_link;
  bool fail_splash = false;
  std::mutex mutex;
};

// The whole simulated machine, wired into a Platform.
struct SimMachine {
  SimFileSystem files;
  SimCodePage code_page;
  SimResources resources;
  SimSystem system;
  SimThreads threads;
  SimUserInterface ui;
  Platform platform{files, code_page, resources, system, threads, ui};
};

}  // namespace carryall::sim
