#!/usr/bin/env python3
"""The publishers' bundle works on its own. Builds it (the target package of the win32
build in CARRYALL_BUILD_DIR), unpacks it into an empty folder and, from there, with
nothing of the source tree on Python's path, packs a bootstrapper around the tests' sample
wizard, signs it with the development certificate's PEM key and tags it, as the bundle's
README tells a publisher; then runs it under Wine, where the wizard runs and finds the tag.

    python3 tests/build/test_bundle.py [-v]
"""

import json
import os
import re
import shutil
import subprocess
import sys
import unittest
import zipfile
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "tests" / "e2e"))
import harness  # noqa: E402

BUILD = Path(os.environ.get("CARRYALL_BUILD_DIR") or REPO / "build" / "win32").resolve()
VERSION = re.search(r"project\(Carryall VERSION ([0-9.]+)", (REPO / "CMakeLists.txt").read_text())[1]
BUNDLE = BUILD / ("carryall-%s-win32.zip" % VERSION)
# Debian's interpreter, which has pefile; -E -s: no PYTHONPATH nor user site-packages.
PYTHON = ["/usr/bin/python3", "-E", "-s", "-B"]
INFO = "<campaign id='42'/>"


def setUpModule():
    result = subprocess.run(["cmake", "--build", str(BUILD), "--target", "package"], capture_output=True,
                            text=True, stdin=subprocess.DEVNULL)
    if result.returncode != 0:
        raise RuntimeError("the package target failed:\n" + result.stdout[-3000:] + result.stderr)
    harness.open_session()


def tearDownModule():
    harness.close_session()


class BundleTest(harness.WineTestCase):

    def setUp(self):
        super().setUp()
        self.folder = Path(self.tmp) / "unpacked"
        self.folder.mkdir()
        with zipfile.ZipFile(BUNDLE) as bundle:
            self.names = sorted(bundle.namelist())
            bundle.extractall(self.folder)
        # The publisher's own files, beside the bundle.
        product = Path(self.tmp) / "product"
        product.mkdir()
        shutil.copy(BUILD / "bin" / "sample_wizard.exe", product / "setup.exe")
        (product / "readme.txt").write_text("Contoso\n")
        (product / "payload.txt").write_text("102\tWizard App.exe\tsetup.exe\n103\treadme.txt\treadme.txt\n")
        (product / "strings.txt").write_text("1\tContoso Suite\n")
        self.product = product

    def carryall(self, *args, expect=0):
        """carryall.py from the unpacked bundle, run there: its standard output."""
        env = {k: v for k, v in os.environ.items() if not k.startswith("PYTHON")}
        result = subprocess.run(PYTHON + ["carryall.py", *map(str, args)], cwd=self.folder, env=env,
                                capture_output=True, text=True, stdin=subprocess.DEVNULL)
        self.assertEqual(expect, result.returncode, "carryall.py %s: %s" % (" ".join(map(str, args)), result.stderr))
        return result.stdout

    def test_the_bundle_holds_the_stub_the_command_and_the_readme_at_its_top(self):
        self.assertTrue({"carryall-stub.exe", "carryall.py", "README.md"} <= set(self.names), self.names)
        self.assertEqual([], [n for n in self.names if "/" in n or not re.fullmatch(r"[\w.-]+", n)])
        self.assertEqual((BUILD / "bin" / "carryall-stub.exe").read_bytes(),
                         (self.folder / "carryall-stub.exe").read_bytes())
        self.assertIn("carryall.py pack --stub carryall-stub.exe", (self.folder / "README.md").read_text())

    def test_pack_sign_tag_from_the_bundle_and_run_it(self):
        signing = BUILD / "signing"
        steps = [
            ("pack", "--stub", "carryall-stub.exe", "--payload", self.product / "payload.txt",
             "-o", self.product / "unsigned.exe", "--strings", self.product / "strings.txt",
             "--version", "2.1.0.15", "--company", "Contoso Ltd.", "--no-dotnet"),
            ("sign", self.product / "unsigned.exe", self.product / "signed.exe", "--cert", signing / "leaf.pem",
             "--key", signing / "leaf.key", "--chain", signing / "ca.pem"),
            ("tag", self.product / "signed.exe", self.product / "Contoso.exe", "--info", INFO),
        ]
        for step in steps:
            self.carryall(*step)
        # Same inputs, same bytes: packing and tagging again.
        for step, again in [(steps[0], "unsigned-2.exe"), (steps[2], "Contoso-2.exe")]:
            step = list(step)
            step[step.index(self.product / ("unsigned.exe" if step[0] == "pack" else "Contoso.exe"))] = \
                self.product / again
            self.carryall(*step)
        for first, second in [("unsigned.exe", "unsigned-2.exe"), ("Contoso.exe", "Contoso-2.exe")]:
            self.assertTrue((self.product / first).read_bytes() == (self.product / second).read_bytes(), first)

        shown = json.loads(self.carryall("show", "--json", self.product / "Contoso.exe"))
        text = json.dumps(shown)
        for expected in ("Contoso Suite", "2.1.0.15", "Contoso Ltd.", "Wizard App.exe", "Carryall Development",
                         "campaign id="):
            self.assertIn(expected, text)

        base = Path(self.tmp) / "base"
        base.mkdir()
        log = Path(self.tmp) / "install.log"
        line = (f'/IAgreeToTheEULA log "{self.session.to_windows(log)}" temp "{self.session.to_windows(base)}" '
                f'WIZARD_RUN_MS=100')
        result = self.session.run(line, exe=str(self.product / "Contoso.exe"), cwd=self.tmp)
        self.assertExitCode(0, result)
        lines = harness.split_log_lines(log.read_bytes())
        for expected in ("Wizard: beside me info.xml", "Wizard: beside me readme.txt",
                         "Wizard: beside me wizard app.exe", "Wizard: exit code 0", "RunProgram returned 0"):
            self.assertIn(expected, lines)
        self.assertEqual([], os.listdir(base), "the private folder is removed")


if __name__ == "__main__":
    unittest.main()
