"""End to end: a bootstrapper started from a folder that holds planted copies of system
DLLs loads none of them, before or after its entry point, and one with a "<exe>.local"
redirection beside it refuses to run.

    python3 test_dll.py [unittest options]

Wine is told to prefer a native DLL found beside the program over its own
(WINEDLLOVERRIDES "=n,b"), as Windows does for any DLL outside KnownDLLs. The planted
DLL (CARRYALL_PLANTED_DLL) writes "<its path>.loaded" when it is loaded; CARRYALL_PLAIN_LOAD
loads a DLL by name alone and shows that the planted one would be taken. The bootstrapper
is a copy of CARRYALL_SMALL_EXE.
"""

import os
import shutil
import unittest

import harness

SMALL_EXE = os.environ.get("CARRYALL_SMALL_EXE")
PLANTED_DLL = os.environ.get("CARRYALL_PLANTED_DLL")
PLAIN_LOAD = os.environ.get("CARRYALL_PLAIN_LOAD")

# The DLLs outside KnownDLLs that the program uses and that its import table used to name.
# Not version.dll: Wine's own user32 imports it, so under Wine a planted version.dll is
# loaded into every windowed program before its first instruction, whatever the program
# does (Windows keeps user32 in KnownDLLs, and its user32 imports no version.dll).
PLANTED_NAMES = ("wintrust.dll", "crypt32.dll")
PREFER_PLANTED = {"WINEDLLOVERRIDES": "mscoree,mshtml=;wintrust,crypt32=n,b"}
E_FAIL = 0x80004005


def setUpModule():
    harness.require_files("CARRYALL_SMALL_EXE", "CARRYALL_PLANTED_DLL", "CARRYALL_PLAIN_LOAD")
    harness.open_session()


def tearDownModule():
    harness.close_session()


class PlantedDllTest(harness.WineTestCase):
    """A Downloads folder with the bootstrapper and planted DLLs in it."""

    def setUp(self):
        super().setUp()
        self.downloads = os.path.join(self.tmp, "Downloads")
        self.base = os.path.join(self.tmp, "base")
        os.makedirs(self.downloads)
        os.makedirs(self.base)
        self.exe = os.path.join(self.downloads, "setup.exe")
        shutil.copyfile(SMALL_EXE, self.exe)
        self.log_path = os.path.join(self.tmp, "install.log")
        self.plant(self.downloads)
        # Wine reads the overrides from the Unix environment of the wine command that
        # starts runner.exe (which its children inherit), not from a Windows environment
        # block: they go on the session's variables for this test.
        saved = self.session.env
        self.session.env = dict(saved, **PREFER_PLANTED)
        self.addCleanup(setattr, self.session, "env", saved)

    def plant(self, folder):
        for name in PLANTED_NAMES:
            shutil.copyfile(PLANTED_DLL, os.path.join(folder, name))

    def loaded(self):
        """The planted DLLs that were loaded, by their paths below self.tmp."""
        return sorted(os.path.relpath(os.path.join(folder, name), self.tmp)[:-len(".loaded")]
                      for folder, _, names in os.walk(self.tmp) for name in names
                      if name.endswith(".loaded"))

    def run_silent(self):
        line = (f'/IAgreeToTheEULA log "{self.session.to_windows(self.log_path)}" '
                f'temp "{self.session.to_windows(self.base)}" /dontrun')
        return self.session.run(line, exe=self.exe, cwd=self.downloads)

    def log_lines(self):
        return harness.split_log_lines(harness.read_bytes(self.log_path))

    def test_a_load_by_name_alone_takes_the_planted_dll(self):
        # Without this the other tests would prove nothing: Wine does take a DLL planted
        # beside a program that looks for it in the default order.
        program = os.path.join(self.downloads, "plain_load.exe")
        shutil.copyfile(PLAIN_LOAD, program)
        for name in PLANTED_NAMES:
            self.assertExitCode(0, self.session.run(name, exe=program, cwd=self.downloads))
        self.assertEqual(sorted(os.path.join("Downloads", name) for name in PLANTED_NAMES), self.loaded())

    def test_silent_run_loads_no_planted_dll_and_ends_as_usual(self):
        result = self.run_silent()

        self.assertEqual([], self.loaded())
        self.assertExitCode(0, result)
        lines = self.log_lines()
        # wintrust and crypt32 from the system folder did their work: the copy verifies.
        self.assertIn(f"Digital verification: 'The file \"{self.session.to_windows(self.exe)}\" is signed "
                      "and the signature was verified.", lines)
        self.assertIn("Digital verification: SubjectName 'Carryall Development'", lines)
        self.assertIn("Free disk space requirement passed.", lines)
        self.assertRegex(lines[-1], r"^Ended \d+$")

    def test_redirection_beside_the_program_refuses_the_run(self):
        redirection = self.exe + ".local"
        refusal = (f"SQL Carryall will not run while '{self.session.to_windows(redirection)}' is beside it: "
                   "it would redirect the DLLs the program loads.")
        for kind in ("file", "folder"):
            with self.subTest(kind):
                if kind == "file":
                    with open(redirection, "wb"):
                        pass
                else:
                    os.remove(redirection)
                    os.makedirs(redirection)
                    self.plant(redirection)

                result = self.run_silent()

                self.assertExitCode(E_FAIL, result)
                lines = self.log_lines()
                self.assertEqual(refusal, lines[-2])
                self.assertRegex(lines[-1], r"^Ended \d+$")
                self.assertFalse(any(line.startswith("Started") for line in lines), lines)
                self.assertEqual([], os.listdir(self.base))
                self.assertEqual([], self.loaded())


if __name__ == "__main__":
    unittest.main()
