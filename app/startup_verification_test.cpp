// Start-up's answer to the verification of the file's own signature: a whole start-up.
#include <gtest/gtest.h>

#include "app/installer_test.h"
#include "base/result_codes.h"

namespace carryall {
namespace {

using sim::Narrow;

const Text kPath = u"C:\\work\\CarryallInstaller.exe";

class StartupVerificationTest : public sim::InstallerTest {
 protected:
  void SetUp() override {
    machine.resources.Add(u"TOOLKIT", 101, "102*Wizard.exe*1");
    machine.resources.Add(u"TOOLKIT", 102, "w");
  }
  int32_t Run(const Text& args) {
    machine.system.command_line = u"\"C:\\work\\CarryallInstaller.exe\" " + args;
    app.InitInstance();
    int32_t code = app.ExitInstance();
    machine.threads.JoinAll();
    return code;
  }
  bool Logged(const std::string& line) { return Narrow(log.pending()).find(line) != std::string::npos; }
};

TEST_F(StartupVerificationTest, FailedVerificationEndsTheRunUnlessTheUserSaysYes) {
  const std::string kFailedToRun = "Failed to run SQL Carryall error 0x800b0100.";
  struct Row {
    const char* name;
    const char16_t* args;
    uint32_t status;
    int answer;  // what the question dialog returns
    int32_t exit_code;
    std::vector<std::string> windows;
    const char* line;  // logged before the report
  } rows[] = {
      {"silent, unsigned",
       u"/IAgreeToTheEULA",
       0x800B0100,
       1,
       kNotSigned,
       {},
       "Not signed correctly so failing now!\n"},
      {"silent, untrusted signature",
       u"/IAgreeToTheEULA",
       0x800B0004,
       1,
       kNotSigned,
       {},
       "Not signed correctly so failing now!\n"},
      {"interactive, Yes",
       u"",
       0x800B0100,
       1,
       0,
       {"question", "splash created", "splash show", "splash end 5", "splash destroyed"},
       "Not signed correctly\n"},
      {"interactive, No", u"", 0x800B0100, 2, kNotSigned, {"question", "report"}, "Not signed correctly\n"},
      {"interactive, close box", u"", 0x80096010, 0, kNotSigned, {"question", "report"}, "Not signed correctly\n"},
  };
  for (const Row& row : rows) {
    sim::SimMachine m;
    FileLog l(m.files, m.code_page);
    CCarryallInstallerApp a(m.platform, l);
    m.resources.Add(u"TOOLKIT", 101, "102*Wizard.exe*1");
    m.resources.Add(u"TOOLKIT", 102, "w");
    m.trust.verdict = {static_cast<int32_t>(row.status), row.status};
    m.ui.question_answer = row.answer;
    // Closing a dialog that is the main window leaves a quit request behind.
    m.threads.Post(kWmQuit);
    m.system.command_line = Text(u"\"C:\\work\\CarryallInstaller.exe\" ") + row.args;
    a.InitInstance();
    EXPECT_EQ(a.ExitInstance(), row.exit_code) << row.name;
    m.threads.JoinAll();
    std::string logged = Narrow(l.pending());
    EXPECT_EQ(m.ui.events, row.windows) << row.name;
    EXPECT_NE(logged.find(row.line), std::string::npos) << row.name;
    EXPECT_EQ(logged.find(kFailedToRun) != std::string::npos, row.exit_code != 0) << row.name;
    // Only an accepted signature has its signer read and the machine checked.
    EXPECT_EQ(logged.find("GetAuthenticodeInformation") != std::string::npos, row.exit_code == 0) << row.name;
    EXPECT_EQ(m.threads.dispatched, std::vector<uint32_t>{}) << row.name << ": the quit request is dropped";
    if (row.answer == 1 && row.args[0] == 0) {
      EXPECT_EQ(Narrow(m.ui.question_heading), "Verification of SQL Carryall failed. Do you wish to continue?");
      EXPECT_EQ(Narrow(m.ui.question_details),
                "The file \"C:\\work\\CarryallInstaller.exe\" is not signed. Error 0x800b0100\n");
    }
  }
}

TEST_F(StartupVerificationTest, SignedProgramNameReachesTheWizard) {
  EXPECT_EQ(Run(u"/IAgreeToTheEULA"), 0);
  EXPECT_EQ(machine.trust.read, std::vector<Text>{kPath});
  EXPECT_TRUE(
      Logged("RunProgram program '\"C:\\Users\\me\\AppData\\Local\\Temp\\{A0A0A002-0000-0000-0000-000000000000}"
             "\\wizard.exe\" /IAgreeToTheEULA VH_I=\"SQL Carryall\" '"));
}

}  // namespace
}  // namespace carryall
