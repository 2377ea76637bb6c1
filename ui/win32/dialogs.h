// Win32 layer of the user interface. The bootstrapper's dialogs: the report and
// question dialog, the splash and the About box, and the temporary-folder prompt.
// Their texts and geometry are worked out by the portable ui/dialogs.h.
#pragma once

#include "ui/win32/framework.h"
#include "ui/win32/static_controls.h"

namespace carryall::win32 {

// Dialog resource 102, in error mode (the message and a download link, Cancel alone)
// or question mode ("Yes" and "No"). Its system menu opens the About box.
class CCarryallInstallerDlg : public CDialog {
 public:
  CCarryallInstallerDlg();                            // error mode, no parent
  CCarryallInstallerDlg(int question, CWnd* parent);  // nonzero: question mode
  ~CCarryallInstallerDlg() override;

  HICON m_hAppIcon;
  CStaticEx m_ctlHeading;
  CStaticLink m_ctlLink;
  CButton m_btnOK;
  CButton m_btnCancel;
  bool m_bQuestion;
  Text m_strMessage;
  Text m_strHeading = u"Error";
  Text m_strLink;

 protected:
  void DoDataExchange(CDataExchange* exchange) override;
  BOOL OnInitDialog() override;
  bool OnWndMsg(UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result) override;

 private:
  void PaintIcon();
};

// Dialog resource 100: the product name, the version and the copyright notice.
class CAboutDlg : public CDialog {
 public:
  CAboutDlg();

 protected:
  BOOL OnInitDialog() override;
};

// Dialog resource 131: the picture without caption shown while the worker runs,
// modeless. Sized so that its client area is exactly the picture.
class SplashDlg : public CDialog {
 public:
  explicit SplashDlg(CWnd* parent = nullptr);

  HICON m_hAppIcon;

 protected:
  BOOL OnInitDialog() override;

 private:
  void FitToPicture();
};

// Dialog resource 146: asks for another base folder.
class CTempFolderDialog : public CDialog {
 public:
  explicit CTempFolderDialog(const Text& caption);
  ~CTempFolderDialog() override;

  Text m_strCaption;
  Text m_strDrive;
  CEdit m_edit;

 protected:
  void DoDataExchange(CDataExchange* exchange) override;
  BOOL OnInitDialog() override;
};

}  // namespace carryall::win32
