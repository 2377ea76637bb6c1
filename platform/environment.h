// Portable layer. The program's environment and the access lists of what it makes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/text.h"

namespace carryall {

// The program's environment: where it runs from and the folders the system names.
class IEnvironment {
 public:
  virtual ~IEnvironment() = default;
  // GetTempPathW; nullopt on failure.
  virtual std::optional<Text> GetTempPath() = 0;
  // SHGetFolderPathW(no window, csidl, no token, flags 0); nullopt on failure.
  virtual std::optional<Text> GetFolderPath(int csidl) = 0;
  // GetEnvironmentVariableW; nullopt when the variable is not set.
  virtual std::optional<Text> GetEnvironmentVariable(const Text& name) = 0;
  // Full path of the running executable (GetModuleFileNameW).
  virtual Text GetModuleFileName() = 0;
};

// Access lists of what the program makes.
class ISecurity {
 public:
  virtual ~ISecurity() = default;
  // Grants the group Everyone the access mask on the folder, inherited by sub-folders
  // and files, keeping the other entries of its access list. Failures are silent.
  virtual void SetFolderAccess(const Text& path, uint32_t mask) = 0;
};

}  // namespace carryall
