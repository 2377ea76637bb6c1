// Portable layer. Facts about the machine that the prerequisite checks read: the
// registry (read only), the system's version, the user's token, file versions and free
// disk space. Each operation only fetches the raw fact; the rules that judge it (how a
// registry value becomes a number or a version, which token answer counts, what a
// version block says) live in checks/, where the host tests reach them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/platform.h"

namespace carryall {

// The part of GetVersionExW's answer that the checks look at.
struct OsVersion {
  uint32_t platform_id = 0;  // 2: the NT family
  uint32_t major = 0;
  uint32_t minor = 0;
};

constexpr uint32_t kPlatformNt = 2;

// Size of the fixed file information block (VS_FIXEDFILEINFO) at a version resource's
// root.
constexpr std::size_t kFixedFileInfoSize = 52;

class IMachineInfo {
 public:
  virtual ~IMachineInfo() = default;

  // Opens HKEY_LOCAL_MACHINE\key with KEY_READ and no registry-view flag (a 32-bit
  // process on 64-bit Windows therefore sees the 32-bit view), queries the one value
  // into a buffer of capacity bytes, and closes the key. The value's type is not looked
  // at. Answers the bytes the query stored; fails when the key or the value is missing or
  // unreadable, or the value holds more than capacity bytes.
  virtual Fallible<std::string> ReadRegistryValue(const Text& key, const Text& value, uint32_t capacity) = 0;

  // GetVersionExW with an extended version record (size 284).
  virtual Fallible<OsVersion> GetVersion() = 0;

  // The Windows system folder (SHGetSpecialFolderLocation with folder id 37, then
  // SHGetPathFromIDListW; the item list is freed through the shell's allocator).
  virtual Fallible<Text> GetSystemFolder() = 0;

  // The first kFixedFileInfoSize bytes of the root block ("\") of the file's version
  // resource (GetFileVersionInfoSizeW, GetFileVersionInfoW, VerQueryValueW). Fails when
  // the file has no version resource, a call or the allocation fails, or the block is
  // shorter than that.
  virtual Fallible<std::string> ReadFixedFileInfo(const Text& path) = 0;

  // The membership flag that CheckTokenMembership reports for the built-in
  // Administrators group (S-1-5-32-544) and the calling thread's effective token, as
  // the raw BOOL. Fails when the group's identifier cannot be built or the call fails.
  virtual Fallible<int32_t> AdministratorsMembership() = 0;

  // GetDiskFreeSpaceExW on the text exactly as given: the bytes available to the
  // calling user (quotas included).
  virtual Fallible<uint64_t> FreeBytesForCaller(const Text& directory) = 0;

  // GetVolumePathNameW: the root of the volume the path lies on, mount points followed
  // ("C:\", "C:\mnt\data\", "\\server\share\", "\\?\C:\" for "\\?\C:\x"), with its
  // closing backslash. Fails when the system cannot tell (Wine cannot for shares).
  virtual Fallible<Text> GetVolumePathName(const Text& path) = 0;
};

}  // namespace carryall
