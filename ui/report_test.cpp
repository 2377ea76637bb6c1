#include "ui/report.h"

#include <gtest/gtest.h>

#include "base/result_codes.h"
#include "platform/sim/sim_platform.h"
#include "platform/sim/sim_test.h"

namespace carryall {
namespace {

using sim::Narrow;

class ReportTest : public sim::SimTest {
 protected:
  Report Word(int32_t result) { return BuildReport(machine.platform.resources, result, facts); }
  ReportFacts facts;
};

TEST_F(ReportTest, DiskSpaceIsWordedInMegabytesUpToAThousand) {
  struct Case {
    int64_t required;
    const char* expected;
  } cases[] = {
      {500, "Insufficient disk space on drive 'C:'. 500.0 MB of free disk space is required."},
      {1000, "Insufficient disk space on drive 'C:'. 1000.0 MB of free disk space is required."},
      {1500, "Insufficient disk space on drive 'C:'. 1.5 GB of free disk space is required."},
  };
  facts.disk_drive = u"C:";
  for (const Case& c : cases) {
    facts.required_mb = c.required;
    EXPECT_EQ(Narrow(Word(kDiskFull).message), c.expected);
  }
}

TEST_F(ReportTest, EachResultHasItsMessage) {
  facts.command_line = u"/log x";
  struct Case {
    int32_t result;
    const char* expected;
  } cases[] = {
      {kNotAdministrator, "You need local administrator privileges to run SQL Carryall."},
      {kInstallerTooOld,
       "SQL Carryall requires MSI Engine 2.0. This can be downloaded from the Microsoft Download Center."},
      {kFileSizeMismatch, "A file is corrupt. Download SQL Carryall and retry."},
      {kAbort, "SQL Carryall failed to switch into processor mode (x86)"},
      {kFail,
       "Contact Technical Support. Incorrect SQL Carryall build. (Try setting the temp folder from the command line.)"},
      {kNotSigned, "Failed to run SQL Carryall error 0x800b0100."},
      {1, "Failed to run SQL Carryall error 0x       1."},
      {kInvalidArg, "Failed to run SQL Carryall error 0x80070057."},
      {2, "Failed to run SQL Carryall error 0x       2."},
      {kBadCommandLine,
       "Command line '/log x' incorrect.\nValid switches include:- \n\textract [path]\tlog [path]\ttemp [path]\n\n"
       "Example\n\t log c:\\log.txt /IAgreeToTheEULA"},
  };
  for (const Case& c : cases) {
    Report r = Word(c.result);
    EXPECT_EQ(Narrow(r.message), c.expected) << std::hex << c.result;
    EXPECT_TRUE(r.link.empty());
  }
}

TEST_F(ReportTest, DotNetReportsCarryTheDownloadPageOfTheRequiredVersion) {
  struct Case {
    int32_t major, service_pack;
    const char* expected;
    const char* link;
  } cases[] = {
      {4, 0, "SQL Carryall requires .NET 4. Please download from the Microsoft Download Center and retry.",
       "https://www.microsoft.com/en-us/download/details.aspx?id=17718"},
      {4, 5, "SQL Carryall requires .NET 4 SP 5. Please download from the Microsoft Download Center and retry.",
       "https://dotnet.microsoft.com/download/dotnet-framework/net48"},
      {2, 0, "SQL Carryall requires .NET 4. Please download from the Microsoft Download Center and retry.",
       "https://www.microsoft.com/en-us/download/details.aspx?id=19"},
      {3, 1, "SQL Carryall requires .NET 4 SP 1. Please download from the Microsoft Download Center and retry.",
       "https://www.microsoft.com/en-us/download/details.aspx?id=21"},
      {7, 0, "SQL Carryall requires .NET 4. Please download from the Microsoft Download Center and retry.", ""},
  };
  facts.dot_net_name = u".NET 4";
  for (const Case& c : cases) {
    facts.dot_net_major = c.major;
    facts.dot_net_service_pack = c.service_pack;
    Report r = Word(kDotNetMissing);
    EXPECT_EQ(Narrow(r.message), c.expected);
    EXPECT_EQ(Narrow(r.link), c.link);
  }
}

TEST_F(ReportTest, WizardExitCodes) {
  facts.exit_code = 1603;
  EXPECT_EQ(Narrow(Word(kOk).message), "SQL Carryall failed with exit code 0x     643.");

  facts.exit_code = kDotNetRuntimeFailed;
  facts.dot_net_name = u".NET 2";
  facts.dot_net_major = 2;
  facts.dot_net_service_pack = 0;
  Report r = Word(kOk);
  EXPECT_EQ(Narrow(r.message),
            "SQL Carryall requires .NET 2. Please download from the Microsoft Download Center and retry.\r\n"
            "(.NET 4 was detected.)");
  EXPECT_EQ(Narrow(r.link), "https://www.microsoft.com/en-us/download/details.aspx?id=19");

  facts.dot_net_service_pack = 4;  // the service pack, not the major version, decides
  r = Word(kOk);
  EXPECT_EQ(Narrow(r.message),
            ".NET 4 run time has failed to run SQL Carryall.\r\n(Perhaps you have a Pre-release .NET Version).\r\n"
            "Please download from the Microsoft Download Center and retry.");
  EXPECT_EQ(Narrow(r.link), "https://www.microsoft.com/en-us/download/details.aspx?id=19");
}

}  // namespace
}  // namespace carryall
