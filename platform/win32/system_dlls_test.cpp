#include "platform/win32/system_dlls.h"

#include <gtest/gtest.h>

#include <string>

namespace carryall::win32 {
namespace {

std::wstring SystemFolder() {
  wchar_t folder[MAX_PATH] = {};
  const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
  return std::wstring(folder, length) + L"\\";
}

TEST(SystemExportTest, FindsExportsOfSystemDllsOnlyAndSaysWhyOneIsMissing) {
  struct Row {
    const wchar_t* dll;
    const char* name;
    DWORD error;  // ERROR_SUCCESS: found
  };
  const Row rows[] = {
      {L"version.dll", "GetFileVersionInfoSizeW", ERROR_SUCCESS},
      {L"version.dll", "CarryallNoSuchExport", ERROR_PROC_NOT_FOUND},
      {L"carryall_no_such.dll", "GetFileVersionInfoSizeW", ERROR_MOD_NOT_FOUND},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    SystemExport<DWORD(WINAPI*)(LPCWSTR, LPDWORD)> found(row.dll, row.name);
    ::SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(found.get() != nullptr, row.error == ERROR_SUCCESS);
    EXPECT_EQ(::GetLastError(), row.error);
  }
  wchar_t path[MAX_PATH] = {};
  ASSERT_GT(::GetModuleFileNameW(::GetModuleHandleW(L"version.dll"), path, MAX_PATH), 0u);
  EXPECT_EQ(std::wstring(path), SystemFolder() + L"version.dll");
}

TEST(SystemExportTest, AMissingTrustProviderNeverReadsAsAVerifiedSignature) {
  const struct {
    DWORD saved_error;
    LONG status;
  } rows[] = {
      {ERROR_SUCCESS, static_cast<LONG>(TRUST_E_PROVIDER_UNKNOWN)},  // a failure that left no error behind
      {ERROR_MOD_NOT_FOUND, static_cast<LONG>(0x8007007E)},
      {ERROR_PROC_NOT_FOUND, static_cast<LONG>(0x8007007F)},
  };
  for (const auto& row : rows) EXPECT_EQ(MissingProviderStatus(row.saved_error), row.status) << row.saved_error;
}

}  // namespace
}  // namespace carryall::win32
