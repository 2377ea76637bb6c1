"""End to end: a whole installation under Wine. The bootstrapper unpacks the sample
wizard, starts it in the private folder with the composed command line, watches for its
window, waits for its exit code, removes the folder and exits with the wizard's code.

    python3 test_launch.py [unittest options]

Bootstrappers come from CARRYALL_WIZARD_EXE (the sample wizard with a little data) and
CARRYALL_X64_EXE (the same, built for 64-bit Windows only); the window peek tool from
CARRYALL_PEEK. The wizard is steered by bare words, which reach it unchanged.
"""

import os
import re
import subprocess
import unittest

import harness

WIZARD_EXE = os.environ.get("CARRYALL_WIZARD_EXE")
X64_EXE = os.environ.get("CARRYALL_X64_EXE")
PEEK = os.environ.get("CARRYALL_PEEK")
SCANNER = os.environ.get("CARRYALL_SCANNER")

E_ABORT = 0x80004004
DOTNET_RUNTIME_FAILED = 0x80131700


def setUpModule():
    harness.require_files("CARRYALL_WIZARD_EXE", "CARRYALL_X64_EXE", "CARRYALL_PEEK", "CARRYALL_SCANNER")
    harness.open_session()


def tearDownModule():
    harness.close_session()


class LaunchTestCase(harness.WineTestCase):

    def setUp(self):
        super().setUp()
        self.base = os.path.join(self.tmp, "base")
        os.makedirs(self.base)
        self.log_path = os.path.join(self.tmp, "install.log")

    def run_bootstrapper(self, words, silent=True, exe=None):
        line = (f'log "{self.session.to_windows(self.log_path)}" '
                f'temp "{self.session.to_windows(self.base)}" {words}')
        if silent:
            line = "/IAgreeToTheEULA " + line
        return self.session.run(line, exe=exe or WIZARD_EXE, cwd=self.tmp)

    def log_text(self):
        return harness.read_bytes(self.log_path).decode(harness.ANSI).replace("\r\n", "\n")

    def watch(self, milliseconds, process=None):
        """Starts recording visible top-level windows (and the start and end of the named
        process); returns a function that waits for the recording and answers its events
        as (time, show|hide|started|ended, exe, class, caption) tuples."""
        return harness.start_window_watch(self.session, milliseconds, PEEK, process)


class SilentInstallationTest(LaunchTestCase):

    def test_wizard_gets_exactly_the_composed_command_line_in_the_private_folder(self):
        result = self.run_bootstrapper("PRODUCTKEY=ABC-123 WIZARD_RUN_MS=200")
        self.assertExitCode(0, result)
        log = self.log_text()
        started = re.search(r"RunProgram program '(?P<line>.*)'\n", log)
        self.assertIsNotNone(started, log)
        command_line = started["line"]
        folder = re.fullmatch(r'"(?P<folder>.*)\\wizard app\.exe" .*', command_line)["folder"]
        self.assertEqual(self.session.to_windows(self.base), folder.rsplit("\\", 1)[0])
        # Options in the order of the bootstrapper's 17-bucket map, VH_I last.
        self.assertEqual(f'"{folder}\\wizard app.exe" PRODUCTKEY=ABC-123 '
                         f'/temp "{self.session.to_windows(self.base)}" /IAgreeToTheEULA WIZARD_RUN_MS=200 '
                         f'/log "{self.session.to_windows(self.log_path)}" VH_I="SQL Carryall" ', command_line)
        # What the wizard itself received and saw, between the bootstrapper's lines.
        wizard_part = log.split(started[0], 1)[1].split("RunProgram returned 0\n", 1)[0]
        self.assertEqual([
            f"Wizard: command line {command_line}",
            f"Wizard: working directory {folder}",
            "Wizard: beside me data.bin",
            "Wizard: beside me readme.txt",
            "Wizard: beside me wizard app.exe",
            "Wizard: exit code 0",
        ], wizard_part.replace("ProgramType 'x86'\nSwapping to x86\n", "").splitlines())
        self.assertIn("RunProgram returned 0\nRemove folder 'Yes'\n", log)
        self.assertEqual([], os.listdir(self.base), "the private folder is removed")
        self.assertNotIn("Enabling 64Bit spawned processes", log)

    def test_wizard_exit_codes_become_the_exit_code(self):
        cases = [
            (1603, "SQL Carryall failed with exit code 0x     643."),
            (DOTNET_RUNTIME_FAILED,
             "SQL Carryall requires .NET 2. Please download from the Microsoft Download Center and retry.\r\n"
             "(.NET 4 was detected.)"),
        ]
        for code, message in cases:
            with self.subTest(code=hex(code)):
                result = self.run_bootstrapper(f"WIZARD_EXIT=0x{code:x} WIZARD_RUN_MS=100")
                self.assertExitCode(code, result)
                log = self.log_text()
                signed = code - (1 << 32) if code >= 1 << 31 else code
                self.assertIn(f"Wizard: exit code {signed}\nRunProgram returned {signed}\n", log)
                # The message's own CR LF reaches the text-mode file as CR CR LF.
                self.assertIn(message + "\n", log)

    def test_program_type_for_64_bit_windows_is_refused_on_a_32_bit_system(self):
        result = self.run_bootstrapper("WIZARD_RUN_MS=100", exe=X64_EXE)
        self.assertExitCode(E_ABORT, result)
        log = self.log_text()
        self.assertIn("ProgramType 'x64'\nSwapping to x64\nIncorrect processor mode with installation type\n"
                      "Run Program, Failed to set processor mode\n", log)
        self.assertNotIn("Wizard:", log)
        self.assertIn("SQL Carryall failed to switch into processor mode (x64)\n", log)
        self.assertIn("Remove folder 'Yes'\n", log)

    def test_a_file_the_wizard_leaves_locked_for_a_while_is_waited_for(self):
        # The helper holds held.dat without sharing for 4 s from the wizard's start, and
        # runs from the wizard's own image: the clean-up waits for both, and all goes.
        result = self.run_bootstrapper("WIZARD_LOCK=held.dat WIZARD_RUN_MS=600")
        self.assertExitCode(0, result)
        self.assertEqual([], os.listdir(self.base))
        # Deleting the image of a running program is refused with access denied.
        self.assertRegex(self.log_text(), r"\\wizard app\.exe is refused for now \(error 5\): "
                                          r"trying again in 100 ms\n")

    def test_a_process_the_wizard_leaves_running_does_not_hold_up_the_run(self):
        result = self.run_bootstrapper("WIZARD_CHILD=2000 WIZARD_RUN_MS=100")
        self.assertExitCode(0, result)
        self.assertIn("RunProgram returned 0\n", self.log_text())


class SplashTest(LaunchTestCase):
    """Interactive runs: the splash shows while the payload is unpacked and goes when
    the wizard's own window appears, or after the worker when it never does."""

    def events_of(self, events, exe, what):
        return [e for e in events if e[2] == exe and e[1] == what]

    def test_splash_goes_when_the_wizards_window_appears(self):
        finish = self.watch(10000)
        result = self.run_bootstrapper("WIZARD_WINDOW=800 WIZARD_RUN_MS=2500", silent=False)
        events = finish()
        self.assertExitCode(0, result)
        splash_shown = self.events_of(events, "e2e_wizard.exe", "show")
        splash_hidden = self.events_of(events, "e2e_wizard.exe", "hide")
        wizard_shown = [e for e in self.events_of(events, "wizard app.exe", "show") if e[4] == "SQL Carryall Setup"]
        wizard_hidden = self.events_of(events, "wizard app.exe", "hide")
        self.assertEqual(1, len(splash_shown), events)
        self.assertEqual("", splash_shown[0][4], "the splash has no caption")
        self.assertEqual(1, len(wizard_shown), events)
        self.assertEqual(1, len(splash_hidden), events)
        self.assertLessEqual(splash_shown[0][0], wizard_shown[0][0])
        self.assertLessEqual(wizard_shown[0][0], splash_hidden[0][0])
        self.assertLess(splash_hidden[0][0], wizard_hidden[0][0], "the splash goes while the wizard still runs")

    def test_splash_ends_after_the_worker_when_the_wizard_shows_no_window(self):
        finish = self.watch(9000, process="wizard app.exe")
        result = self.run_bootstrapper("WIZARD_WINDOW=never WIZARD_RUN_MS=1500", silent=False)
        events = finish()
        self.assertExitCode(0, result)
        self.assertEqual([], self.events_of(events, "wizard app.exe", "show"))
        moments = [(e[1], e[2]) for e in events if e[2] in ("e2e_wizard.exe", "wizard app.exe")]
        # The watcher sees the windows and the wizard's process in one look every 20 ms,
        # so this is the order of what happened, to within one look. The worker runs
        # beside the splash's creation, so a small payload's wizard may start before the
        # splash is on screen; what matters is that it stays until the wizard has ended.
        shown, ended = ("show", "e2e_wizard.exe"), ("ended", "wizard app.exe")
        self.assertEqual([("started", "wizard app.exe"), ended, ("hide", "e2e_wizard.exe")],
                         [m for m in moments if m != shown], "the splash stays for the whole wizard run")
        self.assertEqual(1, moments.count(shown), moments)
        self.assertLess(moments.index(shown), moments.index(ended), moments)

    def test_silent_run_shows_no_window_of_its_own(self):
        finish = self.watch(5000)
        result = self.run_bootstrapper("WIZARD_WINDOW=hidden WIZARD_RUN_MS=800")
        events = finish()
        self.assertExitCode(0, result)
        self.assertEqual([], [e for e in events if e[2] in ("e2e_wizard.exe", "wizard app.exe")])


PENDING_KEY = r"HKLM\System\CurrentControlSet\Control\Session Manager"


class ScannerTest(LaunchTestCase):
    """A scanner holds a payload file (reading, sharing reading only) from the wizard's
    end: the clean-up waits a few seconds for it, and what stays held is left for the
    system to delete as it next starts. The run's exit code stays the wizard's."""

    ZERO = "{00000000-0000-0000-0000-000000000000}"

    def run_with_scanner(self, hold_ms):
        held = os.path.join(self.base, self.ZERO, "data.bin")
        out_path = os.path.join(self.tmp, "scanner.out")
        with open(out_path, "wb") as out:
            scanner = subprocess.Popen(["wine", SCANNER, self.session.to_windows(held), "wizard app.exe",
                                        str(hold_ms)], env=self.session.env, stdout=out,
                                       stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
            try:
                result = self.run_bootstrapper("/zeroguid WIZARD_EXIT=5 WIZARD_RUN_MS=300")
            finally:
                scanner.wait(timeout=hold_ms / 1000 + 60)
        self.assertEqual(0, scanner.returncode, harness.read_bytes(out_path))
        self.assertExitCode(5, result)
        return held

    def pending_deletions(self):
        status, output = harness.reg(self.session, self.tmp, "query", PENDING_KEY, "/v",
                                     "PendingFileRenameOperations")
        return output if status == 0 else ""

    def test_a_file_held_for_three_seconds_is_waited_for_and_the_folder_goes(self):
        held = self.run_with_scanner(3000)
        self.assertEqual([], os.listdir(self.base))
        log = self.log_text()
        self.assertIn(f"{self.session.to_windows(held)} is held by another program (error 32): "
                      "trying again in 100 ms\n", log)
        self.assertNotIn("Marked", log)

    def test_a_file_held_past_the_waiting_is_kept_and_a_later_runs_files_outlive_the_restart(self):
        # The zero-GUID folder is the next zero-GUID run's too: a mark by path made at the
        # first run's clean-up deleted the second run's kept files at the restart.
        harness.reg(self.session, self.tmp, "delete", PENDING_KEY, "/v", "PendingFileRenameOperations", "/f")
        try:
            held = self.run_with_scanner(9000)
            folder = os.path.dirname(held)
            self.assertEqual(["data.bin"], os.listdir(folder), "the rest went; the held file stays")
            log = self.log_text()
            self.assertIn(f"Kept '{self.session.to_windows(held)}': it could not be deleted\n", log)
            self.assertNotIn("Marked", log)
            self.assertNotIn(self.session.to_windows(folder), self.pending_deletions())
            second = self.run_bootstrapper("/zeroguid /keep /dontrun")
            self.assertExitCode(0, second)
            subprocess.run(["wine", "wineboot", "-r"], env=self.session.env, capture_output=True, timeout=120)
            self.assertIn("data.bin", os.listdir(folder), "the second run's kept files outlive the restart")
            self.assertIn("wizard app.exe", os.listdir(folder))
        finally:
            harness.reg(self.session, self.tmp, "delete", PENDING_KEY, "/v", "PendingFileRenameOperations", "/f")

if __name__ == "__main__":
    unittest.main()
