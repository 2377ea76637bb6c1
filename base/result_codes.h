// Portable layer. Every result code the bootstrapper produces. Codes and message ids
// are a public contract of scripts and support staff: append only, never renumber.
#pragma once

#include <cstdint>

namespace carryall {

constexpr int32_t kOk = 0;
constexpr int32_t kBadCommandLine = static_cast<int32_t>(0x80030057);  // STG_E_INVALIDPARAMETER
constexpr int32_t kNotSigned = static_cast<int32_t>(0x800B0100);       // TRUST_E_NOSIGNATURE
constexpr int32_t kNotAdministrator = static_cast<int32_t>(0x80110413);
constexpr int32_t kDotNetMissing = static_cast<int32_t>(0x80110409);
constexpr int32_t kInstallerTooOld = 1613;                       // ERROR_INSTALL_PACKAGE_VERSION
constexpr int32_t kDiskFull = static_cast<int32_t>(0x80030070);  // STG_E_MEDIUMFULL
constexpr int32_t kFail = static_cast<int32_t>(0x80004005);      // E_FAIL
constexpr int32_t kFileSizeMismatch = static_cast<int32_t>(0x80040167);
constexpr int32_t kAbort = static_cast<int32_t>(0x80004004);                // E_ABORT
constexpr int32_t kInvalidArg = static_cast<int32_t>(0x80070057);           // E_INVALIDARG
constexpr int32_t kDiskFullOnWrite = static_cast<int32_t>(0x80070070);      // HRESULT_FROM_WIN32(ERROR_DISK_FULL)
constexpr int32_t kDotNetRuntimeFailed = static_cast<int32_t>(0x80131700);  // a wizard exit code
// Wizard exit codes of a success that needs a restart (the Windows Installer's
// ERROR_SUCCESS_REBOOT_REQUIRED and ERROR_SUCCESS_REBOOT_INITIATED).
constexpr int32_t kRestartRequired = 3010;
constexpr int32_t kRestartInitiated = 1641;

// A failed wait (for the worker, or for the wizard) ends with the system's error as an
// HRESULT (HRESULT_FROM_WIN32, 0x8007xxxx), or E_FAIL when the system named none.
constexpr int32_t WaitFailedResult(uint32_t error) {
  return error == 0 ? kFail : static_cast<int32_t>(0x80070000u | (error & 0xFFFFu));
}

}  // namespace carryall
