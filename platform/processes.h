// Portable layer. Processes and windows: starting the wizard, waiting for it, finding
// its windows, and the WOW64 file-system redirection around its start.
#pragma once

#include "platform/platform.h"

namespace carryall {

class IProcesses {
 public:
  virtual ~IProcesses() = default;
};

}  // namespace carryall
