// Portable layer. Starting the installer wizard.
#include "launch/launch.h"

#include "app/carryall_app.h"
#include "base/result_codes.h"
#include "checks/processor_mode.h"
#include "launch/window_iterator.h"
#include "payload/temp_folder.h"
#include "platform/processes.h"

namespace carryall {

namespace {
constexpr uint32_t kPollMs = 100;

// Whether the command line and its terminator fit within what CreateProcessW takes.
bool CommandLineFits(const Text& command_line) { return command_line.size() < kMaxCommandLine; }
}  // namespace

int32_t RunProgram(CCarryallInstallerApp& app, const Text& program, const Text& arguments,
                   std::atomic<int32_t>& exit_code) {
  exit_code = 0;
  int32_t status = kOk;
  Log& log = app.log();
  IProcesses& processes = app.platform().processes;

  // CreateProcessW may write into its command line: this buffer is ours.
  Text command_line = u"\"" + program + u"\" " + arguments;
  log.Printf(u"RunProgram program '%s'\n", command_line);

  app.platform().files.SetCurrentDirectory(GetTempFolder(app));

  RedirectionGuard guard(app);
  if (!guard.DecideProcessorMode()) {
    log.Write(u"Run Program, Failed to set processor mode\n");
    guard.Release();
    return kAbort;
  }
  // A line the system cannot take whole is never handed over to be cut short (Wine cuts
  // it, and the wizard then reads a cut log path): it fails like a failed creation.
  std::unique_ptr<IProcess> child;
  if (CommandLineFits(command_line)) {
    child = processes.CreateProcess(command_line);
  } else {
    log.Printf(u"Run Program command line is %u characters long, the system takes at most %u\n",
               static_cast<uint32_t>(command_line.size()), kMaxCommandLine - 1);
  }
  if (!child) {
    log.Write(u"Run Program returned error\n");
    guard.Release();
    return kInvalidArg;
  }
  guard.Release();

  // The wizard is handed the same log file; it is free while the wizard runs.
  log.Close();
  using WaitResult = IProcess::WaitResult;
  uint32_t wait_error = 0;
  WaitResult waited;
  for (;;) {
    waited = child->Wait(kPollMs, wait_error);
    // A wait that fails would fail again at once: the watch ends rather than spin.
    if (waited == WaitResult::kFailed) break;
    if (ProcessHasVisibleWindow(processes, child->id())) {
      app.platform().threads.SetEvent(app.m_hWindowShownEvent);
      break;
    }
    if (waited == WaitResult::kSignalled) break;
  }
  if (waited == WaitResult::kTimeout) waited = child->Wait(kInfinite, wait_error);

  uint32_t code = 0;
  if (waited == WaitResult::kFailed) {
    // The wizard may still run: its exit code is not known, and 259 (STILL_ACTIVE)
    // must not pass for one.
    status = WaitFailedResult(wait_error);
  } else {
    uint32_t error = 0;
    if (!child->GetExitCode(code, error)) {
      code = 0;
      status = static_cast<int32_t>(error);
    }
  }
  exit_code = static_cast<int32_t>(code);
  child.reset();

  log.Reopen();
  if (waited == WaitResult::kFailed) log.Printf(u"RunProgram wait for the wizard failed, error %u\n", wait_error);
  log.Printf(u"RunProgram returned %d\n", exit_code.load());
  return status;
}

}  // namespace carryall
