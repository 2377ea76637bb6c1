// Portable layer. Processor mode and file-system redirection.
#include "launch/processor_mode.h"

#include "base/text.h"

namespace carryall {

ProcessorMode ReadProgramType(const Text& type, Log& log) {
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
  ProcessorMode mode = ReadProgramType(program_type_, log_);
  IProcesses& processes = processes_;
  // Without the entry point, or when the call fails, the process is taken for a native one.
  const bool wow = processes.IsRunningUnderWow64().value_or(false);
  if ((mode == ProcessorMode::kX64 && !wow) || (mode == ProcessorMode::k32BitOnly && wow)) {
    log_.Write(u"Incorrect processor mode with installation type\n");
    return false;
  }
  if (wow && (mode == ProcessorMode::kX64 || mode == ProcessorMode::kAny)) {
    log_.Write(u"Enabling 64Bit spawned processes\n");
    processes.DisableFsRedirection();
    redirection_off_ = true;
  }
  return true;
}

void RedirectionGuard::Release() {
  if (!redirection_off_) return;
  log_.Write(u"Restoring 32Bit spawned processes\n");
  processes_.RevertFsRedirection();
  redirection_off_ = false;
}

}  // namespace carryall
