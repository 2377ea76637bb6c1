// Test fixture base for the payload's host tests: the payload's own inputs (the private
// folder's state, the resource table and the context the steps take) built from a
// simulated machine, all new for each test.
#pragma once

#include "base/log.h"
#include "payload/payload.h"
#include "payload/resource_table.h"
#include "payload/temp_folder.h"
#include "platform/sim/sim_test.h"

namespace carryall::sim {

// What the payload's steps take, for one simulated machine and its log.
struct PayloadInputs {
  PayloadInputs(SimMachine& machine, Log& log)
      : payload{machine.platform.files,
                machine.platform.environment,
                machine.platform.security,
                machine.platform.system,
                machine.platform.code_page,
                log,
                folder} {}
  TempFolderState folder;
  ResourceTable resources;
  PayloadContext payload;
};

class PayloadTestBase : public SimTest {
 protected:
  PayloadInputs inputs{machine, log};
  TempFolderState& folder = inputs.folder;
  ResourceTable& resources = inputs.resources;
  PayloadContext& payload = inputs.payload;
};

}  // namespace carryall::sim
