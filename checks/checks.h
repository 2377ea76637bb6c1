// Portable layer. The prerequisite checks of start-up, run in this order: administrator
// rights, .NET Framework, Windows Installer engine, free disk space. Each answers a
// verdict: whether the machine passes, and what a report of its failure needs.
// A check never fails start-up by itself: a false answer is mapped to its result code
// by the caller. Unreadable facts (missing registry keys, failed system calls) are not
// errors; they only make a check answer false.
#pragma once

#include <cstdint>
#include <optional>

#include "base/dotnet_default.h"
#include "base/log.h"
#include "platform/machine.h"
#include "platform/platform.h"

namespace carryall {

// True when the calling thread's token is a member of the built-in Administrators
// group. A token filtered by user account control holds the group for denial only and
// answers false. Logs nothing.
bool IsAdministrator(IMachineInfo& machine);

// The .NET requirement and whether the machine meets it. The version named is the first
// one that the settings switch on, for the report; without one it stays as below.
struct DotNetVerdict {
  bool installed = false;
  Text name = kUnknownDotNetName;
  int32_t major = kUnknownDotNetMajor;
  int32_t service_pack = 0;
};

// Reads settings 138 to 144 from strings and tests the installed versions in order,
// logging each setting and each detected version. Installed when one version that the
// settings switch on is installed at its minimum service-pack level. When setting 202 is
// exactly "0" the build needs no framework: installed, with one log line and nothing read.
DotNetVerdict CheckDotNetVersion(IMachineInfo& machine, IResources& strings, Log& log);

// True on Windows XP (NT 5.1) and later without looking further; on older systems,
// true when the system folder's MSI.DLL has file version 2.0 or later. Logs nothing.
bool IsWindowsInstallerUsable(IMachineInfo& machine);

// The free space of the base folder's volume against what the build asks for.
struct DiskVerdict {
  bool enough = false;
  int64_t required_mb = 0;
  int64_t free_mb = 0;
  // The volume's root as the report names it: "C:" for a folder on drive C's root
  // volume, otherwise the root itself, such as "\\server\share\". Empty when the path
  // cannot be split.
  Text drive;
};

// Compares the space available to the user on the volume of base_folder with
// required_mb (setting 103). A path that cannot be split, a failed query and too little
// space all answer not enough; only the log tells them apart. A device (CON) answers
// enough: it is no folder, and the temporary folder step refuses it.
DiskVerdict CheckFreeDiskSpace(IMachineInfo& machine, Log& log, const Text& base_folder, int64_t required_mb);

struct FileVersion {
  uint16_t major = 0;  // high word of the file version's most significant half
  uint16_t minor = 0;  // its low word
};

// The file version from the file's fixed version information; nullopt when the file
// has none or its block does not carry the fixed-information signature 0xFEEF04BD.
std::optional<FileVersion> ReadFileVersion(IMachineInfo& machine, const Text& path);

}  // namespace carryall
