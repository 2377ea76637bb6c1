// Simulated machine facts for the host tests.
#pragma once

#include "platform/machine.h"

namespace carryall::sim {

class SimMachineInfo : public IMachineInfo {};

}  // namespace carryall::sim
