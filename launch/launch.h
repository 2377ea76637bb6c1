// Portable layer. Starting the installer wizard and waiting for it.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

namespace carryall {

class CCarryallInstallerApp;

// The most UTF-16 units CreateProcessW takes as a command line, terminator included.
constexpr uint32_t kMaxCommandLine = 32767;

// Starts program with arguments in the private folder and waits for it; its exit code
// goes to exit_code. Returns the launch status (0 when the wizard ran): E_ABORT when the
// processor mode was refused; E_INVALIDARG when the process could not be created or its
// command line is longer than the system takes (nothing is started then); the system's
// error when the exit code could not be read; WaitFailedResult when a wait for the
// wizard failed (its exit code then stays 0).
int32_t RunProgram(CCarryallInstallerApp& app, const Text& program, const Text& arguments,
                   std::atomic<int32_t>& exit_code);

}  // namespace carryall
