// Simulated processes and windows for the host tests.
#include "platform/sim/sim_processes.h"

namespace carryall::sim {

class SimProcess : public IProcess {
 public:
  SimProcess(SimProcesses& owner, uint32_t id, SimProcesses::Child child) : owner_(owner), id_(id), child_(child) {
    ++owner_.open_processes;
  }
  ~SimProcess() override {
    --owner_.open_processes;
    owner_.events.push_back("closed");
  }
  uint32_t id() const override { return id_; }
  Fallible<WaitResult> Wait(uint32_t timeout_ms) override {
    owner_.events.push_back(timeout_ms == kInfinite ? "wait forever" : "wait " + std::to_string(timeout_ms));
    if (Injected(owner_.faults, "IProcess::Wait")) {
      owner_.events.back() += " failed";
      return Failed(kErrorInvalidHandle);
    }
    if (child_.wait_fails_from > 0 && ++all_waits_ >= child_.wait_fails_from) {
      owner_.events.back() += " failed";
      return Failed(child_.wait_error);
    }
    if (ended_) return WaitResult::kSignalled;
    ++waits_;
    if (child_.windows_after_waits >= 0 && waits_ >= child_.windows_after_waits && !shown_) {
      shown_ = true;
      owner_.desktop.push_back({id_, child_.hidden_window ? 0u : kWindowStyleVisible});
    }
    if (timeout_ms == kInfinite || waits_ >= child_.ends_after_waits) {
      End();
      return WaitResult::kSignalled;
    }
    return WaitResult::kTimeout;
  }
  Fallible<uint32_t> GetExitCode() override {
    if (child_.exit_code_unreadable || Injected(owner_.faults, "IProcess::GetExitCode")) {
      return Failed(child_.exit_code_error);
    }
    if (ended_) ++owner_.exit_codes_read;
    return ended_ ? child_.exit_code : 259u;  // STILL_ACTIVE
  }

 private:
  void End() {
    ended_ = true;
    // An ended process's windows are gone.
    auto& d = owner_.desktop;
    for (auto it = d.begin(); it != d.end();) it = it->process_id == id_ ? d.erase(it) : it + 1;
  }
  SimProcesses& owner_;
  uint32_t id_;
  SimProcesses::Child child_;
  int waits_ = 0;
  int all_waits_ = 0;
  bool ended_ = false;
  bool shown_ = false;
};

Fallible<std::unique_ptr<IProcess>> SimProcesses::CreateProcess(std::u16string& command_line) {
  command_lines.push_back(command_line);
  bool found = true;
  if (program_exists) {
    // The program is the line's first word, in double quotes or up to the first blank.
    std::u16string program = command_line.rfind(u"\"", 0) == 0
                                 ? command_line.substr(1, command_line.find(u'"', 1) - 1)
                                 : command_line.substr(0, command_line.find_first_of(u" \t"));
    found = program_exists(program);
  }
  if (!found || Injected(faults, "IProcesses::CreateProcess")) {
    events.push_back("create failed");
    return Failed(create_error);
  }
  events.push_back("created");
  if (on_create) on_create();
  return std::unique_ptr<IProcess>(std::make_unique<SimProcess>(*this, next_id_++, child));
}

void SimProcesses::EnumWindows(const std::function<bool(WindowHandle)>& visit) {
  ++window_looks;
  for (std::size_t i = 0; i < desktop.size(); ++i) {
    if (!visit(reinterpret_cast<WindowHandle>(i + 1))) break;
  }
}

uint32_t SimProcesses::GetWindowStyle(WindowHandle window) {
  std::size_t i = reinterpret_cast<std::size_t>(window) - 1;
  return i < desktop.size() ? desktop[i].style : 0;
}

uint32_t SimProcesses::GetWindowProcessId(WindowHandle window) {
  std::size_t i = reinterpret_cast<std::size_t>(window) - 1;
  return i < desktop.size() ? desktop[i].process_id : 0;
}

}  // namespace carryall::sim
