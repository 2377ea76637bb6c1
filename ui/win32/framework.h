// Win32 layer of the user interface. A small dialog framework of the project's own, in
// the manner of the Microsoft Foundation Classes whose names the bootstrapper keeps
// (mingw has no MFC): window objects attached to window handles, a modal and a modeless dialog
// built from a dialog resource, data exchange between controls and fields, the
// application's main-window pointer, and control subclassing with reflection, so that a
// static attached to an existing dialog control receives its own messages and the
// notifications its parent gets about it (OnChildNotify, the reflected WM_CTLCOLOR).
//
// Every object lives on the thread that made its window. Window handles map to their
// objects through a window property, so both threads may have dialogs open at once.
#pragma once

#include <windows.h>

#include "platform/platform.h"
#include "platform/win32/win32_platform.h"

namespace carryall::win32 {

class CWnd;

// A window's whole text.
Text WindowText(HWND window);

// Window flags of the framework.
constexpr UINT WF_MODALLOOP = 0x0008;      // the modal loop runs
constexpr UINT WF_CONTINUEMODAL = 0x0010;  // the modal loop goes on while this is set

// Reflected messages: a notification the parent got about a control, handed back to
// that control's own message handling as WM_REFLECT_BASE + the message. The seven
// WM_CTLCOLOR* messages are all reflected as WM_REFLECT_BASE + WM_CTLCOLOR with a
// ReflectedCtlColor block in lParam; a handler that answers no brush leaves the
// colours to the parent.
constexpr UINT WM_REFLECT_BASE = 0xBC00;
constexpr UINT WM_CTLCOLOR_REFLECT = WM_REFLECT_BASE + 0x0019;  // WM_CTLCOLOR
struct ReflectedCtlColor {
  HWND window;  // the control
  HDC dc;       // the device context it paints with
  UINT type;    // CTLCOLOR_STATIC, CTLCOLOR_BTN, ...
};

// The application as far as the user interface needs it: the module whose resources
// the dialogs come from, the string table and code page behind their texts, and the
// main window. One at a time; it registers itself while it lives.
class CWinApp {
 public:
  CWinApp(HINSTANCE instance, IResources& strings, ICodePage& code_page);
  ~CWinApp();
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  HICON LoadIcon(UINT id) const;
  Text LoadString(UINT id) const { return strings.LoadString(id).value_or(Text()); }

  HINSTANCE m_hInstance;
  IResources& strings;
  ICodePage& code_page;
  // Set while a dialog of the main thread is the application's main window; a modal
  // dialog made without a parent is owned by it when it belongs to the same thread.
  // Unlike the framework it stands in for, the main window's end posts no quit
  // request: there is no application message loop to end, and the report that follows
  // a declined question must not be ended by one.
  CWnd* m_pMainWnd = nullptr;
};

CWinApp* AfxGetApp();

// The data exchange of one UpdateData call.
struct CDataExchange {
  CWnd* m_pDlgWnd;
  bool m_bSaveAndValidate;  // true: controls to fields; false: fields to controls
};

// A window object. Attached to a handle either as a dialog (CDialog) or by subclassing
// an existing window (SubclassWindow, SubclassDlgItem); detached when the window is
// destroyed, after which PostNcDestroy runs.
class CWnd {
 public:
  CWnd() = default;
  virtual ~CWnd();  // destroys a window still attached
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;

  // The object attached to a window, or null.
  static CWnd* FromHandlePermanent(HWND window);

  // Routes the window's messages through this object; false when it is already
  // attached or the handle is not a window.
  bool SubclassWindow(HWND window);
  bool SubclassDlgItem(int id, CWnd* parent);
  bool DestroyWindow();

  HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
  DWORD GetStyle() const { return static_cast<DWORD>(::GetWindowLongPtrW(m_hWnd, GWL_STYLE)); }
  HFONT GetFont() const { return reinterpret_cast<HFONT>(::SendMessageW(m_hWnd, WM_GETFONT, 0, 0)); }
  void SetWindowText(const Text& text) { ::SetWindowTextW(m_hWnd, W(text)); }
  Text GetWindowText() const { return WindowText(m_hWnd); }
  BOOL ShowWindow(int command) { return ::ShowWindow(m_hWnd, command); }
  // Centres the window over its owner when that is visible, else on the work area of
  // the screen, keeping it on the work area.
  void CenterWindow();

  HWND m_hWnd = nullptr;

 protected:
  // The window's messages: OnWndMsg first; what it leaves goes to DefWindowProc.
  virtual LRESULT WindowProc(UINT message, WPARAM wparam, LPARAM lparam);
  // Handles a message; false leaves it to the default processing. The base reflects
  // the WM_CTLCOLOR* messages about a control back to that control (OnChildNotify).
  virtual bool OnWndMsg(UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result);
  // A notification that the parent received about this control. The base reflects it
  // (ReflectChildNotify); true when the control handled it, with the answer in result.
  virtual bool OnChildNotify(UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result);
  bool ReflectChildNotify(UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result);
  // The window procedure the window had before it was subclassed.
  virtual LRESULT DefWindowProc(UINT message, WPARAM wparam, LPARAM lparam);
  // The message being handled, to DefWindowProc.
  LRESULT Default();
  // After the window's last message; the object may delete itself here.
  virtual void PostNcDestroy() {}

  void Attach(HWND window);
  void Detach();

 private:
  static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  friend class CDialog;

  WNDPROC m_pfnSuper = nullptr;
  MSG m_current = {};
};

class CStatic : public CWnd {};
class CButton : public CWnd {};
class CEdit : public CWnd {};

// Binds a control to a window object (subclassing it once), or a control's text to a
// field, in the direction of the exchange.
void DDX_Control(CDataExchange* exchange, int id, CWnd& control);
void DDX_Text(CDataExchange* exchange, int id, Text& value);

// A dialog from a dialog resource of the application's module: modal (DoModal, with
// the framework's own modal loop) or modeless (Create). A dialog that is still hidden
// after its initialisation, was not moved by it and has no owner or a disabled one (a
// modal dialog's) is centred as it appears.
class CDialog : public CWnd {
 public:
  explicit CDialog(UINT template_id, CWnd* parent = nullptr) : m_nIDTemplate(template_id), m_pParentWnd(parent) {}

  // Runs the dialog modally: its owner (the parent, else the main window when it
  // belongs to this thread) is disabled meanwhile. Answers what EndDialog was given, or
  // -1 when the dialog could not be made or a quit request ended the loop (the request
  // is posted again for the caller).
  virtual INT_PTR DoModal();
  // Makes the dialog modeless; it shows only when its template says so.
  bool Create(CWnd* parent = nullptr);
  // Ends the modal loop with result, and ends the dialog as the system does (which
  // hides a modeless one).
  void EndDialog(int result);
  // Exchanges data with the controls; the base does it through DoDataExchange.
  bool UpdateData(bool save_and_validate);

  int m_nModalResult = -1;
  UINT m_nFlags = 0;

 protected:
  // The framework's initialisation writes the fields into the controls; answers true,
  // so that the system sets the first focus.
  virtual BOOL OnInitDialog();
  virtual void DoDataExchange(CDataExchange* /*exchange*/) {}
  // OK reads the controls into the fields and ends with IDOK; Cancel ends with IDCANCEL.
  virtual void OnOK();
  virtual void OnCancel();
  bool OnWndMsg(UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result) override;
  // A dialog's default processing is the system's dialog procedure, which the dialog
  // gets by leaving a message unhandled.
  LRESULT DefWindowProc(UINT, WPARAM, LPARAM) override { return 0; }

  UINT m_nIDTemplate;
  CWnd* m_pParentWnd;

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  int RunModalLoop();
};

}  // namespace carryall::win32
