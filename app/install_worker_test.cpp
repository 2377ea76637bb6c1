#include <gtest/gtest.h>

#include <functional>

#include "app/carryall_app.h"
#include "base/result_codes.h"
#include "app/installer_test.h"
#include "platform/sim/sim_platform.h"

namespace carryall {
namespace {

using sim::Narrow;

// A payload of a.txt ("abc") and the wizard w.exe.
void AddTwoFilePayload(sim::SimMachine& machine) {
  machine.resources.Add(u"TOOLKIT", 101, "102*a.txt*3*103*w.exe*1");
  machine.resources.Add(u"TOOLKIT", 102, "abc");
  machine.resources.Add(u"TOOLKIT", 103, "w");
}

class WorkerTest : public sim::InstallerTest {
 protected:
  void SetUp() override {
    AddTwoFilePayload(machine);
    machine.files.MakeDirectories(u"C:\\Base");
  }
  int32_t Run(const Text& args) {
    machine.system.command_line = u"prog.exe " + args;
    EXPECT_EQ(app.ProcessOptions(), kOk);
    return app.RunEmbeddedResource(app.m_nExitCode);
  }
  bool Logged(const std::string& text) { return Narrow(log.pending()).find(text) != std::string::npos; }
  int Count(const std::string& text) {
    std::string all = Narrow(log.pending());
    int n = 0;
    for (auto at = all.find(text); at != std::string::npos; at = all.find(text, at + 1)) ++n;
    return n;
  }
};

TEST_F(WorkerTest, UnusableFolderInASilentRunEndsAtOnce) {
  EXPECT_EQ(Run(u"/IAgreeToTheEULA temp C:\\missing\\t"), kFail);
  EXPECT_TRUE(Logged("SetTempFolder has failed\nNot Prompting the user as silent installation\n"));
  EXPECT_FALSE(Logged("Enumerate"));
  EXPECT_FALSE(Logged("Remove folder"));
  EXPECT_TRUE(machine.ui.events.empty());
}

TEST_F(WorkerTest, CancelledPromptEndsWithNothingUnpacked) {
  machine.ui.prompt_answer = 2;
  EXPECT_EQ(Run(u"temp C:\\missing\\t"), kFail);
  EXPECT_EQ(machine.ui.events, (std::vector<std::string>{"prompt"}));
  EXPECT_EQ(Narrow(machine.ui.prompt_shown), "C:\\missing\\t");
  EXPECT_FALSE(Logged("Enumerate"));
}

TEST_F(WorkerTest, PromptedFolderIsUsedOrFailsWithoutASecondPrompt) {
  machine.ui.prompt_answer = 1;
  machine.ui.prompt_typed = u"C:\\Base";
  EXPECT_EQ(Run(u"temp C:\\missing\\t /dontrun /keep"), kOk);
  EXPECT_EQ(Narrow(app.m_strTempFolder), "C:\\Base");
  EXPECT_EQ(machine.files.Contents(u"C:\\Base\\{A0A0A003-0000-0000-0000-000000000000}\\a.txt"), "abc");

  sim::SimMachine m;
  FileLog l(m.files, m.code_page);
  CCarryallInstallerApp a(m.platform, l);
  m.ui.prompt_answer = 1;
  m.ui.prompt_typed = u"Q:";
  m.system.command_line = u"prog.exe temp C:\\missing\\t";
  ASSERT_EQ(a.ProcessOptions(), kOk);
  EXPECT_EQ(a.RunEmbeddedResource(a.m_nExitCode), kFail);
  EXPECT_EQ(m.ui.events, (std::vector<std::string>{"prompt"}));
  std::string text = Narrow(l.pending());
  EXPECT_NE(text.find("SetTempFolder has failed\nSetTempFolder has failed\n"), std::string::npos);
}

TEST_F(WorkerTest, DontrunWithKeepLeavesThePayload) {
  EXPECT_EQ(Run(u"/dontrun /keep temp C:\\Base"), kOk);
  EXPECT_TRUE(Logged("Remove folder 'No'\n"));
  EXPECT_EQ(machine.files.List(u"C:\\Base").size(), 3u);  // the folder and two files
}

TEST_F(WorkerTest, DontrunWithoutKeepUnpacksAndRemoves) {
  EXPECT_EQ(Run(u"/dontrun temp C:\\Base"), kOk);
  EXPECT_TRUE(Logged("Extract File a.txt 0\n"));
  EXPECT_TRUE(Logged("Remove folder 'Yes'\n"));
  EXPECT_TRUE(machine.files.List(u"C:\\Base").empty());
}

TEST_F(WorkerTest, FailedExtractionStillRemovesTheFolder) {
  machine.faults.From("IResources::LoadResource", 2);  // the manifest and w.exe load, a.txt does not
  EXPECT_EQ(Run(u"temp C:\\Base"), kFail);
  EXPECT_TRUE(Logged("ResourceLoaded has failed\nExtract File a.txt 80004005\nRemove folder 'Yes'\n"));
  EXPECT_TRUE(machine.files.List(u"C:\\Base").empty());
}

TEST_F(WorkerTest, WizardThatCannotStartIsTheResultAndTheFolderStillGoes) {
  machine.faults.Always("IProcesses::CreateProcess");
  EXPECT_EQ(Run(u"temp C:\\Base"), kInvalidArg);
  // The system's error is told after the line that says the start failed.
  EXPECT_TRUE(
      Logged("Run Program returned error\nRun Program could not start the wizard, error 2\nRemove folder 'Yes'\n"));
  EXPECT_TRUE(machine.files.List(u"C:\\Base").empty());
}

TEST_F(WorkerTest, WizardExitCodeIsKeptApartFromTheResult) {
  machine.processes.child.exit_code = 1603;
  EXPECT_EQ(Run(u"temp C:\\Base"), kOk);
  EXPECT_EQ(app.m_nExitCode, 1603);
  EXPECT_TRUE(machine.files.List(u"C:\\Base").empty());
}

TEST_F(WorkerTest, ZeroGuidNamesTheFolderBeforeTheInformationStep) {
  EXPECT_EQ(Run(u"/zeroguid /dontrun /keep temp C:\\Base"), kOk);
  EXPECT_TRUE(machine.files.IsDirectory(u"C:\\Base\\{00000000-0000-0000-0000-000000000000}"));
}

TEST_F(WorkerTest, SecondOptionLineCarriesTheProgramName) {
  app.m_strProgramName = u"Mini";
  EXPECT_EQ(Run(u"/dontrun temp C:\\Base"), kOk);
  EXPECT_EQ(Count("VH_I=\"Mini\" \n"), 2);  // this test's own parse and the worker's
  EXPECT_TRUE(Logged("Run Embedded Resources \nCommand line params /temp \"C:\\Base\" VH_I=\"Mini\" \n"));
}

// ---- what the run finds in a private folder that was there before it ----

constexpr char16_t kZero[] = u"C:\\Base\\{00000000-0000-0000-0000-000000000000}";
constexpr char16_t kKeep[] = u"C:\\Users\\me\\keep.txt";

// The two-file payload, and a {0...0} folder under C:\Base that is there before the run,
// beside a file of the user's that nothing may touch.
struct PreExistingFolder {
  sim::SimMachine machine;
  FileLog log{machine.files, machine.code_page};
  CCarryallInstallerApp app{machine.platform, log};
  PreExistingFolder() {
    AddTwoFilePayload(machine);
    machine.files.Put(kKeep, "mine");
    machine.files.MakeDirectories(kZero);
  }
};

TEST(PreExistingFolderTest, OnlyPlainFilesOfOneNameAreWrittenAndOnlyWhatTheRunWroteIsDeleted) {
  const std::string zero = Narrow(kZero);
  struct Row {
    const char* name;
    std::function<void(sim::SimFileSystem&)> plant;  // in the private folder before the run
    int32_t result;
    std::vector<std::string> lines;  // each in the log, in this order
    std::vector<std::string> left;   // the private folder afterwards
  } rows[] = {
      {"a file of the user's",
       [](sim::SimFileSystem& f) { f.Put(Text(kZero) + u"\\notes.txt", "notes"); },
       kOk,
       {zero + "\\a.txt written Ok\n", "Manual Deletion of '" + zero + "\\a.txt'\n",
        "Kept '" + zero + "\\notes.txt': this run did not write it\n",
        "Kept '" + zero + "': this run did not write it\n"},
       {"notes.txt"}},
      {"a payload file a /keep run left",
       [](sim::SimFileSystem& f) { f.Put(Text(kZero) + u"\\a.txt", "old bytes"); },
       kOk,
       {zero + "\\a.txt written Ok\n", "Manual Deletion of '" + zero + "\\a.txt'\n"},
       {}},
      {"a hard link to the user's file",
       [](sim::SimFileSystem& f) { f.MakeHardLink(Text(kZero) + u"\\a.txt", kKeep); },
       kFail,
       {zero + "\\a.txt has other names: nothing is written through it\nExtract File a.txt 80004005\n",
        "Manual Deletion of '" + zero + "\\w.exe'\n", "Kept '" + zero + "\\a.txt': this run did not write it\n"},
       {"a.txt"}},
      {"a link to the user's file that reads as a file",
       [](sim::SimFileSystem& f) { f.MakeFileLink(Text(kZero) + u"\\a.txt", kKeep); },
       kFail,
       {zero + "\\a.txt is a link: nothing is written through it\n",
        "Kept '" + zero + "\\a.txt': this run did not write it\n"},
       {"a.txt"}},
      {"such a link to nothing",
       [](sim::SimFileSystem& f) { f.MakeFileLink(Text(kZero) + u"\\a.txt", u"C:\\Users\\me\\new.txt"); },
       kFail,
       {zero + "\\a.txt Create file has failed\n"},
       {"a.txt"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    PreExistingFolder run;
    auto& [machine, log, app] = run;
    row.plant(machine.files);
    machine.system.command_line = u"prog.exe /zeroguid /dontrun temp C:\\Base";
    ASSERT_EQ(app.ProcessOptions(), kOk);
    EXPECT_EQ(app.RunEmbeddedResource(app.m_nExitCode), row.result);
    const std::string text = Narrow(log.pending());
    std::size_t at = 0;
    for (const std::string& line : row.lines) {
      at = text.find(line, at);
      EXPECT_NE(at, std::string::npos) << line << "\n" << text;
    }
    EXPECT_EQ(machine.files.List(kZero), row.left);
    EXPECT_EQ(machine.files.Contents(kKeep), "mine") << "the user's file";
    EXPECT_FALSE(machine.files.Exists(u"C:\\Users\\me\\new.txt"));
    EXPECT_EQ(machine.files.open_handles, 0);
  }
}

// The wizard reads info.xml as this executable's information: one this run could not
// write fails the run before anything is unpacked, and the wizard never starts.
TEST(PreExistingFolderTest, AnInformationFileTheRunCouldNotWriteFailsTheRun) {
  const std::string info = Narrow(kZero) + "\\info.xml";
  struct Row {
    const char* name;
    std::function<void(sim::SimFileSystem&)> plant;
    std::string line;
  } rows[] = {
      {"a hard link to the user's file",
       [](sim::SimFileSystem& f) { f.MakeHardLink(Text(kZero) + u"\\info.xml", kKeep); },
       info + " has other names: nothing is written through it\r\n"},
      {"a link to the user's file that reads as a file",
       [](sim::SimFileSystem& f) { f.MakeFileLink(Text(kZero) + u"\\info.xml", kKeep); },
       info + " is a link: nothing is written through it\r\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    PreExistingFolder run;
    auto& [machine, log, app] = run;
    machine.files.Put(machine.files.module_path, std::string(10000, 'p') + "MRDC<info/>" + std::string(6, '\0'));
    row.plant(machine.files);
    machine.system.command_line = u"prog.exe /zeroguid temp C:\\Base";
    ASSERT_EQ(app.ProcessOptions(), kOk);
    EXPECT_EQ(app.RunEmbeddedResource(app.m_nExitCode), kFail);
    const std::string text = Narrow(log.pending());
    EXPECT_NE(text.find("Failed to create temp file " + info + " 681\r\n" + row.line), std::string::npos) << text;
    EXPECT_EQ(text.find("Extract File"), std::string::npos) << "nothing is unpacked";
    EXPECT_TRUE(machine.processes.command_lines.empty()) << "the wizard never starts";
    EXPECT_EQ(machine.files.List(kZero), std::vector<std::string>{"info.xml"});
    EXPECT_EQ(machine.files.Contents(kKeep), "mine");
    EXPECT_EQ(machine.files.open_handles, 0);
  }
}

// ---- while the wizard runs ----

TEST_F(WorkerTest, ASecondRunWhileTheWizardRunsFailsAtItsFirstFileAndDeletesNothing) {
  int32_t second = kOk;
  std::string second_log;
  std::vector<std::string> during;
  machine.processes.on_create = [&] {
    FileLog other_log(machine.files, machine.code_page);
    CCarryallInstallerApp other(machine.platform, other_log);
    machine.system.command_line = u"prog.exe /zeroguid /dontrun temp C:\\Base";
    ASSERT_EQ(other.ProcessOptions(), kOk);
    second = other.RunEmbeddedResource(other.m_nExitCode);
    second_log = Narrow(other_log.pending());
    during = machine.files.List(kZero);
  };
  EXPECT_EQ(Run(u"/zeroguid temp C:\\Base"), kOk);
  const std::string zero = Narrow(kZero);
  EXPECT_EQ(second, kFail);
  EXPECT_NE(second_log.find(zero + "\\w.exe Create file has failed\nExtract File w.exe 80004005\n"), std::string::npos)
      << second_log;
  EXPECT_EQ(second_log.find("Manual Deletion"), std::string::npos);
  EXPECT_NE(second_log.find("Kept '" + zero + "\\w.exe': this run did not write it\n"), std::string::npos);
  EXPECT_EQ(during, (std::vector<std::string>{"a.txt", "w.exe"})) << "the first run's files stay while its wizard runs";
  EXPECT_FALSE(machine.files.Exists(kZero)) << "the first run still removes its own folder";
}

TEST_F(WorkerTest, WhatIsPlantedWhileTheWizardRunsIsNeverAWayOut) {
  machine.files.Put(kKeep, "mine");
  const Text folder = u"C:\\Base\\{00000000-0000-0000-0000-000000000000}";
  bool wizard_could_write = true, other_could_delete = true;
  machine.processes.on_create = [&] {
    machine.files.MakeFileLink(folder + u"\\planted.txt", kKeep);
    machine.files.MakeHardLink(folder + u"\\second name.txt", kKeep);
    machine.files.Put(folder + u"\\wizard.log", "the wizard's own");
    // The payload is held: neither the wizard nor anyone else may change or delete it.
    wizard_could_write = machine.files.OpenForWriting(folder + u"\\a.txt").ok();
    other_could_delete = machine.files.DeleteFile(folder + u"\\w.exe").ok();
  };
  EXPECT_EQ(Run(u"/zeroguid temp C:\\Base"), kOk);
  EXPECT_FALSE(wizard_could_write);
  EXPECT_FALSE(other_could_delete);
  EXPECT_EQ(machine.files.Contents(kKeep), "mine");
  const std::string f = Narrow(folder);
  // The folder is the run's own, so what came in it goes, a second name included (the
  // user's file keeps its first); a link that lands outside stays, and so does the folder.
  EXPECT_TRUE(Logged("Deletion file '" + f + "\\second name.txt'\n"));
  EXPECT_TRUE(Logged("Deletion file '" + f + "\\wizard.log'\n"));
  EXPECT_TRUE(Logged("Kept '" + f + "\\planted.txt': this run did not write it\n"));
  EXPECT_EQ(machine.files.List(folder), std::vector<std::string>{"planted.txt"});
}

// A scanner or a debugger holds a payload file from the wizard's end: the clean-up waits,
// doubling each wait, and what stays held past its few seconds is left for the next start
// (in a folder this run made) or kept, while the run's result stays the wizard's.
TEST_F(WorkerTest, HeldFilesAreWaitedForThenLeftForTheNextStart) {
  struct Case {
    const char* name;
    const char* args;
    std::size_t held_for;  // waits until the scanner lets go; 0: never
    bool elevated;
    std::vector<uint32_t> sleeps;
    std::vector<std::string> at_restart;  // relative to the private folder
    const char* line;                     // %s: the held file's path
    bool folder_there = false;            // the zero-GUID folder is there before the run
  } cases[] = {
      {"let go after three waits", "temp C:\\Base", 3, true, {100, 200, 400}, {}, "Manual Deletion of '%s'\n"},
      {"held for good",
       "temp C:\\Base",
       0,
       true,
       {100, 200, 400, 800, 1000, 1000, 1000, 500},
       {"a.txt", ""},
       "Marked '%s' for deletion at the next restart: it is still held (error 32)\n"},
      {"held for good, no rights to mark it",
       "temp C:\\Base",
       0,
       false,
       {100, 200, 400, 800, 1000, 1000, 1000, 500},
       {},
       "Kept '%s': it is held (error 32) and could not be marked for deletion at restart, error 5\n"},
      {"held for good in a folder that was there",
       "/zeroguid temp C:\\Base",
       0,
       true,
       {100, 200, 400, 800, 1000, 1000, 1000, 500},
       {},
       "Kept '%s': it could not be deleted\n",
       true},
      // The next zero-GUID run uses the same folder: a mark by path would take its files.
      {"held for good in a zero-GUID folder this run made",
       "/zeroguid temp C:\\Base",
       0,
       true,
       {100, 200, 400, 800, 1000, 1000, 1000, 500},
       {},
       "Kept '%s': it could not be deleted\n"},
  };
  for (const Case& c : cases) {
    sim::SimMachine m;
    FileLog l(m.files, m.code_page);
    CCarryallInstallerApp a(m.platform, l);
    AddTwoFilePayload(m);
    m.files.MakeDirectories(u"C:\\Base");
    if (c.folder_there) {
      m.files.MakeDirectories(u"C:\\Base\\{00000000-0000-0000-0000-000000000000}");
    }
    m.files.elevated = c.elevated;
    Text folder;
    std::unique_ptr<IFileHandle> scanner;
    m.processes.on_create = [&] {
      folder = GetTempFolder(a.payload());
      scanner = *m.files.OpenForHolding(folder + u"\\a.txt");
    };
    m.system.on_sleep = [&](std::size_t waits) {
      if (waits == c.held_for) scanner.reset();
    };
    m.processes.child.exit_code = 7;
    m.system.command_line = u"prog.exe " + sim::Widen(c.args);
    ASSERT_EQ(a.ProcessOptions(), kOk) << c.name;
    EXPECT_EQ(a.RunEmbeddedResource(a.m_nExitCode), kOk) << c.name;
    EXPECT_EQ(a.m_nExitCode, 7) << c.name << ": the clean-up never changes the result";
    EXPECT_EQ(m.system.sleeps, c.sleeps) << c.name;
    std::vector<std::string> marked;
    for (const Text& path : m.files.at_restart)
      marked.push_back(Narrow(path.substr(std::min(path.size(), folder.size() + 1))));
    EXPECT_EQ(marked, c.at_restart) << c.name;
    std::string line = c.line;
    line.replace(line.find("%s"), 2, Narrow(folder) + "\\a.txt");
    EXPECT_NE(Narrow(l.pending()).find(line), std::string::npos) << c.name << "\n" << Narrow(l.pending());
    EXPECT_NE(Narrow(l.pending()).find("a.txt is held by another program (error 32): trying again in 100 ms\n"),
              std::string::npos)
        << c.name;
    scanner.reset();
  }
}

// A file the wizard made read-only is no file held by another program: the clean-up
// clears the attribute through the handle that deletes it, when the entry is one this
// run may delete, and never waits on it.
TEST(ReadOnlyTest, TheRunsReadOnlyFilesGoAtOnceAndOthersKeepTheirAttribute) {
  const Text zero = kZero;
  struct Row {
    const char* name;
    const char* args;
    bool folder_there;
    const char16_t* read_only;  // below the private folder, made read-only by the wizard
    bool gone;
    const char* line;  // %s: the read-only file's path
  } rows[] = {
      {"a payload file in a folder this run made", "temp C:\\Base", false, u"a.txt", true,
       "Manual Deletion of '%s'\nCleared the read-only attribute of '%s'\n"},
      {"the wizard's own file there", "temp C:\\Base", false, u"wizard.log", true,
       "Deletion file '%s'\nCleared the read-only attribute of '%s'\n"},
      {"a payload file in a folder that was there", "/zeroguid temp C:\\Base", true, u"a.txt", true,
       "Manual Deletion of '%s'\nCleared the read-only attribute of '%s'\n"},
      {"the wizard's own file in a folder that was there", "/zeroguid temp C:\\Base", true, u"wizard.log", false,
       "Kept '%s': this run did not write it\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    sim::SimMachine m;
    FileLog l(m.files, m.code_page);
    CCarryallInstallerApp a(m.platform, l);
    AddTwoFilePayload(m);
    m.files.MakeDirectories(row.folder_there ? zero : Text(u"C:\\Base"));
    Text path;
    m.processes.on_create = [&] {
      path = GetTempFolder(a.payload()) + u"\\" + row.read_only;
      // A hold shares no writing, but attributes are not shared out: the wizard may set them.
      m.files.Put(path, m.files.Exists(path) ? m.files.Contents(path) : "log", kFileAttributeReadOnly);
    };
    m.system.command_line = u"prog.exe " + sim::Widen(row.args);
    ASSERT_EQ(a.ProcessOptions(), kOk);
    EXPECT_EQ(a.RunEmbeddedResource(a.m_nExitCode), kOk);
    const std::string text = Narrow(l.pending());
    std::string line = row.line;
    for (std::size_t at; (at = line.find("%s")) != std::string::npos;) line.replace(at, 2, Narrow(path));
    EXPECT_NE(text.find(line), std::string::npos) << text;
    EXPECT_EQ(text.find("held"), std::string::npos) << text;
    EXPECT_TRUE(m.system.sleeps.empty());
    EXPECT_TRUE(m.files.at_restart.empty());
    EXPECT_EQ(m.files.Exists(path), !row.gone);
    if (!row.gone) EXPECT_EQ(*m.files.GetFileAttributes(path) & kFileAttributeReadOnly, kFileAttributeReadOnly);
    EXPECT_EQ(m.files.open_handles, 0);
  }
}

// A program that holds the wizard's file (a scanner that opened it without sharing) makes
// its start fail with a sharing violation for a moment: the start is tried again.
TEST_F(WorkerTest, WizardHeldAtItsStartIsStartedOnceLetGo) {
  int tries = 0;
  machine.processes.create_error = 32;
  machine.processes.program_exists = [&](const std::u16string&) { return ++tries > 2; };
  EXPECT_EQ(Run(u"temp C:\\Base"), kOk);
  EXPECT_EQ(machine.system.sleeps, (std::vector<uint32_t>{100, 200}));
  EXPECT_EQ(Count("w.exe is held by another program (error 32): trying again in "), 2);
  EXPECT_EQ(machine.processes.events.front(), "create failed");
  EXPECT_EQ(Count("Run Program returned error"), 0);
}

}  // namespace
}  // namespace carryall
