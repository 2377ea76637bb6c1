// Portable layer. Processor mode and file-system redirection.
#include "checks/processor_mode.h"

#include "app/carryall_app.h"
#include "base/string_ids.h"
#include "base/text.h"
#include "platform/processes.h"

namespace carryall {

ProcessorMode ReadProgramType(CCarryallInstallerApp& app) {
  Text type = app.LoadString(kIdsProgramType);
  Log& log = app.log();
  log.Printf(u"ProgramType '%s'\n", type);
  if (EqualsIgnoreCase(type, u"x86")) {
    log.Write(u"Swapping to x86\n");
    return ProcessorMode::kX86;
  }
  if (EqualsIgnoreCase(type, u"x64")) {
    log.Write(u"Swapping to x64\n");
    return ProcessorMode::kX64;
  }
  if (EqualsIgnoreCase(type, u"x32Only")) {
    log.Write(u"Swapping to 32Bit only\n");
    return ProcessorMode::k32BitOnly;
  }
  log.Write(u"Staying on Any\n");
  return ProcessorMode::kAny;
}

bool RedirectionGuard::DecideProcessorMode() {
  ProcessorMode mode = ReadProgramType(app_);
  IProcesses& processes = app_.platform().processes;
  bool wow = processes.IsRunningUnderWow64();
  if ((mode == ProcessorMode::kX64 && !wow) || (mode == ProcessorMode::k32BitOnly && wow)) {
    app_.log().Write(u"Incorrect processor mode with installation type\n");
    return false;
  }
  if (wow && (mode == ProcessorMode::kX64 || mode == ProcessorMode::kAny)) {
    app_.log().Write(u"Enabling 64Bit spawned processes\n");
    processes.DisableFsRedirection();
    redirection_off_ = true;
  }
  return true;
}

void RedirectionGuard::Release() {
  if (!redirection_off_) return;
  app_.log().Write(u"Restoring 32Bit spawned processes\n");
  app_.platform().processes.RevertFsRedirection();
  redirection_off_ = false;
}

}  // namespace carryall
