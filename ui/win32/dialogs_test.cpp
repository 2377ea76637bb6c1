// Tests of the report dialog and its statics in the Win32 layer, cross-built and run
// under Wine in the test's own process, where the system menu can be read (another
// process cannot read it under Wine) and the colour requests can be asked directly.
#include "ui/win32/dialogs.h"

#include <gtest/gtest.h>

#include "platform/win32/win32_platform.h"
#include "resources/resource_ids.h"

namespace carryall::win32 {
namespace {

class ReportDialogTest : public ::testing::Test {
 protected:
  Win32Resources strings{::GetModuleHandleW(nullptr)};
  Win32CodePage code_page;
  CWinApp app{::GetModuleHandleW(nullptr), strings, code_page};
};

std::wstring ItemText(HWND dialog, int id) {
  wchar_t text[512] = L"";
  ::GetDlgItemTextW(dialog, id, text, 512);
  return text;
}

TEST_F(ReportDialogTest, BothModesEndTheSystemMenuWithTheAboutEntryAndShowTheirButtons) {
  struct Case {
    int question;
    const wchar_t* ok;
    bool ok_visible;
    const wchar_t* cancel;
  } cases[] = {{0, L"OK", false, L"Cancel"}, {1, L"Yes", true, L"No"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.question);
    CCarryallInstallerDlg dialog(c.question, nullptr);
    dialog.m_strHeading = u"Heading";
    dialog.m_strMessage = u"Message";
    dialog.m_strLink = u"https://example.test/";
    ASSERT_TRUE(dialog.Create());
    HWND window = dialog.m_hWnd;

    HMENU menu = ::GetSystemMenu(window, FALSE);
    const int count = ::GetMenuItemCount(menu);
    ASSERT_GE(count, 2);
    MENUITEMINFOW separator = {sizeof separator, MIIM_FTYPE};
    ASSERT_TRUE(::GetMenuItemInfoW(menu, count - 2, TRUE, &separator));
    EXPECT_TRUE(separator.fType & MFT_SEPARATOR);
    wchar_t entry[64] = L"";
    ::GetMenuStringW(menu, count - 1, entry, 64, MF_BYPOSITION);
    EXPECT_STREQ(entry, L"&About SQL Carryall...");
    EXPECT_EQ(::GetMenuItemID(menu, count - 1), 0x10u);

    wchar_t caption[64] = L"";
    ::GetWindowTextW(window, caption, 64);
    EXPECT_STREQ(caption, L"SQL Carryall");
    EXPECT_EQ(::SendMessageW(window, WM_GETICON, ICON_BIG, 0), reinterpret_cast<LRESULT>(dialog.m_hAppIcon));
    EXPECT_EQ(::SendMessageW(window, WM_GETICON, ICON_SMALL, 0), reinterpret_cast<LRESULT>(dialog.m_hAppIcon));
    EXPECT_NE(dialog.m_hAppIcon, nullptr);
    EXPECT_EQ(ItemText(window, IDC_HEADING), L"Heading");
    EXPECT_EQ(ItemText(window, IDC_MESSAGE), L"Message");
    EXPECT_EQ(ItemText(window, IDC_LINK), L"https://example.test/");
    EXPECT_EQ(ItemText(window, IDOK), c.ok);
    EXPECT_EQ(::IsWindowVisible(::GetDlgItem(window, IDOK)) != FALSE, c.ok_visible);
    EXPECT_EQ(ItemText(window, IDCANCEL), c.cancel);
    EXPECT_TRUE(::IsWindowVisible(::GetDlgItem(window, IDCANCEL)));
    EXPECT_EQ(::SendMessageW(window, WM_QUERYDRAGICON, 0, 0), reinterpret_cast<LRESULT>(dialog.m_hAppIcon));
    // The question starts on "No", its default button, so that Enter declines.
    if (c.question) EXPECT_EQ(::GetFocus(), ::GetDlgItem(window, IDCANCEL));
  }
}

LOGFONTW SelectedFont(HDC dc) {
  LOGFONTW font = {};
  ::GetObjectW(::GetCurrentObject(dc, OBJ_FONT), sizeof font, &font);
  return font;
}

TEST_F(ReportDialogTest, LinkAndHeadingAnswerTheColourRequestsTheDialogReflectsToThem) {
  CCarryallInstallerDlg dialog;
  ASSERT_TRUE(dialog.Create());
  HWND window = dialog.m_hWnd;
  HWND link = ::GetDlgItem(window, IDC_LINK);
  HDC dc = ::CreateCompatibleDC(nullptr);
  const LRESULT null_brush = reinterpret_cast<LRESULT>(::GetStockObject(NULL_BRUSH));

  ::SetTextColor(dc, RGB(1, 2, 3));
  EXPECT_EQ(::SendMessageW(window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(link)),
            null_brush);
  EXPECT_EQ(::GetTextColor(dc), 0x00FF0000u);
  EXPECT_EQ(::GetBkMode(dc), TRANSPARENT);
  EXPECT_TRUE(SelectedFont(dc).lfUnderline);
  dialog.m_ctlLink.m_crText = 0x00800080;
  ::SendMessageW(window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(link));
  EXPECT_EQ(::GetTextColor(dc), 0x00800080u);

  ::SetTextColor(dc, RGB(1, 2, 3));
  ::SetBkMode(dc, OPAQUE);
  EXPECT_EQ(::SendMessageW(window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                           reinterpret_cast<LPARAM>(::GetDlgItem(window, IDC_HEADING))),
            null_brush);
  const LOGFONTW heading = SelectedFont(dc);
  EXPECT_EQ(heading.lfHeight, 14);
  EXPECT_EQ(heading.lfWeight, FW_BOLD);
  EXPECT_STREQ(heading.lfFaceName, L"Tahoma");
  EXPECT_EQ(::GetTextColor(dc), RGB(1, 2, 3)) << "the heading keeps the default colour";
  EXPECT_EQ(::GetBkMode(dc), TRANSPARENT);

  // The message is an ordinary static: the dialog's own colours.
  EXPECT_NE(::SendMessageW(window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                           reinterpret_cast<LPARAM>(::GetDlgItem(window, IDC_MESSAGE))),
            null_brush);
  ::DeleteDC(dc);

  EXPECT_EQ(::SendMessageW(link, WM_NCHITTEST, 0, 0), HTCLIENT);
  EXPECT_EQ(::SendMessageW(link, WM_GETDLGCODE, 0, 0), DLGC_WANTCHARS);
  EXPECT_TRUE(::SendMessageW(link, WM_SETCURSOR, reinterpret_cast<WPARAM>(link), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)));
  EXPECT_EQ(::GetCursor(), ::LoadCursorW(nullptr, IDC_HAND));
}

}  // namespace
}  // namespace carryall::win32
