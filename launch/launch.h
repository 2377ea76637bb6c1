// Portable layer. Starting the installer wizard and waiting for it.
#pragma once

#include <cstdint>

#include "base/log.h"
#include "base/result.h"
#include "platform/platform.h"
#include "platform/processes.h"

namespace carryall {

// The most UTF-16 units CreateProcessW takes as a command line, terminator included.
constexpr uint32_t kMaxCommandLine = 32767;

// What a launch uses.
struct WizardLaunch {
  IProcesses& processes;
  IThreads& threads;
  IFileSystem& files;
  ISystem& system;  // the clock that waits for a program that holds the wizard's file
  Log& log;
  Text program_type;         // the build's processor mode (string 0)
  EventHandle window_shown;  // set when the wizard shows its first visible window
  // Whether anyone waits for that window (a splash to end). Otherwise the wizard's windows
  // are never looked for: the look makes the window system start up in this process,
  // which a silent run has no other use for.
  bool watch_windows = true;
  Text folder;  // the private folder, the wizard's current directory
};

struct LaunchOutcome {
  // 0 when the wizard ran; E_ABORT when the processor mode was refused; E_INVALIDARG when
  // the process could not be created (with the system's error) or its command line is
  // longer than the system takes (nothing is started then); the system's error when the
  // exit code could not be read; WaitFailedResult when a wait for the wizard failed.
  Result status;
  int32_t exit_code = 0;  // the wizard's; 0 when it is not known
};

// Starts program with arguments in the private folder and waits for it.
LaunchOutcome RunProgram(const WizardLaunch& launch, const Text& program, const Text& arguments);

}  // namespace carryall
