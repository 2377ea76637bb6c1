#include "checks/disk_space.h"

#include <gtest/gtest.h>

#include "base/path.h"
#include "checks/checks.h"
#include "platform/sim/sim_platform.h"

namespace carryall {
namespace {

using sim::Narrow;
using sim::Widen;

constexpr uint64_t kMB = 1024 * 1024;

TEST(SplitPathTest, ComponentsAsWsplitpathSGivesThem) {
  const std::string long255(255, 'd');
  struct Case {
    std::string path;
    bool splits;
    const char* drive;
    std::string directory;
    std::string name;
    const char* extension;
  } cases[] = {
      {"C:\\Users\\me\\AppData\\Local\\Temp\\", true, "C:", "\\Users\\me\\AppData\\Local\\Temp\\", "", ""},
      {"D:\\setup\\tmp", true, "D:", "\\setup\\", "tmp", ""},
      {"\\\\server\\share\\temp\\", true, "", "\\\\server\\share\\temp\\", "", ""},
      {"C:", true, "C:", "", "", ""},
      {"C:relative\\x.dir.txt", true, "C:", "relative\\", "x.dir", ".txt"},
      {"E:/a/b.c/d", true, "E:", "/a/b.c/", "d", ""},
      {"temp\\.hidden", true, "", "temp\\", "", ".hidden"},
      {"", true, "", "", "", ""},
      {"C:" + long255.substr(1) + "\\", true, "C:", long255.substr(1) + "\\", "", ""},  // 255 characters fit
      {"C:" + long255 + "\\", false, "", "", "", ""},                                   // 256 do not
      {"C:\\" + long255, true, "C:", "\\", long255, ""},
      {"C:\\" + long255 + "n", false, "", "", "", ""},
      {"C:\\x." + long255, false, "", "", "", ""},  // an extension of 256 with its dot
  };
  for (const Case& c : cases) {
    std::optional<PathParts> parts = SplitPath(Widen(c.path), 3, 256, 256, 256);
    ASSERT_EQ(parts.has_value(), c.splits) << c.path;
    if (!parts) continue;
    EXPECT_EQ(Narrow(parts->drive), c.drive) << c.path;
    EXPECT_EQ(Narrow(parts->directory), c.directory) << c.path;
    EXPECT_EQ(Narrow(parts->name), c.name) << c.path;
    EXPECT_EQ(Narrow(parts->extension), c.extension) << c.path;
  }
}

TEST(SplitPathTest, DriveNeedsRoomForItsTwoCharactersAndTheNul) {
  EXPECT_FALSE(SplitPath(u"C:\\x", 2, 256, 256, 256).has_value());
  EXPECT_TRUE(SplitPath(u"\\x", 1, 256, 256, 256).has_value());
}

TEST(VolumeRootTest, WhatTheTextOfAPathTellsOfItsVolume) {
  struct Case {
    std::string path;
    const char* ordinary;  // WithoutNamespacePrefix
    const char* root;      // LexicalVolumeRoot
    bool device;           // IsDevicePath
  } cases[] = {
      {"C:\\Users\\me", "C:\\Users\\me", "C:\\", false},
      {"\\\\?\\C:\\x", "C:\\x", "C:\\", false},
      {"//./z:/x", "z:/x", "z:\\", false},
      {"\\\\server\\share\\x\\y", "\\\\server\\share\\x\\y", "\\\\server\\share\\", false},
      {"\\\\?\\unc\\server\\share\\x", "\\\\server\\share\\x", "\\\\server\\share\\", false},
      {"\\\\server", "\\\\server", "", false},
      {"\\\\?\\Volume{0b1c}\\x", "\\\\?\\Volume{0b1c}\\x", "", false},
      {"\\\\.\\CON", "\\\\.\\CON", "", true},
      {"\\\\?\\COM1", "\\\\?\\COM1", "", true},
      {"\\\\?\\GLOBALROOT\\Device\\x", "\\\\?\\GLOBALROOT\\Device\\x", "", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Narrow(WithoutNamespacePrefix(Widen(c.path))), c.ordinary) << c.path;
    EXPECT_EQ(Narrow(LexicalVolumeRoot(Widen(c.path))), c.root) << c.path;
    EXPECT_EQ(IsDevicePath(Widen(c.path)), c.device) << c.path;
  }
}

struct DiskCase {
  const char* name;
  const char* setting;  // nullptr: the entry is absent
  std::string temp_folder;
  std::map<std::string, uint64_t> free_bytes;  // drive text (lower case) -> bytes available
  std::vector<Text> more_volumes;              // roots the system names besides "C:\\"
  bool passes;
  std::vector<std::string> lines;
  int64_t required_mb;
  int64_t free_mb;
  const char* drive;
};

TEST(CheckFreeDiskSpaceTest, RequirementAgainstTheSpaceOfTheTempFoldersDrive) {
  const std::string temp = "C:\\Users\\me\\AppData\\Local\\Temp\\";
  const std::string checking = "Free Disk Space: Checking at least ";
  const std::string on_c = " MB free on drive 'C:' for temp directory '" + temp + "'";
  const std::string deep = "C:\\" + std::string(255, 'd') + "\\";
  const DiskCase cases[] = {
      {"exactly the requirement",
       "500",
       temp,
       {{"c:", 500 * kMB}},
       {},
       true,
       {"Free Disk Space", checking + "500" + on_c, "Free disk space requirement passed."},
       500,
       500,
       "C:"},
      {"a byte short of the requirement",
       "500",
       temp,
       {{"c:", 500 * kMB - 1}},
       {},
       false,
       {"Free Disk Space", checking + "500" + on_c, "Insufficient disk space: 500 MB required but only 499 MB free."},
       500,
       499,
       "C:"},
      {"setting 0 passes with no space",
       "0",
       temp,
       {{"c:", 0}},
       {},
       true,
       {"Free Disk Space", checking + "0" + on_c, "Free disk space requirement passed."},
       0,
       0,
       "C:"},
      {"a setting without digits is 0",
       "plenty",
       temp,
       {{"c:", kMB - 1}},
       {},
       true,
       {"Free Disk Space", checking + "0" + on_c, "Free disk space requirement passed."},
       0,
       0,
       "C:"},
      {"an absent setting is 0",
       nullptr,
       temp,
       {{"c:", 0}},
       {},
       true,
       {"Free Disk Space", checking + "0" + on_c, "Free disk space requirement passed."},
       0,
       0,
       "C:"},
      {"a negative setting passes",
       "-5",
       temp,
       {{"c:", 0}},
       {},
       true,
       {"Free Disk Space", checking + "-5" + on_c, "Free disk space requirement passed."},
       -5,
       0,
       "C:"},
      {"a setting beyond 32 bits saturates",
       "99999999999",
       temp,
       {{"c:", 100 * 1024 * kMB}},
       {},
       false,
       {"Free Disk Space", checking + "2147483647" + on_c,
        "Insufficient disk space: 2147483647 MB required but only 102400 MB free."},
       2147483647,
       102400,
       "C:"},
      {"the largest answer does not overflow",
       "500",
       temp,
       {{"c:", UINT64_MAX}},
       {},
       true,
       {"Free Disk Space", checking + "500" + on_c, "Free disk space requirement passed."},
       500,
       17592186044415,
       "C:"},
      {"a drive the query cannot answer",
       "500",
       "Q:\\setup\\",
       {{"c:", 500 * kMB}},
       {},
       false,
       {"Free Disk Space", checking + "500 MB free on drive 'Q:' for temp directory 'Q:\\setup\\'",
        "Failed to check free disk space."},
       500,
       0,
       "Q:"},
      {"a share is asked at its root",
       "500",
       "\\\\server\\share\\temp\\",
       {{"\\\\server\\share\\", 600 * kMB}},
       {u"\\\\server\\share\\"},
       true,
       {"Free Disk Space",
        checking + "500 MB free on drive '\\\\server\\share\\' for temp directory '\\\\server\\share\\temp\\'",
        "Free disk space requirement passed."},
       500,
       600,
       "\\\\server\\share\\"},
      {"a drive in the long-path form is named by its root",
       "500",
       "\\\\?\\C:\\x",
       {{"c:\\", 499 * kMB}},
       {u"\\\\?\\C:\\"},
       false,
       {"Free Disk Space", checking + "500 MB free on drive 'C:\\' for temp directory '\\\\?\\C:\\x'",
        "Insufficient disk space: 500 MB required but only 499 MB free."},
       500,
       499,
       "C:\\"},
      {"a folder on a mounted volume is asked there",
       "500",
       "c:\\Mnt\\Data\\t",
       {{"c:", 900 * kMB}, {"c:\\mnt\\data\\", kMB}},
       {u"C:\\mnt\\data\\"},
       false,
       {"Free Disk Space", checking + "500 MB free on drive 'C:\\mnt\\data\\' for temp directory 'c:\\Mnt\\Data\\t'",
        "Insufficient disk space: 500 MB required but only 1 MB free."},
       500,
       1,
       "C:\\mnt\\data\\"},
      {"a lower-case drive keeps its own name",
       "500",
       "c:\\t",
       {{"c:", 600 * kMB}},
       {},
       true,
       {"Free Disk Space", checking + "500 MB free on drive 'c:' for temp directory 'c:\\t'",
        "Free disk space requirement passed."},
       500,
       600,
       "c:"},
      {"a device is left to the temporary folder step",
       "500",
       "\\\\.\\CON",
       {{"c:", 0}},
       {},
       true,
       {"Free Disk Space", "Free disk space not checked: '\\\\.\\CON' is not a folder."},
       500,
       0,
       ""},
      {"a directory part longer than 255 characters",
       "500",
       deep,
       {{"c:", 500 * kMB}},
       {},
       false,
       {"Free Disk Space", "Failed to parse directory for free disk space check. " + deep},
       500,
       0,
       ""},
  };
  for (const DiskCase& c : cases) {
    sim::SimMachine machine;
    FileLog log{machine.files, machine.code_page};
    machine.machine.free_bytes = c.free_bytes;
    for (const Text& root : c.more_volumes) machine.machine.volume_roots.push_back(root);
    // The setting as the application object reads it.
    const int64_t required = c.setting ? ReadDecimal(Widen(c.setting)) : 0;

    const DiskVerdict verdict = CheckFreeDiskSpace(machine.machine, log, Widen(c.temp_folder), required);
    EXPECT_EQ(verdict.enough, c.passes) << c.name;

    std::string expected;
    for (const std::string& line : c.lines) expected += line + "\n";
    EXPECT_EQ(Narrow(log.pending()), expected) << c.name;
    EXPECT_EQ(verdict.required_mb, c.required_mb) << c.name;
    EXPECT_EQ(verdict.free_mb, c.free_mb) << c.name;
    EXPECT_EQ(Narrow(verdict.drive), c.drive) << c.name;
    std::vector<std::string> queries;
    if (c.lines.size() == 3) queries.push_back(c.drive);  // no query after a parse failure
    EXPECT_EQ(machine.machine.free_space_queries, queries) << c.name;
  }
}

}  // namespace
}  // namespace carryall
