#include "payload/resource_table.h"

#include <gtest/gtest.h>

#include "base/result_codes.h"
#include "payload/payload_test.h"
#include "platform/sim/sim_platform.h"

namespace carryall {
namespace {

using sim::Narrow;

std::string Entries(const ManifestMap& map) {
  std::string out;
  for (const auto& [id, e] : map) {
    out += std::to_string(id) + ":" + Narrow(e.m_strFileName) + ":" + std::to_string(e.m_dwSize) + ";";
  }
  return out;
}

TEST(ManifestTest, ReadsTriplesByTheSeparatorRules) {
  struct Case {
    const char16_t* text;
    const char* expected;
  } cases[] = {
      {u"102*install.bin*64558774*103*empty.msi*9728*", "102:install.bin:64558774;103:empty.msi:9728;"},
      {u"5**a.exe***7*", "5:a.exe:7;"},
      {u"**5*a.exe*7", "5:a.exe:7;"},
      {u"5*a.txt*12*5*b.txt*34", "5:b.txt:34;"},
      {u"5*a*1*9*last name.bin", "5:a:1;9:last name.bin:0;"},
      {u"5*a*1*9", "5:a:1;"},
      {u" 12abc*n*x", "12:n:0;"},
      {u"-5*neg*-1", "4294967291:neg:4294967295;"},
      {u"99999999999*big*1", "2147483647:big:1;"},
      {u"7*data\\x y.bin*2", "7:data\\x y.bin:2;"},
      {u"", ""},
      {u"***", ""},
  };
  for (const Case& c : cases) {
    ManifestMap map;
    EXPECT_EQ(ParseManifest(c.text, map), 0);
    EXPECT_EQ(Entries(map), c.expected) << Narrow(c.text);
  }
}

TEST(ManifestTest, DecimalFieldsFollowWcstol) {
  struct Case {
    const char16_t* field;
    int32_t value;
  } cases[] = {
      {u"42", 42},
      {u" \t42", 42},
      {u"+42", 42},
      {u"-42", -42},
      {u"12abc", 12},
      {u"x", 0},
      {u"", 0},
      {u"- 1", 0},
      {u"2147483647", 2147483647},
      {u"2147483648", 2147483647},
      {u"-2147483648", INT32_MIN},
      {u"-99999999999999999999", INT32_MIN},
  };
  for (const Case& c : cases) EXPECT_EQ(ReadDecimal(c.field), c.value) << Narrow(c.field);
}

TEST(ResourceRecordTest, ExecutablesAreNamedWithDotExeAfterTheFirstCharacter) {
  struct Case {
    const char16_t* name;
    bool executable;
    const char* lowered;
  } cases[] = {
      {u"Varnhold.InstallerWizard.UI.exe", true, "varnhold.installerwizard.ui.exe"},
      {u"Varnhold.InstallerWizard.UI.exe.config", true, "varnhold.installerwizard.ui.exe.config"},
      {u"SETUP.EXE", true, "setup.exe"},
      {u".exe", false, ".exe"},
      {u".exeFile", false, ".exefile"},
      {u"setup.txt", false, "setup.txt"},
      {u"\u00c9T\u00c9.EXE", true, "\xc9t\xc9.exe"},  // only A to Z change
  };
  for (const Case& c : cases) {
    CResource record(102, nullptr, u"TOOLKIT");
    record.m_strFileName = c.name;
    EXPECT_EQ(record.IsExecutable(), c.executable) << Narrow(c.name);
    EXPECT_EQ(Narrow(record.m_strFileName), c.lowered);
  }
}

class NamingTest : public sim::PayloadTestBase {
 protected:
  int32_t Enumerate() {
    const Status ok = machine.resources.EnumResourceNames(u"TOOLKIT", [&](const IResources::Name& name) {
      EnumResourceProc(payload, resources, &machine.resources, u"TOOLKIT", name);
    });
    return ok ? kOk : kFail;
  }
  std::vector<uint32_t> Order() {
    std::vector<uint32_t> ids;
    for (const auto& r : resources) ids.push_back(r->m_dwId);
    return ids;
  }
  std::string LogText() { return Narrow(log.pending()); }
};

TEST_F(NamingTest, TableRunsNewestFirstAndTextNamesAreSkipped) {
  for (uint32_t id : {101u, 102u, 111u, 104u}) machine.resources.Add(u"TOOLKIT", id, "x");
  machine.resources.AddNamed(u"TOOLKIT", u"README", "x");
  EXPECT_EQ(Enumerate(), kOk);
  EXPECT_EQ(Order(), (std::vector<uint32_t>{111, 104, 102, 101}));
  EXPECT_EQ(LogText(),
            "Enumerate Resources TOOLKIT 65\nEnumerate Resources TOOLKIT 66\n"
            "Enumerate Resources TOOLKIT 68\nEnumerate Resources TOOLKIT 6f\n");
}

TEST_F(NamingTest, ShippedManifestNamesTenRecordsAndChoosesTheWizard) {
  machine.resources.Add(u"TOOLKIT", 101,
                        "102*install.bin*64558774*103*empty.msi*9728*104*Varnhold.InstallerWizard.UI.exe*266120*"
                        "105*Varnhold.InstallerWizard.UI.exe.config*946*106*Varnhold.InstallerWizard.Engine.dll*"
                        "298888*107*Varnhold.CompressEngine.dll*89992*108*log4net.dll*270336*"
                        "109*Varnhold.Installer.LongFileName.dll*27528*110*CarryallInstaller.project*227165*"
                        "111*ProjectItems.xml*572");
  for (uint32_t id = 102; id <= 111; ++id) machine.resources.Add(u"TOOLKIT", id, "x");
  ASSERT_EQ(Enumerate(), kOk);
  folder.base = u"D:\\Work";
  Text program;
  EXPECT_EQ(WorkOutFileNames(payload, resources, program), kOk);
  EXPECT_EQ(Narrow(program), "D:\\Work\\{A0A0A001-0000-0000-0000-000000000000}\\varnhold.installerwizard.ui.exe");
  int named = 0;
  for (const auto& r : resources) {
    if (r->m_dwId == 101) EXPECT_TRUE(r->m_strFileName.empty());
    if (!r->m_strFileName.empty()) ++named;
  }
  EXPECT_EQ(named, 10);
  // The log spells each name as the manifest does, in table order.
  std::string log_text = LogText();
  EXPECT_NE(log_text.find("Work Out FileName ProjectItems.xml, Bytes 572\nWork Out FileName CarryallInstaller.project"),
            std::string::npos);
  EXPECT_NE(log_text.find("Work Out FileName install.bin, Bytes 64558774\nWorkOutFileNames 0\n"), std::string::npos);
}

TEST_F(NamingTest, LowestIdExecutableWinsAndUnlistedRecordsStayUnnamed) {
  machine.resources.Add(u"TOOLKIT", 101, "107*b.exe*1*104*a.exe*1*555*ghost.exe*1");
  for (uint32_t id : {104u, 106u, 107u}) machine.resources.Add(u"TOOLKIT", id, "x");
  ASSERT_EQ(Enumerate(), kOk);
  Text program = u"unchanged";
  EXPECT_EQ(WorkOutFileNames(payload, resources, program), kOk);
  EXPECT_EQ(program.substr(program.size() - 6), u"\\a.exe");
  for (const auto& r : resources) {
    if (r->m_dwId == 106) EXPECT_TRUE(r->m_strFileName.empty());
  }
}

TEST_F(NamingTest, ManifestThatCannotBeLoadedNamesNothing) {
  struct Case {
    const char* site;
    const char* line;
  } cases[] = {
      {"IResources::FindResource", "ExtractSelf FindResource has failed\n"},
      {"IResources::LoadResource", "ExtractSelf LoadResource has failed\n"},
      {"IResources::LockResource", "ExtractSelf LockResource has failed\n"},
  };
  machine.resources.Add(u"TOOLKIT", 101, "102*a.exe*1");
  machine.resources.Add(u"TOOLKIT", 102, "x");
  ASSERT_EQ(Enumerate(), kOk);
  for (const Case& c : cases) {
    machine.faults.Clear();
    machine.faults.Always(c.site);
    Text program = u"unchanged";
    size_t before = log.pending().size();
    EXPECT_EQ(WorkOutFileNames(payload, resources, program), kFail);
    EXPECT_EQ(Narrow(log.pending().substr(before)), std::string(c.line) + "WorkOutFileNames 80004005\n");
    EXPECT_EQ(program, u"unchanged");
  }
}

TEST_F(NamingTest, WithoutAManifestNothingIsNamed) {
  machine.resources.Add(u"TOOLKIT", 102, "x");
  ASSERT_EQ(Enumerate(), kOk);
  Text program;
  EXPECT_EQ(WorkOutFileNames(payload, resources, program), kOk);
  EXPECT_TRUE(program.empty());
  EXPECT_TRUE(resources.front()->m_strFileName.empty());
}

TEST_F(NamingTest, ManifestTextUsesTheThreadCodePage) {
  machine.resources.Add(u"TOOLKIT", 101, "102*caf\xe9.txt*1");
  machine.resources.Add(u"TOOLKIT", 102, "x");
  ASSERT_EQ(Enumerate(), kOk);
  Text program;
  EXPECT_EQ(WorkOutFileNames(payload, resources, program), kOk);
  EXPECT_EQ(resources.front()->m_strFileName, u"caf\u00e9.txt");
}

}  // namespace
}  // namespace carryall
