"""End to end: real installers inside the bootstrapper, installed silently as a
deployment script installs them, on a machine without .NET: the sample NSIS installer
(samples/nsis, made by makensis) and the sample MSI package behind its setup program
(samples/msi, made by wixl, run by Wine's msiexec), in builds that require no .NET.

    python3 test_installers.py [unittest options]

Each row checks the full exit code, the installed files against their sources
(CARRYALL_SAMPLES_DIR), the registry value the installer writes and that the private
folder is gone; each row's installation is removed before the next.
"""

import os
import shutil
import unittest

import harness

SAMPLES = os.environ.get("CARRYALL_SAMPLES_DIR")
MSI_PRODUCT = "{3C1B6F4E-9A52-4D1E-8C37-2B5E0F7A9D41}"
RESTART = "The installation needs a restart to complete (exit code 3010)."


def setUpModule():
    harness.require_files("CARRYALL_NSIS_EXE", "CARRYALL_MSI_EXE")
    harness.open_session()


def tearDownModule():
    harness.close_session()


class InstallerTest(harness.WineTestCase):

    def install(self, exe, words):
        """A silent run with .NET absent: its result and log lines."""
        base, log = os.path.join(self.tmp, "base"), os.path.join(self.tmp, "install.log")
        os.makedirs(base, exist_ok=True)
        line = (f'/IAgreeToTheEULA log "{self.session.to_windows(log)}" '
                f'temp "{self.session.to_windows(base)}" {words}').rstrip()
        with harness.dotnet_keys(self.session, self.tmp, []):
            result = self.session.run(line, exe=exe, cwd=self.tmp, timeout_ms=120000)
        self.assertEqual([], os.listdir(base), "the private folder is removed")
        lines = harness.read_bytes(log).decode(harness.ANSI).replace("\r\n", "\n").split("\n")
        os.remove(log)
        return result, lines

    def installed(self, key, folder):
        """The InstallDir value under key (None when missing) and {name: bytes} of the
        files in the Windows folder folder (None when missing)."""
        status, output = harness.reg(self.session, self.tmp, "query", key, "/v", "InstallDir")
        value = output.split("REG_SZ", 1)[1].strip() if status == 0 else None
        path = self.session.to_unix(folder)
        files = ({n: harness.read_bytes(os.path.join(path, n)) for n in os.listdir(path)}
                 if os.path.isdir(path) else None)
        return value, files

    def check_rows(self, exe, key, default, sources, rows, value_of, uninstall=None):
        expected_files = {os.path.basename(s): harness.read_bytes(os.path.join(SAMPLES, s)) for s in sources}
        for words, exit_code, folder in rows:
            with self.subTest(words=words):
                try:
                    result, lines = self.install(exe, words)
                    self.assertExitCode(exit_code, result)
                    self.assertIn("No .NET Framework is required by this build.", lines)
                    self.assertEqual(exit_code == 3010, RESTART in lines)
                    self.assertEqual((value_of(folder), expected_files) if folder else (None, None),
                                     self.installed(key, folder or default))
                finally:
                    if folder and uninstall:
                        uninstall()
                    harness.reg(self.session, self.tmp, "delete", key, "/f")
                    shutil.rmtree(self.session.to_unix(folder or default), ignore_errors=True)

    def test_nsis_installs_silently_into_its_folder_with_its_exit_codes(self):
        # NSIS reads its own /S; /D= must end its line, unquoted, which "--" gives.
        default = r"C:\Program Files\Contoso Tools"
        self.check_rows(os.environ["CARRYALL_NSIS_EXE"], r"HKLM\Software\Contoso\Tools", default,
                        ["nsis/contoso.ini", "nsis/readme.txt"], [
                            ("/S", 0, default),
                            ("/S /RESULT=3010", 3010, default),
                            ("/S /RESULT=1603", 1603, None),
                            (r"/S -- /D=C:\some dir with blanks", 0, r"C:\some dir with blanks"),
                        ], value_of=lambda folder: folder)

    def test_msi_installs_silently_with_its_properties_and_exit_codes(self):
        # The setup program gives msiexec /qn and every property; one argument holding a
        # blank reaches it as one property. Wine's msiexec keeps a product registered
        # until it is removed the way Windows removes it.
        def uninstall():
            msiexec = self.session.to_unix(r"C:\windows\system32\msiexec.exe")
            self.session.run(f"/x {MSI_PRODUCT} /qn", exe=msiexec, cwd=self.tmp, timeout_ms=120000)

        default = r"C:\Program Files\Contoso MSI Tools"
        self.check_rows(os.environ["CARRYALL_MSI_EXE"], r"HKLM\Software\Contoso\MsiTools", default,
                        ["msi/readme.txt"], [
                            ("", 0, default),
                            ("RESTART=1", 3010, default),
                            ("FAIL=1", 1603, None),
                            (r'"INSTALLDIR=C:\Contoso MSI"', 0, r"C:\Contoso MSI"),
                        ], value_of=lambda folder: folder + "\\", uninstall=uninstall)


if __name__ == "__main__":
    unittest.main(verbosity=2)
