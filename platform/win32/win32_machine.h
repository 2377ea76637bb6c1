// Win32 layer. Machine facts for the prerequisite checks.
#pragma once

#include <windows.h>

#include "platform/machine.h"

namespace carryall::win32 {

class Win32MachineInfo : public IMachineInfo {};

}  // namespace carryall::win32
