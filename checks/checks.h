// Portable layer. The prerequisite checks of start-up, run in this order: administrator
// rights, .NET Framework, Windows Installer engine, free disk space. Each answers true
// when the machine passes and records what the report needs in the application object.
#pragma once

namespace carryall {

class CCarryallInstallerApp;

bool IsAdministrator(CCarryallInstallerApp& app);
bool CheckDotNetVersion(CCarryallInstallerApp& app);
bool IsWindowsInstallerUsable(CCarryallInstallerApp& app);
bool CheckFreeDiskSpace(CCarryallInstallerApp& app);

}  // namespace carryall
