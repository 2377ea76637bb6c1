// Portable layer. The dialogs' texts and geometry.
#include "ui/dialogs.h"

#include "base/format.h"
#include "base/string_ids.h"

namespace carryall {

namespace {
Text Load(IResources& strings, uint32_t id) { return strings.LoadString(id).value_or(Text()); }
}  // namespace

ReportDialogPlan PlanReportDialog(IResources& strings, bool question) {
  ReportDialogPlan plan;
  plan.caption = Load(strings, kIdsProductName);
  plan.about_entry = Format(Load(strings, kIdsAboutMenu), plan.caption);
  plan.ok_visible = question;
  if (question) {
    plan.ok_text = u"Yes";
    plan.cancel_text = u"No";
    plan.focus_default_button = true;
  }
  return plan;
}

AboutTexts PlanAbout(IResources& strings, ICodePage& code_page) {
  const Text product = Load(strings, kIdsProductName);
  AboutTexts texts;
  texts.caption = Format(Load(strings, kIdsAboutCaption), product);
  texts.version = Format(Load(strings, kIdsAboutVersion), product, kVersion[0], kVersion[1], kVersion[2], kVersion[3]);
  texts.copyright = code_page.FromAnsi(kCopyrightNotice);
  return texts;
}

Point MinimisedIconOrigin(int32_t client_width, int32_t client_height, int32_t icon_width, int32_t icon_height) {
  return Point{(client_width - icon_width + 1) / 2, (client_height - icon_height + 1) / 2};
}

SplashLayout FitSplash(int32_t picture_width, int32_t picture_height, const Insets& frame, const Insets& edge,
                       int32_t screen_width, int32_t screen_height) {
  const int32_t width = frame.left + picture_width + frame.right;
  const int32_t height = frame.top + picture_height + frame.bottom;
  SplashLayout layout;
  layout.window.left = (screen_width - width) / 2;
  layout.window.top = (screen_height - height) / 2;
  layout.window.right = layout.window.left + width;
  layout.window.bottom = layout.window.top + height;
  layout.picture = Rect{-edge.left, -edge.top, picture_width + edge.right, picture_height + edge.bottom};
  return layout;
}

}  // namespace carryall
