// Simulated processes and windows for the host tests: a child is a script of what it
// does at each 100 ms wait (show a window, end with a code), and a desktop of windows.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "platform/processes.h"
#include "platform/sim/faults.h"

namespace carryall::sim {

class SimProcesses : public IProcesses {
 public:
  struct Window {
    uint32_t process_id = 0;
    uint32_t style = 0;
  };
  // What the next started child does.
  struct Child {
    int windows_after_waits = -1;  // a visible window appears after this many waits; -1 never
    bool hidden_window = false;    // the window it shows lacks the visible style
    int ends_after_waits = 1;      // it ends during this wait (counted from 1)
    uint32_t exit_code = 0;
    bool exit_code_unreadable = false;
    uint32_t exit_code_error = 6;  // ERROR_INVALID_HANDLE
    int wait_fails_from = 0;       // this wait (from 1, waits forever counted too) and all later fail; 0 never
    uint32_t wait_error = 6;       // ERROR_INVALID_HANDLE
  };

  Fallible<bool> IsRunningUnderWow64() override {
    if (Injected(faults, "IProcesses::IsRunningUnderWow64")) return Failed(kErrorProcNotFound);
    return wow64;
  }
  void DisableFsRedirection() override { events.push_back("redirection off"); }
  void RevertFsRedirection() override { events.push_back("redirection on"); }
  Fallible<std::unique_ptr<IProcess>> CreateProcess(std::u16string& command_line) override;
  void EnumWindows(const std::function<bool(WindowHandle)>& visit) override;
  uint32_t GetWindowStyle(WindowHandle window) override;
  uint32_t GetWindowProcessId(WindowHandle window) override;

  bool wow64 = false;
  uint32_t create_error = 2;  // ERROR_FILE_NOT_FOUND, what a failed creation reports
  Child child;
  std::vector<Window> desktop;      // top-level windows in enumeration order
  int window_looks = 0;             // EnumWindows calls
  std::vector<std::string> events;  // "redirection off", "created", "wait 100", "closed", ...
  std::vector<std::u16string> command_lines;
  std::function<void()> on_create;  // runs as the child is created (to look at the log, say)
  FaultPlan* faults = nullptr;
  // When set, a program it does not find is not started, as CreateProcessW finds none.
  std::function<bool(const std::u16string& program)> program_exists;
  int open_processes = 0;   // process objects not yet closed
  int exit_codes_read = 0;  // exit codes handed out of ended children

 private:
  friend class SimProcess;
  uint32_t next_id_ = 4000;
};

}  // namespace carryall::sim
