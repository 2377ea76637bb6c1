// Simulated processes and windows for the host tests.
#pragma once

#include "platform/processes.h"

namespace carryall::sim {

class SimProcesses : public IProcesses {};

}  // namespace carryall::sim
