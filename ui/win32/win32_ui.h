// Win32 layer of the user interface. The platform's user interface for the core: the
// splash, the question and the report (CCarryallInstallerDlg in its two modes) and the
// temporary-folder prompt, each shown through the dialog framework.
#pragma once

#include <windows.h>

#include "platform/platform.h"
#include "ui/win32/framework.h"

namespace carryall::win32 {

class Win32UserInterface : public IUserInterface {
 public:
  // The dialogs come from module's resources; their texts from strings and code_page.
  Win32UserInterface(HINSTANCE module, IResources& strings, ICodePage& code_page);
  void InitCommonControls() override;
  std::unique_ptr<ISplash> CreateSplash() override;
  int AskQuestion(const Text& heading, const Text& details) override;
  void ShowReport(const Text& message, const Text& link) override;
  int PromptForFolder(const Text& caption, Text& folder) override;

 private:
  CWinApp app_;
};

}  // namespace carryall::win32
