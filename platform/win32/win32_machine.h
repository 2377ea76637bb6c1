// Win32 layer. Machine facts for the prerequisite checks: thin calls of the registry,
// version, shell, token and disk APIs with the flags and sizes the checks rely on.
#pragma once

#include <windows.h>

#include "platform/machine.h"

namespace carryall::win32 {

class Win32MachineInfo : public IMachineInfo {
 public:
  Fallible<std::string> ReadRegistryValue(const Text& key, const Text& value, uint32_t capacity) override;
  Fallible<OsVersion> GetVersion() override;
  Fallible<Text> GetSystemFolder() override;
  Fallible<std::string> ReadFixedFileInfo(const Text& path) override;
  Fallible<int32_t> AdministratorsMembership() override;
  Fallible<uint64_t> FreeBytesForCaller(const Text& directory) override;
  Fallible<Text> GetVolumePathName(const Text& path) override;
};

}  // namespace carryall::win32
