// Win32 layer. The system DLLs that Windows does not keep in its KnownDLLs list
// (comctl32, crypt32, version, wintrust), loaded from the system folder alone.
//
// A DLL named in the import table is looked for in the program's own folder first,
// unless it is a KnownDLL; a bootstrapper runs from a Downloads folder where anyone can
// have left a version.dll. So the image imports KnownDLLs only (tools/check_pe.py checks
// it after every link) and reaches the other DLLs through the functions below, which have
// the signatures of the system's own and fail as those document when the DLL or the
// export cannot be found, with the last error saying why (ERROR_MOD_NOT_FOUND,
// ERROR_PROC_NOT_FOUND): the core sees an ordinary failure.
//
// A DLL loaded here stays loaded until the process ends, on purpose: the dialogs use
// comctl32's window classes to the end, and the worker thread may still be inside a trust
// or version call when wWinMain returns and the statics go, so there is no point at which
// unloading would be safe. The system unloads them with the process.
#pragma once

#include <windows.h>

#include <commctrl.h>
#include <wincrypt.h>
#include <wintrust.h>

#include "platform/files.h"

namespace carryall::win32 {

// Called first in wWinMain: every later load that names no full path looks in the system
// folder only. Where SetDefaultDllDirectories is missing (Windows 7 without KB2533623) it
// takes at least the current folder out of the search order.
void RestrictDllSearch();

// Loads the DLL name from the system folder, or returns nullptr with the last error set.
// Each call takes one more reference, which is never given back.
HMODULE LoadSystemDll(const wchar_t* name);

// One export of a system DLL, looked up when the object is made.
template <typename Fn>
class SystemExport {
 public:
  SystemExport(const wchar_t* dll, const char* name) {
    HMODULE module = LoadSystemDll(dll);
    if (module != nullptr) address_ = ::GetProcAddress(module, name);
    // A failure that left no error behind must still read as one: a last error of 0
    // would make the caller's failure look like success.
    if (address_ == nullptr) error_ = ::GetLastError() != ERROR_SUCCESS ? ::GetLastError() : ERROR_PROC_NOT_FOUND;
  }
  // The function, or nullptr with the last error set to why it is missing.
  Fn get() const {
    if (address_ == nullptr) ::SetLastError(error_);
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(address_));
  }

 private:
  FARPROC address_ = nullptr;
  DWORD error_ = ERROR_SUCCESS;
};

// What WinVerifyTrust answers when the trust provider or its entry point is missing:
// HRESULT_FROM_WIN32 of the saved error, and TRUST_E_PROVIDER_UNKNOWN when that error is
// 0, which would otherwise read as a verified signature.
LONG MissingProviderStatus(DWORD error);

namespace sysdll {

// kernel32 since Vista, looked up so that an older system still loads the program:
// there the path call fails with ERROR_PROC_NOT_FOUND, and the disposition is set
// through ntdll's NtSetInformationFile (FileDispositionInfo only).
DWORD GetFinalPathNameByHandleW(HANDLE file, LPWSTR path, DWORD length, DWORD flags);
BOOL SetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS type, LPVOID info, DWORD size);

// ntdll: what a handle says of its file without asking the volume's serial number, which
// GetFileInformationByHandle also fetches and which Wine answers slowly, through its
// mount manager: the attributes, the number of names and the file index
// (NtQueryInformationFile's basic, standard and internal records), written into those
// fields of facts; the rest of facts is left as it was. FALSE with the last error set on
// failure.
BOOL QueryHandleFacts(HANDLE file, HandleFacts& facts);

// comctl32
BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* controls);

// version
DWORD GetFileVersionInfoSizeW(LPCWSTR file, LPDWORD handle);
BOOL GetFileVersionInfoW(LPCWSTR file, DWORD handle, DWORD size, LPVOID data);
BOOL VerQueryValueW(LPCVOID block, LPCWSTR sub_block, LPVOID* buffer, PUINT length);

// wintrust: a missing provider gives HRESULT_FROM_WIN32 of the last error, never 0.
LONG WinVerifyTrust(HWND window, GUID* action, LPVOID data);

// crypt32
BOOL CryptQueryObject(DWORD object_type, const void* object, DWORD content_types, DWORD format_types, DWORD flags,
                      DWORD* encoding, DWORD* content_type, DWORD* format_type, HCERTSTORE* store, HCRYPTMSG* message,
                      const void** context);
BOOL CryptMsgGetParam(HCRYPTMSG message, DWORD type, DWORD index, void* data, DWORD* size);
BOOL CryptDecodeObject(DWORD encoding, LPCSTR struct_type, const BYTE* encoded, DWORD encoded_size, DWORD flags,
                       void* decoded, DWORD* decoded_size);
PCCERT_CONTEXT CertFindCertificateInStore(HCERTSTORE store, DWORD encoding, DWORD find_flags, DWORD find_type,
                                          const void* find_para, PCCERT_CONTEXT previous);
DWORD CertGetNameStringW(PCCERT_CONTEXT certificate, DWORD type, DWORD flags, void* type_para, LPWSTR name,
                         DWORD length);
BOOL CertCloseStore(HCERTSTORE store, DWORD flags);
BOOL CryptMsgClose(HCRYPTMSG message);
BOOL CertFreeCertificateContext(PCCERT_CONTEXT certificate);

}  // namespace sysdll

}  // namespace carryall::win32
