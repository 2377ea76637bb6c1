#!/usr/bin/env python3
"""Each configure with the win32 preset builds what it was given: one product's strings,
splash, payload and certificate do not stay in the cache for the next, while the build's
own re-runs of CMake keep them. And a rebuild packs again exactly the bootstrappers whose
inputs changed.

Configures a scratch folder (CARRYALL_RECONFIGURE_DIR) with the stub of the build
(CARRYALL_STUB, default build/win32/bin/carryall-stub.exe), so that nothing is compiled,
and builds bootstrappers there; the second product's files are older than the first
build, as copied files are.

    python3 tests/build/test_reconfigure.py [-v]
"""

import json
import os
import shutil
import subprocess
import sys
import time
import unittest
from pathlib import Path

import pefile  # Debian's python3-pefile

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SCRATCH = os.path.abspath(os.environ.get("CARRYALL_RECONFIGURE_DIR")
                          or os.path.join(REPO, "build", "win32", "reconfigure-test"))
STUB = os.path.abspath(os.environ.get("CARRYALL_STUB")
                       or os.path.join(REPO, "build", "win32", "bin", "carryall-stub.exe"))
RT_BITMAP, IDB_SPLASH = 2, 133


def run(*args):
    result = subprocess.run(list(args), cwd=REPO, stdin=subprocess.DEVNULL, capture_output=True)
    if result.returncode != 0:
        raise AssertionError("%s failed:\n%s" % (" ".join(args), (result.stdout + result.stderr).decode()))
    return result.stdout.decode()


def read(*parts):
    with open(os.path.join(SCRATCH, *parts), "rb") as f:
        return f.read()


def splash_width(exe):
    """The width of the splash bitmap that exe carries."""
    image = pefile.PE(exe, fast_load=True)
    image.parse_data_directories([pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    for kind in image.DIRECTORY_ENTRY_RESOURCE.entries:
        if kind.id == RT_BITMAP:
            for entry in kind.directory.entries:
                if entry.id == IDB_SPLASH:
                    data = entry.directory.entries[0].data.struct
                    header = image.get_data(data.OffsetToData, 8)
                    return int.from_bytes(header[4:8], "little", signed=True)
    raise AssertionError("%s has no splash" % exe)


class ScratchBuild(unittest.TestCase):

    def configure(self, *definitions):
        run("cmake", "--preset", "win32", "-B", SCRATCH, "-DCARRYALL_DEMO_PAYLOAD_MB=1",
            "-DCARRYALL_STUB=" + STUB, *definitions)

    def product(self, name, splash_width=None):
        """The -D arguments of product name, whose files are dated an hour back."""
        folder = os.path.join(SCRATCH, "inputs", name)
        os.makedirs(folder)
        for file, text in [("strings.txt", "1\t%s\n" % name), (name + ".txt", name),
                           ("payload.txt", "102\t%s.txt\t%s.txt\n" % (name, name))]:
            with open(os.path.join(folder, file), "w") as f:
                f.write(text)
        self.splash(folder, splash_width or 100 + len(name))
        run(sys.executable, "-B", os.path.join(REPO, "tools", "make_dev_cert.py"), folder)
        for file in os.listdir(folder):
            os.utime(os.path.join(folder, file), (time.time() - 3600,) * 2)
        return ["-DCARRYALL_STRINGS=%s/strings.txt" % folder, "-DCARRYALL_PAYLOAD=%s/payload.txt" % folder,
                "-DCARRYALL_SPLASH_BITMAP=%s/splash.bmp" % folder,
                "-DCARRYALL_SIGN_CERT=%s/leaf.pem" % folder, "-DCARRYALL_SIGN_KEY=%s/leaf.key" % folder]

    @staticmethod
    def splash(folder, width):
        run(sys.executable, "-B", os.path.join(REPO, "tests", "e2e", "make_bmp.py"),
            os.path.join(folder, "splash.bmp"), str(width), "50", "102030", "405060")


class Reconfigure(ScratchBuild):

    def build(self, *definitions, configure=True):
        """Configures (unless configure is false), builds CarryallInstaller, and answers
        its product name, its splash's width, its payload's file names and the signing
        certificate's folder."""
        if configure:
            self.configure(*definitions)
        run("cmake", "--build", SCRATCH, "--target", "CarryallInstaller")
        exe = os.path.join(SCRATCH, "bin", "CarryallInstaller.exe")
        shown = json.loads(run(sys.executable, "-B", os.path.join(REPO, "tools", "carryall.py"), "show", "--json",
                               exe))
        cert = read("gen", "signing", "CarryallInstaller.txt").decode().split("--cert=")[1].split(";")[0]
        return (shown["settings"]["product_name"], splash_width(exe), [f["name"] for f in shown["payload"]],
                os.path.relpath(os.path.dirname(cert), SCRATCH))

    def test_each_configure_builds_what_it_was_given(self):
        shutil.rmtree(SCRATCH, ignore_errors=True)
        alpha, beta = self.product("Alpha"), self.product("Beta")
        self.assertEqual(("Alpha", 105, ["Alpha.txt"], "inputs/Alpha"), self.build(*alpha))
        # An edited payload list makes the build run CMake again, with the cache alone.
        with open(os.path.join(SCRATCH, "inputs", "Alpha", "payload.txt"), "a") as f:
            f.write("# edited\n")
        self.assertEqual(("Alpha", 105, ["Alpha.txt"], "inputs/Alpha"), self.build(configure=False))
        name, width, files, cert = self.build()
        self.assertEqual(("SQL Carryall", 425, "signing"), (name, width, cert))
        self.assertIn("Varnhold.InstallerWizard.UI.exe", files, "the demo payload")
        self.assertEqual(("Beta", 104, ["Beta.txt"], "inputs/Beta"), self.build(*beta))


class Rebuild(ScratchBuild):
    """A rebuild packs and signs again the bootstrappers whose inputs changed, and no other."""

    # e2e_small takes the build's strings and pictures, e2e_big_disk has strings of its own,
    # e2e_pictures a splash and a banner of its own, which every configure draws again.
    TARGETS = ("CarryallInstaller", "e2e_small", "e2e_big_disk", "e2e_pictures")
    EVERY = list(TARGETS)

    def stamps(self):
        run("cmake", "--build", SCRATCH, "--target", *self.TARGETS)
        return {name: os.stat(os.path.join(SCRATCH, "bin", name + ".exe")).st_mtime_ns for name in self.TARGETS}

    def test_a_changed_input_repacks_only_its_bootstrappers(self):
        shutil.rmtree(SCRATCH, ignore_errors=True)
        gamma = self.product("Gamma")
        folder = os.path.join(SCRATCH, "inputs", "Gamma")

        def append(file, text):
            with open(os.path.join(folder, file), "a") as f:
                f.write(text)

        rows = [
            # (what changes, the bootstrappers packed again)
            ("nothing", lambda: None, []),
            ("a payload file, same size", lambda: Path(folder, "Gamma.txt").write_text("gamma"),
             ["CarryallInstaller"]),
            ("the build's strings", lambda: append("strings.txt", "103\t7\n"),
             ["CarryallInstaller", "e2e_small", "e2e_pictures"]),
            ("the build's splash", lambda: self.splash(folder, 99), ["CarryallInstaller", "e2e_small", "e2e_big_disk"]),
            ("the payload list", lambda: append("payload.txt", "103\tmore.txt\tGamma.txt\n"), ["CarryallInstaller"]),
            ("a setting of every bootstrapper", lambda: self.configure(*gamma, "-DCARRYALL_VERSION=4.3.2.1"), self.EVERY),
            ("the same setting again", lambda: self.configure(*gamma, "-DCARRYALL_VERSION=4.3.2.1"), []),
            ("the signing certificate", lambda: self.configure(*gamma[:3], "-DCARRYALL_VERSION=4.3.2.1"), self.EVERY),
        ]
        self.configure(*gamma)
        before = self.stamps()
        for what, change, expected in rows:
            with self.subTest(what):
                change()
                after = self.stamps()
                self.assertEqual(expected, [name for name in self.TARGETS if after[name] != before[name]])
                before = after
        shown = json.loads(run(sys.executable, "-B", os.path.join(REPO, "tools", "carryall.py"), "show",
                               "--json", os.path.join(SCRATCH, "bin", "CarryallInstaller.exe")))
        self.assertEqual(("4.3.2.1", ["Gamma.txt", "more.txt"], 99),
                         (shown["version"]["file_version"], [f["name"] for f in shown["payload"]],
                          splash_width(os.path.join(SCRATCH, "bin", "CarryallInstaller.exe"))))


if __name__ == "__main__":
    unittest.main()
