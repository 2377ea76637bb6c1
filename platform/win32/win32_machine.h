// Win32 layer. Machine facts for the prerequisite checks: thin calls of the registry,
// version, shell, token and disk APIs with the flags and sizes the checks rely on.
#pragma once

#include <windows.h>

#include "platform/machine.h"

namespace carryall::win32 {

class Win32MachineInfo : public IMachineInfo {
 public:
  std::optional<std::string> ReadRegistryValue(const Text& key, const Text& value, uint32_t capacity) override;
  std::optional<OsVersion> GetVersion() override;
  std::optional<Text> GetSystemFolder() override;
  std::optional<std::string> ReadFixedFileInfo(const Text& path) override;
  std::optional<int32_t> AdministratorsMembership() override;
  std::optional<uint64_t> FreeBytesForCaller(const Text& directory) override;
  std::optional<Text> GetVolumePathName(const Text& path) override;
};

}  // namespace carryall::win32
