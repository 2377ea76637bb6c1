// Portable layer. Window enumeration by process.
#include "launch/window_iterator.h"

namespace carryall {

namespace {
constexpr uint32_t kProbeCapacity = 1024;
}  // namespace

CWindowIterator::CWindowIterator(IProcesses& processes, uint32_t capacity)
    : processes_(processes),
      m_windows(new WindowHandle[capacity]),
      m_capacity(capacity) {}

WindowHandle CWindowIterator::FirstWindow() {
  processes_.EnumWindows([this](WindowHandle window) { return Collect(window); });
  m_cursor = 0;
  return NextWindow();
}

WindowHandle CWindowIterator::NextWindow() {
  if (!m_windows || m_cursor >= m_stored) return nullptr;
  return m_windows[m_cursor++];
}

bool CWindowIterator::Collect(WindowHandle window) {
  if (Accept(window) && m_stored < m_capacity) m_windows[m_stored++] = window;
  return true;
}

bool CWindowIterator::Accept(WindowHandle /*window*/) { return true; }

CMainWindowIterator::CMainWindowIterator(IProcesses& processes, uint32_t process_id, bool visible_only,
                                         uint32_t capacity)
    : CWindowIterator(processes, capacity),
      m_processId(process_id),
      m_visibleOnly(visible_only) {}

bool CMainWindowIterator::Accept(WindowHandle window) {
  // The owner first: asking about another process's window costs a round trip to the
  // window system each time, and nearly every window belongs to another process, so
  // the style is read only for the few that pass.
  if (processes_.GetWindowProcessId(window) != m_processId) return false;
  return !m_visibleOnly || (processes_.GetWindowStyle(window) & kWindowStyleVisible);
}

bool ProcessHasVisibleWindow(IProcesses& processes, uint32_t process_id) {
  CMainWindowIterator iterator(processes, process_id, /*visible_only=*/true, kProbeCapacity);
  return iterator.FirstWindow() != nullptr;
}

}  // namespace carryall
