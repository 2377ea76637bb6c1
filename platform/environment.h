// Portable layer. The program's environment and the access lists of what it makes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/fallible.h"
#include "base/text.h"

namespace carryall {

// The program's environment: where it runs from and the folders the system names.
class IEnvironment {
 public:
  virtual ~IEnvironment() = default;
  // GetTempPathW.
  virtual Fallible<Text> GetTempPath() = 0;
  // SHGetFolderPathW(no window, csidl, no token, flags 0).
  virtual Fallible<Text> GetFolderPath(int csidl) = 0;
  // GetEnvironmentVariableW; fails with kErrorEnvvarNotFound when it is not set.
  virtual Fallible<Text> GetEnvironmentVariable(const Text& name) = 0;
  // Full path of the running executable (GetModuleFileNameW).
  virtual Fallible<Text> GetModuleFileName() = 0;
};

// Access lists of what the program makes.
class ISecurity {
 public:
  virtual ~ISecurity() = default;
  // Grants the group Everyone the access mask on the folder, inherited by sub-folders
  // and files, keeping the other entries of its access list.
  virtual Status SetFolderAccess(const Text& path, uint32_t mask) = 0;
};

}  // namespace carryall
