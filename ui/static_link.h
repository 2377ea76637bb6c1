// Portable layer. What the hyperlink static decides: which target a click
// opens, when the text turns purple, and where the focus frame goes. The Win32 control
// (ui/win32/static_controls.h) only turns these decisions into messages and GDI calls.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/platform.h"

namespace carryall {

using ColorRef = uint32_t;  // 0x00BBGGRR, as COLORREF

constexpr ColorRef kLinkUnvisited = 0x00FF0000;  // s_crUnvisited: blue
constexpr ColorRef kLinkVisited = 0x00800080;    // s_crVisited: purple

// Static types (style & 0x1F) and what the link answers for the messages it handles.
constexpr uint32_t kSsLeft = 0, kSsCenter = 1, kSsRight = 2;
constexpr intptr_t kHitClient = 1;     // HTCLIENT
constexpr intptr_t kWantChars = 0x80;  // DLGC_WANTCHARS
constexpr uint32_t kSpace = 32;

// The reflected colour request colours only text statics: a type (style & 0xFF) above
// SS_RIGHT is a picture or a frame and keeps its parent's colours.
constexpr bool ColorsAsLink(uint32_t style) { return (style & 0xFF) <= kSsRight; }

// The state and the click action of CStaticLink. The control supplies what the action
// needs from the system through the protected operations.
class LinkBehavior {
 public:
  explicit LinkBehavior(Text target = Text()) : m_strTarget(std::move(target)) {}
  virtual ~LinkBehavior() = default;

  // Opens m_strTarget with the shell; false at once when it is empty, otherwise whether
  // the shell answered above 32.
  bool OpenTarget();
  // The click: the target text, else the string-table entry of the control's own id,
  // else the control's window text (kept for later clicks); visited colour and a
  // redraw after success, a beep after failure.
  bool FollowLink();

  Text m_strTarget;
  ColorRef m_crText = kLinkUnvisited;

 protected:
  virtual int ControlId() = 0;                                     // GetDlgCtrlID
  virtual std::optional<Text> LoadControlString(uint32_t id) = 0;  // string table
  virtual Text ControlText() = 0;                                  // GetWindowTextW
  virtual intptr_t ShellOpen(const Text& target) = 0;              // ShellExecuteW's value
  virtual void Beep() = 0;                                         // MessageBeep(0)
  virtual void Redraw() = 0;                                       // InvalidateRect(all, erase)
};

struct Point {
  int32_t x = 0;
  int32_t y = 0;
  bool operator==(const Point&) const = default;
};

struct Rect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
  int32_t width() const { return right - left; }
  int32_t height() const { return bottom - top; }
  bool operator==(const Rect&) const = default;
};

// DrawFocusFrame's rectangle on the screen, before it is turned into the parent's
// client coordinates. For a text static (type SS_LEFT, SS_CENTER or SS_RIGHT) the frame
// follows the text: measured is the text's rectangle from DT_CALCRECT on an empty
// rectangle, shifted right by the free width (SS_RIGHT) or half of it rounded toward
// zero (SS_CENTER), placed at the control's client origin. Any other type takes the
// control's window rectangle. Either way the frame is one unit larger on every side.
Rect FocusFrameOnScreen(uint32_t style, const Rect& measured, int32_t client_width, Point client_origin,
                        const Rect& window_on_screen);

}  // namespace carryall
