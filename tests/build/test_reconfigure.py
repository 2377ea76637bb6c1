#!/usr/bin/env python3
"""Each configure with the win32 preset builds what it was given: one product's strings,
splash, payload and certificate do not stay in the cache for the next, while the build's
own re-runs of CMake keep them. Configures a scratch folder (CARRYALL_RECONFIGURE_DIR)
three times and builds the generated resources and payload of CarryallInstaller; the
second product's files are older than the first build, as copied files are.

    python3 tests/build/test_reconfigure.py [-v]
"""

import os
import shutil
import subprocess
import sys
import time
import unittest

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SCRATCH = os.path.abspath(os.environ.get("CARRYALL_RECONFIGURE_DIR")
                          or os.path.join(REPO, "build", "win32", "reconfigure-test"))


def run(*args):
    result = subprocess.run(list(args), cwd=REPO, stdin=subprocess.DEVNULL, capture_output=True)
    if result.returncode != 0:
        raise AssertionError("%s failed:\n%s" % (" ".join(args), (result.stdout + result.stderr).decode()))


def read(*parts):
    with open(os.path.join(SCRATCH, *parts), "rb") as f:
        return f.read()


class Reconfigure(unittest.TestCase):

    def product(self, name):
        """The -D arguments of product name, whose files are dated an hour back."""
        folder = os.path.join(SCRATCH, "inputs", name)
        os.makedirs(folder)
        for file, text in [("strings.txt", "1\t%s\n" % name), (name + ".txt", name),
                           ("payload.txt", "102\t%s.txt\t%s.txt\n" % (name, name))]:
            with open(os.path.join(folder, file), "w") as f:
                f.write(text)
        run(sys.executable, "-B", os.path.join(REPO, "tests", "e2e", "make_bmp.py"),
            os.path.join(folder, "splash.bmp"), str(100 + len(name)), "50", "102030", "405060")
        run(sys.executable, "-B", os.path.join(REPO, "tools", "make_dev_cert.py"), folder)
        for file in os.listdir(folder):
            os.utime(os.path.join(folder, file), (time.time() - 3600,) * 2)
        return ["-DCARRYALL_STRINGS=%s/strings.txt" % folder, "-DCARRYALL_PAYLOAD=%s/payload.txt" % folder,
                "-DCARRYALL_SPLASH_BITMAP=%s/splash.bmp" % folder,
                "-DCARRYALL_SIGN_CERT=%s/leaf.pem" % folder, "-DCARRYALL_SIGN_KEY=%s/leaf.key" % folder]

    def build(self, *definitions, configure=True):
        """Configures (unless configure is false), builds, and answers the product name
        of the string table, the splash's width, the payload's file names and the
        signing certificate's folder."""
        if configure:
            run("cmake", "--preset", "win32", "-B", SCRATCH, "-DCARRYALL_DEMO_PAYLOAD_MB=1", *definitions)
        for target in ("carryall_strings", "carryall_images", "carryall_payload_CarryallInstaller"):
            run("cmake", "--build", SCRATCH, "--target", target)
        strings = read("gen", "resources", "strings.rc").decode()
        name = next(l for l in strings.splitlines() if l.strip().startswith("1,")).split(",", 1)[1].strip()
        width = int.from_bytes(read("gen", "resources", "splash.bmp")[18:22], "little")
        files = read("gen", "payload", "CarryallInstaller", "manifest.txt").decode("cp1252").split("*")[1::3]
        cert = read("gen", "signing", "CarryallInstaller.txt").decode().split("--cert=")[1].split(";")[0]
        return name, width, files, os.path.relpath(os.path.dirname(cert), SCRATCH)

    def test_each_configure_builds_what_it_was_given(self):
        shutil.rmtree(SCRATCH, ignore_errors=True)
        alpha, beta = self.product("Alpha"), self.product("Beta")
        self.assertEqual(('"Alpha"', 105, ["Alpha.txt"], "inputs/Alpha"), self.build(*alpha))
        # An edited payload list makes the build run CMake again, with the cache alone.
        with open(os.path.join(SCRATCH, "inputs", "Alpha", "payload.txt"), "a") as f:
            f.write("# edited\n")
        self.assertEqual(('"Alpha"', 105, ["Alpha.txt"], "inputs/Alpha"), self.build(configure=False))
        name, width, files, cert = self.build()
        self.assertEqual(('"SQL Carryall"', 425, "signing"), (name, width, cert))
        self.assertIn("Varnhold.InstallerWizard.UI.exe", files, "the demo payload")
        self.assertEqual(('"Beta"', 104, ["Beta.txt"], "inputs/Beta"), self.build(*beta))


if __name__ == "__main__":
    unittest.main()
