// Portable layer. What the report, About and splash dialogs show
// and where their windows go, worked out from the string table and from sizes, so the
// host tests see it; the Win32 dialogs (ui/win32/dialogs.h) apply it.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "ui/static_link.h"

namespace carryall {

// The system-menu command of the "&About %s..." entry.
constexpr uint32_t kAboutCommand = 0x10;

// The version the About box shows: constants of the program, equal to the file version
// of the executable's version record, which is not read.
constexpr int kVersion[4] = {1, 8, 2, 724};
// The copyright notice, held as 8-bit text and widened with the thread's ANSI code page.
constexpr char kCopyrightNotice[] = "Copyright (C) 2012-2025 The Carryall Authors";

// WM_SYSCOMMAND: the About entry whatever the low four bits hold.
constexpr bool IsAboutCommand(uintptr_t command) { return (command & 0xFFF0) == kAboutCommand; }

// What OnInitDialog of CCarryallInstallerDlg does in one mode (steps 3, 5 and 6).
struct ReportDialogPlan {
  Text caption;             // the product name
  Text about_entry;         // message 101 with the product name; empty: no separator, no entry
  bool ok_visible = false;  // error mode hides OK and leaves only Cancel
  Text ok_text;             // empty: the template's "OK" stays (it is hidden anyway)
  Text cancel_text;         // empty: the template's "Cancel" stays
  // Question mode gives the focus to the default button, "No", and OnInitDialog returns
  // FALSE: Windows sends Enter to the focused button, so that Enter, like Escape,
  // declines to go on with a file whose signature did not verify. Otherwise the
  // framework's initial focus stands (the first tab stop).
  bool focus_default_button = false;
};
ReportDialogPlan PlanReportDialog(IResources& strings, bool question);

// The texts of the About box (OnInitDialog of CAboutDlg).
struct AboutTexts {
  Text caption;    // message 106, "About %s"
  Text version;    // message 105, "%s Version %d.%d.%d.%d" with kVersion
  Text copyright;  // kCopyrightNotice, widened
};
AboutTexts PlanAbout(IResources& strings, ICodePage& code_page);

// Where a minimised dialog draws its icon: the client area's centre, rounded up.
Point MinimisedIconOrigin(int32_t client_width, int32_t client_height, int32_t icon_width, int32_t icon_height);

// The splash fitted to its picture: the window's client area is exactly the picture,
// framed by the window's own border; the picture control's client area covers that
// client area exactly, its own edge (if any) falling outside; the window is centred on
// the screen.
struct Insets {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
};
struct SplashLayout {
  Rect window;   // screen coordinates
  Rect picture;  // the picture control's window, in the dialog's client coordinates
};
// picture_width/height: the bitmap's size; frame: the window's border around its client
// area (from AdjustWindowRectEx); edge: the picture control's border around its own
// client area; screen: the screen's size.
SplashLayout FitSplash(int32_t picture_width, int32_t picture_height, const Insets& frame, const Insets& edge,
                       int32_t screen_width, int32_t screen_height);

}  // namespace carryall
