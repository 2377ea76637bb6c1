// Win32 layer of the user interface. The dialogs as the core asks for them.
#include "ui/win32/win32_ui.h"

#include <commctrl.h>

#include "platform/win32/system_dlls.h"
#include "ui/win32/dialogs.h"

namespace carryall::win32 {

void Win32UserInterface::InitCommonControls() {
  INITCOMMONCONTROLSEX controls = {sizeof(INITCOMMONCONTROLSEX), 0xFF};
  sysdll::InitCommonControlsEx(&controls);
  // In a run that shows windows both threads make them: the main thread its splash, the
  // worker its folder prompt, possibly at the same moment. Under Wine the first window of
  // a session starts the desktop, and the system's control classes (through comctl32 6)
  // are registered on their first use; two threads doing either at once can see a
  // dialog's controls fail and CreateDialog return no window, so the prompt ended before
  // the user saw it. Both are settled here, on the main thread before the worker exists.
  // On Windows the desktop and the classes are already there and these calls only look
  // them up; a silent run makes no window and does not come here.
  ::GetDesktopWindow();
  for (const wchar_t* name : {L"Button", L"Edit", L"Static"}) {
    WNDCLASSEXW info = {};
    info.cbSize = sizeof info;
    ::GetClassInfoExW(/*hInstance=*/nullptr, name, &info);
  }
}

namespace {

class Win32Splash : public ISplash {
 public:
  explicit Win32Splash(std::unique_ptr<SplashDlg> dialog) : dialog_(std::move(dialog)) {}
  ~Win32Splash() override { dialog_->DestroyWindow(); }
  void Show() override { dialog_->ShowWindow(SW_SHOW); }
  void Hide() override { dialog_->ShowWindow(SW_HIDE); }
  void End(int result) override { dialog_->EndDialog(result); }

 private:
  std::unique_ptr<SplashDlg> dialog_;
};

}  // namespace

Win32UserInterface::Win32UserInterface(HINSTANCE module, IResources& strings, ICodePage& code_page)
    : app_(module, strings, code_page) {}

std::unique_ptr<ISplash> Win32UserInterface::CreateSplash() {
  auto dialog = std::make_unique<SplashDlg>(/*parent=*/nullptr);
  if (!dialog->Create()) return nullptr;
  return std::make_unique<Win32Splash>(std::move(dialog));
}

int Win32UserInterface::AskQuestion(const Text& heading, const Text& details) {
  CCarryallInstallerDlg question(/*question=*/1, /*parent=*/nullptr);
  question.m_strHeading = heading;
  question.m_strMessage = details;
  app_.m_pMainWnd = &question;
  const INT_PTR answer = question.DoModal();
  app_.m_pMainWnd = nullptr;
  return static_cast<int>(answer);
}

void Win32UserInterface::ShowReport(const Text& message, const Text& link) {
  CCarryallInstallerDlg report;
  report.m_strMessage = message;
  report.m_strLink = link;
  app_.m_pMainWnd = &report;
  report.DoModal();
  app_.m_pMainWnd = nullptr;
}

int Win32UserInterface::PromptForFolder(const Text& caption, Text& folder) {
  CTempFolderDialog prompt(caption);
  prompt.m_strDrive = folder;
  const INT_PTR answer = prompt.DoModal();
  if (answer == IDOK) folder = prompt.m_strDrive;
  return static_cast<int>(answer);
}

}  // namespace carryall::win32
