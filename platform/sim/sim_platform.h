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

#include "platform/log_device.h"
#include "platform/platform.h"
#include "platform/sim/faults.h"
#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_processes.h"
#include "platform/sim/sim_trust.h"

namespace carryall::sim {

// Converts UTF-16 for tests: ASCII and Latin-1 map to one byte each.
std::string Narrow(const Text& text);
Text Widen(const std::string& latin1);

// An in-memory file system with Windows' rules where the core depends on them: paths
// compared ignoring ASCII case, a run of separators read as one and "." and ".."
// components resolved, files made only in existing folders, the sharing of open
// handles, read-only files that cannot be deleted, folders removed only when empty,
// file identities and hard links, directory links whose contents are those of their
// target, and links to files of the kind Wine makes of a Unix symbolic link: the
// system shows them as the file itself and every open lands on the target.
// The simulated disks, and the environment and access lists that belong with them.
class SimFileSystem : public IFileSystem, public IEnvironment, public ISecurity {
 public:
  struct Node {
    Text path;  // as first created
    bool directory = false;
    std::string bytes;
    uint32_t attributes = 0;
    int writers = 0;        // open handles that deny others everything
    int holders = 0;        // open handles that read and deny others writing and deleting
    int openers = 0;        // open handles that may delete and share everything
    Text link_target;       // a directory link (junction) to this folder, when not empty
    Text file_link_target;  // a link to this file, shown as the file itself, when not empty
    uint64_t inode = 0;     // the file index; hard links share it
    uint64_t order = 0;
  };
  static constexpr uint32_t kVolumeSerial = 0x5A0C0001;

  SimFileSystem();

  Fallible<Text> GetFullPathName(const Text& path) override;
  Fallible<Text> GetTempPath() override {
    if (Injected(faults, "IEnvironment::GetTempPath") || !temp_path) return Failed(kErrorAccessDenied);
    return *temp_path;
  }
  Fallible<Text> GetFolderPath(int csidl) override;
  Fallible<Text> GetEnvironmentVariable(const Text& name) override;
  Fallible<Text> GetModuleFileName() override {
    if (Injected(faults, "IEnvironment::GetModuleFileName")) return Failed(kErrorInsufficientBuffer);
    return module_path;
  }
  Status CreateDirectory(const Text& path) override;
  Status CreateDirectoryTree(const Text& path) override;
  Status CreateProbeFile(const Text& path) override;
  Fallible<OpenedForWriting> OpenForWriting(const Text& path) override;
  Fallible<std::unique_ptr<IFileHandle>> OpenForHolding(const Text& path) override;
  Fallible<std::unique_ptr<IFileHandle>> OpenEntry(const Text& path, bool deletion) override;
  Fallible<std::unique_ptr<IReadFile>> OpenRead(const Text& path) override;
  Status DeleteFile(const Text& path) override;
  Status DeleteAtRestart(const Text& path) override;
  Status RemoveDirectory(const Text& path) override;
  Status SetCurrentDirectory(const Text& path) override;
  Fallible<FirstFound> FindFirst(const Text& pattern) override;
  Status SetFolderAccess(const Text& path, uint32_t mask) override;
  Fallible<uint32_t> GetFileAttributes(const Text& path) override;

  // Test helpers. Paths are full Windows paths; std::string ones are Latin-1.
  std::string Contents(const std::string& path) const;
  std::string Contents(const Text& path) const;
  bool Exists(const std::string& path) const;
  bool Exists(const Text& path) const;
  bool IsDirectory(const Text& path) const;
  void Put(const std::string& path, const std::string& bytes);
  void Put(const Text& path, const std::string& bytes, uint32_t attributes = 0);
  void MakeDirectories(const Text& path);
  void MakeLink(const Text& link, const Text& target);
  // A second name of an existing file: one identity, one content.
  void MakeHardLink(const Text& link, const Text& existing);
  // A link to a file that reads as the file itself (a Unix symbolic link under Wine).
  void MakeFileLink(const Text& link, const Text& target);
  // Renames a file or folder with everything below it, as another program would; false
  // while a handle is open on any of it (as Windows refuses).
  bool Move(const Text& from, const Text& to);
  // The identity a handle on the entry would report; nullopt when nothing is there.
  std::optional<FileIdentity> IdentityOf(const Text& path) const;
  // Every path below folder (not the folder itself), sorted, relative to it.
  std::vector<std::string> List(const Text& folder) const;

  Text current_directory = u"C:\\work";
  // The current directories of the other drives (upper-case letter -> folder), which
  // "D:" and "D:name" are resolved against; a drive not named here is at its root.
  std::map<char16_t, Text> drive_directories;
  std::optional<Text> temp_path = Text(u"C:\\Users\\me\\AppData\\Local\\Temp\\");
  std::map<int, Text> folders = {{26, u"C:\\Users\\me\\AppData\\Roaming"}, {35, u"C:\\ProgramData"}};
  std::map<Text, Text> environment = {{u"SystemDrive", u"C:"}};
  Text module_path = u"C:\\work\\CarryallInstaller.exe";
  std::set<std::string> unopenable;  // paths (lower case) that no open succeeds on
  std::set<std::string> unwritable;  // folders (lower case) in which nothing can be created
  // path (lower case) -> the bytes the file can hold: a write that would go past them
  // stops there and reports the shorter count (a disk that fills up, as Wine reports it).
  std::map<std::string, uint32_t> short_writes;
  // A write that fails with error, once the file holds at least from bytes.
  struct WriteError {
    WriteError(uint32_t code = 0, uint32_t from_bytes = 0) : error(code), from(from_bytes) {}  // NOLINT
    uint32_t error;
    uint32_t from;
  };
  std::map<std::string, WriteError> write_errors;       // path (lower case) -> how its writes fail
  std::map<std::string, std::vector<uint32_t>> writes;  // path (lower case) -> the size each write of a
                                                        // handle asked for, in order
  // Whether handles tell their final path, as every system since Vista does.
  bool final_paths = true;
  int probes = 0;  // probe files made (each removed at once)
  std::vector<std::pair<Text, uint32_t>> access_granted;
  std::vector<Text> deleted;     // every successful deletion, in order
  std::vector<Text> at_restart;  // what is marked for deletion at the next start, in order
  bool elevated = true;          // without it nothing can be marked for the next start

  static std::string Key(const Text& path);
  // What a write of size bytes to the file at key, which holds held bytes, does: the
  // error it fails with, or the count it writes (short_writes, write_errors).
  Fallible<uint32_t> WriteOutcome(const std::string& key, std::size_t held, uint32_t size) const;

  // Fault injection, and what a run leaves open: files, readers and searches.
  FaultPlan* faults = nullptr;
  int open_handles = 0;
  // Every file and folder, by key (the path as Windows reads it, in lower case): its
  // path as first created, kind, bytes, attributes and link target.
  const std::map<std::string, Node>& Tree() const { return nodes_; }

 private:
  friend class SimFile;
  friend class SimFind;
  friend class SimFileHandle;
  std::string Resolve(const Text& path) const;  // key after following directory links
  // Resolve, then a link to a file at the last component too (every open does that).
  std::string ResolveFile(const Text& path) const;
  // The path the system names the entry by: each component as it was first created.
  Text FinalPath(const std::string& key) const;
  int LinkCount(uint64_t inode) const;
  // Hard links share their bytes: what one name got, the others show.
  void ShareBytes(const std::string& key);
  Node* Find(const std::string& key);
  const Node* Find(const std::string& key) const;
  bool ParentExists(const std::string& key) const;
  bool CanCreateIn(const std::string& key) const;
  Node& Create(const std::string& key, const Text& path, bool directory);
  std::map<std::string, Node> nodes_;
  uint64_t next_order_ = 0;
  uint64_t next_inode_ = 0x100;
};

class SimCodePage : public ICodePage {
 public:
  enum class Kind {
    kWestern,  // one byte per unit below 0x100, '?' for the rest (like 1252)
    kUtf8,     // a multi-byte code page: up to three bytes per unit
    kBroken,   // every conversion fails
  };
  Fallible<std::string> ToAnsi(const Text& text) override;
  Text FromAnsi(const std::string& ansi) override;
  Kind kind = Kind::kWestern;
  FaultPlan* faults = nullptr;
};

class SimResources : public IResources {
 public:
  SimResources();  // loaded with the shipped string table
  Fallible<Text> LoadString(uint32_t id) override;
  Status EnumResourceNames(const Text& type, const std::function<void(const Name&)>& each) override;
  Fallible<Found> FindResource(uint16_t id, const Text& type) override;
  Fallible<Loaded> LoadResource(Found found) override;
  Fallible<Bytes> LockResource(Found found, Loaded loaded) override;

  // Adds a resource of the type; integer names are enumerated in ascending order, text
  // names after them.
  void Add(const Text& type, uint32_t id, const std::string& bytes);
  void AddNamed(const Text& type, const Text& name, const std::string& bytes);

  std::map<uint32_t, Text> strings;
  std::map<Text, std::map<uint32_t, std::string>> by_id;
  std::map<Text, std::map<Text, std::string>> by_name;
  FaultPlan* faults = nullptr;
};

class SimSystem : public ISystem {
 public:
  uint32_t GetTickCount() override { return tick += 16; }
  // Nobody waits: the wait is recorded, the clock moves on, and on_sleep runs (a test
  // lets a "scanner" go from there).
  void Sleep(uint32_t ms) override {
    sleeps.push_back(ms);
    tick += ms;
    if (on_sleep) on_sleep(sleeps.size());
  }
  std::vector<uint32_t> sleeps;
  std::function<void(std::size_t)> on_sleep;
  Text GetCommandLine() override { return command_line; }
  Fallible<std::array<uint8_t, 16>> CreateGuid() override;

  Text command_line = u"\"C:\\work\\CarryallInstaller.exe\"";
  uint32_t tick = 1000;
  uint32_t guids_made = 0;  // the n-th GUID is {A0A0A0nn-0000-0000-0000-000000000000}
  FaultPlan* faults = nullptr;
};

class SimThreads : public IThreads {
 public:
  ~SimThreads() override;
  void ComInitialize() override { ++com_init; }
  void ComUninitialize() override { ++com_uninit; }
  std::atomic<int> com_init{0};
  std::atomic<int> com_uninit{0};
  Fallible<EventHandle> CreateManualResetEvent() override;
  void SetEvent(EventHandle event) override;
  void ResetEvent(EventHandle event) override;
  Status StartThread(std::function<void()> body) override;
  Fallible<uint32_t> WaitForEventsOrMessages(const EventHandle* handles, uint32_t count) override;
  Status WaitForEvent(EventHandle event) override;
  bool PeekMessage(Message& message) override;
  void DispatchMessage(const Message& message) override;
  void WakeMainThread() override { Post(0); }

  void Post(uint32_t message);
  bool IsSet(EventHandle event);
  void JoinAll();

  // Runs on the waiting thread before each wait, with the number of waits so far; a
  // test steers the wait loop from here.
  std::function<void(int)> before_wait;
  // What a failed wait reports (the machine's FaultPlan fails one), the way
  // MsgWaitForMultipleObjects reports WAIT_FAILED.
  uint32_t wait_error = 6;  // ERROR_INVALID_HANDLE
  int event_waits = 0;
  std::vector<uint32_t> dispatched;
  int waits = 0;

  FaultPlan* faults = nullptr;
  int started = 0;  // threads started
  // A started thread's body runs on the thread that next waits (or joins), before the
  // wait looks at its events: a whole run then makes its calls in one fixed order,
  // which is what lets the fault-injection harness fail each call in turn.
  bool run_threads_inline = false;
  // Waits that, with threads run inline, nothing could ever end; each fails at once
  // with wait_error instead of blocking for ever.
  int hangs = 0;

 private:
  void RunPendingBodies();
  std::vector<std::function<void()>> pending_;
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
  void InitCommonControls() override {
    ++common_controls;
    if (on_common_controls) on_common_controls();
  }
  int common_controls = 0;
  std::function<void()> on_common_controls;
  std::unique_ptr<ISplash> CreateSplash() override;
  int AskQuestion(const Text& heading, const Text& details) override;
  void ShowReport(const Text& message, const Text& link) override;
  int PromptForFolder(const Text& caption, Text& folder) override;

  // What happened to windows, in order: "splash created", "splash show", "splash hide",
  // "splash end 5", "splash destroyed", "question", "report".
  std::vector<std::string> events;
  int question_answer = 2;
  Text question_heading;
  Text question_details;
  Text report_message;
  Text report_link;
  // The temporary-folder prompt: what it was shown, and what the user does.
  Text prompt_caption;
  Text prompt_shown;
  int prompt_answer = 2;
  Text prompt_typed;
  std::function<void()> during_prompt;
  std::mutex mutex;
  FaultPlan* faults = nullptr;
  int open_splashes = 0;
};

// The whole simulated machine, wired into a Platform.
struct SimMachine {
  FaultPlan faults;  // the plan in use unless UseFaults names another; outlives the rest
  SimFileSystem files;
  SimCodePage code_page;
  SimResources resources;
  SimSystem system;
  SimThreads threads;
  SimUserInterface ui;
  SimMachineInfo machine;
  SimProcesses processes;
  SimTrust trust;
  Platform platform{files, files, files, code_page, resources, system, threads, ui, machine, processes, trust};

  SimMachine();
  SimMachine(const SimMachine&) = delete;
  SimMachine& operator=(const SimMachine&) = delete;
  // Every part of the machine counts its calls in plan, and fails the one it picks.
  void UseFaults(FaultPlan& plan);
};

}  // namespace carryall::sim
