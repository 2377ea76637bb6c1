// Win32 layer of the user interface. The dialogs.
#include "ui/win32/dialogs.h"

#include "resources/resource_ids.h"
#include "ui/dialogs.h"

namespace carryall::win32 {

namespace {

HICON AppIcon() {
  CWinApp* app = AfxGetApp();
  return app ? app->LoadIcon(IDI_APP) : nullptr;
}

void SetIcons(HWND window, HICON icon) {
  ::SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
  ::SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}

IResources& Strings() { return AfxGetApp()->strings; }

}  // namespace

// ---- report and question ----

CCarryallInstallerDlg::CCarryallInstallerDlg() : CCarryallInstallerDlg(0, nullptr) {}

CCarryallInstallerDlg::CCarryallInstallerDlg(int question, CWnd* parent)
    : CDialog(IDD_REPORT, parent),
      m_hAppIcon(AppIcon()),
      m_ctlLink(Text(), false),
      m_bQuestion(question != 0) {}

CCarryallInstallerDlg::~CCarryallInstallerDlg() {
  // The dialog goes before its controls' objects do.
  if (m_hWnd) DestroyWindow();
}

void CCarryallInstallerDlg::DoDataExchange(CDataExchange* exchange) {
  DDX_Control(exchange, IDC_HEADING, m_ctlHeading);
  DDX_Text(exchange, IDC_MESSAGE, m_strMessage);
  DDX_Text(exchange, IDC_HEADING, m_strHeading);
  DDX_Control(exchange, IDC_LINK, m_ctlLink);
  DDX_Text(exchange, IDC_LINK, m_strLink);
  DDX_Control(exchange, IDOK, m_btnOK);
  DDX_Control(exchange, IDCANCEL, m_btnCancel);
}

BOOL CCarryallInstallerDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  m_nFlags |= WF_CONTINUEMODAL;

  const ReportDialogPlan plan = PlanReportDialog(Strings(), m_bQuestion);
  if (HMENU menu = ::GetSystemMenu(m_hWnd, FALSE)) {
    if (!plan.about_entry.empty()) {
      ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
      ::AppendMenuW(menu, MF_STRING, kAboutCommand, W(plan.about_entry));
    }
  }
  SetIcons(m_hWnd, m_hAppIcon);
  SetWindowText(plan.caption);
  if (!plan.ok_text.empty()) m_btnOK.SetWindowText(plan.ok_text);
  if (!plan.cancel_text.empty()) m_btnCancel.SetWindowText(plan.cancel_text);
  if (!plan.ok_visible) m_btnOK.ShowWindow(SW_HIDE);
  if (plan.focus_default_button) {
    ::SetFocus(m_btnCancel.m_hWnd);
    return FALSE;  // the focus is set
  }
  return TRUE;
}

bool CCarryallInstallerDlg::OnWndMsg(UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result) {
  switch (message) {
    case WM_SYSCOMMAND:
      if (IsAboutCommand(wparam)) {
        CAboutDlg about;
        about.DoModal();
        *result = 0;
        return true;
      }
      break;  // the system's own commands
    case WM_PAINT:
      if (::IsIconic(m_hWnd)) {
        PaintIcon();
        *result = 0;
        return true;
      }
      break;
    case WM_QUERYDRAGICON:
      *result = reinterpret_cast<LRESULT>(m_hAppIcon);
      return true;
  }
  return CDialog::OnWndMsg(message, wparam, lparam, result);
}

void CCarryallInstallerDlg::PaintIcon() {
  PAINTSTRUCT paint;
  HDC dc = ::BeginPaint(m_hWnd, &paint);
  ::SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT client;
  ::GetClientRect(m_hWnd, &client);
  const Point at = MinimisedIconOrigin(client.right - client.left, client.bottom - client.top,
                                       ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON));
  ::DrawIcon(dc, at.x, at.y, m_hAppIcon);
  ::EndPaint(m_hWnd, &paint);
}

// ---- About ----

CAboutDlg::CAboutDlg() : CDialog(IDD_ABOUTBOX) {}

BOOL CAboutDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  HWND version = GetDlgItem(IDC_ABOUT_VERSION);
  const AboutTexts texts = PlanAbout(Strings(), AfxGetApp()->code_page);
  SetWindowText(texts.caption);
  if (version) ::SetWindowTextW(version, W(texts.version));
  if (HWND notice = GetDlgItem(IDC_ABOUT_COPYRIGHT)) ::SetWindowTextW(notice, W(texts.copyright));
  return TRUE;
}

// ---- splash ----

SplashDlg::SplashDlg(CWnd* parent) : CDialog(IDD_SPLASH, parent), m_hAppIcon(AppIcon()) {}

BOOL SplashDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  SetIcons(m_hWnd, m_hAppIcon);
  FitToPicture();
  return TRUE;
}

void SplashDlg::FitToPicture() {
  // The template's dialog units hold the picture only with one system's font metrics:
  // the window is sized from the picture itself.
  HWND picture = ::GetWindow(m_hWnd, GW_CHILD);
  if (!picture) return;
  // NOLINTNEXTLINE(performance-no-int-to-ptr): STM_GETIMAGE answers the bitmap's handle as an LRESULT
  HBITMAP bitmap = reinterpret_cast<HBITMAP>(::SendMessageW(picture, STM_GETIMAGE, IMAGE_BITMAP, 0));
  BITMAP info = {};
  if (!bitmap || ::GetObjectW(bitmap, sizeof info, &info) == 0) return;

  RECT frame = {0, 0, 0, 0};
  ::AdjustWindowRectEx(&frame, GetStyle(), FALSE, static_cast<DWORD>(::GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE)));
  RECT edge_window, edge_client;
  ::GetWindowRect(picture, &edge_window);
  ::GetClientRect(picture, &edge_client);
  POINT client_origin = {0, 0};
  ::ClientToScreen(picture, &client_origin);
  const Insets edge{client_origin.x - edge_window.left, client_origin.y - edge_window.top,
                    edge_window.right - (client_origin.x + edge_client.right),
                    edge_window.bottom - (client_origin.y + edge_client.bottom)};
  const SplashLayout layout =
      FitSplash(info.bmWidth, info.bmHeight, Insets{-frame.left, -frame.top, frame.right, frame.bottom}, edge,
                ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN));
  ::SetWindowPos(picture, nullptr, layout.picture.left, layout.picture.top, layout.picture.width(),
                 layout.picture.height(), SWP_NOZORDER | SWP_NOACTIVATE);
  ::SetWindowPos(m_hWnd, nullptr, layout.window.left, layout.window.top, layout.window.width(), layout.window.height(),
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

// ---- temporary-folder prompt ----

CTempFolderDialog::CTempFolderDialog(const Text& caption) : CDialog(IDD_TEMP_FOLDER), m_strCaption(caption) {}

CTempFolderDialog::~CTempFolderDialog() {
  if (m_hWnd) DestroyWindow();
}

void CTempFolderDialog::DoDataExchange(CDataExchange* exchange) {
  DDX_Text(exchange, IDC_TEMP_FOLDER_EDIT, m_strDrive);
  DDX_Control(exchange, IDC_TEMP_FOLDER_EDIT, m_edit);
}

BOOL CTempFolderDialog::OnInitDialog() {
  CDialog::OnInitDialog();
  SetWindowText(m_strCaption);
  ::SetFocus(m_edit.m_hWnd);
  ::SendMessageW(m_edit.m_hWnd, EM_SETSEL, 0, -1);
  ::SendMessageW(m_edit.m_hWnd, EM_SCROLLCARET, 0, 0);
  return FALSE;  // the focus is set
}

}  // namespace carryall::win32
