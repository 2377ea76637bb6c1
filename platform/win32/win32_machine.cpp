// Win32 layer. Machine facts for the prerequisite checks.
#include "platform/win32/win32_machine.h"

#include <shlobj.h>

#include <algorithm>
#include <memory>
#include <new>
#include <vector>

#include "platform/win32/handles.h"
#include "platform/win32/system_dlls.h"
#include "platform/win32/win32_platform.h"

namespace carryall::win32 {

Fallible<std::string> Win32MachineInfo::ReadRegistryValue(const Text& key, const Text& value, uint32_t capacity) {
  UniqueKey opened;
  if (LSTATUS error = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, W(key), /*ulOptions=*/0, KEY_READ, opened.put());
      error != ERROR_SUCCESS) {
    return Failed(static_cast<uint32_t>(error));
  }
  std::string bytes(capacity, '\0');
  DWORD size = capacity;
  // A value larger than the buffer answers ERROR_MORE_DATA and counts as missing.
  const LSTATUS error = ::RegQueryValueExW(opened.get(), W(value), /*lpReserved=*/nullptr, /*lpType=*/nullptr,
                                           reinterpret_cast<BYTE*>(bytes.data()), &size);
  if (error != ERROR_SUCCESS) return Failed(static_cast<uint32_t>(error));
  if (size > capacity) return Failed(ERROR_MORE_DATA);
  bytes.resize(size);
  return bytes;
}

Fallible<OsVersion> Win32MachineInfo::GetVersion() {
  OSVERSIONINFOEXW info = {};
  info.dwOSVersionInfoSize = sizeof(info);  // 284: the extended record
  static_assert(sizeof(OSVERSIONINFOEXW) == 284);
  // GetVersionExW is deprecated because it reports at most the version the manifest
  // declares; the check only distinguishes systems older than Windows XP, which it
  // reports truthfully.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  BOOL ok = ::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info));
#pragma GCC diagnostic pop
  if (!ok) return LastError();
  return OsVersion{info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion};
}

Fallible<Text> Win32MachineInfo::GetSystemFolder() {
  UniqueShellItems items;
  if (const HRESULT result = ::SHGetSpecialFolderLocation(/*hwnd=*/nullptr, CSIDL_SYSTEM, items.put());
      FAILED(result)) {
    return Failed(static_cast<uint32_t>(result));
  }
  wchar_t buffer[MAX_PATH] = {};
  if (!::SHGetPathFromIDListW(items.get(), buffer)) return Failed(ERROR_PATH_NOT_FOUND);  // it sets no error
  return FromW(buffer, wcsnlen(buffer, MAX_PATH));
}

Fallible<std::string> Win32MachineInfo::ReadFixedFileInfo(const Text& path) {
  DWORD handle = 0;
  DWORD size = sysdll::GetFileVersionInfoSizeW(W(path), &handle);
  if (size == 0) return LastError();
  std::unique_ptr<BYTE[]> data(new (std::nothrow) BYTE[size]);
  if (!data) return Failed(ERROR_NOT_ENOUGH_MEMORY);
  if (!sysdll::GetFileVersionInfoW(W(path), /*handle=*/0, size, data.get())) return LastError();
  void* block = nullptr;
  UINT length = 0;
  if (!sysdll::VerQueryValueW(data.get(), L"\\", &block, &length) || block == nullptr) {
    return Failed(ERROR_RESOURCE_TYPE_NOT_FOUND);
  }
  // A root block shorter than the fixed record would be read past its end.
  if (length < kFixedFileInfoSize) return Failed(ERROR_INVALID_DATA);
  return std::string(static_cast<const char*>(block), kFixedFileInfoSize);
}

Fallible<int32_t> Win32MachineInfo::AdministratorsMembership() {
  SID_IDENTIFIER_AUTHORITY nt_authority = SECURITY_NT_AUTHORITY;
  UniqueSid administrators;
  if (!::AllocateAndInitializeSid(&nt_authority, /*nSubAuthorityCount=*/2, SECURITY_BUILTIN_DOMAIN_RID,
                                  DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, administrators.put())) {
    return LastError();
  }
  BOOL member = FALSE;
  if (!::CheckTokenMembership(/*TokenHandle=*/nullptr, administrators.get(), &member)) return LastError();
  return static_cast<int32_t>(member);
}

Fallible<uint64_t> Win32MachineInfo::FreeBytesForCaller(const Text& directory) {
  ULARGE_INTEGER available = {};
  ULARGE_INTEGER total = {};
  ULARGE_INTEGER total_free = {};
  if (!::GetDiskFreeSpaceExW(W(directory), &available, &total, &total_free)) return LastError();
  return static_cast<uint64_t>(available.QuadPart);
}

Fallible<Text> Win32MachineInfo::GetVolumePathName(const Text& path) {
  // The root is never longer than the path itself plus its closing backslash.
  std::vector<wchar_t> root(std::max<std::size_t>(path.size() + 2, MAX_PATH + 1), L'\0');
  if (!::GetVolumePathNameW(W(path), root.data(), static_cast<DWORD>(root.size()))) return LastError();
  return FromW(root.data(), wcslen(root.data()));
}

}  // namespace carryall::win32
