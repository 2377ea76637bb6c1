// Portable layer. Top-level windows of a process: the probe that tells when the wizard
// first shows a visible window.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/processes.h"

namespace carryall {

// Collects the top-level windows that Accept lets through, up to a capacity.
class CWindowIterator {
 public:
  CWindowIterator(IProcesses& processes, uint32_t capacity);
  virtual ~CWindowIterator() = default;

  // Enumerates every top-level window, then hands out the first collected one.
  WindowHandle FirstWindow();
  // The next collected window, or null after the last.
  WindowHandle NextWindow();

 protected:
  // Stores an accepted window while there is room; the enumeration always goes on.
  virtual bool Collect(WindowHandle window);
  virtual bool Accept(WindowHandle window);

  IProcesses& processes_;

 private:
  std::unique_ptr<WindowHandle[]> m_windows;
  uint32_t m_capacity;
  uint32_t m_stored = 0;
  uint32_t m_cursor = 0;
};

// Accepts the windows of one process, visible ones only when asked.
class CMainWindowIterator : public CWindowIterator {
 public:
  CMainWindowIterator(IProcesses& processes, uint32_t process_id, bool visible_only, uint32_t capacity);

 protected:
  bool Accept(WindowHandle window) override;

 private:
  uint32_t m_processId;
  bool m_visibleOnly;
};

// Whether the process owns a visible top-level window.
bool ProcessHasVisibleWindow(IProcesses& processes, uint32_t process_id);

}  // namespace carryall
