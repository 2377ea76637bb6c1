// Host tests of the user interface's portable decisions: the hyperlink's targets and
// colours, the focus frame, the report dialog in both modes, the About texts, the
// splash fitted to its picture.
#include "ui/dialogs.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "base/result_codes.h"
#include "platform/sim/sim_platform.h"
#include "platform/sim/sim_test.h"
#include "ui/static_link.h"

namespace carryall {
namespace {

using sim::Narrow;

// A link control whose system answers come from the test.
class FakeLink : public LinkBehavior {
 public:
  using LinkBehavior::LinkBehavior;
  int id = 1001;
  std::map<uint32_t, Text> strings;
  Text window_text;
  std::map<Text, intptr_t> shell;  // the shell's answer per target; absent: 2 (file not found)
  std::vector<Text> opened;        // every target handed to the shell
  int beeps = 0;
  int redraws = 0;

 protected:
  int ControlId() override { return id; }
  std::optional<Text> LoadControlString(uint32_t string_id) override {
    auto it = strings.find(string_id);
    return it == strings.end() ? std::nullopt : std::optional<Text>(it->second);
  }
  Text ControlText() override { return window_text; }
  intptr_t ShellOpen(const Text& target) override {
    opened.push_back(target);
    auto it = shell.find(target);
    return it == shell.end() ? 2 : it->second;
  }
  void Beep() override { ++beeps; }
  void Redraw() override { ++redraws; }
};

TEST(StaticLinkTest, FollowLinkTriesItsTextThenItsStringEntryThenItsWindowTextThenBeeps) {
  struct Case {
    const char* name;
    Text target;                       // the constructor's link text
    std::map<uint32_t, Text> strings;  // the string table
    Text window_text;
    std::map<Text, intptr_t> shell;
    std::vector<Text> opened;
    bool followed;
    Text kept;  // m_strTarget afterwards
  } cases[] = {
      {"own text opens", u"http://a", {}, u"http://w", {{u"http://a", 42}}, {u"http://a"}, true, u"http://a"},
      {"own text fails, the entry opens",
       u"http://a",
       {{1001, u"http://s"}},
       u"http://w",
       {{u"http://s", 33}},
       {u"http://a", u"http://s"},
       true,
       u"http://s"},
      {"no entry: the window text", u"", {}, u"http://w", {{u"http://w", 42}}, {u"http://w"}, true, u"http://w"},
      {"the entry fails too",
       u"",
       {{1001, u"http://s"}},
       u"http://w",
       {{u"http://w", 42}},
       {u"http://s", u"http://w"},
       true,
       u"http://w"},
      {"32 is a failure", u"", {}, u"http://w", {{u"http://w", 32}}, {u"http://w"}, false, u"http://w"},
      {"a negative answer is a failure", u"", {}, u"http://w", {{u"http://w", -5}}, {u"http://w"}, false, u"http://w"},
      {"empty everywhere: only a beep", u"", {{1001, u""}}, u"", {}, {}, false, u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeLink link(c.target);
    link.strings = c.strings;
    link.window_text = c.window_text;
    link.shell = c.shell;
    EXPECT_EQ(link.FollowLink(), c.followed);
    EXPECT_EQ(link.opened, c.opened);
    EXPECT_EQ(link.m_strTarget, c.kept);
    EXPECT_EQ(link.m_crText, c.followed ? kLinkVisited : kLinkUnvisited);
    EXPECT_EQ(link.redraws, c.followed ? 1 : 0);
    EXPECT_EQ(link.beeps, c.followed ? 0 : 1);
  }
}

TEST(StaticLinkTest, VisitedOnlyAfterASuccessAndForEver) {
  FakeLink link;
  link.window_text = u"http://w";
  EXPECT_FALSE(link.FollowLink());  // the shell cannot open it
  EXPECT_EQ(link.m_crText, kLinkUnvisited);
  link.shell[u"http://w"] = 42;
  EXPECT_TRUE(link.FollowLink());
  EXPECT_EQ(link.m_crText, kLinkVisited);
  link.shell[u"http://w"] = 2;
  link.window_text = u"";
  EXPECT_FALSE(link.FollowLink());  // a later failure beeps and keeps the colour
  EXPECT_EQ(link.m_crText, kLinkVisited);
  EXPECT_EQ(link.beeps, 2);
  EXPECT_EQ(link.opened, (std::vector<Text>{u"http://w", u"http://w", u"http://w"}));
}

TEST(StaticLinkTest, OnlyTextStaticsAreColouredAsLinks) {
  EXPECT_TRUE(ColorsAsLink(0x50000000 | kSsLeft));  // WS_CHILD | WS_VISIBLE | SS_LEFT
  EXPECT_TRUE(ColorsAsLink(kSsRight));
  EXPECT_FALSE(ColorsAsLink(0x03));  // SS_ICON
  EXPECT_FALSE(ColorsAsLink(0x0E));  // SS_BITMAP
  EXPECT_FALSE(ColorsAsLink(0x12));  // SS_ETCHEDFRAME
}

TEST(StaticLinkTest, FocusFrameFollowsTheTextOrTheWindow) {
  // A control at screen (100, 50), client 200 wide, its window one unit larger each side;
  // the text measures 60 by 13.
  const Rect measured{0, 0, 60, 13};
  const Point origin{100, 50};
  const Rect window{99, 49, 301, 71};
  struct Case {
    const char* name;
    uint32_t style;
    Rect measured;
    Rect expected;
  } cases[] = {
      {"left", 0x50000000 | kSsLeft, measured, {99, 49, 161, 64}},
      {"centre: half the free width", kSsCenter, measured, {169, 49, 231, 64}},
      {"centre, odd free width", kSsCenter, {0, 0, 61, 13}, {168, 49, 231, 64}},
      {"centre, text wider than the control: toward zero", kSsCenter, {0, 0, 203, 13}, {98, 49, 303, 64}},
      {"right: all the free width", kSsRight, measured, {239, 49, 301, 64}},
      {"picture: the window", 0x0E, measured, {98, 48, 302, 72}},
      {"no-prefix bits do not change the type", 0x80 | kSsRight, measured, {239, 49, 301, 64}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FocusFrameOnScreen(c.style, c.measured, 200, origin, window), c.expected);
  }
}

class ReportDialogTest : public sim::SimTest {};

TEST_F(ReportDialogTest, ButtonsAndSystemMenuEntryPerMode) {
  struct Case {
    bool question;
    bool ok_visible;
    const char* ok_text;
    const char* cancel_text;
    bool focus_default;
  } cases[] = {
      {false, false, "", "", false},    // error mode: OK hidden, the template's "Cancel" alone
      {true, true, "Yes", "No", true},  // Enter declines like Escape: "No" has the focus
  };
  for (const Case& c : cases) {
    ReportDialogPlan plan = PlanReportDialog(machine.resources, c.question);
    EXPECT_EQ(Narrow(plan.caption), "SQL Carryall");
    EXPECT_EQ(Narrow(plan.about_entry), "&About SQL Carryall...");
    EXPECT_EQ(plan.ok_visible, c.ok_visible);
    EXPECT_EQ(Narrow(plan.ok_text), c.ok_text);
    EXPECT_EQ(Narrow(plan.cancel_text), c.cancel_text);
    EXPECT_EQ(plan.focus_default_button, c.focus_default);
  }
  EXPECT_TRUE(IsAboutCommand(0x10));
  EXPECT_TRUE(IsAboutCommand(0x1F));
  EXPECT_FALSE(IsAboutCommand(0xF060));  // SC_CLOSE
  EXPECT_FALSE(IsAboutCommand(0x20));
}

TEST_F(ReportDialogTest, CaptionsFollowTheProductNameAndAnEmptyMenuTextAddsNoEntry) {
  machine.resources.strings[1] = u"Contoso Tools";
  machine.resources.strings.erase(101);
  ReportDialogPlan plan = PlanReportDialog(machine.resources, true);
  EXPECT_EQ(Narrow(plan.caption), "Contoso Tools");
  EXPECT_TRUE(plan.about_entry.empty());
  AboutTexts about = PlanAbout(machine.resources, machine.code_page);
  EXPECT_EQ(Narrow(about.caption), "About Contoso Tools");
  EXPECT_EQ(Narrow(about.version), "Contoso Tools Version 1.8.2.724");
}

TEST_F(ReportDialogTest, AboutShowsTheVersionConstantsAndTheWidenedNotice) {
  AboutTexts about = PlanAbout(machine.resources, machine.code_page);
  EXPECT_EQ(Narrow(about.caption), "About SQL Carryall");
  EXPECT_EQ(Narrow(about.version), "SQL Carryall Version 1.8.2.724");
  EXPECT_EQ(Narrow(about.copyright), "Copyright (C) 2012-2025 The Carryall Authors");
}

TEST(DialogGeometryTest, MinimisedIconIsCentredRoundingUp) {
  EXPECT_EQ(MinimisedIconOrigin(160, 32, 32, 32), (Point{64, 0}));
  EXPECT_EQ(MinimisedIconOrigin(161, 33, 32, 32), (Point{65, 1}));
}

TEST(DialogGeometryTest, SplashClientAreaIsExactlyThePictureCentredOnTheScreen) {
  struct Case {
    const char* name;
    Insets frame;
    Insets edge;
    Rect window;
    Rect picture;
  } cases[] = {
      {"thin border, picture with a static edge", {1, 1, 1, 1}, {1, 1, 1, 1}, {426, 407, 853, 617}, {-1, -1, 426, 209}},
      {"no border, no edge", {}, {}, {427, 408, 852, 616}, {0, 0, 425, 208}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SplashLayout layout = FitSplash(425, 208, c.frame, c.edge, 1280, 1024);
    EXPECT_EQ(layout.window, c.window);
    EXPECT_EQ(layout.picture, c.picture);
    EXPECT_EQ(layout.window.width() - c.frame.left - c.frame.right, 425);
    EXPECT_EQ(layout.window.height() - c.frame.top - c.frame.bottom, 208);
  }
}

}  // namespace
}  // namespace carryall
