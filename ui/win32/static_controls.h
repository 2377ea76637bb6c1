// Win32 layer of the user interface. The two custom statics: CStaticLink, a static
// text that acts as a hyperlink, and CStaticEx, a bold heading. Both are attached to
// existing dialog controls by a dialog's data exchange. What the link decides (target
// order, colour, focus frame) is portable, in ui/static_link.h.
#pragma once

// The framework (and with it <windows.h>) comes first: the Windows headers rename
// LoadString and its kind, and every declaration must see the same names.
#include "ui/win32/framework.h"
#include "ui/static_link.h"

namespace carryall::win32 {

class CStaticLink : public CStatic, public LinkBehavior {
 public:
  explicit CStaticLink(const Text& link = Text(), bool auto_delete = false);
  ~CStaticLink() override;  // frees the underline font

  // Draws the dotted focus frame around the text, or removes it when drawn again.
  void DrawFocusFrame();

  HFONT m_fontUnderline = nullptr;
  bool m_bAutoDelete;
  // The system's hand cursor, loaded at the first cursor request of any link.
  static HCURSOR s_hHandCursor;

 protected:
  bool OnWndMsg(UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result) override;
  void PostNcDestroy() override;

  int ControlId() override;
  std::optional<Text> LoadControlString(uint32_t id) override;
  Text ControlText() override { return GetWindowText(); }
  intptr_t ShellOpen(const Text& target) override;
  void Beep() override;
  void Redraw() override;

 private:
  // The reflected colour request: underline font, link colour, transparent, null brush;
  // nothing for a picture or frame.
  HBRUSH CtlColor(HDC dc);
};

// The bold 14-unit Tahoma of the heading, drawn transparently in the default colour.
class CStaticEx : public CStatic {
 public:
  CStaticEx();
  ~CStaticEx() override;

  HFONT m_fontBold = nullptr;

 protected:
  bool OnChildNotify(UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result) override;
};

}  // namespace carryall::win32
