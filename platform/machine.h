// Portable layer. Facts about the machine that the prerequisite checks read: the
// registry (read only), the system's version, the user's token, free disk space.
#pragma once

#include "platform/platform.h"

namespace carryall {

class IMachineInfo {
 public:
  virtual ~IMachineInfo() = default;
};

}  // namespace carryall
