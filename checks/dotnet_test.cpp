#include "checks/dotnet.h"

#include <gtest/gtest.h>

#include <functional>

#include "checks/checks.h"
#include "platform/sim/sim_platform.h"

namespace carryall {
namespace {

using sim::Narrow;
using sim::Widen;

const Text k20 = u"Software\\Microsoft\\NET Framework Setup\\NDP\\v2.0.50727";
const Text k30 = u"Software\\Microsoft\\NET Framework Setup\\NDP\\v3.0";
const Text k30Setup = u"Software\\Microsoft\\NET Framework Setup\\NDP\\v3.0\\Setup";
const Text k35 = u"Software\\Microsoft\\NET Framework Setup\\NDP\\v3.5";
const Text k4Client = u"Software\\Microsoft\\NET Framework Setup\\NDP\\v4\\Client";
const Text k4Full = u"Software\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full";

using M = sim::SimMachineInfo;

// Registry states of real installations.
void Install20(M& m, uint32_t sp) {
  m.SetNumber(k20, u"Install", 1);
  m.SetNumber(k20, u"SP", sp);
  m.SetText(k20, u"Version", u"2.0.50727.4927");
}
void Install30(M& m, uint32_t sp) {
  m.SetNumber(k30, u"SP", sp);
  m.SetNumber(k30Setup, u"InstallSuccess", 1);
  m.SetText(k30Setup, u"Version", u"3.0.30729.4926");
}
void Install35(M& m, uint32_t sp) {
  m.SetNumber(k35, u"Install", 1);
  m.SetNumber(k35, u"SP", sp);
  m.SetText(k35, u"Version", u"3.5.30729.4926");
}
void Install40(M& m, const Text& version, uint32_t servicing) {
  for (const Text& key : {k4Client, k4Full}) {
    m.SetNumber(key, u"Install", 1);
    m.SetNumber(key, u"Servicing", servicing);
    m.SetText(key, u"Version", version);
  }
}

// One application over a fresh simulated machine whose registry the test fills.
struct DotNetRun {
  DotNetRun() { machine.machine.ClearRegistry(); }
  void Settings(const std::array<const char*, 7>& texts) {
    for (uint32_t i = 0; i < texts.size(); ++i) {
      if (texts[i]) {
        machine.resources.strings[138 + i] = Widen(texts[i]);
      } else {
        machine.resources.strings.erase(138 + i);
      }
    }
  }
  std::string LogText() { return Narrow(log.pending()); }
  DotNetVerdict Check() { return CheckDotNetVersion(machine.machine, machine.resources, log); }

  sim::SimMachine machine;
  FileLog log{machine.files, machine.code_page};
};

std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

// The setting lines of the shipped table: 143 and 144 are absent and print as empty.
const std::vector<std::string> kShippedSettingLines = {
    ".NET 2.0 0",      ".NET 3.0 0",       ".NET 3.5 0",     ".NET 4.0 Client 0",
    ".NET 4.0 Full 0", ".NET 4.5 Client ", ".NET 4.5 Full ",
};

std::vector<std::string> SettingLines(const std::array<const char*, 7>& texts) {
  const char* labels[] = {".NET 2.0",      ".NET 3.0",        ".NET 3.5",     ".NET 4.0 Client",
                          ".NET 4.0 Full", ".NET 4.5 Client", ".NET 4.5 Full"};
  std::vector<std::string> lines;
  for (int i = 0; i < 7; ++i) lines.push_back(std::string(labels[i]) + " " + (texts[i] ? texts[i] : ""));
  return lines;
}

constexpr std::array<const char*, 7> kShipped = {"0", "0", "0", "0", "0", nullptr, nullptr};

// Every version switched off but one.
std::array<const char*, 7> Only(int index, const char* setting) {
  std::array<const char*, 7> settings = {"-1", "-1", "-1", "-1", "-1", "-1", "-1"};
  settings[index] = setting;
  return settings;
}

TEST(ParseVersionTextTest, SplitsLikeWcstokAndReadsLikeWtoi) {
  using namespace std::literals;
  struct Case {
    std::u16string_view text;
    VersionNumbers expected;
  } cases[] = {
      {u"4.6.1"sv, {4, 6, 1, 0}},
      {u"4"sv, {4, 0, 0, 0}},
      {u"4..5"sv, {4, 5, 0, 0}},  // separators in a row give no empty piece
      {u".4"sv, {4, 0, 0, 0}},
      {u""sv, {0, 0, 0, 0}},
      {u"3.5.30729.01.99"sv, {3, 5, 30729, 1}},  // a fifth piece is ignored
      {u"4.x.2"sv, {4, 0, 2, 0}},                // a piece without digits reads as 0
      {u" 3.-1.7b"sv, {3, -1, 7, 0}},            // blanks, signs, trailing letters
      {u"4.8\0.9"sv, {4, 8, 0, 0}},              // the text ends at its NUL
      {u"4.99999999999"sv, {4, 2147483647, 0, 0}},
  };
  for (const Case& c : cases) {
    VersionNumbers v = ParseVersionText(c.text);
    EXPECT_EQ((std::array<int32_t, 4>{v.major, v.minor, v.build, v.revision}),
              (std::array<int32_t, 4>{c.expected.major, c.expected.minor, c.expected.build, c.expected.revision}))
        << Narrow(Text(c.text));
  }
}

TEST(ParseVersionTextTest, AtLeastComparesFieldByFieldAndTheRevisionInclusively) {
  const VersionNumbers minimum{3, 0, 4506, 26};
  struct Case {
    VersionNumbers version;
    bool expected;
  } cases[] = {
      {{3, 0, 4506, 26}, true}, {{3, 0, 4506, 25}, false}, {{3, 0, 4507, 0}, true},   {{3, 0, 4505, 99}, false},
      {{3, 1, 0, 0}, true},     {{4, 0, 0, 0}, true},      {{2, 9, 9999, 99}, false}, {{0, 0, 0, 0}, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsVersionAtLeast(c.version, minimum), c.expected)
        << c.version.major << "." << c.version.minor << "." << c.version.build << "." << c.version.revision;
  }
}

TEST(CheckDotNetVersionTest, ShippedTableOnAMachineWithOnly48) {
  DotNetRun run;
  run.machine.machine.InstallDotNet48();

  const DotNetVerdict verdict = run.Check();
  EXPECT_TRUE(verdict.installed);

  std::vector<std::string> expected = kShippedSettingLines;
  expected.push_back(".NET 4.0 Client Detected SP 8");
  expected.push_back(".NET Version OK");
  EXPECT_EQ(run.LogText(), Lines(expected));
  EXPECT_EQ(Narrow(verdict.name), ".NET 2");
  EXPECT_EQ(verdict.major, 2);
  EXPECT_EQ(verdict.service_pack, 0);
}

struct CheckCase {
  const char* name;
  std::array<const char*, 7> settings;
  std::function<void(M&)> machine;
  bool passes;
  std::vector<std::string> lines;  // after the seven setting lines
  const char* dot_net_name;        // the requirement record
  int32_t major;
  int32_t service_pack;
};

TEST(CheckDotNetVersionTest, InstalledVersionsAgainstTheSettings) {
  const std::string not_ok_20 = ".NET Version Not OK .NET 2 0";
  const CheckCase cases[] = {
      {"nothing installed", kShipped, [](M&) {}, false, {not_ok_20}, ".NET 2", 2, 0},
      {"3.0 and 3.5 without 2.0 do not count",
       kShipped,
       [](M& m) {
         Install30(m, 2);
         Install35(m, 1);
       },
       false,
       {not_ok_20},
       ".NET 2",
       2,
       0},
      {"2.0 without its SP value is level -1 and fails even at setting 0",
       kShipped,
       [](M& m) {
         Install20(m, 0);
         m.DeleteValue(k20, u"SP");
       },
       false,
       {".NET 2.0 Detected SP -1", not_ok_20},
       ".NET 2",
       2,
       0},
      {"2.0 below its minimum, then 3.0 passes; the record keeps 2.0 at SP 2",
       {"2", "0", "0", "0", "0", nullptr, nullptr},
       [](M& m) {
         Install20(m, 1);
         Install30(m, 1);
         Install35(m, 1);
       },
       true,
       {".NET 2.0 Detected SP 1", ".NET 3.0 Detected SP 1", ".NET Version OK"},
       ".NET 2",
       2,
       2},
      {"all settings negative: nothing probed, the record keeps its initial values",
       {"-1", "-1", "-2", "-1", "-1", "-1", "-100"},
       [](M& m) {
         m.InstallDotNet48();
         Install20(m, 2);
       },
       false,
       {".NET Version Not OK Unknown .NET Version 0"},
       "Unknown .NET Version",
       2,
       0},
      {"the first setting of 0 or more names the requirement",
       {"-1", "-1", "1", "0", "0", nullptr, nullptr},
       [](M&) {},
       false,
       {".NET Version Not OK .NET 3.5 1"},
       ".NET 3.5",
       3,
       1},
      {"settings without digits read as 0",
       {"none", " ", "-1", "-1", "-1", "-1", "-1"},
       [](M& m) { Install20(m, 0); },
       true,
       {".NET 2.0 Detected SP 0", ".NET Version OK"},
       ".NET 2",
       2,
       0},
      {"settings read like wcstol: blanks, a plus sign, trailing text",
       Only(0, " +2sp"),
       [](M& m) { Install20(m, 2); },
       true,
       {".NET 2.0 Detected SP 2", ".NET Version OK"},
       ".NET 2",
       2,
       2},
      {"3.0 setup version below 3.0.4506.26",
       Only(1, "0"),
       [](M& m) {
         Install20(m, 2);
         Install30(m, 2);
         m.SetText(k30Setup, u"Version", u"3.0.4506.25");
       },
       false,
       {".NET Version Not OK .NET 3.0 0"},
       ".NET 3.0",
       3,
       0},
      {"3.0 at exactly 3.0.4506.26; its level comes from the parent key",
       Only(1, "0"),
       [](M& m) {
         Install20(m, 2);
         Install30(m, 2);
         m.SetText(k30Setup, u"Version", u"3.0.4506.26");
         m.SetNumber(k30Setup, u"SP", 7);
       },
       true,
       {".NET 3.0 Detected SP 2", ".NET Version OK"},
       ".NET 3.0",
       3,
       0},
      {"3.0 without a setup version compares as 0.0.0.0",
       Only(1, "0"),
       [](M& m) {
         Install20(m, 2);
         Install30(m, 2);
         m.DeleteValue(k30Setup, u"Version");
       },
       false,
       {".NET Version Not OK .NET 3.0 0"},
       ".NET 3.0",
       3,
       0},
      {"3.5 below 3.5.21022.8",
       Only(2, "0"),
       [](M& m) {
         Install20(m, 2);
         Install35(m, 1);
         m.SetText(k35, u"Version", u"3.5.21022.7");
       },
       false,
       {".NET Version Not OK .NET 3.5 0"},
       ".NET 3.5",
       3,
       0},
      {"3.5 at SP 1 meets a minimum of 1",
       Only(2, "1"),
       [](M& m) {
         Install20(m, 2);
         Install35(m, 1);
       },
       true,
       {".NET 3.5 Detected SP 1", ".NET Version OK"},
       ".NET 3.5",
       3,
       1},
      {"4.0 keeps its servicing level above the minor version",
       {"-1", "-1", "-1", "3", "3", "-1", "-1"},
       [](M& m) { Install40(m, u"4.0.30319", 2); },
       false,
       {".NET 4.0 Client Detected SP 2", ".NET 4.0 Full Detected SP 2", ".NET Version Not OK .NET (client) 4.0 3"},
       ".NET (client) 4.0",
       4,
       3},
      {"4.x without Servicing takes the minor version",
       Only(3, "5"),
       [](M& m) {
         Install40(m, u"4.5.51209", 0);
         m.DeleteValue(k4Client, u"Servicing");
       },
       true,
       {".NET 4.0 Client Detected SP 5", ".NET Version OK"},
       ".NET (client) 4.0",
       4,
       5},
      {"4.x without Servicing or Version is level -1",
       Only(3, "0"),
       [](M& m) { m.SetNumber(k4Client, u"Install", 1); },
       false,
       {".NET 4.0 Client Detected SP -1", ".NET Version Not OK .NET (client) 4.0 0"},
       ".NET (client) 4.0",
       4,
       0},
      {"a Version whose major is not 4 leaves the servicing level",
       Only(3, "0"),
       [](M& m) { Install40(m, u"5.9", 1); },
       true,
       {".NET 4.0 Client Detected SP 1", ".NET Version OK"},
       ".NET (client) 4.0",
       4,
       0},
      {"the Full profile's level uses the Client key's version",
       Only(4, "6"),
       [](M& m) {
         Install40(m, u"4.8.04084", 0);
         m.SetText(k4Full, u"Version", u"4.0.30319");
         m.DeleteValue(k4Client, u"Install");
       },
       true,
       {".NET 4.0 Full Detected SP 8", ".NET Version OK"},
       ".NET (full) 4.0",
       4,
       6},
      {"4.5 Client and Full are the 4.0 probes at level 5 or more",
       {"-1", "-1", "-1", "-1", "-1", "9", "8"},
       [](M& m) { m.InstallDotNet48(); },
       true,
       {".NET 4.5 Client Detected SP 8", ".NET 4.5 Full Detected SP 8", ".NET Version OK"},
       ".NET (client) 4.5",
       4,
       9},
      {"4.0 at level 4 is not a 4.5",
       Only(6, "0"),
       [](M& m) { Install40(m, u"4.0.30319", 4); },
       false,
       {".NET Version Not OK .NET (full) 4.5 0"},
       ".NET (full) 4.5",
       4,
       0},
      {"a number value longer than four bytes counts as missing",
       Only(0, "0"),
       [](M& m) {
         Install20(m, 1);
         m.SetBytes(k20, u"Install", std::string("\x01\0\0\0\0\0\0\0", 8));
       },
       false,
       {not_ok_20},
       ".NET 2",
       2,
       0},
      {"a shorter number value fills the low bytes of a zeroed holder",
       Only(0, "0"),
       [](M& m) {
         Install20(m, 1);
         m.SetBytes(k20, u"Install", std::string("\x01", 1));
         m.SetBytes(k20, u"SP", std::string("\x02\x01", 2));
       },
       true,
       {".NET 2.0 Detected SP 258", ".NET Version OK"},
       ".NET 2",
       2,
       0},
      {"a Version text longer than 260 bytes is not read",
       Only(3, "0"),
       [](M& m) { Install40(m, u"4.8." + Text(126, u'1'), 0); },  // 130 units and the NUL: 262 bytes
       true,
       {".NET 4.0 Client Detected SP 0", ".NET Version OK"},
       ".NET (client) 4.0",
       4,
       0},
      {"a Version text of exactly 260 bytes is read",
       Only(3, "0"),
       [](M& m) { Install40(m, u"4.7." + Text(125, u'1'), 0); },  // 129 units and the NUL
       true,
       {".NET 4.0 Client Detected SP 7", ".NET Version OK"},
       ".NET (client) 4.0",
       4,
       0},
  };
  for (const CheckCase& c : cases) {
    DotNetRun run;
    run.Settings(c.settings);
    c.machine(run.machine.machine);

    const DotNetVerdict verdict = run.Check();
    EXPECT_EQ(verdict.installed, c.passes) << c.name;

    std::vector<std::string> expected = SettingLines(c.settings);
    expected.insert(expected.end(), c.lines.begin(), c.lines.end());
    EXPECT_EQ(run.LogText(), Lines(expected)) << c.name;
    EXPECT_EQ(Narrow(verdict.name), c.dot_net_name) << c.name;
    EXPECT_EQ(verdict.major, c.major) << c.name;
    EXPECT_EQ(verdict.service_pack, c.service_pack) << c.name;
  }
}

// Which values each probe reads, in order: the key, then the value name.
TEST(CheckDotNetVersionTest, RegistryReadsFollowTheProbesAndSkipSwitchedOffVersions) {
  const std::string n20 = Narrow(k20) + "\\", n30 = Narrow(k30) + "\\", n30s = Narrow(k30Setup) + "\\",
                    n35 = Narrow(k35) + "\\", nc = Narrow(k4Client) + "\\", nf = Narrow(k4Full) + "\\";
  struct Case {
    const char* name;
    std::array<const char*, 7> settings;
    std::function<void(M&)> machine;
    std::vector<std::string> reads;
  } cases[] = {
      {"only 4.8, shipped table",
       kShipped,
       [](M& m) { m.InstallDotNet48(); },
       {n20 + "Install", n20 + "Install", n20 + "Install", nc + "Install", nc + "Servicing", nc + "Version"}},
      {"a switched-off 4.0 Client is not probed; the Full probe reads the Client version",
       {"-1", "-1", "-1", "-1", "0", nullptr, nullptr},
       [](M& m) { m.InstallDotNet48(); },
       {nf + "Install", nf + "Servicing", nc + "Version"}},
      {"all settings negative", Only(0, "-1"), [](M& m) { m.InstallDotNet48(); }, {}},
      {"3.0: 2.0 first, then the Setup key, then the parent's SP",
       Only(1, "0"),
       [](M& m) {
         Install20(m, 2);
         Install30(m, 1);
       },
       {n20 + "Install", n30s + "InstallSuccess", n30s + "Version", n30 + "SP"}},
      {"3.5: 2.0 first, then its own key",
       Only(2, "0"),
       [](M& m) {
         Install20(m, 2);
         Install35(m, 1);
       },
       {n20 + "Install", n35 + "Install", n35 + "Version", n35 + "SP"}},
      {"4.5 Full probes as 4.0 Full",
       Only(6, "0"),
       [](M& m) { m.InstallDotNet48(); },
       {nf + "Install", nf + "Servicing", nc + "Version"}},
  };
  for (const Case& c : cases) {
    DotNetRun run;
    run.Settings(c.settings);
    c.machine(run.machine.machine);
    run.Check();
    EXPECT_EQ(run.machine.machine.registry_reads, c.reads) << c.name;
  }
}

TEST(CheckDotNetVersionTest, ABuildThatRequiresNoFrameworkProbesNothing) {
  const std::string skipped = "No .NET Framework is required by this build.\n";
  struct Case {
    const char* setting;  // 202; null: absent
    bool skips;
  } cases[] = {{"0", true}, {"1", false}, {nullptr, false}, {"00", false}};  // only exactly 0
  for (const Case& c : cases) {
    DotNetRun run;
    run.Settings(Only(0, "-1"));  // every version off: the check fails whenever it runs
    if (c.setting) {
      run.machine.resources.strings[202] = Widen(c.setting);
    } else {
      run.machine.resources.strings.erase(202);
    }
    const char* row = c.setting ? c.setting : "absent";
    EXPECT_EQ(run.Check().installed, c.skips) << row;
    if (c.skips) {
      EXPECT_EQ(run.LogText(), skipped);
      EXPECT_TRUE(run.machine.machine.registry_reads.empty());
    } else {
      EXPECT_EQ(run.LogText().find(skipped), std::string::npos) << row;
    }
  }
}

}  // namespace
}  // namespace carryall
