// Test fixture base for the host tests of one subsystem: a simulated machine with the
// log wired to it, both new for each test. The subsystem's own inputs are built from them.
#pragma once

#include <gtest/gtest.h>

#include "base/log.h"
#include "platform/sim/sim_platform.h"

namespace carryall::sim {

class SimTest : public ::testing::Test {
 protected:
  SimMachine machine;
  FileLog log{machine.files, machine.code_page};
};

}  // namespace carryall::sim
