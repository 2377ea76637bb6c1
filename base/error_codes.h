// Portable layer. The system's error codes that the portable layers and the simulator
// name: Windows' own numbers, one definition each.
#pragma once

#include <cstdint>

namespace carryall {

constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorPathNotFound = 3;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kErrorNoMoreFiles = 18;
constexpr uint32_t kErrorGenFailure = 31;
constexpr uint32_t kErrorSharingViolation = 32;
constexpr uint32_t kErrorLockViolation = 33;
constexpr uint32_t kErrorHandleDiskFull = 39;  // ERROR_HANDLE_DISK_FULL: what some writes to a full disk report
constexpr uint32_t kErrorFileExists = 80;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorDiskFull = 112;
constexpr uint32_t kErrorInsufficientBuffer = 122;
constexpr uint32_t kErrorProcNotFound = 127;
constexpr uint32_t kErrorDirNotEmpty = 145;
constexpr uint32_t kErrorAlreadyExists = 183;
constexpr uint32_t kErrorEnvvarNotFound = 203;
constexpr uint32_t kErrorMoreData = 234;
constexpr uint32_t kErrorDirectoryName = 267;
constexpr uint32_t kErrorStoppedOnLink = 681;  // what a refused file creation reports
constexpr uint32_t kErrorNoToken = 1008;
constexpr uint32_t kErrorNoUnicodeTranslation = 1113;
constexpr uint32_t kErrorResourceTypeNotFound = 1813;
constexpr uint32_t kErrorResourceNameNotFound = 1814;

}  // namespace carryall
