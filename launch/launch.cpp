// Portable layer. Starting the installer wizard.
#include "launch/launch.h"

#include "app/carryall_app.h"
#include "app/result_codes.h"
#include "checks/processor_mode.h"
#include "launch/window_iterator.h"
#include "payload/temp_folder.h"
#include "platform/processes.h"

namespace carryall {

namespace {
constexpr uint32_t kPollMs = 100;
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
  std::unique_ptr<IProcess> child = processes.CreateProcess(command_line);
  if (!child) {
    log.Write(u"Run Program returned error\n");
    guard.Release();
    return kInvalidArg;
  }
  guard.Release();

  // The wizard is handed the same log file; it is free while the wizard runs.
  log.Close();
  IProcess::WaitResult waited;
  for (;;) {
    waited = child->Wait(kPollMs);
    if (ProcessHasVisibleWindow(processes, child->id())) {
      app.platform().threads.SetEvent(app.m_hWindowShownEvent);
      break;
    }
    if (waited == IProcess::WaitResult::kSignalled) break;
  }
  if (waited != IProcess::WaitResult::kSignalled) child->Wait(kInfinite);

  uint32_t code = 0;
  uint32_t error = 0;
  if (!child->GetExitCode(code, error)) {
    code = 0;
    status = static_cast<int32_t>(error);
  }
  exit_code = static_cast<int32_t>(code);
  child.reset();

  log.Reopen();
  log.Printf(u"RunProgram returned %d\n", exit_code.load());
  return status;
}

}  // namespace carryall
