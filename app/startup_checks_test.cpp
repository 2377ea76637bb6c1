// The checks inside the start-up sequence: their order, the result code of each
// failure (which is also the exit code of a run that stops before the worker), the
// report in the log, and that nothing after a failed check runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "app/carryall_app.h"
#include "base/result_codes.h"
#include "ui/report.h"
#include "platform/sim/sim_platform.h"

namespace carryall {
namespace {

using sim::Narrow;
using sim::Widen;

// One process over a fresh simulated machine with a one-file payload.
struct Process {
  Process() {
    machine.resources.Add(u"TOOLKIT", 101, "102*a.txt*3");
    machine.resources.Add(u"TOOLKIT", 102, "abc");
  }
  // InitInstance, then ExitInstance; the exit code.
  int32_t Run(const Text& args) {
    machine.system.command_line = u"\"C:\\work\\CarryallInstaller.exe\" " + args;
    EXPECT_FALSE(app.InitInstance());
    int32_t code = app.ExitInstance();
    machine.threads.JoinAll();
    return code;
  }
  // The log's lines before the final "Ended" line (checked to be there), with CR LF
  // turned into "\n".
  std::vector<std::string> LogLines() {
    std::string text = machine.files.Contents("C:\\work\\run.log");
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < text.size();) {
      std::size_t end = text.find("\r\n", at);
      if (end == std::string::npos) end = text.size();
      lines.push_back(text.substr(at, end - at) + "\n");
      at = end + 2;
    }
    EXPECT_TRUE(!lines.empty() && lines.back().rfind("Ended ", 0) == 0) << "no Ended line last";
    if (!lines.empty()) lines.pop_back();
    return lines;
  }
  // The last lines of LogLines, as many as expected holds, joined.
  std::string LogTail(const std::string& expected) {
    std::vector<std::string> lines = LogLines();
    std::size_t count = std::count(expected.begin(), expected.end(), '\n');
    std::string tail;
    for (std::size_t i = lines.size() > count ? lines.size() - count : 0; i < lines.size(); ++i) tail += lines[i];
    return tail;
  }

  sim::SimMachine machine;
  FileLog log{machine.files, machine.code_page};
  CCarryallInstallerApp app{machine.platform, log};
};

const char kShippedDotNet[] =
    ".NET 2.0 0\n.NET 3.0 0\n.NET 3.5 0\n.NET 4.0 Client 0\n.NET 4.0 Full 0\n.NET 4.5 Client \n.NET 4.5 Full \n";
const char kDotNetPassed[] = ".NET 4.0 Client Detected SP 8\n.NET Version OK\n";
const char kDiskPassed[] =
    "Free Disk Space\n"
    "Free Disk Space: Checking at least 500 MB free on drive 'C:' for temp directory "
    "'C:\\Users\\me\\AppData\\Local\\Temp\\'\n"
    "Free disk space requirement passed.\n";

TEST(StartupChecksTest, EveryCheckPassesOnTheDefaultMachineAndTheWorkerRuns) {
  Process p;
  EXPECT_EQ(p.Run(u"log run.log /IAgreeToTheEULA"), kOk);
  std::vector<std::string> lines = p.LogLines();
  const std::string checks = std::string(kShippedDotNet) + kDotNetPassed + kDiskPassed;
  std::string joined;
  for (const std::string& line : lines) joined += line;
  std::size_t at = joined.find(checks);
  ASSERT_NE(at, std::string::npos) << joined;
  EXPECT_EQ(joined.substr(at + checks.size()).rfind("Run Embedded Resources \n", 0), 0u)
      << "the worker starts right after the checks";
  EXPECT_EQ(p.machine.machine.membership_queries, 1);
  EXPECT_EQ(p.machine.machine.version_queries, 1);
}

TEST(StartupChecksTest, EachFailedCheckStopsStartUpWithItsCodeAndReport) {
  struct Case {
    const char* name;
    std::function<void(sim::SimMachine&)> setup;
    int32_t code;
    std::string log;  // the log's last lines before "Ended": the checks' lines and the report
    int membership_queries;
    int version_queries;
    std::vector<std::string> free_space_queries;
  } cases[] = {
      {"not an administrator",
       [](sim::SimMachine& m) { m.machine.administrators_membership = 0; },
       kNotAdministrator,
       "You need local administrator privileges to run SQL Carryall.\n",
       1,
       0,
       {}},
      {"no .NET Framework",
       [](sim::SimMachine& m) { m.machine.ClearRegistry(); },
       kDotNetMissing,
       std::string(kShippedDotNet) +
           ".NET Version Not OK .NET 2 0\n"
           "SQL Carryall requires .NET 2. Please download from the Microsoft Download Center and retry.\n",
       1,
       0,
       {}},
      {".NET 2.0 below a required service pack",
       [](sim::SimMachine& m) {
         m.machine.ClearRegistry();
         m.machine.SetNumber(u"Software\\Microsoft\\NET Framework Setup\\NDP\\v2.0.50727", u"Install", 1);
         m.machine.SetNumber(u"Software\\Microsoft\\NET Framework Setup\\NDP\\v2.0.50727", u"SP", 1);
         m.resources.strings[138] = u"2";
         for (uint32_t id = 139; id <= 144; ++id) m.resources.strings[id] = u"-1";
       },
       kDotNetMissing,
       ".NET 2.0 2\n.NET 3.0 -1\n.NET 3.5 -1\n.NET 4.0 Client -1\n.NET 4.0 Full -1\n.NET 4.5 Client -1\n"
       ".NET 4.5 Full -1\n.NET 2.0 Detected SP 1\n.NET Version Not OK .NET 2 2\n"
       "SQL Carryall requires .NET 2 SP 2. Please download from the Microsoft Download Center and retry.\n",
       1,
       0,
       {}},
      {"Windows 2000 without MSI.DLL",
       [](sim::SimMachine& m) {
         m.machine.version = OsVersion{kPlatformNt, 5, 0};
       },
       kInstallerTooOld,
       std::string(kShippedDotNet) + kDotNetPassed +
           "SQL Carryall requires MSI Engine 2.0. This can be downloaded from the Microsoft Download Center.\n",
       1,
       1,
       {}},
      {"too little space",
       [](sim::SimMachine& m) {
         m.machine.free_bytes = {{"c:", 499ull << 20}};
       },
       kDiskFull,
       std::string(kShippedDotNet) + kDotNetPassed +
           "Free Disk Space\n"
           "Free Disk Space: Checking at least 500 MB free on drive 'C:' for temp directory "
           "'C:\\Users\\me\\AppData\\Local\\Temp\\'\n"
           "Insufficient disk space: 500 MB required but only 499 MB free.\n"
           "Insufficient disk space on drive 'C:'. 500.0 MB of free disk space is required.\n",
       1,
       1,
       {"C:"}},
      {"a requirement above 1000 MB is reported in GB",
       [](sim::SimMachine& m) {
         m.resources.strings[103] = u"2500";
         m.machine.free_bytes = {{"c:", 2000ull << 20}};
       },
       kDiskFull,
       std::string(kShippedDotNet) + kDotNetPassed +
           "Free Disk Space\n"
           "Free Disk Space: Checking at least 2500 MB free on drive 'C:' for temp directory "
           "'C:\\Users\\me\\AppData\\Local\\Temp\\'\n"
           "Insufficient disk space: 2500 MB required but only 2000 MB free.\n"
           "Insufficient disk space on drive 'C:'. 2.5 GB of free disk space is required.\n",
       1,
       1,
       {"C:"}},
  };
  for (const Case& c : cases) {
    Process p;
    c.setup(p.machine);

    EXPECT_EQ(p.Run(u"log run.log /IAgreeToTheEULA"), c.code) << c.name;

    EXPECT_EQ(p.LogTail(c.log), c.log) << c.name;
    EXPECT_EQ(p.machine.machine.registry_reads.empty(), c.code == kNotAdministrator) << c.name;
    EXPECT_EQ(p.machine.machine.membership_queries, c.membership_queries) << c.name;
    EXPECT_EQ(p.machine.machine.version_queries, c.version_queries) << c.name;
    EXPECT_EQ(p.machine.machine.free_space_queries, c.free_space_queries) << c.name;
    EXPECT_TRUE(p.machine.ui.events.empty()) << c.name << ": a silent run shows nothing and starts no worker";
  }
}

TEST(StartupChecksTest, TooLittleSpaceOnAShareNamesItsRootInTheReport) {
  Process p;
  p.machine.machine.volume_roots.push_back(u"\\\\server\\share\\");
  p.machine.machine.free_bytes = {{"c:", 900ull << 20}, {"\\\\server\\share\\", 499ull << 20}};
  EXPECT_EQ(p.Run(u"log run.log temp \\\\server\\share\\t"), kDiskFull);
  EXPECT_EQ(p.LogTail("\n\n"),
            "Insufficient disk space: 500 MB required but only 499 MB free.\n"
            "Insufficient disk space on drive '\\\\server\\share\\'. 500.0 MB of free disk space is required.\n");
  EXPECT_EQ(Narrow(p.machine.ui.report_message),
            "Insufficient disk space on drive '\\\\server\\share\\'. 500.0 MB of free disk space is required.");
}

TEST(StartupChecksTest, InteractiveDotNetFailureShowsTheReportWithTheDownloadLink) {
  Process p;
  p.machine.machine.ClearRegistry();
  EXPECT_EQ(p.Run(u""), kDotNetMissing);
  EXPECT_EQ(p.machine.ui.events, (std::vector<std::string>{"report"}));
  EXPECT_EQ(Narrow(p.machine.ui.report_message),
            "SQL Carryall requires .NET 2. Please download from the Microsoft Download Center and retry.");
  EXPECT_EQ(p.machine.ui.report_link, DotNetDownloadPage(2, 0));
}

TEST(StartupChecksTest, OnlyTheExactText0SkipsTheAdministratorCheck) {
  struct Case {
    const char* setting;  // nullptr: the entry is absent
    bool checked;
  } cases[] = {
      {"0", false}, {"00", true}, {" 0", true}, {"0 ", true}, {"", true}, {nullptr, true}, {"1", true}, {"no", true},
  };
  for (const Case& c : cases) {
    Process p;
    if (c.setting) {
      p.machine.resources.strings[145] = Widen(c.setting);
    } else {
      p.machine.resources.strings.erase(145);
    }
    p.machine.machine.administrators_membership = 0;  // a standard user

    int32_t code = p.Run(u"/IAgreeToTheEULA");

    const std::string row = c.setting ? std::string("\"") + c.setting + "\"" : "absent";
    EXPECT_EQ(p.machine.machine.membership_queries, c.checked ? 1 : 0) << row;
    EXPECT_EQ(code, c.checked ? kNotAdministrator : kOk) << row;
  }
}

}  // namespace
}  // namespace carryall
