// Portable layer. The hyperlink's decisions.
#include "ui/static_link.h"

namespace carryall {

bool LinkBehavior::OpenTarget() {
  if (m_strTarget.empty()) return false;
  return ShellOpen(m_strTarget) > 32;
}

bool LinkBehavior::FollowLink() {
  bool opened = !m_strTarget.empty() && OpenTarget();
  if (!opened) {
    // An entry that does not exist leaves the target as it was.
    const int id = ControlId();
    std::optional<Text> entry = id >= 0 ? LoadControlString(static_cast<uint32_t>(id)) : std::nullopt;
    if (entry) {
      m_strTarget = *entry;
      opened = OpenTarget();
    }
  }
  if (!opened) {
    m_strTarget = ControlText();
    if (!OpenTarget()) {
      Beep();
      return false;
    }
  }
  m_crText = kLinkVisited;
  Redraw();
  return true;
}

Rect FocusFrameOnScreen(uint32_t style, const Rect& measured, int32_t client_width, Point client_origin,
                        const Rect& window_on_screen) {
  const uint32_t type = style & 0x1F;
  Rect frame = window_on_screen;
  if (type == kSsLeft || type == kSsCenter || type == kSsRight) {
    frame = measured;
    if (type != kSsLeft) {
      const int32_t free_width = client_width - measured.width();
      const int32_t shift = type == kSsRight ? free_width : free_width / 2;  // toward zero
      frame.left += shift;
      frame.right += shift;
    }
    frame.left += client_origin.x;
    frame.right += client_origin.x;
    frame.top += client_origin.y;
    frame.bottom += client_origin.y;
  }
  return Rect{frame.left - 1, frame.top - 1, frame.right + 1, frame.bottom + 1};
}

}  // namespace carryall
