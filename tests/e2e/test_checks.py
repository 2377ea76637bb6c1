"""End to end: the prerequisite checks of start-up (administrator rights, .NET Framework,
Windows Installer, free disk space) on the real bootstrapper under Wine, seen through the
log and the full exit code. Start-up failures exit with their result code.

    python3 test_checks.py [unittest options]

Bootstrappers: CARRYALL_EXE (the shipped one), CARRYALL_SMALL_EXE (the shipped settings
with a small payload) and CARRYALL_BIG_DISK_EXE (setting 103 far above any disk).

The session's prefix has the registry keys of .NET Framework 4.8 (scripts/wine-env.sh).
Tests that need another .NET state change the live registry with "wine reg" and put the
prefix's own keys back afterwards.
"""

import os
import shutil
import unittest

import harness
from harness import Re

EXE = os.environ.get("CARRYALL_EXE")
SMALL_EXE = os.environ.get("CARRYALL_SMALL_EXE")
BIG_DISK_EXE = os.environ.get("CARRYALL_BIG_DISK_EXE")

DOTNET_MISSING = 0x80110409
DISK_FULL = 0x80030070
NOT_ADMINISTRATOR = 0x80110413

ENDED = Re(r"Ended -?\d+")

NDP = harness.DOTNET_SETUP_KEY
V20 = NDP + r"\v2.0.50727"
V30 = NDP + r"\v3.0"
V30_SETUP = NDP + r"\v3.0\Setup"
V35 = NDP + r"\v3.5"
V4_CLIENT = NDP + r"\v4\Client"
V4_FULL = NDP + r"\v4\Full"

# The setting lines of the shipped string table; 143 and 144 are absent.
SETTING_LINES = [
    ".NET 2.0 0",
    ".NET 3.0 0",
    ".NET 3.5 0",
    ".NET 4.0 Client 0",
    ".NET 4.0 Full 0",
    ".NET 4.5 Client ",
    ".NET 4.5 Full ",
]
MESSAGE_108_DOTNET_2 = ("SQL Carryall requires .NET 2. Please download from the Microsoft "
                        "Download Center and retry.")


def setUpModule():
    harness.require_files("CARRYALL_EXE", "CARRYALL_SMALL_EXE", "CARRYALL_BIG_DISK_EXE")
    harness.open_session()


def tearDownModule():
    harness.close_session()


def dword(key, name, value):
    return ["add", key, "/v", name, "/t", "REG_DWORD", "/d", str(value), "/f"]


def text(key, name, value):
    return ["add", key, "/v", name, "/t", "REG_SZ", "/d", value, "/f"]


class ChecksTestCase(harness.WineTestCase):

    def dotnet_keys(self, commands):
        """Within the block, the .NET setup keys are only what the reg commands write;
        afterwards the prefix's own keys are back."""
        return harness.dotnet_keys(self.session, self.tmp, commands)

    def run_silent(self, exe, extra=""):
        """A silent run with a log and /dontrun (nothing is started after unpacking);
        returns the result and the log's lines."""
        log_path = os.path.join(self.tmp, "run.log")
        if os.path.exists(log_path):
            os.remove(log_path)
        args = f'log "{self.session.to_windows(log_path)}" /IAgreeToTheEULA /dontrun {extra}'
        result = self.session.run(args.rstrip(), exe=exe, cwd=self.tmp)
        return result, harness.split_log_lines(harness.read_bytes(log_path))

    def from_checks(self, lines):
        """The log's lines from the first .NET setting line on, after checking that a
        "Started" line comes before it."""
        first = next((i for i, line in enumerate(lines) if line.startswith(".NET 2.0 ")), None)
        self.assertIsNotNone(first, "\n".join(lines))
        self.assertTrue(any(line.startswith("Started ") for line in lines[:first]),
                        "\n".join(lines))
        return lines[first:]

    def assertLines(self, expected, actual):
        """actual holds exactly the expected lines (text, or Re for a pattern)."""
        shown = [e if isinstance(e, Re) and e.matches(a) else a for e, a in zip(expected, actual)]
        self.assertEqual(list(expected), shown + list(actual[len(expected):]))

    def temp_folder(self, lines):
        line = next(line for line in lines if line.startswith("Temp folder '"))
        return line[len("Temp folder '"):-1]


class DotNetDetectionTest(ChecksTestCase):

    def test_installed_48_passes_with_its_client_profile_at_level_8(self):
        result, lines = self.run_silent(EXE)

        self.assertExitCode(0, result)
        temp = self.temp_folder(lines)
        checks = self.from_checks(lines)
        self.assertLines(SETTING_LINES + [
            ".NET 4.0 Client Detected SP 8",
            ".NET Version OK",
            "Free Disk Space",
            f"Free Disk Space: Checking at least 500 MB free on drive 'C:' for temp directory '{temp}'",
            "Free disk space requirement passed.",
            "Run Embedded Resources ",
        ], checks[:13])

    def test_without_any_dotnet_start_up_stops_with_0x80110409(self):
        with self.dotnet_keys([]):
            result, lines = self.run_silent(EXE)

        self.assertExitCode(DOTNET_MISSING, result)
        self.assertLines(SETTING_LINES + [
            ".NET Version Not OK .NET 2 0",
            MESSAGE_108_DOTNET_2,
            ENDED,
        ], self.from_checks(lines))

    # Registry states written with "wine reg", and the lines that follow the settings.
    REGISTRY_STATES = [
        ("2.0 only, at SP 2",
         [dword(V20, "Install", 1), dword(V20, "SP", 2)],
         0, [".NET 2.0 Detected SP 2", ".NET Version OK"]),
        ("3.5 without 2.0",
         [dword(V35, "Install", 1), text(V35, "Version", "3.5.30729.4926"), dword(V35, "SP", 1)],
         DOTNET_MISSING, [".NET Version Not OK .NET 2 0", MESSAGE_108_DOTNET_2]),
        ("2.0 without its SP value, then 3.0 with the SP of its parent key",
         [dword(V20, "Install", 1), dword(V30_SETUP, "InstallSuccess", 1),
          text(V30_SETUP, "Version", "3.0.30729.4926"), dword(V30, "SP", 2)],
         0, [".NET 2.0 Detected SP -1", ".NET 3.0 Detected SP 2", ".NET Version OK"]),
        ("2.0 without its SP value only",
         [dword(V20, "Install", 1)],
         DOTNET_MISSING, [".NET 2.0 Detected SP -1", ".NET Version Not OK .NET 2 0",
                          MESSAGE_108_DOTNET_2]),
        ("4.0 as first released",
         [dword(V4_CLIENT, "Install", 1), dword(V4_CLIENT, "Servicing", 0),
          text(V4_CLIENT, "Version", "4.0.30319")],
         0, [".NET 4.0 Client Detected SP 0", ".NET Version OK"]),
        ("4.8 with its Install values stored in eight bytes",
         [["add", key, "/v", "Install", "/t", "REG_QWORD", "/d", "1", "/f"]
          for key in (V4_CLIENT, V4_FULL)] +
         [dword(V4_CLIENT, "Servicing", 0), text(V4_CLIENT, "Version", "4.8.04084")],
         DOTNET_MISSING, [".NET Version Not OK .NET 2 0", MESSAGE_108_DOTNET_2]),
        ("4.8 whose Version text is longer than 260 bytes",
         [dword(V4_CLIENT, "Install", 1), dword(V4_CLIENT, "Servicing", 0),
          text(V4_CLIENT, "Version", "4.8." + "1" * 126)],
         0, [".NET 4.0 Client Detected SP 0", ".NET Version OK"]),
        ("the Full profile with the Client key's version",
         [dword(V4_FULL, "Install", 1), dword(V4_FULL, "Servicing", 1),
          text(V4_FULL, "Version", "4.0.30319"), text(V4_CLIENT, "Version", "4.7.03062")],
         0, [".NET 4.0 Full Detected SP 7", ".NET Version OK"]),
    ]

    def test_registry_states(self):
        for name, commands, code, detection in self.REGISTRY_STATES:
            with self.subTest(name):
                with self.dotnet_keys(commands):
                    result, lines = self.run_silent(SMALL_EXE)

                self.assertExitCode(code, result)
                checks = self.from_checks(lines)
                expected = SETTING_LINES + detection
                if code == 0:
                    self.assertLines(expected + ["Free Disk Space"], checks[:len(expected) + 1])
                else:
                    self.assertLines(expected + [ENDED], checks)


class FreeDiskSpaceTest(ChecksTestCase):

    def test_requirement_above_the_free_space_stops_with_0x80030070_in_gb(self):
        result, lines = self.run_silent(BIG_DISK_EXE)

        self.assertExitCode(DISK_FULL, result)
        temp = self.temp_folder(lines)
        checks = self.from_checks(lines)
        self.assertLines(SETTING_LINES + [
            ".NET 4.0 Client Detected SP 8",
            ".NET Version OK",
            "Free Disk Space",
            f"Free Disk Space: Checking at least 2000000000 MB free on drive 'C:' for temp "
            f"directory '{temp}'",
            Re(r"Insufficient disk space: 2000000000 MB required but only \d+ MB free\."),
            "Insufficient disk space on drive 'C:'. 2000000.0 GB of free disk space is required.",
            ENDED,
        ], checks)
        # The free megabytes are the bytes available to the user on the prefix's drive C:,
        # divided twice by 1024; the disk is shared, so allow for writes meanwhile.
        shortfall = next(line for line in checks if line.startswith("Insufficient disk space: "))
        free_mb = int(shortfall.split("only ")[1].split(" MB")[0])
        expected_mb = shutil.disk_usage(self.session.to_unix("C:\\")).free // (1024 * 1024)
        self.assertLess(abs(free_mb - expected_mb), max(1024, expected_mb // 20),
                        (free_mb, expected_mb))

    def test_a_drive_that_cannot_be_asked_stops_with_0x80030070(self):
        result, lines = self.run_silent(EXE, "temp Q:\\setup\\")

        self.assertExitCode(DISK_FULL, result)
        self.assertLines(SETTING_LINES + [
            ".NET 4.0 Client Detected SP 8",
            ".NET Version OK",
            "Free Disk Space",
            "Free Disk Space: Checking at least 500 MB free on drive 'Q:' for temp directory "
            "'Q:\\setup\\'",
            "Failed to check free disk space.",
            "Insufficient disk space on drive 'Q:'. 500.0 MB of free disk space is required.",
            ENDED,
        ], self.from_checks(lines))


class AdministratorTest(ChecksTestCase):

    def test_shipped_setting_makes_the_check_and_the_wine_user_passes_it(self):
        # Setting 145 is "1" in the shipped table, so the check is made before the .NET
        # check; the user of a Wine prefix is a member of Administrators.
        result, lines = self.run_silent(SMALL_EXE)

        self.assertNotEqual(NOT_ADMINISTRATOR, result.exit_code)
        self.assertExitCode(0, result)
        self.assertNotIn("You need local administrator privileges to run SQL Carryall.", lines)
        self.assertEqual(SETTING_LINES, self.from_checks(lines)[:7])


if __name__ == "__main__":
    unittest.main(verbosity=2)
