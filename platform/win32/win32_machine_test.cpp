// Tests of the Win32 machine facts, cross-built and run under Wine against its real
// registry, version information and disks.
#include "platform/win32/win32_machine.h"

#include <gtest/gtest.h>

#include "platform/win32/handles.h"
#include "platform/win32/win32_platform.h"

namespace carryall::win32 {
namespace {

constexpr wchar_t kScratchKey[] = L"Software\\Carryall machine test";

// A scratch key below HKEY_LOCAL_MACHINE, removed again with everything in it.
class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kScratchKey);
    ASSERT_EQ(
        ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kScratchKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key_.put(), nullptr),
        ERROR_SUCCESS);
  }
  void TearDown() override {
    key_.reset();
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kScratchKey);
  }
  void Set(const wchar_t* name, DWORD type, const void* data, DWORD size) {
    ASSERT_EQ(::RegSetValueExW(key_.get(), name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
  }
  void SetText(const wchar_t* name, const std::wstring& text) {
    Set(name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  }
  Fallible<std::string> Read(const wchar_t* name, uint32_t capacity) {
    std::wstring key(kScratchKey);
    return machine_.ReadRegistryValue(FromW(key.data(), key.size()), FromW(name, wcslen(name)), capacity);
  }

  UniqueKey key_;
  Win32MachineInfo machine_;
};

TEST_F(RegistryTest, ValuesUpToTheCapacityAreReadWhateverTheirType) {
  DWORD one = 1;
  Set(L"Dword", REG_DWORD, &one, sizeof(one));
  Set(L"Short", REG_BINARY, "\x02\x01", 2);
  SetText(L"Text", L"4.8");
  Set(L"Qword", REG_QWORD, "\x01\0\0\0\0\0\0\0", 8);

  EXPECT_EQ(Read(L"Dword", 4).value_or("failed"), std::string("\x01\0\0\0", 4));
  EXPECT_EQ(Read(L"Short", 4).value_or("failed"), "\x02\x01");
  EXPECT_EQ(Read(L"Text", 260).value_or("failed"), std::string("4\0.\08\0\0\0", 8));
  EXPECT_EQ(Read(L"Text", 4).error(), static_cast<uint32_t>(ERROR_MORE_DATA)) << "eight bytes do not fit four";
  EXPECT_EQ(Read(L"Qword", 4).error(), static_cast<uint32_t>(ERROR_MORE_DATA)) << "longer than the holder";
  EXPECT_EQ(Read(L"Missing", 4).error(), static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
}

TEST_F(RegistryTest, VersionTextsFitUpTo260Bytes) {
  SetText(L"Fits", L"4.7." + std::wstring(125, L'1'));  // 129 units and the NUL: 260 bytes
  SetText(L"Long", L"4.8." + std::wstring(126, L'1'));  // 262 bytes
  Fallible<std::string> fits = Read(L"Fits", 260);
  ASSERT_TRUE(fits);
  EXPECT_EQ(fits->size(), 260u);
  EXPECT_EQ(Read(L"Long", 260).error(), static_cast<uint32_t>(ERROR_MORE_DATA));
}

TEST(Win32MachineTest, MissingKeyIsNotAnError) {
  Win32MachineInfo machine;
  EXPECT_EQ(machine.ReadRegistryValue(u"Software\\Carryall no such key", u"Install", 4).error(),
            static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
}

TEST(Win32MachineTest, SystemFactsOfTheWinePrefix) {
  Win32MachineInfo machine;
  Fallible<OsVersion> os = machine.GetVersion();
  ASSERT_TRUE(os);
  EXPECT_EQ(os->platform_id, kPlatformNt);
  EXPECT_GE(os->major, 6u) << "the prefix reports Windows 7";

  Fallible<Text> system = machine.GetSystemFolder();
  ASSERT_TRUE(system);
  wchar_t expected[MAX_PATH];
  UINT length = ::GetSystemDirectoryW(expected, MAX_PATH);
  EXPECT_EQ(*system, FromW(expected, length));

  // The user of a Wine prefix is an administrator.
  EXPECT_EQ(machine.AdministratorsMembership().value_or(-1), 1);
}

TEST(Win32MachineTest, FixedFileInfoOfASystemDll) {
  Win32MachineInfo machine;
  Fallible<Text> system = machine.GetSystemFolder();
  ASSERT_TRUE(system);
  Fallible<std::string> block = machine.ReadFixedFileInfo(*system + u"\\MSI.DLL");
  ASSERT_TRUE(block);
  ASSERT_EQ(block->size(), kFixedFileInfoSize);
  EXPECT_EQ(block->substr(0, 4), "\xBD\x04\xEF\xFE") << "the fixed-information signature";
  EXPECT_FALSE(machine.ReadFixedFileInfo(*system + u"\\carryall-no-such.dll"));
}

TEST(Win32MachineTest, FreeBytesOfADriveText) {
  Win32MachineInfo machine;
  ULARGE_INTEGER available, total, total_free;
  ASSERT_TRUE(::GetDiskFreeSpaceExW(L"C:", &available, &total, &total_free));
  Fallible<uint64_t> free_bytes = machine.FreeBytesForCaller(u"C:");
  ASSERT_TRUE(free_bytes);
  EXPECT_LE(*free_bytes, total.QuadPart);
  EXPECT_FALSE(machine.FreeBytesForCaller(u"Q:")) << "the prefix has no drive Q:";
}

TEST(Win32MachineTest, VolumeRootOfAPathThatNeedNotExist) {
  Win32MachineInfo machine;
  EXPECT_EQ(machine.GetVolumePathName(u"C:\\windows\\carryall-no-such\\x").value_or(u""), Text(u"C:\\"));
  EXPECT_EQ(machine.GetVolumePathName(u"\\\\?\\C:\\windows").value_or(u""), Text(u"\\\\?\\C:\\"));
  EXPECT_FALSE(machine.GetVolumePathName(u"\\\\.\\CON"));
}

}  // namespace
}  // namespace carryall::win32
