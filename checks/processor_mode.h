// Portable layer. The processor mode the wizard is started in: the build's program
// type (string 0) against the machine, with WOW64 file-system redirection switched off
// only for the moment of the start when a 64-bit wizard may run.
#pragma once

#include "platform/platform.h"

namespace carryall {

class CCarryallInstallerApp;

enum class ProcessorMode { kX86, kX64, k32BitOnly, kAny };

// Reads string 0 and logs what it selects.
ProcessorMode ReadProgramType(CCarryallInstallerApp& app);

// Owned by one launch. Restores redirection when released, on every way out.
class RedirectionGuard {
 public:
  explicit RedirectionGuard(CCarryallInstallerApp& app) : app_(app) {}
  ~RedirectionGuard() { Release(); }
  RedirectionGuard(const RedirectionGuard&) = delete;
  RedirectionGuard& operator=(const RedirectionGuard&) = delete;

  // True to go on with the start, false to refuse the combination.
  bool DecideProcessorMode();
  void Release();

 private:
  CCarryallInstallerApp& app_;
  bool redirection_off_ = false;
};

}  // namespace carryall
