// Win32 layer. Processes, windows and WOW64 redirection.
#pragma once

#include <windows.h>

#include "platform/processes.h"

namespace carryall::win32 {

class Win32Processes : public IProcesses {};

}  // namespace carryall::win32
