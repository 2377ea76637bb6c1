"""End to end: the bootstrapper's own windows under Wine, driven through peek.exe as a
user would drive them: the report dialog with its message and download link, the link
that opens in the browser and turns purple, the About box from the system menu, the
splash fitted to its picture, and silent runs that show nothing.

    python3 test_ui.py [unittest options]

Bootstrappers: CARRYALL_SMALL_EXE (the shipped settings), CARRYALL_WIZARD_EXE (the
sample wizard, whose exit code and window the run's words steer), CARRYALL_UNSIGNED_EXE
and CARRYALL_PICTURES_EXE (the sample wizard, with the splash and banner that
tests/e2e/CMakeLists.txt makes with make_bmp.py). Tools: CARRYALL_PEEK. The session's browser stand-in appends
every address it is asked to open to CARRYALL_BROWSER_LOG (scripts/wine-env.sh); the
session's X bell is what MessageBeep rings under Wine.

Set CARRYALL_UI_SHOTS to a folder to keep a picture of each window the tests look at.
"""

import os
import unittest

import harness

SMALL_EXE = os.environ.get("CARRYALL_SMALL_EXE")
WIZARD_EXE = os.environ.get("CARRYALL_WIZARD_EXE")
UNSIGNED_EXE = os.environ.get("CARRYALL_UNSIGNED_EXE")
PICTURES_EXE = os.environ.get("CARRYALL_PICTURES_EXE")
PEEK = os.environ.get("CARRYALL_PEEK")

PRODUCT = "SQL Carryall"
DOTNET_MISSING = 0x80110409
RUNTIME_FAILED = 0x80131700
NOT_SIGNED = 0x800B0100
DOTNET_20_PAGE = "https://www.microsoft.com/en-us/download/details.aspx?id=19"
MESSAGE_108 = ("SQL Carryall requires .NET 2. Please download from the Microsoft Download Center "
               "and retry.")
BLUE, PURPLE = (0, 0, 255), (128, 0, 128)
IDOK, IDCANCEL, ABOUT_COMMAND = 1, 2, 0x10
HEADING, MESSAGE, LINK = 1003, 1000, 1001


def setUpModule():
    harness.require_files("CARRYALL_SMALL_EXE", "CARRYALL_WIZARD_EXE", "CARRYALL_UNSIGNED_EXE",
                          "CARRYALL_PICTURES_EXE", "CARRYALL_PEEK")
    harness.open_session()


def tearDownModule():
    harness.close_session()


class UiTestCase(harness.WineTestCase):

    def setUp(self):
        super().setUp()
        self.peek = harness.Peek(self.session, PEEK)
        self.log_path = os.path.join(self.tmp, "run.log")
        self.browser_log = self.session.env["CARRYALL_BROWSER_LOG"]

        self.runs = []

    def tearDown(self):
        # A test that failed half-way leaves its run's dialogs open: cancel them, so
        # that the next test does not find them.
        for exe, run in self.runs:
            for _ in range(20):
                if run.done():
                    break
                self.peek("command", f"exe={os.path.basename(exe)}", IDCANCEL)
                run.wait(0.5)
        super().tearDown()

    def start(self, exe, words="", silent=False):
        """Starts a run with the test's log; the run goes on while the test drives it."""
        line = f'log "{self.session.to_windows(self.log_path)}" {words}'.rstrip()
        if silent:
            line = "/IAgreeToTheEULA " + line
        run = harness.BackgroundRun(self.session, line, exe=exe, cwd=self.tmp)
        self.runs.append((exe, run))
        return run

    def log_text(self):
        return harness.read_bytes(self.log_path).decode(harness.ANSI).replace("\r\n", "\n")

    def opened(self):
        """The addresses the browser has been asked to open in this session so far."""
        if not os.path.exists(self.browser_log):
            return []
        with open(self.browser_log, encoding="utf-8") as f:
            return f.read().splitlines()

    def report(self):
        """The report dialog, once shown."""
        window = self.peek.find(PRODUCT, where=lambda w: w.text(HEADING) == "Error")
        self.assertIsNotNone(window, "the report dialog is shown")
        return window

    def link_colors(self, window):
        """The pure blue and pure purple pixels of the link's text."""
        counts = harness.count_colors(self.session, window.control(LINK).rect, [BLUE, PURPLE])
        return counts[BLUE], counts[PURPLE]

    def keep_picture(self, name, window):
        folder = os.environ.get("CARRYALL_UI_SHOTS")
        if folder:
            os.makedirs(folder, exist_ok=True)
            harness.screenshot(self.session, os.path.join(folder, name), window.rect)

    def close_report(self, run, exit_code):
        self.peek.act("command", PRODUCT, IDCANCEL)
        self.assertExitCode(exit_code, run.result())


class ReportDialogTest(UiTestCase):

    def test_without_dotnet_the_report_offers_the_download_and_cancel_ends_the_run(self):
        with harness.dotnet_keys(self.session, self.tmp, []):
            run = self.start(SMALL_EXE)
            report = self.report()
            self.keep_picture("report-dotnet.png", report)
            self.assertEqual(PRODUCT, report.caption)
            self.assertEqual(["Error", MESSAGE_108, DOTNET_20_PAGE],
                             [report.text(HEADING), report.text(MESSAGE), report.text(LINK)])
            self.assertEqual(["Cancel"], report.visible_buttons())
            self.close_report(run, DOTNET_MISSING)
        self.assertIn(".NET Version Not OK .NET 2 0\n" + MESSAGE_108 + "\n", self.log_text())

    def test_following_the_link_opens_its_address_and_turns_it_purple(self):
        # The wizard's run-time failure gets the .NET 2.0 link too, without touching
        # the registry. Releasing the mouse button over the link and typing a space on
        # it both follow it.
        for name, action in [("button up", ("button-up", PRODUCT, LINK)),
                             ("space", ("char", PRODUCT, LINK, 32))]:
            with self.subTest(name):
                run = self.start(WIZARD_EXE, f"WIZARD_EXIT=0x{RUNTIME_FAILED:x} WIZARD_WINDOW=never")
                report = self.report()
                self.assertEqual(DOTNET_20_PAGE, report.text(LINK))
                blue, purple = self.link_colors(report)
                self.assertGreater(blue, 20, "the link starts blue")
                self.assertEqual(0, purple)
                before = len(self.opened())

                self.peek.act(*action)

                self.assertEqual([DOTNET_20_PAGE], harness.wait_for(lambda: self.opened()[before:]))
                blue, purple = harness.wait_for(lambda: self.link_colors(report), lambda c: c[1] > 20)
                self.keep_picture("report-link-visited.png", report)
                self.assertGreater(purple, 20, "the visited link is purple")
                self.assertLess(blue, purple / 10, "and no longer blue")
                self.close_report(run, RUNTIME_FAILED)

    def test_a_link_without_text_only_beeps_and_stays_blue(self):
        bells = harness.BellWatcher(self.session)
        try:
            run = self.start(WIZARD_EXE, "WIZARD_EXIT=5 WIZARD_WINDOW=never")
            report = self.report()
            self.assertEqual(["SQL Carryall failed with exit code 0x       5.", ""],
                             [report.text(MESSAGE), report.text(LINK)])
            before = len(self.opened())
            self.peek.act("button-up", PRODUCT, LINK)
            self.assertEqual(1, bells.count(), "one beep")
            self.assertEqual([], self.opened()[before:], "nothing opened")
            # Only a text shows the link's colour: give it one, as nothing else would.
            self.peek.act("set-text", PRODUCT, LINK, "still unvisited")
            blue, purple = harness.wait_for(lambda: self.link_colors(report), lambda c: c[0] > 20)
            self.assertGreater(blue, 20, "blue")
            self.assertEqual(0, purple)
            self.close_report(run, 5)
        finally:
            bells.close()

    def test_about_box_opens_from_the_system_menu_and_returns_to_the_report(self):
        # The menu entry itself ("&About SQL Carryall..." after a separator) cannot be
        # read from another process under Wine: ui/win32/dialogs_test.cpp reads it.
        run = self.start(WIZARD_EXE, "WIZARD_EXIT=5 WIZARD_WINDOW=never")
        report = self.report()
        self.peek.act("syscommand", PRODUCT, ABOUT_COMMAND)
        about = self.peek.find(f"About {PRODUCT}")
        self.assertIsNotNone(about, "the About box is shown")
        self.keep_picture("about.png", about)
        self.assertEqual([f"{PRODUCT} Version 1.8.2.724", "Copyright (C) 2012-2025 The Carryall Authors"],
                         [about.text(1001), about.text(1002)])
        self.assertEqual(["OK"], about.visible_buttons())
        self.peek.act("command", f"About {PRODUCT}", IDOK)
        self.assertTrue(self.peek.gone(f"About {PRODUCT}"))
        self.assertEqual(report.rect, self.report().rect, "the report is still there")
        self.close_report(run, 5)


class SplashAndSilenceTest(UiTestCase):

    def test_splash_client_area_is_exactly_its_picture(self):
        run = self.start(WIZARD_EXE, "WIZARD_WINDOW=3000 WIZARD_RUN_MS=100")
        splash = self.peek.find("exe=e2e_wizard.exe")
        self.assertIsNotNone(splash, "the splash is shown")
        self.keep_picture("splash.png", splash)
        self.assertEqual(("", (425, 208)), (splash.caption, splash.client))
        picture = splash.controls[0]
        left, top, right, bottom = splash.rect
        border = (right - left - 425) // 2
        self.assertEqual((left + border, top + border, right - border, bottom - border),
                         (picture.rect[0] + 1, picture.rect[1] + 1, picture.rect[2] - 1, picture.rect[3] - 1),
                         "the picture's client area covers the splash's exactly")
        self.assertExitCode(0, run.result())

    def test_own_splash_is_fitted_to_its_size_and_own_banner_heads_the_report(self):
        # The pictures of tests/e2e/CMakeLists.txt: a 301 by 150 splash and a 500 by 60
        # banner, each one colour inside a frame of one pixel in another.
        splash_fill, splash_frame, banner_fill = (0xC0, 0x20, 0xA0), (0xFF, 0xFF, 0x00), (0x20, 0xA0, 0x40)
        run = self.start(PICTURES_EXE, "WIZARD_WINDOW=3000 WIZARD_RUN_MS=100 WIZARD_EXIT=5")
        splash = self.peek.find("exe=e2e_pictures.exe")
        self.assertIsNotNone(splash, "the splash is shown")
        self.keep_picture("own-splash.png", splash)
        self.assertEqual(("", (301, 150)), (splash.caption, splash.client))
        counts = harness.count_colors(self.session, splash.rect, [splash_fill, splash_frame])
        self.assertEqual({splash_fill: 299 * 148, splash_frame: 2 * 301 + 2 * 148}, counts,
                         "the whole picture, once")
        report = self.report()
        self.keep_picture("own-banner.png", report)
        banner = report.controls[0]
        self.assertEqual("Static", banner.cls)
        # Around a smaller picture the control fills with the colour of its first pixel
        # (the frame's); the inside shows once, whole.
        self.assertEqual({banner_fill: 498 * 58},
                         harness.count_colors(self.session, banner.rect, [banner_fill]))
        self.close_report(run, 5)

    def test_a_restart_required_success_shows_no_report(self):
        for code in (3010, 1641):
            with self.subTest(code=code):
                finish = harness.start_window_watch(self.session, 5000, PEEK)
                result = self.start(WIZARD_EXE, f"WIZARD_EXIT={code} WIZARD_WINDOW=never").result()
                events = finish()
                self.assertExitCode(code, result)
                self.assertEqual([], [e for e in events if e[4] == PRODUCT], "no report dialog")
                self.assertIn(f"The installation needs a restart to complete (exit code {code}).\n",
                              self.log_text())

    def test_silent_runs_show_no_window_of_the_bootstrapper(self):
        # A failed signature, a failed wizard and a whole installation: interactive, each
        # would show a dialog or the splash.
        runs = [(UNSIGNED_EXE, "", NOT_SIGNED), (WIZARD_EXE, "WIZARD_EXIT=5", 5),
                (WIZARD_EXE, "WIZARD_WINDOW=hidden WIZARD_RUN_MS=300", 0)]
        for exe, words, exit_code in runs:
            with self.subTest(exe=os.path.basename(exe), words=words):
                finish = harness.start_window_watch(self.session, 5000, PEEK)
                result = self.start(exe, words, silent=True).result()
                events = finish()
                self.assertExitCode(exit_code, result)
                name = os.path.basename(exe).lower()
                self.assertEqual([], [e for e in events if e[2] == name])


if __name__ == "__main__":
    unittest.main(verbosity=2)
