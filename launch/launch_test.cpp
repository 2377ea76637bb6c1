#include "launch/launch.h"

#include <gtest/gtest.h>

#include "base/result_codes.h"
#include "base/string_ids.h"
#include "launch/processor_mode.h"
#include "launch/window_iterator.h"
#include "platform/sim/sim_platform.h"
#include "platform/sim/sim_test.h"

namespace carryall {
namespace {

using sim::Narrow;
using Events = std::vector<std::string>;

// The private folder the wizard starts in.
constexpr char16_t kFolder[] = u"C:\\Work\\{A0A0A001-0000-0000-0000-000000000000}";

// What the worker hands the launch: the build's processor mode, the event of the wizard's
// first window, whether a splash waits for it (not in a silent run), the private folder.
WizardLaunch LaunchOn(sim::SimMachine& m, Log& l, EventHandle window_shown, bool silent) {
  m.files.MakeDirectories(kFolder);
  return WizardLaunch{m.platform.processes,
                      m.platform.threads,
                      m.platform.files,
                      m.platform.system,
                      l,
                      m.platform.resources.LoadString(kIdsProgramType).value_or(Text()),
                      window_shown,
                      !silent,
                      kFolder};
}

class LaunchTest : public sim::SimTest {
 protected:
  void SetUp() override { window_shown = *machine.threads.CreateManualResetEvent(); }
  int32_t Run(const Text& arguments = u"/x ") {
    const LaunchOutcome outcome =
        RunProgram(LaunchOn(machine, log, window_shown, /*silent=*/false), Text(kFolder) + u"\\wizard.exe", arguments);
    exit_code = outcome.exit_code;
    return outcome.status.code;
  }
  std::string LogText() { return Narrow(log.pending()); }
  bool WindowShown() { return machine.threads.IsSet(window_shown); }
  EventHandle window_shown{};
  int32_t exit_code = 0;  // the wizard's, as the run's exit code takes it
};

TEST_F(LaunchTest, ProcessorModeDecidesWhetherAndHowToStart) {
  struct Case {
    const char16_t* type;
    bool wow;
    const char* lines;  // what the decision logs
    bool starts;
    bool redirection_switched;
  } cases[] = {
      {u"x86", false, "Swapping to x86\n", true, false},
      {u"x86", true, "Swapping to x86\n", true, false},
      {u"X64", false, "Swapping to x64\nIncorrect processor mode with installation type\n", false, false},
      {u"x64", true, "Swapping to x64\nEnabling 64Bit spawned processes\n", true, true},
      {u"x32only", false, "Swapping to 32Bit only\n", true, false},
      {u"x32Only", true, "Swapping to 32Bit only\nIncorrect processor mode with installation type\n", false, false},
      {u"", false, "Staying on Any\n", true, false},
      {u"amd64", true, "Staying on Any\nEnabling 64Bit spawned processes\n", true, true},
  };
  for (const Case& c : cases) {
    sim::SimMachine m;
    FileLog l(m.files, m.code_page);
    m.processes.wow64 = c.wow;
    bool starts;
    {
      RedirectionGuard guard(m.processes, l, c.type);
      starts = guard.DecideProcessorMode();
    }
    std::string expected = "ProgramType '" + Narrow(c.type) + "'\n" + c.lines;
    if (c.redirection_switched) expected += "Restoring 32Bit spawned processes\n";
    EXPECT_EQ(starts, c.starts) << Narrow(c.type) << c.wow;
    EXPECT_EQ(Narrow(l.pending()), expected) << Narrow(c.type) << c.wow;
    Events expected_events;
    if (c.redirection_switched) expected_events = {"redirection off", "redirection on"};
    EXPECT_EQ(m.processes.events, expected_events) << Narrow(c.type) << c.wow;
  }
}

TEST_F(LaunchTest, RedirectionIsBackOnBeforeTheWaitAndAfterAFailedStart) {
  machine.resources.strings[kIdsProgramType] = u"x64";
  machine.processes.wow64 = true;
  machine.processes.child.ends_after_waits = 2;
  EXPECT_EQ(Run(), kOk);
  EXPECT_EQ(machine.processes.events,
            (Events{"redirection off", "created", "redirection on", "wait 100", "wait 100", "closed"}));

  machine.processes.events.clear();
  machine.faults.Always("IProcesses::CreateProcess");
  EXPECT_EQ(Run(), kInvalidArg);
  EXPECT_EQ(machine.processes.events, (Events{"redirection off", "create failed", "redirection on"}));
}

TEST_F(LaunchTest, RefusedModeStartsNothing) {
  machine.resources.strings[kIdsProgramType] = u"x64";
  log.Open(u"C:\\Work\\run.log");
  EXPECT_EQ(Run(), kAbort);
  EXPECT_TRUE(machine.processes.command_lines.empty());
  EXPECT_TRUE(log.is_open()) << "the log is closed only after a successful start";
  log.Close();
  std::string text = machine.files.Contents(u"C:\\Work\\run.log");
  EXPECT_NE(
      text.find("Incorrect processor mode with installation type\r\nRun Program, Failed to set processor mode\r\n"),
      std::string::npos);
  EXPECT_EQ(exit_code, 0);
}

TEST_F(LaunchTest, CommandLineQuotesThePathAndKeepsArgumentsAsTheyAre) {
  EXPECT_EQ(Run(u""), kOk);
  EXPECT_EQ(Run(u"/log \"C:\\a b\\l.txt\" say\"what VH_I=\"Mini\" "), kOk);
  ASSERT_EQ(machine.processes.command_lines.size(), 2u);
  EXPECT_EQ(Narrow(machine.processes.command_lines[0]),
            "\"C:\\Work\\{A0A0A001-0000-0000-0000-000000000000}\\wizard.exe\" ");
  EXPECT_EQ(Narrow(machine.processes.command_lines[1]),
            "\"C:\\Work\\{A0A0A001-0000-0000-0000-000000000000}\\wizard.exe\" /log \"C:\\a b\\l.txt\" say\"what "
            "VH_I=\"Mini\" ");
  EXPECT_NE(LogText().find("RunProgram program '\"C:\\Work\\{A0A0A001-0000-0000-0000-000000000000}\\wizard.exe\" '\n"),
            std::string::npos);
}

TEST_F(LaunchTest, TheWizardStartsInThePrivateFolder) {
  EXPECT_EQ(Run(), kOk);
  EXPECT_EQ(Narrow(machine.files.current_directory), Narrow(Text(kFolder)));
}

TEST_F(LaunchTest, PollFollowsTheWizardsWindows) {
  struct Case {
    const char* what;
    sim::SimProcesses::Child child;
    bool shown;
    Events waits;
    bool silent = false;
  } cases[] = {
      {"window at once", {1, false, 5, 0}, true, {"wait 100", "wait forever"}},
      {"window after three polls", {3, false, 5, 0}, true, {"wait 100", "wait 100", "wait 100", "wait forever"}},
      {"never a window", {-1, false, 3, 0}, false, {"wait 100", "wait 100", "wait 100"}},
      {"hidden window only", {1, true, 2, 0}, false, {"wait 100", "wait 100"}},
      {"window as it ends", {2, false, 2, 0}, false, {"wait 100", "wait 100"}},
      // No splash waits: the windows are never looked at, the end is simply waited for.
      {"silent run", {1, false, 5, 0}, false, {"wait forever"}, true},
  };
  for (const Case& c : cases) {
    sim::SimMachine m;
    FileLog l(m.files, m.code_page);
    const EventHandle shown = *m.threads.CreateManualResetEvent();
    m.processes.child = c.child;
    EXPECT_EQ(RunProgram(LaunchOn(m, l, shown, c.silent), u"C:\\w.exe", Text()).status.code, kOk) << c.what;
    EXPECT_EQ(m.threads.IsSet(shown), c.shown) << c.what;
    EXPECT_EQ(m.processes.window_looks == 0, c.silent) << c.what;
    Events waits;
    for (const std::string& e : m.processes.events) {
      if (e.rfind("wait", 0) == 0) waits.push_back(e);
    }
    EXPECT_EQ(waits, c.waits) << c.what;
  }
}

TEST_F(LaunchTest, ExitCodesAndStatuses) {
  machine.processes.child.exit_code = 1603;
  EXPECT_EQ(Run(), kOk);
  EXPECT_EQ(exit_code, 1603);
  EXPECT_NE(LogText().find("RunProgram returned 1603\n"), std::string::npos);

  machine.processes.child.exit_code = 0x80131700;
  EXPECT_EQ(Run(), kOk);
  EXPECT_EQ(exit_code, static_cast<int32_t>(0x80131700));
  EXPECT_NE(LogText().find("RunProgram returned -2146232576\n"), std::string::npos);

  machine.processes.child.exit_code_unreadable = true;
  EXPECT_EQ(Run(), 6);
  EXPECT_EQ(exit_code, 0);

  machine.faults.Always("IProcesses::CreateProcess");
  EXPECT_EQ(Run(), kInvalidArg);
  EXPECT_NE(LogText().find("Run Program returned error\n"), std::string::npos);
}

TEST_F(LaunchTest, TheLogIsFreeWhileTheWizardRunsAndReopenedForAppending) {
  log.Open(u"C:\\Work\\run.log");
  log.Write(u"before\n");
  machine.processes.on_create = [&] {
    auto wizard = machine.files.OpenForWriting(u"C:\\Work\\run.log");
    ASSERT_FALSE(wizard) << "still open at the moment of creation";
  };
  machine.processes.child.windows_after_waits = 1;
  machine.processes.child.ends_after_waits = 3;
  // The log is closed before the first wait: the wizard can write to it then.
  EXPECT_EQ(Run(), kOk);
  log.Close();
  std::string text = machine.files.Contents(u"C:\\Work\\run.log");
  EXPECT_EQ(text.find("before\r\n"), 0u);
  EXPECT_NE(text.find("RunProgram returned 0\r\n"), std::string::npos);
}

// ---- a command line too long to start ----

TEST_F(LaunchTest, CommandLineTooLongToStartFailsLikeAFailedCreationAndStartsNothing) {
  machine.resources.strings[kIdsProgramType] = u"x64";
  machine.processes.wow64 = true;
  const Text program = u"\"C:\\Work\\{A0A0A001-0000-0000-0000-000000000000}\\wizard.exe\" ";
  // 32,766 units and the terminator fit: that line starts whole.
  const Text longest(kMaxCommandLine - 1 - program.size(), u'A');
  EXPECT_EQ(Run(longest), kOk);
  ASSERT_EQ(machine.processes.command_lines.size(), 1u);
  EXPECT_EQ(machine.processes.command_lines[0], program + longest);

  // One unit more is refused before CreateProcess, with redirection back on, the log
  // left open, and the line and result of a failed creation.
  machine.processes.events.clear();
  log.Open(u"C:\\Work\\run.log");
  log.Write(u"second\n");
  EXPECT_EQ(Run(longest + u"A"), kInvalidArg);
  EXPECT_EQ(machine.processes.command_lines.size(), 1u) << "nothing handed over to be cut short";
  EXPECT_EQ(machine.processes.events, (Events{"redirection off", "redirection on"}));
  EXPECT_EQ(exit_code, 0);
  EXPECT_TRUE(log.is_open());
  log.Close();
  std::string all = machine.files.Contents(u"C:\\Work\\run.log");
  std::string text = all.substr(all.find("second\r\n"));
  EXPECT_NE(text.find("Swapping to x64\r\nEnabling 64Bit spawned processes\r\n"
                      "Run Program command line is 32767 characters long, the system takes at most 32766\r\n"
                      "Run Program returned error\r\nRestoring 32Bit spawned processes\r\n"),
            std::string::npos)
      << text.substr(text.size() - 300);
  EXPECT_EQ(text.find("RunProgram returned"), std::string::npos) << "nothing ran";
}

// ---- failed waits end the watch ----

TEST_F(LaunchTest, FailedWaitEndsTheWatchWithAFailureInsteadOfSpinning) {
  struct Case {
    const char* what;
    sim::SimProcesses::Child child;  // windows, hidden, ends, code, unreadable, its error, fails from, error
    bool shown;
    Events waits;
    int32_t status;
  } cases[] = {
      {"the first poll fails",
       {-1, false, 5, 7, false, 6, 1, 6},
       false,
       {"wait 100 failed"},
       static_cast<int32_t>(0x80070006)},
      {"a later poll fails",
       {-1, false, 5, 7, false, 6, 3, 5},
       false,
       {"wait 100", "wait 100", "wait 100 failed"},
       static_cast<int32_t>(0x80070005)},
      {"the wait after the window fails",
       {1, false, 5, 7, false, 6, 2, 6},
       true,
       {"wait 100", "wait forever failed"},
       static_cast<int32_t>(0x80070006)},
      {"the system names no error", {-1, false, 5, 7, false, 6, 1, 0}, false, {"wait 100 failed"}, kFail},
  };
  for (const Case& c : cases) {
    sim::SimMachine m;
    FileLog l(m.files, m.code_page);
    const EventHandle shown = *m.threads.CreateManualResetEvent();
    m.files.MakeDirectories(u"C:\\Work");
    l.Open(u"C:\\Work\\run.log");
    m.processes.child = c.child;
    const LaunchOutcome outcome = RunProgram(LaunchOn(m, l, shown, /*silent=*/false), u"C:\\w.exe", Text());
    EXPECT_EQ(outcome.status.code, c.status) << c.what;
    EXPECT_EQ(outcome.exit_code, 0) << c.what << ": an exit code that was never read";
    EXPECT_EQ(m.threads.IsSet(shown), c.shown) << c.what;
    Events expected = {"created"};
    expected.insert(expected.end(), c.waits.begin(), c.waits.end());
    expected.push_back("closed");
    EXPECT_EQ(m.processes.events, expected) << c.what;
    EXPECT_TRUE(l.is_open()) << c.what << ": the log is reopened";
    l.Close();
    EXPECT_NE(m.files.Contents(u"C:\\Work\\run.log")
                  .find("RunProgram wait for the wizard failed, error " + std::to_string(c.child.wait_error) +
                        "\r\nRunProgram returned 0\r\n"),
              std::string::npos)
        << c.what;
  }
  EXPECT_EQ(WaitFailedResult(0x12345), static_cast<int32_t>(0x80072345));
}

TEST(WindowIteratorTest, CollectsUpToItsCapacityInEnumerationOrder) {
  sim::SimProcesses processes;
  for (uint32_t i = 0; i < 10; ++i) processes.desktop.push_back({100 + i, kWindowStyleVisible});
  CWindowIterator three(processes, 3);
  std::vector<WindowHandle> got;
  for (WindowHandle w = three.FirstWindow(); w; w = three.NextWindow()) got.push_back(w);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(processes.GetWindowProcessId(got[0]), 100u);
  EXPECT_EQ(processes.GetWindowProcessId(got[2]), 102u);

  CWindowIterator none(processes, 0);
  EXPECT_EQ(none.FirstWindow(), nullptr);
}

TEST(WindowIteratorTest, ProbeCountsOnlyVisibleWindowsOfTheProcess) {
  sim::SimProcesses processes;
  processes.desktop = {{7, 0}, {8, kWindowStyleVisible}};
  EXPECT_FALSE(ProcessHasVisibleWindow(processes, 7));
  EXPECT_TRUE(ProcessHasVisibleWindow(processes, 8));
  EXPECT_FALSE(ProcessHasVisibleWindow(processes, 9));
}

}  // namespace
}  // namespace carryall
