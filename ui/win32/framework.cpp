// Win32 layer of the user interface. The dialog framework.
#include "ui/win32/framework.h"

#include <vector>

namespace carryall::win32 {

namespace {

// The window property that holds a window's object.
constexpr wchar_t kObjectProperty[] = L"Carryall.CWnd";

CWinApp* g_app = nullptr;

bool IsCtlColor(UINT message) { return message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC; }

// Messages whose answer a dialog procedure returns itself rather than in DWLP_MSGRESULT.
bool AnswersDirectly(UINT message) {
  return IsCtlColor(message) || message == WM_INITDIALOG || message == WM_QUERYDRAGICON || message == WM_COMPAREITEM ||
         message == WM_VKEYTOITEM || message == WM_CHARTOITEM;
}

}  // namespace

// ---- application ----

CWinApp::CWinApp(HINSTANCE instance, IResources& strings_, ICodePage& code_page_)
    : m_hInstance(instance),
      strings(strings_),
      code_page(code_page_) {
  g_app = this;
}

CWinApp::~CWinApp() {
  if (g_app == this) g_app = nullptr;
}

HICON CWinApp::LoadIcon(UINT id) const { return ::LoadIconW(m_hInstance, MAKEINTRESOURCEW(id)); }

CWinApp* AfxGetApp() { return g_app; }

// ---- windows ----

CWnd::~CWnd() {
  if (m_hWnd) DestroyWindow();
}

CWnd* CWnd::FromHandlePermanent(HWND window) {
  return window ? static_cast<CWnd*>(::GetPropW(window, kObjectProperty)) : nullptr;
}

void CWnd::Attach(HWND window) {
  m_hWnd = window;
  ::SetPropW(window, kObjectProperty, this);
}

void CWnd::Detach() {
  if (!m_hWnd) return;
  if (m_pfnSuper) {
    ::SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
    m_pfnSuper = nullptr;
  }
  ::RemovePropW(m_hWnd, kObjectProperty);
  m_hWnd = nullptr;
}

bool CWnd::SubclassWindow(HWND window) {
  if (m_hWnd || !::IsWindow(window) || FromHandlePermanent(window)) return false;
  Attach(window);
  // NOLINTNEXTLINE(performance-no-int-to-ptr): SetWindowLongPtrW answers the old window procedure as an integer
  m_pfnSuper = reinterpret_cast<WNDPROC>(
      ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::SubclassProc)));
  return true;
}

bool CWnd::SubclassDlgItem(int id, CWnd* parent) {
  HWND control = parent ? ::GetDlgItem(parent->m_hWnd, id) : nullptr;
  return control && SubclassWindow(control);
}

bool CWnd::DestroyWindow() {
  if (!m_hWnd) return false;
  // WM_NCDESTROY detaches the object; a window of another owner is left alone.
  HWND window = m_hWnd;
  const bool destroyed = ::DestroyWindow(window) != FALSE;
  if (m_hWnd == window && !::IsWindow(window)) Detach();
  return destroyed;
}

void CWnd::CenterWindow() {
  RECT area;
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  RECT around = area;
  HWND owner = ::GetWindow(m_hWnd, GW_OWNER);
  if (owner && ::IsWindowVisible(owner) && !::IsIconic(owner)) ::GetWindowRect(owner, &around);
  RECT window;
  ::GetWindowRect(m_hWnd, &window);
  const LONG width = window.right - window.left, height = window.bottom - window.top;
  LONG left = (around.left + around.right - width) / 2, top = (around.top + around.bottom - height) / 2;
  if (left + width > area.right) left = area.right - width;
  if (top + height > area.bottom) top = area.bottom - height;
  if (left < area.left) left = area.left;
  if (top < area.top) top = area.top;
  ::SetWindowPos(m_hWnd, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

Text WindowText(HWND window) {
  const int length = ::GetWindowTextLengthW(window);
  std::vector<wchar_t> text(static_cast<std::size_t>(length > 0 ? length : 0) + 1);
  const int copied = ::GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
  return FromW(text.data(), static_cast<std::size_t>(copied > 0 ? copied : 0));
}

LRESULT CALLBACK CWnd::SubclassProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  CWnd* object = FromHandlePermanent(window);
  if (!object) return ::DefWindowProcW(window, message, wparam, lparam);
  const LRESULT result = object->WindowProc(message, wparam, lparam);
  if (message == WM_NCDESTROY) {
    object->Detach();
    object->PostNcDestroy();
  }
  return result;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wparam, LPARAM lparam) {
  const MSG outer = m_current;
  m_current = MSG{m_hWnd, message, wparam, lparam, 0, {}};
  LRESULT result = 0;
  if (!OnWndMsg(message, wparam, lparam, &result)) result = DefWindowProc(message, wparam, lparam);
  m_current = outer;
  return result;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wparam, LPARAM lparam) {
  if (m_pfnSuper) return ::CallWindowProcW(m_pfnSuper, m_hWnd, message, wparam, lparam);
  return ::DefWindowProcW(m_hWnd, message, wparam, lparam);
}

LRESULT CWnd::Default() { return DefWindowProc(m_current.message, m_current.wParam, m_current.lParam); }

bool CWnd::OnWndMsg(UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result) {
  if (IsCtlColor(message)) {
    // NOLINTNEXTLINE(performance-no-int-to-ptr): a WM_CTLCOLOR* message carries the control's window in lParam
    CWnd* control = FromHandlePermanent(reinterpret_cast<HWND>(lparam));
    if (control && control != this) return control->OnChildNotify(message, wparam, lparam, result);
  }
  return false;
}

bool CWnd::OnChildNotify(UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result) {
  return ReflectChildNotify(message, wparam, lparam, result);
}

bool CWnd::ReflectChildNotify(UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result) {
  if (!IsCtlColor(message)) return false;
  // NOLINTNEXTLINE(performance-no-int-to-ptr): WM_CTLCOLOR*: the control's window in lParam, its DC in wParam
  ReflectedCtlColor block{reinterpret_cast<HWND>(lparam), reinterpret_cast<HDC>(wparam), message - WM_CTLCOLORMSGBOX};
  LRESULT brush = 0;
  if (!OnWndMsg(WM_CTLCOLOR_REFLECT, 0, reinterpret_cast<LPARAM>(&block), &brush) || brush == 0) return false;
  if (result) *result = brush;
  return true;
}

// ---- data exchange ----

void DDX_Control(CDataExchange* exchange, int id, CWnd& control) {
  if (!control.m_hWnd) control.SubclassDlgItem(id, exchange->m_pDlgWnd);
}

void DDX_Text(CDataExchange* exchange, int id, Text& value) {
  HWND control = exchange->m_pDlgWnd->GetDlgItem(id);
  if (!control) return;
  if (exchange->m_bSaveAndValidate) {
    value = WindowText(control);
  } else {
    ::SetWindowTextW(control, W(value));
  }
}

// ---- dialogs ----

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  // NOLINTNEXTLINE(performance-no-int-to-ptr): WM_INITDIALOG carries CreateDialogParamW's CDialog* in lParam
  if (message == WM_INITDIALOG) reinterpret_cast<CDialog*>(lparam)->Attach(window);
  // Messages that come before WM_INITDIALOG (WM_SETFONT) find no object yet.
  auto* dialog = static_cast<CDialog*>(FromHandlePermanent(window));
  if (!dialog) return FALSE;
  RECT before = {};
  if (message == WM_INITDIALOG) ::GetWindowRect(window, &before);
  const MSG outer = dialog->m_current;
  dialog->m_current = MSG{window, message, wparam, lparam, 0, {}};
  LRESULT result = 0;
  const bool handled = dialog->OnWndMsg(message, wparam, lparam, &result);
  dialog->m_current = outer;
  if (message == WM_INITDIALOG && dialog->m_hWnd == window) {
    RECT after;
    ::GetWindowRect(window, &after);
    HWND owner = ::GetWindow(window, GW_OWNER);
    if (!::IsWindowVisible(window) && after.left == before.left && after.top == before.top &&
        (!owner || !::IsWindowEnabled(owner))) {
      dialog->CenterWindow();
    }
  }
  if (message == WM_NCDESTROY) {
    dialog->Detach();
    dialog->PostNcDestroy();
    return FALSE;
  }
  if (!handled) return FALSE;  // the system's dialog procedure does the default
  if (AnswersDirectly(message)) return static_cast<INT_PTR>(result);
  ::SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
  return TRUE;
}

bool CDialog::Create(CWnd* parent) {
  if (m_hWnd) return false;
  if (parent) m_pParentWnd = parent;
  CWinApp* app = AfxGetApp();
  HWND owner = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
  return ::CreateDialogParamW(app ? app->m_hInstance : ::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_nIDTemplate),
                              owner, &CDialog::DialogProc, reinterpret_cast<LPARAM>(this)) != nullptr;
}

INT_PTR CDialog::DoModal() {
  CWinApp* app = AfxGetApp();
  HWND owner = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
  if (!owner && app && app->m_pMainWnd && app->m_pMainWnd != this && app->m_pMainWnd->m_hWnd &&
      ::GetWindowThreadProcessId(app->m_pMainWnd->m_hWnd, nullptr) == ::GetCurrentThreadId()) {
    owner = app->m_pMainWnd->m_hWnd;
  }
  const bool disable_owner = owner && ::IsWindowEnabled(owner);
  if (disable_owner) ::EnableWindow(owner, FALSE);

  m_nModalResult = -1;
  m_nFlags |= WF_CONTINUEMODAL;
  HWND made =
      ::CreateDialogParamW(app ? app->m_hInstance : ::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_nIDTemplate), owner,
                           &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
  if (made && (m_nFlags & WF_CONTINUEMODAL)) RunModalLoop();
  m_nFlags &= ~(WF_CONTINUEMODAL | WF_MODALLOOP);

  // Hide first, so that the owner is active again before this window goes.
  if (m_hWnd) {
    ::SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0,
                   SWP_HIDEWINDOW | SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_NOZORDER);
  }
  if (disable_owner) ::EnableWindow(owner, TRUE);
  if (owner && m_hWnd && ::GetActiveWindow() == m_hWnd) ::SetActiveWindow(owner);
  DestroyWindow();
  return m_nModalResult;
}

int CDialog::RunModalLoop() {
  m_nFlags |= WF_MODALLOOP;
  // A template without WS_VISIBLE is shown now, after its initialisation.
  if (!::IsWindowVisible(m_hWnd)) ::ShowWindow(m_hWnd, SW_SHOWNORMAL);
  MSG message;
  while (m_nFlags & WF_CONTINUEMODAL) {
    const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) {
      // A quit request ends the dialog and is left for the caller's own loop.
      ::PostQuitMessage(static_cast<int>(message.wParam));
      m_nModalResult = -1;
      break;
    }
    if (got == -1) break;
    if (!m_hWnd || !::IsDialogMessageW(m_hWnd, &message)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
  }
  m_nFlags &= ~WF_MODALLOOP;
  return m_nModalResult;
}

void CDialog::EndDialog(int result) {
  if (m_nFlags & (WF_MODALLOOP | WF_CONTINUEMODAL)) {
    m_nModalResult = result;
    if (m_nFlags & WF_CONTINUEMODAL) {
      m_nFlags &= ~WF_CONTINUEMODAL;
      if (m_hWnd) ::PostMessageW(m_hWnd, WM_NULL, 0, 0);  // wakes the loop up
    }
  }
  if (m_hWnd) ::EndDialog(m_hWnd, result);
}

bool CDialog::UpdateData(bool save_and_validate) {
  if (!m_hWnd) return false;
  CDataExchange exchange{this, save_and_validate};
  DoDataExchange(&exchange);
  return true;
}

BOOL CDialog::OnInitDialog() {
  UpdateData(false);
  return TRUE;
}

void CDialog::OnOK() {
  if (!UpdateData(true)) return;
  EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

bool CDialog::OnWndMsg(UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result) {
  switch (message) {
    case WM_INITDIALOG:
      *result = OnInitDialog();
      return true;
    case WM_COMMAND:
      // Buttons and the keys the dialog manager turns into commands (Enter, Escape).
      if (HIWORD(wparam) == BN_CLICKED || lparam == 0) {
        if (LOWORD(wparam) == IDOK) {
          OnOK();
          return true;
        }
        if (LOWORD(wparam) == IDCANCEL) {
          OnCancel();
          return true;
        }
      }
      break;
  }
  return CWnd::OnWndMsg(message, wparam, lparam, result);
}

}  // namespace carryall::win32
