// Portable layer. The prerequisite checks of start-up, run in this order: administrator
// rights, .NET Framework, Windows Installer engine, free disk space. Each answers true
// when the machine passes and records what the report needs in the application object.
// A check never fails start-up by itself: a false answer is mapped to its result code
// by the caller. Unreadable facts (missing registry keys, failed system calls) are not
// errors; they only make a check answer false.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/machine.h"

namespace carryall {

class CCarryallInstallerApp;

// True when the calling thread's token is a member of the built-in Administrators
// group. A token filtered by user account control holds the group for denial only and
// answers false. Logs nothing.
bool IsAdministrator(CCarryallInstallerApp& app);

// Reads settings 138 to 144, records the required version (m_strDotNetName,
// m_nDotNetMajor, m_nDotNetServicePack) and tests the installed versions in order,
// logging each setting and each detected version. True when one version that the
// settings switch on is installed at its minimum service-pack level. When setting 202 is
// exactly "0" the build needs no framework: true, with one log line and nothing read.
bool CheckDotNetVersion(CCarryallInstallerApp& app);

// True on Windows XP (NT 5.1) and later without looking further; on older systems,
// true when the system folder's MSI.DLL has file version 2.0 or later. Logs nothing.
bool IsWindowsInstallerUsable(CCarryallInstallerApp& app);

// Compares the space available to the user on the volume of m_strTempFolder with
// setting 103 (megabytes); records m_nRequiredMB, m_nFreeMB and m_strDiskDrive (the
// volume's root as the report names it: "C:" for a folder on drive C's root volume,
// otherwise the root itself, such as "\\server\share\"). A path that cannot be split, a
// failed query and too little space all answer false; only the log tells them apart. A
// device (CON) answers true: it is no folder, and the temporary folder step refuses it.
bool CheckFreeDiskSpace(CCarryallInstallerApp& app);

struct FileVersion {
  uint16_t major = 0;  // high word of the file version's most significant half
  uint16_t minor = 0;  // its low word
};

// The file version from the file's fixed version information; nullopt when the file
// has none or its block does not carry the fixed-information signature 0xFEEF04BD.
std::optional<FileVersion> ReadFileVersion(IMachineInfo& machine, const Text& path);

}  // namespace carryall
