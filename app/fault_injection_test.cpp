// Fault injection across a whole run. The bootstrapper runs once on the simulated
// machine to count the platform calls that can fail, then once more for every call
// with that call failing. Every run must end, leave no handle or allocation open,
// change nothing outside the private folder and its log, exit nonzero unless the
// wizard ran with the whole payload beside it, and then end its log with the report of
// that exit code.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <set>
#include <string>

#include "app/carryall_app.h"
#include "base/result_codes.h"
#include "platform/trust.h"
#include "platform/sim/sim_platform.h"
#include "ui/report.h"

// Allocations alive in the process, so that a run can be checked to give back all it took.
namespace {
std::atomic<long> g_live_allocations{0};
}  // namespace

void* operator new(std::size_t size) {
  void* block = std::malloc(size ? size : 1);
  if (!block) throw std::bad_alloc();
  ++g_live_allocations;
  return block;
}
void operator delete(void* block) noexcept {
  if (!block) return;
  --g_live_allocations;
  std::free(block);
}
void operator delete(void* block, std::size_t) noexcept { operator delete(block); }

namespace carryall {
namespace {

using sim::FaultPlan;
using sim::Narrow;
using sim::SimFileSystem;

constexpr char16_t kLogPath[] = u"C:\\work\\run.log";

// The payload: the wizard, a file in a sub-folder, a plain file.
struct PayloadFile {
  uint32_t id;
  const char* name;  // as the manifest spells it
  const char* bytes;
};
constexpr PayloadFile kPayload[] = {
    {102, "Setup.exe", "MZ wizard"},
    {103, "data\\payload.bin", "0123456789"},
    {104, "readme.txt", "read me"},
};

struct Scenario {
  const char* name;
  const char16_t* arguments;
  // The user is asked whether to run an unverified file (and says yes) and for another
  // base folder, since the one named cannot be made (and names C:\Base).
  bool asks;
};
constexpr Scenario kScenarios[] = {
    {"silent", u" log C:\\work\\run.log /IAgreeToTheEULA", false},
    {"interactive", u" log C:\\work\\run.log temp C:\\missing\\base", true},
};

// Calls whose failure once revealed a fault, with the exit code that run has since its
// mend; the sweep must still reach each of them.
struct Found {
  const char* site;
  int occurrence;  // counted from 1
  int32_t exit_code;
};
constexpr Found kFound[] = {
    // The log path could not be resolved: the run stopped with no log at all.
    {"IFileSystem::GetFullPathName", 1, kBadCommandLine},
    // No temporary path: the base was empty, and the run failed as a full drive ''.
    {"IEnvironment::GetTempPath", 1, kOk},
    // The private folder was not made when named: extraction made it later, without
    // ever opening it to everyone, and started the wizard there.
    {"IFileSystem::CreateDirectoryTree", 1, kFail},
};

// What one run did, kept off the heap so that it can be measured after the run is gone.
struct Outcome {
  bool crashed = false;  // an exception escaped, a wait could never end, or the calls ran away
  int open_handles = 0;
  long allocations = 0;
  bool wrote_outside = false;
  bool completed = false;  // the wizard ran to its end with the whole payload beside it
  int32_t exit_code = 0;
  bool failure_named = false;  // the log's last line before "Ended" is the report of exit_code
};

void Prepare(sim::SimMachine& machine, CCarryallInstallerApp& app, const Scenario& scenario, bool& payload_ready) {
  std::string manifest;
  for (const PayloadFile& file : kPayload) {
    manifest += std::to_string(file.id) + "*" + file.name + "*" + std::to_string(std::strlen(file.bytes)) + "*";
    machine.resources.Add(u"TOOLKIT", file.id, file.bytes);
  }
  machine.resources.Add(u"TOOLKIT", 101, manifest);
  // A tagged executable: the information scan reads it and writes info.xml.
  machine.files.Put(machine.files.module_path, std::string(5000, 'x') + "MRDC<info/>" + std::string(6, '\0'));
  machine.system.command_line = u"\"C:\\work\\CarryallInstaller.exe\"" + Text(scenario.arguments);
  machine.processes.child.windows_after_waits = 1;
  machine.processes.child.ends_after_waits = 3;
  machine.threads.run_threads_inline = true;
  if (scenario.asks) {
    machine.trust.verdict = {kTrustNoSignature, static_cast<uint32_t>(kTrustNoSignature)};
    machine.ui.question_answer = 1;
    machine.files.MakeDirectories(u"C:\\Base");
    machine.ui.prompt_answer = 1;
    machine.ui.prompt_typed = u"C:\\Base";
  }
  SimFileSystem& files = machine.files;
  machine.processes.program_exists = [&files](const Text& program) { return files.Exists(program); };
  machine.processes.on_create = [&files, &app, &payload_ready] {
    const Text folder = app.m_tempFolder.private_folder;
    payload_ready = !folder.empty();
    for (const PayloadFile& file : kPayload) {
      payload_ready = payload_ready && files.Contents(folder + u"\\" + sim::Widen(file.name)) == file.bytes;
    }
  };
}

// Whether a node is the same before and after, in everything a user could see.
bool SameNode(const SimFileSystem::Node& a, const SimFileSystem::Node& b) {
  return a.path == b.path && a.directory == b.directory && a.bytes == b.bytes && a.attributes == b.attributes &&
         a.link_target == b.link_target;
}

bool ChangedOutside(const std::map<std::string, SimFileSystem::Node>& before,
                    const std::map<std::string, SimFileSystem::Node>& after, const std::string& private_key) {
  const std::string log_key = SimFileSystem::Key(kLogPath);
  auto allowed = [&](const std::string& key) {
    return key == log_key || (!private_key.empty() && (key == private_key || key.rfind(private_key + "\\", 0) == 0));
  };
  for (const auto& [key, node] : before) {
    auto now = after.find(key);
    if (!allowed(key) && (now == after.end() || !SameNode(node, now->second))) return true;
  }
  for (const auto& [key, node] : after) {
    if (!allowed(key) && !before.count(key)) return true;
  }
  return false;
}

// The bytes the log writes for text: the code page's, with every line feed as CR LF.
std::string LogBytes(const Text& text) {
  std::string bytes;
  for (char c : Narrow(text)) {
    if (c == '\n') bytes.push_back('\r');
    bytes.push_back(c);
  }
  return bytes;
}

bool EndsWithReport(const std::string& log, const Text& report) {
  std::size_t ended = log.rfind("Ended ");
  if (ended == std::string::npos || log.compare(log.size() - 2, 2, "\r\n") != 0) return false;
  const std::string tail = LogBytes(report + u"\n");
  return ended >= tail.size() && log.compare(ended - tail.size(), tail.size(), tail) == 0;
}

// One whole process on a fresh machine, counting (and failing) calls through plan.
Outcome RunOnce(const Scenario& scenario, FaultPlan& plan) {
  Outcome out;
  const long live_before = g_live_allocations;
  {
    sim::SimMachine machine;
    FileLog log(machine.files, machine.code_page);
    CCarryallInstallerApp app(machine.platform, log);
    bool payload_ready = false;
    Prepare(machine, app, scenario, payload_ready);
    const std::map<std::string, SimFileSystem::Node> before = machine.files.Tree();

    machine.UseFaults(plan);
    try {
      app.InitInstance();
      out.exit_code = app.ExitInstance();
      machine.threads.JoinAll();
    } catch (...) {
      out.crashed = true;
    }
    machine.UseFaults(machine.faults);

    out.crashed = out.crashed || machine.threads.hangs > 0 || plan.ran_away;
    out.open_handles = machine.files.open_handles + machine.processes.open_processes + machine.ui.open_splashes +
                       machine.trust.open_handles;
    const Text& private_folder = app.m_tempFolder.private_folder;
    out.wrote_outside = ChangedOutside(before, machine.files.Tree(),
                                       private_folder.empty() ? std::string() : SimFileSystem::Key(private_folder));
    out.completed = payload_ready && machine.processes.exit_codes_read > 0;
    out.failure_named = EndsWithReport(machine.files.Contents(Text(kLogPath)), app.WordReport(out.exit_code).logged);
  }
  out.allocations = g_live_allocations - live_before;
  return out;
}

// The interface a call site belongs to ("IFileSystem" of "IFileSystem::CreateNewFile").
std::string InterfaceOf(const char* site) {
  std::string name = site;
  return name.substr(0, name.find("::"));
}

TEST(FaultInjectionTest, EveryCallOfAWholeRunFailsInTurnAndTheRunStillEndsCleanly) {
  { sim::SimMachine warm_up; }  // the shipped string table is built once per process

  int sites = 0, crashes = 0, leaks = 0, outside = 0, reported_as_success = 0;
  std::map<std::string, int> interfaces;  // calls failed, by interface
  for (const Scenario& scenario : kScenarios) {
    SCOPED_TRACE(scenario.name);
    FaultPlan count;
    count.sites.reserve(count.limit);
    const Outcome plain = RunOnce(scenario, count);
    ASSERT_TRUE(plain.completed && plain.exit_code == 0 && !plain.crashed && plain.open_handles == 0 &&
                plain.allocations == 0 && !plain.wrote_outside)
        << "the run without faults";
    const std::vector<const char*> calls = count.sites;
    for (const char* site : calls) ++interfaces[InterfaceOf(site)];

    std::map<std::string, int> seen;            // occurrences of each site so far
    std::map<std::size_t, const Found*> found;  // call index -> the fault it once revealed
    for (std::size_t k = 0; k < calls.size(); ++k) {
      const int occurrence = ++seen[calls[k]];
      for (const Found& f : kFound) {
        if (calls[k] == std::string(f.site) && occurrence == f.occurrence) found[k] = &f;
      }
    }
    EXPECT_EQ(found.size(), std::size(kFound)) << "a call that once revealed a fault is no longer made";
    seen.clear();

    for (std::size_t k = 0; k < calls.size(); ++k) {
      FaultPlan plan;
      plan.fail_at = static_cast<long>(k);
      plan.limit = calls.size() * 20 + 1000;
      plan.sites.reserve(plan.limit);
      const Outcome run = RunOnce(scenario, plan);
      const int occurrence = ++seen[calls[k]];
      ++sites;
      crashes += run.crashed;
      leaks += run.open_handles != 0 || run.allocations != 0;
      outside += run.wrote_outside;
      const bool as_success = !run.completed && (run.exit_code == 0 || !run.failure_named);
      reported_as_success += as_success;
      const std::string row = std::string(scenario.name) + ", call " + std::to_string(k) + ": " + calls[k] + " #" +
                              std::to_string(occurrence) + " failed, exit code " +
                              std::to_string(static_cast<uint32_t>(run.exit_code));
      EXPECT_FALSE(run.crashed) << row;
      EXPECT_EQ(run.open_handles, 0) << row;
      EXPECT_EQ(run.allocations, 0) << row;
      EXPECT_FALSE(run.wrote_outside) << row;
      EXPECT_FALSE(as_success) << row << (run.exit_code == 0 ? "" : ", the log does not end with its report");
      if (found.count(k)) EXPECT_EQ(run.exit_code, found[k]->exit_code) << row;
    }
  }
  // Every interface whose calls can fail is used by a whole run, and so failed in it.
  std::set<std::string> used;
  std::string by_interface;
  for (const auto& [name, calls] : interfaces) {
    used.insert(name);
    by_interface += (by_interface.empty() ? "" : ", ") + name + " " + std::to_string(calls);
  }
  EXPECT_EQ(used, (std::set<std::string>{"ICodePage", "IEnvironment", "IFileSystem", "IFindHandle", "ISecurity",
                                         "IMachineInfo", "IProcess", "IFileHandle", "IProcesses", "IReadFile",
                                         "IResources", "ISystem", "IThreads", "ITrust", "IUserInterface"}));
  std::printf(
      "%d call sites failed in turn: %d crashes, %d leaks, %d writes outside, %d failures reported as success\n"
      "(%s)\n",
      sites, crashes, leaks, outside, reported_as_success, by_interface.c_str());
}

}  // namespace
}  // namespace carryall
