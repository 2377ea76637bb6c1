// Portable layer. Starting the installer wizard and waiting for it.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

namespace carryall {

class CCarryallInstallerApp;

// Starts program with arguments in the private folder and waits for it; its exit code
// goes to exit_code. Returns the launch status (0 when the wizard ran).
int32_t RunProgram(CCarryallInstallerApp& app, const Text& program, const Text& arguments,
                   std::atomic<int32_t>& exit_code);

}  // namespace carryall
