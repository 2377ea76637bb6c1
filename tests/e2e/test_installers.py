"""End to end: real installers shipped inside the bootstrapper, installed silently the
way a deployment script installs them. The sample NSIS installer (samples/nsis, built by
makensis) and the sample Windows Installer package behind its setup program
(samples/msi, built by wixl, installed by Wine's msiexec), each in a build that requires
no .NET Framework, run on a machine without one.

    python3 test_installers.py [unittest options]

Bootstrappers: CARRYALL_NSIS_EXE and CARRYALL_MSI_EXE; the installed files are compared
with their sources in CARRYALL_SAMPLES_DIR. Every row checks the full 32-bit exit code,
the files in the installation folder, the registry value the installer writes, and that
the private folder is gone; each row's installation is removed before the next.
"""

import os
import shutil
import unittest

import harness

NSIS_EXE = os.environ.get("CARRYALL_NSIS_EXE")
MSI_EXE = os.environ.get("CARRYALL_MSI_EXE")
SAMPLES = os.environ.get("CARRYALL_SAMPLES_DIR")

NSIS_KEY = r"HKLM\Software\Contoso\Tools"
NSIS_DEFAULT = r"C:\Program Files\Contoso Tools"
MSI_KEY = r"HKLM\Software\Contoso\MsiTools"
MSI_DEFAULT = r"C:\Program Files\Contoso MSI Tools"
MSI_PRODUCT = "{3C1B6F4E-9A52-4D1E-8C37-2B5E0F7A9D41}"
NO_DOTNET = "No .NET Framework is required by this build."
RESTART = "The installation needs a restart to complete (exit code 3010)."


def setUpModule():
    harness.require_files("CARRYALL_NSIS_EXE", "CARRYALL_MSI_EXE")
    if not SAMPLES or not os.path.isdir(SAMPLES):
        raise RuntimeError(f"CARRYALL_SAMPLES_DIR names no folder: {SAMPLES!r}")
    harness.open_session()


def tearDownModule():
    harness.close_session()


class InstallerTestCase(harness.WineTestCase):
    # Set by each class: the bootstrapper, the registry key whose InstallDir value its
    # installer writes, its default folder and the files it installs (name: source
    # under samples/).
    exe = key = default = None
    files = {}

    def setUp(self):
        super().setUp()
        self.base = os.path.join(self.tmp, "base")
        self.log_path = os.path.join(self.tmp, "install.log")

    def install(self, words):
        """A silent run with the test's log and base folder, on a machine without .NET;
        its result and log text."""
        os.makedirs(self.base, exist_ok=True)
        if os.path.exists(self.log_path):
            os.remove(self.log_path)
        line = (f'/IAgreeToTheEULA log "{self.session.to_windows(self.log_path)}" '
                f'temp "{self.session.to_windows(self.base)}" {words}').rstrip()
        with harness.dotnet_keys(self.session, self.tmp, []):
            result = self.session.run(line, exe=self.exe, cwd=self.tmp, timeout_ms=120000)
        return result, harness.read_bytes(self.log_path).decode(harness.ANSI).replace("\r\n", "\n")

    def installed_value(self):
        """The InstallDir value under the installer's key, or None."""
        status, output = harness.reg(self.session, self.tmp, "query", self.key, "/v", "InstallDir")
        if status != 0:
            return None
        line = next(l for l in output.splitlines() if "InstallDir" in l)
        return line.split("REG_SZ", 1)[1].strip()

    def installed_files(self, folder):
        """{name: bytes} of the files in the Windows folder, or None when it is missing."""
        path = self.session.to_unix(folder)
        if not os.path.isdir(path):
            return None
        return {name: harness.read_bytes(os.path.join(path, name)) for name in sorted(os.listdir(path))}

    def expected_files(self):
        return {name: harness.read_bytes(os.path.join(SAMPLES, source)) for name, source in self.files.items()}

    def remove_installation(self, folder):
        harness.reg(self.session, self.tmp, "delete", self.key, "/f")
        shutil.rmtree(self.session.to_unix(folder), ignore_errors=True)

    def check_rows(self, rows, value_of):
        for words, exit_code, folder in rows:
            with self.subTest(words=words):
                try:
                    result, log = self.install(words)
                    self.assertExitCode(exit_code, result)
                    lines = log.split("\n")
                    self.assertIn(NO_DOTNET, lines)
                    self.assertEqual(exit_code == 3010, RESTART in lines)
                    self.assertEqual([], os.listdir(self.base), "the private folder is removed")
                    if folder is None:
                        self.assertEqual((None, None), (self.installed_files(self.default),
                                                        self.installed_value()))
                    else:
                        self.assertEqual(self.expected_files(), self.installed_files(folder))
                        self.assertEqual(value_of(folder), self.installed_value())
                finally:
                    self.uninstall(folder or "")

    def uninstall(self, folder):
        if folder:
            self.remove_installation(folder)


class NsisInstallerTest(InstallerTestCase):
    exe = NSIS_EXE
    key = NSIS_KEY
    default = NSIS_DEFAULT
    files = {"contoso.ini": "nsis/contoso.ini", "readme.txt": "nsis/readme.txt"}

    def test_silent_installs_with_their_folder_and_exit_codes(self):
        # NSIS reads its own /S; /D= must end its command line, unquoted, which only "--"
        # gives: after it, the rest of the line reaches the wizard as it was typed.
        self.check_rows([
            ("/S", 0, NSIS_DEFAULT),
            ("/S /RESULT=3010", 3010, NSIS_DEFAULT),
            ("/S /RESULT=1603", 1603, None),
            (r"/S -- /D=C:\some dir with blanks", 0, r"C:\some dir with blanks"),
        ], value_of=lambda folder: folder)


class MsiInstallerTest(InstallerTestCase):
    exe = MSI_EXE
    key = MSI_KEY
    default = MSI_DEFAULT
    files = {"readme.txt": "msi/readme.txt"}

    def uninstall(self, folder):
        # Wine's msiexec keeps the product registered: remove it the way Windows does.
        if folder:
            self.session.run(f"/x {MSI_PRODUCT} /qn", exe=self.session.to_unix(r"C:\windows\system32\msiexec.exe"),
                             cwd=self.tmp, timeout_ms=120000)
            self.remove_installation(folder)

    def test_silent_installs_with_their_properties_and_exit_codes(self):
        # The setup program runs msiexec with /qn and hands on every property; one
        # argument holding a blank reaches it as one property.
        self.check_rows([
            ("", 0, MSI_DEFAULT),
            ("RESTART=1", 3010, MSI_DEFAULT),
            ("FAIL=1", 1603, None),
            (r'"INSTALLDIR=C:\Contoso MSI"', 0, r"C:\Contoso MSI"),
        ], value_of=lambda folder: folder + "\\")


if __name__ == "__main__":
    unittest.main(verbosity=2)
