// Simulated Windows for the host tests: the text helpers and the whole machine. The
// parts are in sim_files, sim_resources, sim_threads, sim_ui, sim_machine,
// sim_processes and sim_trust.
#include "platform/sim/sim_platform.h"

namespace carryall::sim {

std::string Narrow(const Text& text) {
  std::string out;
  for (char16_t u : text) out.push_back(u < 0x100 ? static_cast<char>(u) : '?');
  return out;
}

Text Widen(const std::string& latin1) {
  Text out;
  for (char c : latin1) out.push_back(static_cast<unsigned char>(c));
  return out;
}

// ---- the whole machine ----

SimMachine::SimMachine() { UseFaults(faults); }

void SimMachine::UseFaults(FaultPlan& plan) {
  files.faults = &plan;
  code_page.faults = &plan;
  resources.faults = &plan;
  system.faults = &plan;
  threads.faults = &plan;
  ui.faults = &plan;
  machine.faults = &plan;
  processes.faults = &plan;
  trust.faults = &plan;
}

}  // namespace carryall::sim
