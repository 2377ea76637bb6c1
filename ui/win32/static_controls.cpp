// Win32 layer of the user interface. The hyperlink and the bold heading.
#include "ui/win32/static_controls.h"

#include <shellapi.h>

namespace carryall::win32 {

namespace {

// The font selected while answering the colour request draws the text where the static
// selects its own font before asking (Windows); where it asks first and selects its
// own font afterwards (Wine), only the control's own font counts. So the font becomes
// the control's own as well, without a redraw: the paint under way already uses it.
void KeepFont(HWND control, HFONT font) { ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE); }

}  // namespace

// ---- CStaticLink ----

HCURSOR CStaticLink::s_hHandCursor = nullptr;

CStaticLink::CStaticLink(const Text& link, bool auto_delete) : LinkBehavior(link), m_bAutoDelete(auto_delete) {}

CStaticLink::~CStaticLink() {
  if (m_hWnd) DestroyWindow();
  if (m_fontUnderline) ::DeleteObject(m_fontUnderline);
}

void CStaticLink::PostNcDestroy() {
  if (m_bAutoDelete) delete this;
}

int CStaticLink::ControlId() { return ::GetDlgCtrlID(m_hWnd); }

std::optional<Text> CStaticLink::LoadControlString(uint32_t id) {
  CWinApp* app = AfxGetApp();
  if (!app) return std::nullopt;
  Fallible<Text> text = app->strings.LoadString(id);
  if (!text) return std::nullopt;
  return *std::move(text);
}

intptr_t CStaticLink::ShellOpen(const Text& target) {
  return reinterpret_cast<intptr_t>(
      ::ShellExecuteW(nullptr, L"open", W(target), /*lpParameters=*/nullptr, /*lpDirectory=*/nullptr, SW_SHOWNORMAL));
}

void CStaticLink::Beep() { ::MessageBeep(0); }

void CStaticLink::Redraw() { ::InvalidateRect(m_hWnd, nullptr, TRUE); }

HBRUSH CStaticLink::CtlColor(HDC dc) {
  if (!ColorsAsLink(GetStyle())) return nullptr;
  if (!m_fontUnderline) {
    LOGFONTW font = {};
    HFONT own = GetFont();
    if (!own || ::GetObjectW(own, sizeof font, &font) == 0) {
      ::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof font, &font);
    }
    font.lfUnderline = TRUE;
    m_fontUnderline = ::CreateFontIndirectW(&font);
    KeepFont(m_hWnd, m_fontUnderline);
  }
  ::SelectObject(dc, m_fontUnderline);
  ::SetTextColor(dc, m_crText);
  ::SetBkMode(dc, TRANSPARENT);
  return static_cast<HBRUSH>(::GetStockObject(NULL_BRUSH));
}

bool CStaticLink::OnWndMsg(UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result) {
  switch (message) {
    case WM_NCHITTEST:
      // Mouse messages without the notify style.
      *result = kHitClient;
      return true;
    case WM_CTLCOLOR_REFLECT: {
      // NOLINTNEXTLINE(performance-no-int-to-ptr): the reflected message carries its ReflectedCtlColor block in lParam
      HBRUSH brush = CtlColor(reinterpret_cast<ReflectedCtlColor*>(lparam)->dc);
      *result = reinterpret_cast<LRESULT>(brush);
      return brush != nullptr;
    }
    case WM_LBUTTONUP:
      FollowLink();
      *result = 0;
      return true;
    case WM_SETCURSOR:
      if (!s_hHandCursor) s_hHandCursor = ::LoadCursorW(nullptr, IDC_HAND);
      if (!s_hHandCursor) return false;  // the default cursor
      ::SetCursor(s_hHandCursor);
      *result = TRUE;
      return true;
    case WM_GETDLGCODE:
      *result = kWantChars;
      return true;
    case WM_CHAR:
      if (wparam == kSpace) FollowLink();
      *result = 0;
      return true;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      DrawFocusFrame();
      *result = 0;
      return true;
  }
  return CStatic::OnWndMsg(message, wparam, lparam, result);
}

void CStaticLink::DrawFocusFrame() {
  HWND parent = ::GetParent(m_hWnd);
  if (!parent) return;
  const DWORD style = GetStyle();
  RECT measured = {0, 0, 0, 0};
  if (ColorsAsLink(style & 0x1F)) {
    const Text text = GetWindowText();
    HDC dc = ::GetDC(m_hWnd);
    HGDIOBJ old = ::SelectObject(dc, GetFont() ? GetFont() : ::GetStockObject(SYSTEM_FONT));
    ::DrawTextW(dc, W(text), static_cast<int>(text.size()), &measured, DT_CALCRECT);
    ::SelectObject(dc, old);
    ::ReleaseDC(m_hWnd, dc);
  }
  RECT client, window;
  ::GetClientRect(m_hWnd, &client);
  ::GetWindowRect(m_hWnd, &window);
  POINT origin = {0, 0};
  ::ClientToScreen(m_hWnd, &origin);
  const Rect frame = FocusFrameOnScreen(style, Rect{measured.left, measured.top, measured.right, measured.bottom},
                                        client.right - client.left, Point{origin.x, origin.y},
                                        Rect{window.left, window.top, window.right, window.bottom});
  POINT corners[2] = {{frame.left, frame.top}, {frame.right, frame.bottom}};
  ::ScreenToClient(parent, &corners[0]);
  ::ScreenToClient(parent, &corners[1]);
  RECT drawn = {corners[0].x, corners[0].y, corners[1].x, corners[1].y};
  HDC dc = ::GetDC(parent);
  ::DrawFocusRect(dc, &drawn);
  ::ReleaseDC(parent, dc);
}

// ---- CStaticEx ----

CStaticEx::CStaticEx() {
  LOGFONTW font = {};
  font.lfHeight = 14;
  font.lfWeight = FW_BOLD;
  wcscpy(font.lfFaceName, L"Tahoma");
  m_fontBold = ::CreateFontIndirectW(&font);
}

CStaticEx::~CStaticEx() {
  if (m_hWnd) DestroyWindow();
  if (m_fontBold) ::DeleteObject(m_fontBold);
}

bool CStaticEx::OnChildNotify(UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result) {
  const bool handled = CStatic::OnChildNotify(message, wparam, lparam, result);
  if (message != WM_CTLCOLORSTATIC) return handled;
  // NOLINTNEXTLINE(performance-no-int-to-ptr): WM_CTLCOLORSTATIC carries the device context in wParam
  HDC dc = reinterpret_cast<HDC>(wparam);
  if (GetFont() != m_fontBold) KeepFont(m_hWnd, m_fontBold);
  ::SelectObject(dc, m_fontBold);
  ::SetBkMode(dc, TRANSPARENT);
  *result = reinterpret_cast<LRESULT>(::GetStockObject(NULL_BRUSH));
  return true;
}

}  // namespace carryall::win32
