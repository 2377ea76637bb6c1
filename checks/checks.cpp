// Portable layer. Prerequisite checks. Detection is not wired in yet: each check passes.
#include "checks/checks.h"

namespace carryall {

bool IsAdministrator(CCarryallInstallerApp& /*app*/) { return true; }
bool CheckDotNetVersion(CCarryallInstallerApp& /*app*/) { return true; }
bool IsWindowsInstallerUsable(CCarryallInstallerApp& /*app*/) { return true; }
bool CheckFreeDiskSpace(CCarryallInstallerApp& /*app*/) { return true; }

}  // namespace carryall
