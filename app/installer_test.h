// Test fixture base for the application's host tests: a simulated machine with the log
// and the application object wired to it, all new for each test.
#pragma once

#include "app/carryall_app.h"
#include "platform/sim/sim_test.h"

namespace carryall::sim {

class InstallerTest : public SimTest {
 protected:
  CCarryallInstallerApp app{machine.platform, log};
};

}  // namespace carryall::sim
