// Portable layer. The processor mode the wizard is started in: the build's program
// type (string 0) against the machine, with WOW64 file-system redirection switched off
// only for the moment of the start when a 64-bit wizard may run.
#pragma once

#include "base/log.h"
#include "platform/processes.h"

namespace carryall {

enum class ProcessorMode { kX86, kX64, k32BitOnly, kAny };

// The mode that the build's program type (string 0) selects; logs it.
ProcessorMode ReadProgramType(const Text& program_type, Log& log);

// Owned by one launch. Restores redirection when released, on every way out.
class RedirectionGuard {
 public:
  RedirectionGuard(IProcesses& processes, Log& log, const Text& program_type)
      : processes_(processes),
        log_(log),
        program_type_(program_type) {}
  ~RedirectionGuard() { Release(); }
  RedirectionGuard(const RedirectionGuard&) = delete;
  RedirectionGuard& operator=(const RedirectionGuard&) = delete;

  // True to go on with the start, false to refuse the combination.
  bool DecideProcessorMode();
  void Release();

 private:
  IProcesses& processes_;
  Log& log_;
  Text program_type_;
  bool redirection_off_ = false;
};

}  // namespace carryall
