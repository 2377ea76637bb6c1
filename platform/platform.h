// Portable layer. The narrow interfaces through which the bootstrapper's core reaches
// the operating system, one header per concern (files, environment and security,
// resources, threads, user interface; machine.h, processes.h and trust.h), and the
// Platform that hands them to the core. Two implementations stand behind them: platform/win32 (the
// real one) and platform/sim (a simulated Windows for the host tests). Nothing here or
// in the core includes <windows.h>.
#pragma once

#include "base/text.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/resources.h"
#include "platform/threads.h"
#include "platform/ui.h"

namespace carryall {

class IMachineInfo;
class IProcesses;
class ITrust;

// Everything the core needs, handed to it by the entry point or by a test.
struct Platform {
  IFileSystem& files;
  IEnvironment& environment;
  ISecurity& security;
  ICodePage& code_page;
  IResources& resources;
  ISystem& system;
  IThreads& threads;
  IUserInterface& ui;
  IMachineInfo& machine;
  IProcesses& processes;
  ITrust& trust;
};

}  // namespace carryall
