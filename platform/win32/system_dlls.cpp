// Win32 layer. Loading of the system DLLs outside KnownDLLs, and their entry points.
#include "platform/win32/system_dlls.h"

#include <string>

namespace carryall::win32 {

void RestrictDllSearch() {
  // Looked up, not imported: an import the system lacks would stop the program loading.
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
  auto set_default = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void*>(::GetProcAddress(kernel32, "SetDefaultDllDirectories")));
  if (set_default != nullptr && set_default(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
  ::SetDllDirectoryW(L"");
}

HMODULE LoadSystemDll(const wchar_t* name) {
  HMODULE module = ::LoadLibraryExW(name, /*hFile=*/nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module != nullptr || ::GetLastError() != ERROR_INVALID_PARAMETER) return module;
  // A system without the search flags rejects them: name the file in the system folder
  // instead; the altered search path has the DLL's own imports looked for beside it.
  wchar_t folder[MAX_PATH] = {};
  const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  std::wstring path(folder, length);
  path += L'\\';
  path += name;
  return ::LoadLibraryExW(path.c_str(), /*hFile=*/nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

LONG MissingProviderStatus(DWORD error) {
  return error == ERROR_SUCCESS ? static_cast<LONG>(TRUST_E_PROVIDER_UNKNOWN) : HRESULT_FROM_WIN32(error);
}

namespace sysdll {

namespace {
constexpr wchar_t kComctl32[] = L"comctl32.dll";
constexpr wchar_t kCrypt32[] = L"crypt32.dll";
constexpr wchar_t kVersion[] = L"version.dll";
constexpr wchar_t kWintrust[] = L"wintrust.dll";
constexpr wchar_t kKernel32[] = L"kernel32.dll";

// ntdll's IO_STATUS_BLOCK, for the file calls reached through it.
struct StatusBlock {
  LONG status;
  ULONG_PTR information;
};
using NtFileInformationFn = LONG(WINAPI*)(HANDLE, StatusBlock*, PVOID, ULONG, int);

// An export of ntdll, which every process has loaded; nullptr when it is missing.
template <typename Fn>
Fn NtdllExport(const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), name)));
}
}  // namespace

// Each entry point is looked up once, on its first call (a thread-safe static), and the
// outcome, found or not, is kept.
#define CARRYALL_SYSTEM_EXPORT(dll, function)                             \
  static const SystemExport<decltype(&::function)> found(dll, #function); \
  const auto call = found.get()

DWORD GetFinalPathNameByHandleW(HANDLE file, LPWSTR path, DWORD length, DWORD flags) {
  CARRYALL_SYSTEM_EXPORT(kKernel32, GetFinalPathNameByHandleW);
  return call ? call(file, path, length, flags) : 0;
}

BOOL SetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS type, LPVOID info, DWORD size) {
  CARRYALL_SYSTEM_EXPORT(kKernel32, SetFileInformationByHandle);
  if (call) return call(file, type, info, size);
  if (type != FileDispositionInfo) return FALSE;
  // FileDispositionInformation (13) takes the same one-byte record.
  static const auto set = NtdllExport<NtFileInformationFn>("NtSetInformationFile");
  if (set == nullptr) return FALSE;
  StatusBlock block = {};
  const LONG status = set(file, &block, info, size, /*FileDispositionInformation=*/13);
  if (status < 0) ::SetLastError(ERROR_ACCESS_DENIED);
  return status >= 0;
}

BOOL QueryHandleFacts(HANDLE file, HandleFacts& facts) {
  using RtlNtStatusToDosErrorFn = ULONG(WINAPI*)(LONG);
  static const auto query = NtdllExport<NtFileInformationFn>("NtQueryInformationFile");
  static const auto to_error = NtdllExport<RtlNtStatusToDosErrorFn>("RtlNtStatusToDosError");
  if (query == nullptr || to_error == nullptr) {
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return FALSE;
  }
  // The records of FileBasicInformation (4), FileStandardInformation (5) and
  // FileInternalInformation (6); the first two are laid out as kernel32's FILE_BASIC_INFO
  // and FILE_STANDARD_INFO.
  FILE_BASIC_INFO basic = {};
  FILE_STANDARD_INFO standard = {};
  LARGE_INTEGER index = {};
  StatusBlock block = {};
  LONG status = query(file, &block, &basic, sizeof basic, 4);
  if (status >= 0) status = query(file, &block, &standard, sizeof standard, 5);
  if (status >= 0) status = query(file, &block, &index, sizeof index, 6);
  if (status < 0) {
    const ULONG error = to_error(status);
    ::SetLastError(error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE);
    return FALSE;
  }
  facts.attributes = basic.FileAttributes;
  facts.links = standard.NumberOfLinks;
  facts.identity.index = static_cast<uint64_t>(index.QuadPart);
  return TRUE;
}

BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* controls) {
  CARRYALL_SYSTEM_EXPORT(kComctl32, InitCommonControlsEx);
  return call ? call(controls) : FALSE;
}

DWORD GetFileVersionInfoSizeW(LPCWSTR file, LPDWORD handle) {
  CARRYALL_SYSTEM_EXPORT(kVersion, GetFileVersionInfoSizeW);
  return call ? call(file, handle) : 0;
}

BOOL GetFileVersionInfoW(LPCWSTR file, DWORD handle, DWORD size, LPVOID data) {
  CARRYALL_SYSTEM_EXPORT(kVersion, GetFileVersionInfoW);
  return call ? call(file, handle, size, data) : FALSE;
}

BOOL VerQueryValueW(LPCVOID block, LPCWSTR sub_block, LPVOID* buffer, PUINT length) {
  CARRYALL_SYSTEM_EXPORT(kVersion, VerQueryValueW);
  return call ? call(block, sub_block, buffer, length) : FALSE;
}

LONG WinVerifyTrust(HWND window, GUID* action, LPVOID data) {
  CARRYALL_SYSTEM_EXPORT(kWintrust, WinVerifyTrust);
  return call ? call(window, action, data) : MissingProviderStatus(::GetLastError());
}

BOOL CryptQueryObject(DWORD object_type, const void* object, DWORD content_types, DWORD format_types, DWORD flags,
                      DWORD* encoding, DWORD* content_type, DWORD* format_type, HCERTSTORE* store, HCRYPTMSG* message,
                      const void** context) {
  CARRYALL_SYSTEM_EXPORT(kCrypt32, CryptQueryObject);
  return call ? call(object_type, object, content_types, format_types, flags, encoding, content_type, format_type,
                     store, message, context)
              : FALSE;
}

BOOL CryptMsgGetParam(HCRYPTMSG message, DWORD type, DWORD index, void* data, DWORD* size) {
  CARRYALL_SYSTEM_EXPORT(kCrypt32, CryptMsgGetParam);
  return call ? call(message, type, index, data, size) : FALSE;
}

BOOL CryptDecodeObject(DWORD encoding, LPCSTR struct_type, const BYTE* encoded, DWORD encoded_size, DWORD flags,
                       void* decoded, DWORD* decoded_size) {
  CARRYALL_SYSTEM_EXPORT(kCrypt32, CryptDecodeObject);
  return call ? call(encoding, struct_type, encoded, encoded_size, flags, decoded, decoded_size) : FALSE;
}

PCCERT_CONTEXT CertFindCertificateInStore(HCERTSTORE store, DWORD encoding, DWORD find_flags, DWORD find_type,
                                          const void* find_para, PCCERT_CONTEXT previous) {
  CARRYALL_SYSTEM_EXPORT(kCrypt32, CertFindCertificateInStore);
  return call ? call(store, encoding, find_flags, find_type, find_para, previous) : nullptr;
}

DWORD CertGetNameStringW(PCCERT_CONTEXT certificate, DWORD type, DWORD flags, void* type_para, LPWSTR name,
                         DWORD length) {
  CARRYALL_SYSTEM_EXPORT(kCrypt32, CertGetNameStringW);
  if (call) return call(certificate, type, flags, type_para, name, length);
  // As for a certificate without the name: an empty string, one character with its end.
  if (name != nullptr && length > 0) name[0] = L'\0';
  return 1;
}

BOOL CertCloseStore(HCERTSTORE store, DWORD flags) {
  CARRYALL_SYSTEM_EXPORT(kCrypt32, CertCloseStore);
  return call ? call(store, flags) : FALSE;
}

BOOL CryptMsgClose(HCRYPTMSG message) {
  CARRYALL_SYSTEM_EXPORT(kCrypt32, CryptMsgClose);
  return call ? call(message) : FALSE;
}

BOOL CertFreeCertificateContext(PCCERT_CONTEXT certificate) {
  CARRYALL_SYSTEM_EXPORT(kCrypt32, CertFreeCertificateContext);
  // Documented to return TRUE always.
  return call ? call(certificate) : TRUE;
}

#undef CARRYALL_SYSTEM_EXPORT

}  // namespace sysdll

}  // namespace carryall::win32
