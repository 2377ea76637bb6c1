// Portable layer. The private temporary folder: a GUID-named folder below the base
// folder, fixed on first use and opened to everyone, so the wizard and what it starts
// can use it.
#pragma once

#include <array>
#include <cstdint>

#include "platform/platform.h"

namespace carryall {

class CCarryallInstallerApp;

// Process-wide state of the temporary folder, held by the application object.
struct TempFolderState {
  Text base;           // set by every SetTempFolder
  Text private_folder;  // empty until the first GetTempFolder, then fixed
  bool zero_guid = false;
};

constexpr uint32_t kGenericAll = 0x10000000;

// StringFromGUID2's form: braces, upper-case hexadecimal, 38 characters.
Text FormatGuid(const std::array<uint8_t, 16>& guid);

// Records base, creates its last level and proves a file can be made in it.
// 0, or 0x80004005 with "SetTempFolder has failed"; a device ("\\.\CON") fails untouched.
int32_t SetTempFolder(CCarryallInstallerApp& app, const Text& base);

// The private folder's path; the first call names, creates and opens it.
Text GetTempFolder(CCarryallInstallerApp& app);

// Sets the zero-GUID flag; it names the folder only when no folder is named yet.
void SetZeroGuid(CCarryallInstallerApp& app);

// SHCreateDirectoryExW; true when it answered 0.
bool CreateFolder(CCarryallInstallerApp& app, const Text& path);

}  // namespace carryall
