#include <gtest/gtest.h>

#include "app/carryall_app.h"
#include "base/result_codes.h"
#include "platform/sim/installer_test.h"
#include "platform/sim/sim_platform.h"

namespace carryall {
namespace {

using sim::Narrow;

class WorkerTest : public sim::InstallerTest {
 protected:
  void SetUp() override {
    machine.resources.Add(u"TOOLKIT", 101, "102*a.txt*3*103*w.exe*1");
    machine.resources.Add(u"TOOLKIT", 102, "abc");
    machine.resources.Add(u"TOOLKIT", 103, "w");
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
  machine.resources.lock_failures[102] = IResources::Locked::Failure::kLoad;
  EXPECT_EQ(Run(u"temp C:\\Base"), kFail);
  EXPECT_TRUE(Logged("ResourceLoaded has failed\nExtract File a.txt 80004005\nRemove folder 'Yes'\n"));
  EXPECT_TRUE(machine.files.List(u"C:\\Base").empty());
}

TEST_F(WorkerTest, WizardThatCannotStartIsTheResultAndTheFolderStillGoes) {
  machine.processes.fail_create = true;
  EXPECT_EQ(Run(u"temp C:\\Base"), kInvalidArg);
  // The system's error is told after the line that says the start failed.
  EXPECT_TRUE(Logged("Run Program returned error\nRun Program could not start the wizard, error 2\nRemove folder 'Yes'\n"));
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

}  // namespace
}  // namespace carryall
