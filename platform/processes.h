// Portable layer. Processes and windows: starting the wizard, waiting for it, finding
// its windows, and the WOW64 file-system redirection around its start.
#pragma once

#include <functional>
#include <memory>

#include "platform/platform.h"

namespace carryall {

using WindowHandle = void*;

// A started child process. Destroying it closes the process handle, then the thread
// handle.
class IProcess {
 public:
  enum class WaitResult { kSignalled, kTimeout };
  virtual ~IProcess() = default;
  virtual uint32_t id() const = 0;
  // WaitForSingleObject on the process handle; timeout_ms of 0xFFFFFFFF waits forever.
  virtual Fallible<WaitResult> Wait(uint32_t timeout_ms) = 0;
  // GetExitCodeProcess: the process's exit code.
  virtual Fallible<uint32_t> GetExitCode() = 0;
};

constexpr uint32_t kInfinite = 0xFFFFFFFF;
constexpr uint32_t kWindowStyleVisible = 0x10000000;

class IProcesses {
 public:
  virtual ~IProcesses() = default;

  // IsWow64Process on the current process, through an entry point resolved on first
  // need; fails when the entry point is missing (kErrorProcNotFound) or the call fails.
  virtual Fallible<bool> IsRunningUnderWow64() = 0;
  // Wow64DisableWow64FsRedirection / Wow64RevertWow64FsRedirection on the calling
  // thread with one saved value; no-ops without WOW64 or without the entry points.
  virtual void DisableFsRedirection() = 0;
  virtual void RevertFsRedirection() = 0;

  // CreateProcessW(no application name, command_line (writable), no security
  // attributes, no inheritance, flags 0, inherited environment and directory, a zeroed
  // start-up record). A line of 32,767 units or more (with its terminator it would not
  // fit) fails with kErrorInvalidParameter and is never started cut short.
  virtual Fallible<std::unique_ptr<IProcess>> CreateProcess(std::u16string& command_line) = 0;

  // EnumWindows over every top-level window; visit answers whether to go on.
  virtual void EnumWindows(const std::function<bool(WindowHandle)>& visit) = 0;
  // GetWindowLongW(GWL_STYLE).
  virtual uint32_t GetWindowStyle(WindowHandle window) = 0;
  // GetWindowThreadProcessId's process id.
  virtual uint32_t GetWindowProcessId(WindowHandle window) = 0;
};

}  // namespace carryall
