// Portable layer. Starting the installer wizard.
#include "launch/launch.h"

#include "base/result_codes.h"
#include "launch/processor_mode.h"
#include "launch/window_iterator.h"
#include "platform/patience.h"

namespace carryall {

namespace {
constexpr uint32_t kPollMs = 100;

// Whether the command line and its terminator fit within what CreateProcessW takes.
bool CommandLineFits(const Text& command_line) { return command_line.size() < kMaxCommandLine; }

// CreateProcessW, tried again while another program (a scanner) holds the wizard's file.
Fallible<std::unique_ptr<IProcess>> Create(const WizardLaunch& launch, const Text& program, Text& command_line) {
  const Text line = command_line;  // the system may write into its buffer
  Patience patience(launch.system, launch.log);
  return patience.Retry(program, /*access_denied_counts=*/true, [&] {
    command_line = line;
    return launch.processes.CreateProcess(command_line);
  });
}

// Starts the wizard in the processor mode the build asks for, the redirection turned
// back on afterwards whatever happens. nullptr with status set when it did not start.
std::unique_ptr<IProcess> StartWizard(const WizardLaunch& launch, const Text& program, Text& command_line,
                                      Result& status) {
  Log& log = launch.log;
  RedirectionGuard guard(launch.processes, log, launch.program_type);
  if (!guard.DecideProcessorMode()) {
    log.Write(u"Run Program, Failed to set processor mode\n");
    guard.Release();
    status = Result::Failure(kAbort);
    return nullptr;
  }
  // A line the system cannot take whole is never handed over to be cut short (Wine cuts
  // it, and the wizard then reads a cut log path): it fails like a failed creation.
  std::unique_ptr<IProcess> child;
  uint32_t error = 0;
  if (CommandLineFits(command_line)) {
    Fallible<std::unique_ptr<IProcess>> created = Create(launch, program, command_line);
    if (created) {
      child = *std::move(created);
    } else {
      error = created.error();
    }
  } else {
    log.Printf(u"Run Program command line is %u characters long, the system takes at most %u\n",
               static_cast<uint32_t>(command_line.size()), kMaxCommandLine - 1);
  }
  if (!child) {
    log.Write(u"Run Program returned error\n");
    if (error != 0) log.Printf(u"Run Program could not start the wizard, error %u\n", error);
    status = Result::Failure(kInvalidArg, error);
  }
  guard.Release();
  return child;
}

// Polls until the wizard shows a window (then tells the main thread) or ends, then
// waits for its end. Where nobody waits for the window, only waits for the end.
Fallible<IProcess::WaitResult> WatchWizard(const WizardLaunch& launch, IProcess& child) {
  using WaitResult = IProcess::WaitResult;
  if (!launch.watch_windows) return child.Wait(kInfinite);
  for (;;) {
    Fallible<WaitResult> waited = child.Wait(kPollMs);
    // A wait that fails would fail again at once: the watch ends rather than spin.
    if (!waited) return waited;
    if (ProcessHasVisibleWindow(launch.processes, child.id())) {
      launch.threads.SetEvent(launch.window_shown);
      return *waited == WaitResult::kTimeout ? child.Wait(kInfinite) : waited;
    }
    if (*waited == WaitResult::kSignalled) return waited;
  }
}

}  // namespace

LaunchOutcome RunProgram(const WizardLaunch& launch, const Text& program, const Text& arguments) {
  LaunchOutcome outcome;
  Log& log = launch.log;

  // CreateProcessW may write into its command line: this buffer is ours.
  Text command_line = u"\"" + program + u"\" " + arguments;
  log.Printf(u"RunProgram program '%s'\n", command_line);
  // The wizard starts in the private folder; where that fails it starts where we are, and
  // finds its files by the full paths it is given.
  (void)launch.files.SetCurrentDirectory(launch.folder);
  std::unique_ptr<IProcess> child = StartWizard(launch, program, command_line, outcome.status);
  if (!child) return outcome;

  // The wizard is handed the same log file; it is free while the wizard runs.
  log.Close();
  const Fallible<IProcess::WaitResult> waited = WatchWizard(launch, *child);
  uint32_t code = 0;
  if (!waited) {
    // The wizard may still run: its exit code is not known, and 259 (STILL_ACTIVE)
    // must not pass for one.
    outcome.status = Result::Failure(WaitFailedResult(waited.error()), waited.error());
  } else if (Fallible<uint32_t> exit_code = child->GetExitCode(); exit_code) {
    code = *exit_code;
  } else {
    outcome.status = Result::Failure(static_cast<int32_t>(exit_code.error()), exit_code.error());
  }
  outcome.exit_code = static_cast<int32_t>(code);
  child.reset();

  log.Reopen();
  if (!waited) log.Printf(u"RunProgram wait for the wizard failed, error %u\n", waited.error());
  log.Printf(u"RunProgram returned %d\n", outcome.exit_code);
  return outcome;
}

}  // namespace carryall
