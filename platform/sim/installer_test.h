// Test fixture base for the host tests: a simulated machine with the log and the
// application object wired to it, all new for each test.
#pragma once

#include <gtest/gtest.h>

#include "app/carryall_app.h"
#include "base/log.h"
#include "platform/sim/sim_platform.h"

namespace carryall::sim {

class InstallerTest : public ::testing::Test {
 protected:
  SimMachine machine;
  FileLog log{machine.files, machine.code_page};
  CCarryallInstallerApp app{machine.platform, log};
};

}  // namespace carryall::sim
