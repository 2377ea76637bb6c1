#include "app/carryall_app.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

#include "base/result_codes.h"
#include "base/string_ids.h"
#include "app/installer_test.h"
#include "platform/sim/sim_platform.h"

namespace carryall {
namespace {

using sim::Narrow;

// A one-file payload, so that a run succeeds end to end.
void AddOneFilePayload(sim::SimMachine& machine) {
  machine.resources.Add(u"TOOLKIT", 101, "102*a.txt*3*103*Wizard.exe*1");
  machine.resources.Add(u"TOOLKIT", 102, "abc");
  machine.resources.Add(u"TOOLKIT", 103, "w");
}

// Runs the whole process: InitInstance, then ExitInstance; returns the exit code.
int32_t RunProcessOn(sim::SimMachine& machine, CCarryallInstallerApp& app, const Text& args) {
  machine.system.command_line = u"\"C:\\work\\CarryallInstaller.exe\" " + args;
  EXPECT_FALSE(app.InitInstance());
  int32_t code = app.ExitInstance();
  machine.threads.JoinAll();
  return code;
}

class StartupTest : public sim::InstallerTest {
 protected:
  void SetUp() override { AddOneFilePayload(machine); }
  int32_t RunProcess(const Text& args) { return RunProcessOn(machine, app, args); }
  std::string LogFile() { return machine.files.Contents("C:\\work\\run.log"); }
};

TEST_F(StartupTest, SilentRunLogsEveryStepInOrderAndSucceeds) {
  EXPECT_EQ(RunProcess(u"log run.log /IAgreeToTheEULA"), 0);
  EXPECT_EQ(
      LogFile(),
      "Command line params /IAgreeToTheEULA /log \"C:\\work\\run.log\" VH_I=\"\" \r\n"
      "Temp folder 'C:\\Users\\me\\AppData\\Local\\Temp\\'\r\n"
      "Started 1016\r\n"
      "Digital verification: 'The file \"C:\\work\\CarryallInstaller.exe\" is signed and the signature was "
      "verified.\r\n'\r\n"
      "GetAuthenticodeInformation \r\n"
      "GetProgAndPublisherInfo pPublisheInfo = null\r\n"
      "GetProgAndPublisherInfo pMoreInfo = null\r\n"
      "GetAuthenticodeInformation Fininshed\r\n"
      "Digital verification: SubjectName 'Carryall Development'\r\n"
      "Digital verification: ProgramName 'SQL Carryall'\r\n"
      "Digital verification: MoreInfo    'null'\r\n"
      "Digital verification: SerialNumber 7F102A\r\n"
      "Digital verification: IssuerName 'Carryall Development CA'\r\n"
      ".NET 2.0 0\r\n"
      ".NET 3.0 0\r\n"
      ".NET 3.5 0\r\n"
      ".NET 4.0 Client 0\r\n"
      ".NET 4.0 Full 0\r\n"
      ".NET 4.5 Client \r\n"
      ".NET 4.5 Full \r\n"
      ".NET 4.0 Client Detected SP 8\r\n"
      ".NET Version OK\r\n"
      "Free Disk Space\r\n"
      "Free Disk Space: Checking at least 500 MB free on drive 'C:' for temp directory "
      "'C:\\Users\\me\\AppData\\Local\\Temp\\'\r\n"
      "Free disk space requirement passed.\r\n"
      "Run Embedded Resources \r\n"
      "Command line params /IAgreeToTheEULA /log \"C:\\work\\run.log\" VH_I=\"SQL Carryall\" \r\n"
      "Temp folder 'C:\\Users\\me\\AppData\\Local\\Temp\\'\r\n"
      "Scanning for Signature\r\r\n"
      "Failed to open installer file C:\\work\\CarryallInstaller.exe 2\r\r\n"
      "Enumerate Resources TOOLKIT 65\r\n"
      "Enumerate Resources TOOLKIT 66\r\n"
      "Enumerate Resources TOOLKIT 67\r\n"
      "Enumerate Resources OK \r\n"
      "Work Out FileName Wizard.exe, Bytes 1\r\n"
      "Work Out FileName a.txt, Bytes 3\r\n"
      "WorkOutFileNames 0\r\n"
      "C:\\Users\\me\\AppData\\Local\\Temp\\{A0A0A002-0000-0000-0000-000000000000}\\wizard.exe written Ok\r\n"
      "Extract File wizard.exe 0\r\n"
      "C:\\Users\\me\\AppData\\Local\\Temp\\{A0A0A002-0000-0000-0000-000000000000}\\a.txt written Ok\r\n"
      "Extract File a.txt 0\r\n"
      "RunProgram program '\"C:\\Users\\me\\AppData\\Local\\Temp\\{A0A0A002-0000-0000-0000-000000000000}\\wizard.exe\" "
      "/IAgreeToTheEULA /log \"C:\\work\\run.log\" VH_I=\"SQL Carryall\" '\r\n"
      "ProgramType 'x86'\r\n"
      "Swapping to x86\r\n"
      "RunProgram returned 0\r\n"
      "Remove folder 'Yes'\r\n"
      "Manual Deletion of 'C:\\Users\\me\\AppData\\Local\\Temp\\{A0A0A002-0000-0000-0000-000000000000}\\wizard.exe'\r\n"
      "Manual Deletion of 'C:\\Users\\me\\AppData\\Local\\Temp\\{A0A0A002-0000-0000-0000-000000000000}\\a.txt'\r\n"
      "Deletion Folder of 'C:\\Users\\me\\AppData\\Local\\Temp\\{A0A0A002-0000-0000-0000-000000000000}'\r\n"
      "Remove Folder 'C:\\Users\\me\\AppData\\Local\\Temp\\{A0A0A002-0000-0000-0000-000000000000}'\r\n"
      "Ended 1032\r\n");
  EXPECT_TRUE(machine.files.List(u"C:\\Users\\me\\AppData\\Local\\Temp").empty());
  // Silent: no window is made, the splash included, and neither COM nor the common
  // controls are set up.
  EXPECT_EQ(machine.threads.com_init, 0);
  EXPECT_EQ(machine.ui.common_controls, 0);
  EXPECT_EQ(machine.ui.events, std::vector<std::string>{});
}

TEST_F(StartupTest, BadCommandLineReportsUsageAndExitsWithItsCode) {
  EXPECT_EQ(RunProcess(u"log run.log /IAgreeToTheEULA /temp"), kBadCommandLine);
  EXPECT_EQ(LogFile(),
            "Command line params /temp /IAgreeToTheEULA /log \"C:\\work\\run.log\" VH_I=\"\" \r\n"
            "Temp folder 'C:\\Users\\me\\AppData\\Local\\Temp\\'\r\n"
            "Command line 'log run.log /IAgreeToTheEULA /temp' incorrect.\r\n"
            "Valid switches include:- \r\n\textract [path]\tlog [path]\ttemp [path]\r\n\r\n"
            "Example\r\n\t log c:\\log.txt /IAgreeToTheEULA\r\n"
            "Ended 1016\r\n");
  EXPECT_TRUE(machine.ui.events.empty()) << "a silent run shows nothing";
}

// Text from outside the program reaches the log escaped wherever it comes from, and
// forges no line; the wizard and the dialog still get it exactly.
TEST(LogForgeryTest, NoOutsideTextStartsALineOfItsOwn) {
  const Text forged = u"x\nEnded 0\r\nDigital verification: SubjectName 'forged'\x01";
  const std::string shown = "x\\nEnded 0\\r\\nDigital verification: SubjectName 'forged'\\x01";
  struct Row {
    const char* where;
    std::function<void(sim::SimMachine&)> plant;
    Text args;
    std::string line;  // the start of the log line that shows the text (escaped)
  } rows[] = {
      {"a bare word for the wizard", [](sim::SimMachine&) {}, u"/dontrun \"" + forged + u"\"", "Command line params "},
      {"the usage message's command line", [](sim::SimMachine&) {}, u"/? " + forged,
       "Command line 'log run.log /IAgreeToTheEULA /? " + shown + "' incorrect."},
      {"the signer's subject", [&](sim::SimMachine& m) { m.trust.signature.certificate->subject = forged; },
       u"/dontrun", "Digital verification: SubjectName '" + shown + "'"},
      {"the signer's issuer", [&](sim::SimMachine& m) { m.trust.signature.certificate->issuer = forged; }, u"/dontrun",
       "Digital verification: IssuerName '" + shown + "'"},
      {"the signed program name", [&](sim::SimMachine& m) { m.trust.signature.opus_info.program_name = forged; },
       u"/dontrun", "Digital verification: ProgramName '" + shown + "'"},
      {"the more-information link",
       [&](sim::SimMachine& m) {
         m.trust.signature.opus_info.more_info = SignerLink{kLinkUrl, forged};
       },
       u"/dontrun", "Digital verification: MoreInfo    '" + shown + "'"},
      {"the program's own path", [&](sim::SimMachine& m) { m.files.module_path = u"C:\\work\\" + forged + u".exe"; },
       u"/dontrun",
       "Digital verification: 'The file \"C:\\work\\" + shown + ".exe\" is signed and the signature was verified."},
  };
  for (const Row& row : rows) {
    sim::SimMachine machine;
    FileLog log(machine.files, machine.code_page);
    CCarryallInstallerApp app(machine.platform, log);
    AddOneFilePayload(machine);
    row.plant(machine);
    // Two words before the forged text, so that "Started" is not the first line anyway.
    machine.system.command_line = u"\"C:\\work\\CarryallInstaller.exe\" log run.log /IAgreeToTheEULA " + row.args;
    app.InitInstance();
    app.ExitInstance();
    machine.threads.JoinAll();
    std::string text = machine.files.Contents("C:\\work\\run.log");
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; at < text.size(); at = end + 2) {
      end = text.find("\r\n", at);
      if (end == std::string::npos) end = text.size();
      lines.push_back(text.substr(at, end - at));
    }
    const bool found = std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
      return line.rfind(row.line, 0) == 0 && line.find(shown) != std::string::npos;
    });
    EXPECT_TRUE(found) << row.where << "\n" << text;
    if (std::string(row.where) == "the signed program name") {
      EXPECT_EQ(app.m_strProgramName, forged) << "the wizard is handed the exact name";
    }
    for (const std::string& line : lines) {
      EXPECT_NE(line.rfind("Ended 0", 0), 0u) << row.where;
      EXPECT_NE(line.rfind("Digital verification: SubjectName 'forged'", 0), 0u) << row.where;
    }
  }
}

TEST_F(StartupTest, InteractiveBadCommandLineShowsTheReport) {
  EXPECT_EQ(RunProcess(u"/?"), kBadCommandLine);
  EXPECT_EQ(machine.ui.events, (std::vector<std::string>{"report"}));
  EXPECT_EQ(Narrow(machine.ui.report_message).substr(0, 24), "Command line '/?' incorr");
}

TEST_F(StartupTest, RedirectionBesideTheProgramRefusesTheRunBeforeAnyDllIsLoaded) {
  const std::string refusal =
      "SQL Carryall will not run while 'C:\\work\\CarryallInstaller.exe.local' is beside it: it would redirect "
      "the DLLs the program loads.";
  struct Row {
    const char16_t* planted;  // a file, or a folder when it ends in a backslash
    const char16_t* args;
    bool refused;
    std::vector<std::string> ui_events;
  };
  const Row rows[] = {
      {u"C:\\work\\CarryallInstaller.exe.local", u"log run.log /IAgreeToTheEULA", true, {}},
      {u"C:\\work\\CarryallInstaller.exe.local\\", u"log run.log", true, {"report"}},
      {u"C:\\work\\Other.exe.local\\",
       u"log run.log /dontrun",
       false,
       {"splash created", "splash show", "splash end 5", "splash destroyed"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(Narrow(row.planted));
    sim::SimMachine machine;
    FileLog log(machine.files, machine.code_page);
    CCarryallInstallerApp app(machine.platform, log);
    AddOneFilePayload(machine);
    const Text planted = row.planted;
    if (planted.back() == u'\\') {
      machine.files.MakeDirectories(planted.substr(0, planted.size() - 1));
    } else {
      machine.files.Put(planted, "");
    }

    EXPECT_EQ(RunProcessOn(machine, app, row.args), row.refused ? kFail : kOk);
    const std::string log_file = machine.files.Contents("C:\\work\\run.log");
    EXPECT_EQ(log_file.find(refusal + "\r\nEnded 1016\r\n") != std::string::npos, row.refused);
    EXPECT_EQ(log_file.find("Started") == std::string::npos, row.refused);
    EXPECT_EQ(machine.ui.common_controls, row.refused ? 0 : 1);
    EXPECT_EQ(machine.ui.events, row.ui_events);
    if (!row.ui_events.empty() && row.ui_events[0] == "report") EXPECT_EQ(Narrow(machine.ui.report_message), refusal);
  }
}

TEST_F(StartupTest, ThreadThatCannotStartFailsTheRunInsteadOfSucceeding) {
  machine.faults.Always("IThreads::StartThread");
  EXPECT_EQ(RunProcess(u"log run.log /IAgreeToTheEULA"), kFail);
  EXPECT_NE(LogFile().find("Contact Technical Support. Incorrect SQL Carryall build."), std::string::npos);
}

TEST_F(StartupTest, InteractiveRunShowsTheSplashAndEndsItAfterTheWorker) {
  // What windows need is settled before a second thread could make one.
  int threads_at_common_controls = -1;
  machine.ui.on_common_controls = [&] { threads_at_common_controls = machine.threads.started; };
  EXPECT_EQ(RunProcess(u""), 0);
  EXPECT_EQ(threads_at_common_controls, 0);
  EXPECT_EQ(machine.threads.started, 1);
  EXPECT_EQ(machine.threads.com_init, 2);    // main thread and worker
  EXPECT_EQ(machine.threads.com_uninit, 1);  // the worker only
  EXPECT_EQ(machine.ui.events,
            (std::vector<std::string>{"splash created", "splash show", "splash end 5", "splash destroyed"}));
}

TEST_F(StartupTest, TemporaryFolderPromptWakesTheWaitToHideTheSplashAndShowItAgain) {
  machine.files.MakeDirectories(u"C:\\Base");
  machine.ui.prompt_answer = 1;
  machine.ui.prompt_typed = u"C:\\Base";
  bool hidden_during_prompt = false;
  auto has = [&](const std::string& event) {
    std::lock_guard<std::mutex> lock(machine.ui.mutex);
    return std::find(machine.ui.events.begin(), machine.ui.events.end(), event) != machine.ui.events.end();
  };
  // The prompt stays open until the main thread has hidden the splash (bounded).
  machine.ui.during_prompt = [&] {
    for (int i = 0; i < 500 && !(hidden_during_prompt = has("splash hide")); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  };
  // The wizard starts only once the splash is back (bounded), so the worker is still
  // running when the main thread answers the counter's return to 0.
  bool shown_again = false;
  auto shown_after_hide = [&] {
    std::lock_guard<std::mutex> lock(machine.ui.mutex);
    auto hide = std::find(machine.ui.events.begin(), machine.ui.events.end(), "splash hide");
    return hide != machine.ui.events.end() &&
           std::find(hide, machine.ui.events.end(), "splash show") != machine.ui.events.end();
  };
  machine.processes.on_create = [&] {
    for (int i = 0; i < 500 && !(shown_again = shown_after_hide()); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  };
  EXPECT_EQ(RunProcess(u"temp C:\\missing\\x"), 0);
  EXPECT_TRUE(hidden_during_prompt);
  EXPECT_TRUE(shown_again);
  std::vector<std::string> after_prompt;
  bool seen = false;
  for (const std::string& e : machine.ui.events) {
    if (seen && e.rfind("splash", 0) == 0) after_prompt.push_back(e);
    seen = seen || e == "splash hide";
  }
  EXPECT_EQ(after_prompt, (std::vector<std::string>{"splash show", "splash end 5", "splash destroyed"}));
}

TEST_F(StartupTest, WorkerFailureBecomesTheExitCode) {
  // A bad command line that only the worker's second parse could see is not possible, so
  // the result is set as the worker would and ExitInstance is asked for the code.
  app.m_nWorkerResult = kFileSizeMismatch;
  app.m_nExitCode = 1603;
  EXPECT_EQ(app.ExitInstance(), kFileSizeMismatch);
}

TEST_F(StartupTest, ARestartRequiredIsASuccessPassedOnWithoutAReport) {
  struct Case {
    uint32_t wizard_exit;
    bool reported;
  } cases[] = {{3010, false}, {1641, false}, {1603, true}, {3011, true}};
  for (const Case& c : cases) {
    sim::SimMachine m;
    AddOneFilePayload(m);
    FileLog run_log(m.files, m.code_page);
    CCarryallInstallerApp run(m.platform, run_log);
    m.processes.child.exit_code = c.wizard_exit;
    EXPECT_EQ(RunProcessOn(m, run, u"log C:\\work\\run.log"), static_cast<int32_t>(c.wizard_exit));
    const std::string log = m.files.Contents("C:\\work\\run.log");
    const std::string restart =
        "The installation needs a restart to complete (exit code " + std::to_string(c.wizard_exit) + ").";
    EXPECT_EQ(log.find(restart) != std::string::npos, !c.reported) << c.wizard_exit << log;
    EXPECT_EQ(std::count(m.ui.events.begin(), m.ui.events.end(), "report"), c.reported ? 1 : 0) << c.wizard_exit;
  }
}

TEST_F(StartupTest, AFullDiskWhileUnpackingIsReportedAsAFullDisk) {
  machine.files.write_errors[sim::SimFileSystem::Key(
      u"C:\\Users\\me\\AppData\\Local\\Temp\\{A0A0A002-0000-0000-0000-000000000000}\\wizard.exe")] = 112;
  EXPECT_EQ(RunProcess(u"log C:\\work\\run.log"), kDiskFullOnWrite);
  EXPECT_EQ(Narrow(machine.ui.report_message),
            "Insufficient disk space on drive 'C:'. 500.0 MB of free disk space is required.");
  EXPECT_NE(LogFile().find("wizard.exe Write file has failed, error 112: the disk is full"), std::string::npos);
  EXPECT_FALSE(machine.files.Exists(u"C:\\Users\\me\\AppData\\Local\\Temp\\{A0A0A002-0000-0000-0000-000000000000}"));

  // A payload larger than setting 103 is what the report asks for (1500 MiB here).
  sim::SimMachine big;
  big.resources.Add(u"TOOLKIT", 101, "102*a.bin*1572864000*103*Wizard.exe*1");
  big.resources.Add(u"TOOLKIT", 102, "abc");
  big.resources.Add(u"TOOLKIT", 103, "w");
  big.files.short_writes[sim::SimFileSystem::Key(
      u"C:\\Users\\me\\AppData\\Local\\Temp\\{A0A0A002-0000-0000-0000-000000000000}\\a.bin")] = 1;
  FileLog big_log(big.files, big.code_page);
  CCarryallInstallerApp big_app(big.platform, big_log);
  EXPECT_EQ(RunProcessOn(big, big_app, u""), kDiskFullOnWrite);
  EXPECT_EQ(Narrow(big.ui.report_message),
            "Insufficient disk space on drive 'C:'. 1.5 GB of free disk space is required.");
}

TEST_F(StartupTest, WizardExitCodeIsTheExitCodeWhenTheWorkerSucceeded) {
  app.m_nExitCode = 1603;
  EXPECT_EQ(app.ExitInstance(), 1603);
}

// ---- the wait loop ----

class WaitForWorkerTest : public sim::InstallerTest {
 protected:
  void SetUp() override {
    shown = *machine.threads.CreateManualResetEvent();
    done = *machine.threads.CreateManualResetEvent();
    splash = machine.ui.CreateSplash();
  }
  void Wait() {
    EventHandle handles[2] = {shown, done};
    EXPECT_EQ(WaitForWorker(machine.threads, handles, 2, app, splash.get()), 0);
  }

  EventHandle shown = nullptr;
  EventHandle done = nullptr;
  std::unique_ptr<ISplash> splash;
};

TEST_F(WaitForWorkerTest, CounterHidesAndShowsTheSplash) {
  // Each step runs before a wait; a posted message wakes the loop to look again.
  machine.threads.before_wait = [&](int n) {
    switch (n) {
      case 0:
        app.m_nSplashHideCount = 1;
        machine.threads.Post(0x400);
        break;
      case 1:
        app.m_nSplashHideCount = 2;
        machine.threads.Post(0x400);
        break;  // 1 -> 2: no change
      case 2:
        app.m_nSplashHideCount = 0;
        machine.threads.Post(0x400);
        break;
      default:
        machine.threads.SetEvent(done);
    }
  };
  Wait();
  EXPECT_EQ(machine.ui.events,
            (std::vector<std::string>{"splash created", "splash hide", "splash show", "splash end 5"}));
}

TEST_F(WaitForWorkerTest, CounterAlreadyRaisedBeforeTheFirstLookHidesOnce) {
  app.m_nSplashHideCount = 1;
  machine.threads.before_wait = [&](int n) {
    if (n == 0) {
      app.m_nSplashHideCount = 0;
      machine.threads.Post(0x400);
    } else {
      machine.threads.SetEvent(done);
    }
  };
  Wait();
  EXPECT_EQ(machine.ui.events,
            (std::vector<std::string>{"splash created", "splash hide", "splash show", "splash end 5"}));
}

TEST_F(WaitForWorkerTest, WindowShownEndsTheSplashOnceAndLaterChangesLeaveItAlone) {
  machine.threads.before_wait = [&](int n) {
    if (n == 0) machine.threads.SetEvent(shown);
    if (n == 1) {
      EXPECT_FALSE(machine.threads.IsSet(shown)) << "the event is reset";
      app.m_nSplashHideCount = 1;
      machine.threads.Post(0x400);
    }
    if (n == 2) machine.threads.SetEvent(done);
  };
  Wait();
  EXPECT_EQ(machine.ui.events, (std::vector<std::string>{"splash created", "splash end 5"}));
}

TEST_F(WaitForWorkerTest, WindowShownWinsWhenBothEventsAreSet) {
  machine.threads.SetEvent(shown);
  machine.threads.SetEvent(done);
  Wait();
  EXPECT_EQ(machine.threads.waits, 2);
  EXPECT_EQ(machine.ui.events, (std::vector<std::string>{"splash created", "splash end 5"}));
}

TEST_F(WaitForWorkerTest, QuitMessagesAreDroppedAndOthersDispatched) {
  machine.threads.Post(kWmQuit);
  machine.threads.Post(0x0F);
  machine.threads.before_wait = [&](int n) {
    if (n == 0) machine.threads.Post(kWmQuit);
    if (n == 1) machine.threads.SetEvent(done);
  };
  Wait();
  EXPECT_EQ(machine.threads.dispatched, (std::vector<uint32_t>{0x0F}));
}

TEST_F(WaitForWorkerTest, WithoutASplashTheLoopStillEnds) {
  splash.reset();
  machine.threads.before_wait = [&](int) { machine.threads.SetEvent(done); };
  EventHandle handles[2] = {shown, done};
  EXPECT_EQ(WaitForWorker(machine.threads, handles, 2, app, nullptr), 0);
}

// ---- a failed wait ends the loop ----

TEST_F(WaitForWorkerTest, FailedWaitEndsTheLoopOnceTheWorkerIsDoneWithoutSpinning) {
  machine.threads.before_wait = [&](int n) {
    if (n == 0) machine.threads.Post(0x400);
  };
  machine.faults.From("IThreads::WaitForEventsOrMessages", 1);  // the first wait sees the message, the second fails
  std::atomic<bool> worker_finished{false};
  std::thread worker([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    worker_finished = true;
    machine.threads.SetEvent(done);
  });
  EventHandle handles[2] = {shown, done};
  EXPECT_EQ(WaitForWorker(machine.threads, handles, 2, app, splash.get()), static_cast<int32_t>(0x80070006));
  EXPECT_TRUE(worker_finished) << "the worker's clean-up is waited for";
  worker.join();
  EXPECT_EQ(machine.threads.waits, 2);
  EXPECT_EQ(machine.threads.event_waits, 1);
  EXPECT_EQ(machine.ui.events, (std::vector<std::string>{"splash created", "splash end 5"}));
  EXPECT_EQ(Narrow(log.pending()), "WaitForWorker wait failed, error 6\n");
}

TEST_F(WaitForWorkerTest, FailedWaitAfterTheSplashEndedLeavesItAlone) {
  machine.faults.From("IThreads::WaitForEventsOrMessages", 1);
  machine.threads.before_wait = [&](int n) {
    if (n == 0) machine.threads.SetEvent(shown);
    if (n == 1) machine.threads.SetEvent(done);
  };
  machine.threads.wait_error = 0;
  EventHandle handles[2] = {shown, done};
  EXPECT_EQ(WaitForWorker(machine.threads, handles, 2, app, splash.get()), kFail) << "no error named: E_FAIL";
  EXPECT_EQ(machine.ui.events, (std::vector<std::string>{"splash created", "splash end 5"}));
}

TEST_F(WaitForWorkerTest, WhenTheWorkerCannotBeWaitedForEitherTheLoopStillEnds) {
  machine.faults.From("IThreads::WaitForEventsOrMessages", 0);
  machine.faults.Always("IThreads::WaitForEvent");
  machine.threads.wait_error = 1450;  // ERROR_NO_SYSTEM_RESOURCES
  EventHandle handles[2] = {shown, done};
  EXPECT_EQ(WaitForWorker(machine.threads, handles, 2, app, nullptr), static_cast<int32_t>(0x800705AA));
  EXPECT_EQ(machine.threads.waits, 1);
  EXPECT_EQ(Narrow(log.pending()),
            "WaitForWorker wait failed, error 1450\nWaitForWorker cannot wait for the worker either, error 1450\n");
}

TEST_F(StartupTest, FailedWaitFailsTheRunAfterTheWorkersCleanUp) {
  machine.files.MakeDirectories(u"C:\\Base");
  machine.faults.From("IThreads::WaitForEventsOrMessages", 0);
  EXPECT_EQ(RunProcess(u"log run.log temp C:\\Base"), static_cast<int32_t>(0x80070006));
  EXPECT_TRUE(machine.files.List(u"C:\\Base").empty()) << "the private folder is removed";
  const std::string text = LogFile();
  EXPECT_NE(text.find("RunProgram returned 0\r\nRemove folder 'Yes'\r\n"), std::string::npos) << text;
  const auto failed = text.find("WaitForWorker wait failed, error 6\r\n");
  ASSERT_NE(failed, std::string::npos) << text;
  EXPECT_GT(failed, text.find("Remove Folder")) << "logged once the worker is done";
  EXPECT_NE(text.find("Failed to run SQL Carryall error 0x80070006.\r\nEnded"), std::string::npos) << text;
  EXPECT_EQ(machine.threads.waits, 1);
  EXPECT_EQ(machine.ui.events,
            (std::vector<std::string>{"splash created", "splash show", "splash end 5", "splash destroyed", "report"}));
}

TEST_F(StartupTest, FailedWaitKeepsTheWorkersOwnFailure) {
  machine.files.MakeDirectories(u"C:\\Base");
  machine.faults.From("IThreads::WaitForEventsOrMessages", 0);
  machine.faults.Always("IProcesses::CreateProcess");
  EXPECT_EQ(RunProcess(u"log run.log /IAgreeToTheEULA temp C:\\Base"), kInvalidArg);
  EXPECT_NE(LogFile().find("WaitForWorker wait failed, error 6\r\nFailed to run SQL Carryall error 0x80070057.\r\n"),
            std::string::npos)
      << LogFile();
}

TEST_F(StartupTest, FailedWaitForTheWizardFailsTheRunAndTheFolderStillGoes) {
  machine.files.MakeDirectories(u"C:\\Base");
  machine.processes.child.wait_fails_from = 1;
  EXPECT_EQ(RunProcess(u"log run.log /IAgreeToTheEULA temp C:\\Base"), static_cast<int32_t>(0x80070006));
  EXPECT_TRUE(machine.files.List(u"C:\\Base").empty());
  EXPECT_NE(LogFile().find("RunProgram wait for the wizard failed, error 6\r\nRunProgram returned 0\r\n"
                           "Remove folder 'Yes'\r\n"),
            std::string::npos)
      << LogFile();
  EXPECT_NE(LogFile().find("Failed to run SQL Carryall error 0x80070006.\r\n"), std::string::npos);
}

TEST_F(StartupTest, WizardCommandLineTooLongToStartFailsTheRunWithNothingStarted) {
  machine.files.MakeDirectories(u"C:\\Base");
  EXPECT_EQ(RunProcess(u"log run.log /IAgreeToTheEULA temp C:\\Base " + Text(33000, u'A')), kInvalidArg);
  EXPECT_TRUE(machine.processes.command_lines.empty());
  EXPECT_TRUE(machine.files.List(u"C:\\Base").empty());
  const std::string text = LogFile();
  EXPECT_NE(text.find("Run Program returned error\r\nRemove folder 'Yes'\r\n"), std::string::npos);
  EXPECT_NE(text.find("Failed to run SQL Carryall error 0x80070057.\r\n"), std::string::npos);
  EXPECT_EQ(machine.ui.events, std::vector<std::string>{}) << "silent: no window, no report";
}

// The report of a failure: the log always, the dialog only when someone watches.
class ReportResultTest : public sim::InstallerTest {};

TEST_F(ReportResultTest, SilentReportGoesToTheLogOnly) {
  app.m_bSilent = true;
  app.ReportResult(kNotAdministrator);
  EXPECT_EQ(Narrow(log.pending()), "You need local administrator privileges to run SQL Carryall.\n");
  EXPECT_TRUE(machine.ui.events.empty());
  app.m_bSilent = false;
  app.ReportResult(kNotAdministrator);
  EXPECT_EQ(machine.ui.events, (std::vector<std::string>{"report"}));
}

TEST_F(ReportResultTest, InteractiveReportHandsItsMessageAndLinkToTheDialog) {
  app.m_strDotNetName = u".NET 2";
  app.ReportResult(kDotNetMissing);
  EXPECT_EQ(machine.ui.events, (std::vector<std::string>{"report"}));
  EXPECT_EQ(Narrow(machine.ui.report_message),
            "SQL Carryall requires .NET 2. Please download from the Microsoft Download Center and retry.");
  EXPECT_EQ(Narrow(machine.ui.report_link), "https://www.microsoft.com/en-us/download/details.aspx?id=19");
}

}  // namespace
}  // namespace carryall
