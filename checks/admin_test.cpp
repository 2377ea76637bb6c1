#include <gtest/gtest.h>

#include "checks/checks.h"
#include "platform/sim/sim_platform.h"
#include "platform/sim/sim_test.h"

namespace carryall {
namespace {

using sim::SimMachineInfo;

class MachineCheckTest : public sim::SimTest {
 protected:
};

TEST_F(MachineCheckTest, OnlyAMembershipFlagOfTrueMakesAnAdministrator) {
  struct Case {
    const char* name;
    std::optional<int32_t> membership;
    bool expected;
  } cases[] = {
      {"elevated member", 1, true},
      {"token filtered by user account control: the group is deny-only", 0, false},
      {"identifier or membership call failed", std::nullopt, false},
      {"a flag other than TRUE", 2, false},
      {"a flag of -1", -1, false},
  };
  for (const Case& c : cases) {
    machine.machine.administrators_membership = c.membership;
    EXPECT_EQ(IsAdministrator(machine.machine), c.expected) << c.name;
  }
  EXPECT_EQ(log.pending(), u"") << "the check logs nothing";
}

TEST_F(MachineCheckTest, WindowsInstallerIsTakenForGrantedFromXpOnAndReadFromMsiDllBefore) {
  const std::string msi = "c:\\winnt\\system32\\msi.dll";
  struct Case {
    const char* name;
    std::optional<OsVersion> os;
    std::optional<std::string> msi_block;  // MSI.DLL's fixed file information; nullopt: no file
    bool expected;
    bool reads_msi;
  } cases[] = {
      {"Windows XP", OsVersion{2, 5, 1}, std::nullopt, true, false},
      {"Windows Server 2003", OsVersion{2, 5, 2}, std::nullopt, true, false},
      {"Windows Vista", OsVersion{2, 6, 0}, std::nullopt, true, false},
      {"Windows 10", OsVersion{2, 10, 0}, std::nullopt, true, false},
      {"Windows 2000 with MSI 2.0", OsVersion{2, 5, 0}, SimMachineInfo::FixedFileInfo(2, 0), true, true},
      {"Windows 2000 with MSI 3.1", OsVersion{2, 5, 0}, SimMachineInfo::FixedFileInfo(3, 1), true, true},
      {"Windows 2000 with MSI 1.20", OsVersion{2, 5, 0}, SimMachineInfo::FixedFileInfo(1, 20), false, true},
      {"Windows 2000 without MSI.DLL", OsVersion{2, 5, 0}, std::nullopt, false, true},
      {"Windows 2000, block without the signature", OsVersion{2, 5, 0}, SimMachineInfo::FixedFileInfo(2, 0, 0), false,
       true},
      {"NT 4.0 with MSI 2.0", OsVersion{2, 4, 0}, SimMachineInfo::FixedFileInfo(2, 0), true, true},
      {"Windows 98 (not NT) with MSI 1.1", OsVersion{1, 4, 10}, SimMachineInfo::FixedFileInfo(1, 1), false, true},
      {"Windows Me (not NT) with MSI 2.0", OsVersion{1, 4, 90}, SimMachineInfo::FixedFileInfo(2, 0), true, true},
      {"version query failed, MSI 2.0", std::nullopt, SimMachineInfo::FixedFileInfo(2, 0), true, true},
      {"version query failed, no MSI.DLL", std::nullopt, std::nullopt, false, true},
  };
  for (const Case& c : cases) {
    machine.machine.version = c.os;
    machine.machine.system_folder = u"C:\\WINNT\\system32";
    machine.machine.version_blocks.clear();
    machine.machine.version_reads.clear();
    if (c.msi_block) machine.machine.version_blocks[msi] = *c.msi_block;

    EXPECT_EQ(IsWindowsInstallerUsable(machine.machine), c.expected) << c.name;

    std::vector<std::string> reads;
    if (c.reads_msi) reads.push_back("C:\\WINNT\\system32\\MSI.DLL");
    EXPECT_EQ(machine.machine.version_reads, reads) << c.name;
  }
  EXPECT_EQ(log.pending(), u"") << "the check logs nothing";
}

TEST_F(MachineCheckTest, WindowsInstallerFailsWithoutASystemFolder) {
  machine.machine.version = OsVersion{2, 5, 0};
  machine.machine.system_folder = std::nullopt;
  EXPECT_FALSE(IsWindowsInstallerUsable(machine.machine));
  EXPECT_TRUE(machine.machine.version_reads.empty());
}

TEST_F(MachineCheckTest, FileVersionIsTheMostSignificantHalfOfTheFixedBlock) {
  std::string block = SimMachineInfo::FixedFileInfo(5, 1);
  block[12] = '\x07';  // the least significant half plays no part
  machine.machine.version_blocks["c:\\a.dll"] = block;
  machine.machine.version_blocks["c:\\b.dll"] = SimMachineInfo::FixedFileInfo(0xFFFF, 0x1234);
  machine.machine.version_blocks["c:\\c.dll"] = SimMachineInfo::FixedFileInfo(4, 0, 0xBD04EFFE);

  std::optional<FileVersion> a = ReadFileVersion(machine.machine, u"C:\\A.DLL");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->major, 5);
  EXPECT_EQ(a->minor, 1);
  std::optional<FileVersion> b = ReadFileVersion(machine.machine, u"C:\\b.dll");
  ASSERT_TRUE(b);
  EXPECT_EQ(b->major, 0xFFFF);
  EXPECT_EQ(b->minor, 0x1234);
  EXPECT_FALSE(ReadFileVersion(machine.machine, u"C:\\c.dll")) << "signature in the wrong byte order";
  EXPECT_FALSE(ReadFileVersion(machine.machine, u"C:\\missing.dll"));
}

}  // namespace
}  // namespace carryall
