"""End to end: a silent start of the bootstrapper under Wine, seen through its log file
and its exit code.

    python3 test_startup.py [PATH_TO_CarryallInstaller.exe] [unittest options]

The executable comes from the first argument or from CARRYALL_EXE.
"""

import os
import re
import sys
import unittest

import harness
from harness import Re

EXE = os.environ.get("CARRYALL_EXE")

STARTED = Re(r"Started -?\d+")
ENDED = Re(r"Ended -?\d+")

# A run stopped by its command line (before the worker starts) exits with the result
# code STG_E_INVALIDPARAMETER, so that a script learns that nothing was installed.
EXIT_BAD_COMMAND_LINE = 0x80030057


def usage_lines(raw_arguments):
    """Message 114 for this raw command-line text, as the log holds it: its \\n become
    line ends and the report's own "\\n" ends the last line."""
    return [
        f"Command line '{raw_arguments}' incorrect.",
        "Valid switches include:- ",
        "\textract [path]\tlog [path]\ttemp [path]",
        "",
        "Example",
        "\t log c:\\log.txt /IAgreeToTheEULA",
    ]


def setUpModule():
    if not EXE or not os.path.isfile(EXE):
        raise RuntimeError(f"no bootstrapper to test: {EXE!r} (give CARRYALL_EXE or a path)")
    harness.open_session()


def tearDownModule():
    harness.close_session()


class StartupTestCase(harness.WineTestCase):

    def win(self, path):
        return self.session.to_windows(path)

    def run_bootstrapper(self, args):
        return self.session.run(args, exe=EXE, cwd=self.tmp)

    def temp_folder(self, log):
        """The default temporary folder as the log's first "Temp folder" line shows it,
        after checking that it is the Wine user's temporary folder."""
        line = next((line for line in harness.split_log_lines(log)
                     if line.startswith("Temp folder '")), None)
        self.assertIsNotNone(line, "the log has no Temp folder line")
        match = re.fullmatch(r"Temp folder '(?P<temp>C:\\users\\[^\\]+\\Temp\\)'", line)
        self.assertIsNotNone(match, line)
        temp = match.group("temp")
        self.assertTrue(os.path.isdir(self.session.to_unix(temp)), temp)
        return temp


class SilentRunTest(StartupTestCase):

    def assertStartUpAndWorkerLines(self, data, log_path):
        """The lines that start-up and the worker's option processing write, in order:
        start-up's summary (without the program name), Started, the prerequisite checks,
        the worker's summary (with it); the run ends with Ended after removing the
        private folder."""
        lines = harness.split_log_lines(data)
        temp = self.temp_folder(data)
        self.assertLogLines(data, [
            f'Command line params /IAgreeToTheEULA /log "{log_path}" VH_I="" ',
            f"Temp folder '{temp}'",
            STARTED,
        ] + lines[3:])
        worker = lines.index("Run Embedded Resources ")
        # The signature verifies (the build signs every bootstrapper) and its signer is
        # read before the checks; the signed program name reaches the wizard.
        self.assertEqual(f"Digital verification: 'The file \"{self.win(EXE)}\" is signed and the signature was verified.",
                         lines[3])
        self.assertEqual(["'", "GetAuthenticodeInformation "], lines[4:6])
        checks = lines.index("Digital verification: IssuerName 'Carryall Development CA'") + 1
        self.assertTrue(all(line.startswith((".NET", "Free")) for line in lines[checks:worker]), lines[checks:worker])
        self.assertEqual([f'Command line params /IAgreeToTheEULA /log "{log_path}" VH_I="SQL Carryall" ',
                          f"Temp folder '{temp}'"], lines[worker + 1:worker + 3])
        self.assertEqual("Remove folder 'Yes'", next(l for l in lines if l.startswith("Remove folder")))
        self.assertTrue(ENDED.matches(lines[-1]), lines[-1])

    def test_log_keyword_logs_start_up_and_worker_and_exits_with_zero(self):
        log = self.win(os.path.join(self.tmp, "setup.log"))

        result = self.run_bootstrapper(f"log {log} /IAgreeToTheEULA")

        self.assertExitCode(0, result)
        data = harness.read_bytes(os.path.join(self.tmp, "setup.log"))
        self.assertStartUpAndWorkerLines(data, log)

    def test_log_path_with_spaces_and_accents_is_created_and_logged_in_ansi(self):
        folder = os.path.join(self.tmp, "dir with spaces é")
        os.mkdir(folder)
        log = self.win(os.path.join(folder, "log é.txt"))

        result = self.run_bootstrapper(f'log "{log}" /IAgreeToTheEULA')

        self.assertExitCode(0, result)
        self.assertEqual(["log é.txt"], os.listdir(folder))
        data = harness.read_bytes(os.path.join(folder, "log é.txt"))
        self.assertStartUpAndWorkerLines(data, log)
        self.assertIn(f'/log "{log}" '.encode(harness.ANSI), data)
        self.assertIn(b'\\dir with spaces \xe9\\log \xe9.txt" ', data)
        self.assertNotIn("é".encode("utf-8"), data)


class UnacceptableCommandLineTest(StartupTestCase):

    # Arguments after "log <file> /IAgreeToTheEULA", how many "Ask for help" lines they
    # log, and the wizard arguments of start-up's composition ({log}: the log's path).
    USAGE_CASES = [
        ("/?", 2, '/IAgreeToTheEULA /? /log "{log}" VH_I="" '),
        ("?", 1, '/IAgreeToTheEULA ? /log "{log}" VH_I="" '),
        ("/temp", 0, '/temp /IAgreeToTheEULA /log "{log}" VH_I="" '),
        ("-extract", 0, '/IAgreeToTheEULA /extract /log "{log}" VH_I="" '),
    ]

    def test_usage_message_is_logged_and_nothing_starts(self):
        for number, (extra, help_lines, wizard_arguments) in enumerate(self.USAGE_CASES):
            with self.subTest(extra=extra):
                log_unix = os.path.join(self.tmp, f"usage{number}.log")
                log = self.win(log_unix)
                raw = f"log {log} /IAgreeToTheEULA {extra}"

                result = self.run_bootstrapper(raw)

                self.assertExitCode(EXIT_BAD_COMMAND_LINE, result)
                data = harness.read_bytes(log_unix)
                temp = self.temp_folder(data)
                self.assertLogLines(data, ["Ask for help"] * help_lines + [
                    f"Command line params {wizard_arguments.format(log=log)}",
                    f"Temp folder '{temp}'",
                    *usage_lines(raw),
                    ENDED,
                ])

    # {tmp}: the run's current folder; the log path becomes a bare word.
    PREFIXED_LOG_CASES = [
        "/log x /IAgreeToTheEULA",
        "/log {tmp}\\y.log /IAgreeToTheEULA",
        "-log {tmp}\\z.log /IAgreeToTheEULA",
    ]

    def test_log_keyword_with_prefix_writes_no_file(self):
        for args in self.PREFIXED_LOG_CASES:
            with self.subTest(args=args):
                for name in os.listdir(self.tmp):
                    os.remove(os.path.join(self.tmp, name))

                result = self.run_bootstrapper(args.format(tmp=self.win(self.tmp)))

                self.assertExitCode(EXIT_BAD_COMMAND_LINE, result)
                self.assertEqual([], os.listdir(self.tmp))


if __name__ == "__main__":
    if len(sys.argv) > 1 and not sys.argv[1].startswith("-"):
        EXE = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
