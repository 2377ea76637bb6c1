// Portable layer. Starting the installer wizard.
#include "launch/launch.h"

#include "app/carryall_app.h"

namespace carryall {

int32_t RunProgram(CCarryallInstallerApp& /*app*/, const Text& /*program*/, const Text& /*arguments*/,
                   std::atomic<int32_t>& exit_code) {
  // Starting the wizard is not wired in yet: the run ends as if it had exited with 0.
  exit_code = 0;
  return 0;
}

}  // namespace carryall
