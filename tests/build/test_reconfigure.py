#!/usr/bin/env python3
"""The win32 preset builds what each configure was given: a product's string table,
pictures, payload and certificate do not stay in the CMake cache for the next build,
while the build's own re-runs of CMake keep them.

    python3 tests/build/test_reconfigure.py [-v]

Configures a scratch build folder (CARRYALL_RECONFIGURE_DIR, default
build/win32/reconfigure-test) three times and builds only the generated resources,
payload and signing settings of CarryallInstaller each time; the inputs of the second
product are older than the first build, as files copied from elsewhere are.
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
TARGETS = ["carryall_strings", "carryall_images", "carryall_payload_CarryallInstaller"]
DEFAULT_NAME = "SQL Carryall"


def run(*args):
    result = subprocess.run(list(args), cwd=REPO, stdin=subprocess.DEVNULL, capture_output=True)
    if result.returncode != 0:
        raise AssertionError("%s failed:\n%s%s" % (" ".join(args), result.stdout.decode(errors="replace"),
                                                 result.stderr.decode(errors="replace")))


def read(path):
    with open(path, "rb") as f:
        return f.read()


class Reconfigure(unittest.TestCase):
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        shutil.rmtree(SCRATCH, ignore_errors=True)
        cls.inputs = os.path.join(SCRATCH, "inputs")
        os.makedirs(cls.inputs)

    def product(self, name):
        """The files of product name: strings, payload list, splash and certificate, all
        dated an hour back."""
        folder = os.path.join(self.inputs, name)
        os.makedirs(folder)
        files = {"strings": os.path.join(folder, "strings.txt"), "list": os.path.join(folder, "payload.txt"),
                 "splash": os.path.join(folder, "splash.bmp"), "certs": os.path.join(folder, "certs")}
        with open(files["strings"], "w") as f:
            f.write("1\t%s\n" % name)
        with open(os.path.join(folder, "%s.txt" % name), "w") as f:
            f.write(name)
        with open(files["list"], "w") as f:
            f.write("102\t%s.txt\t%s.txt\n" % (name, name))
        run(sys.executable, "-B", os.path.join(REPO, "tests", "e2e", "make_bmp.py"), files["splash"],
            str(100 + len(name)), "50", "102030", "405060")
        run(sys.executable, "-B", os.path.join(REPO, "tools", "make_dev_cert.py"), files["certs"])
        past = time.time() - 3600
        for root, _, names in os.walk(folder):
            for n in names:
                os.utime(os.path.join(root, n), (past, past))
        return files

    def configure_and_build(self, *definitions):
        run("cmake", "--preset", "win32", "-B", SCRATCH, "-DCARRYALL_DEMO_PAYLOAD_MB=1", *definitions)
        self.build()

    def build(self):
        for target in TARGETS:
            run("cmake", "--build", SCRATCH, "--target", target)

    def built(self):
        """What the build made: the product name in the string table, the splash's
        size, the payload's file names and the signing certificate."""
        strings = read(os.path.join(SCRATCH, "gen", "resources", "strings.rc")).decode("utf-8")
        name = next(line for line in strings.splitlines() if line.strip().startswith("1,"))
        splash = read(os.path.join(SCRATCH, "gen", "resources", "splash.bmp"))
        manifest = read(os.path.join(SCRATCH, "gen", "payload", "CarryallInstaller", "manifest.txt"))
        fields = manifest.decode("cp1252").split("*")
        signing = read(os.path.join(SCRATCH, "gen", "signing", "CarryallInstaller.txt")).decode()
        cert = signing.split("--cert;")[1].split(";")[0]
        return (name.split(",", 1)[1].strip(), int.from_bytes(splash[18:22], "little"),
                fields[1::3], os.path.relpath(cert, SCRATCH))

    def given(self, files):
        return ["-DCARRYALL_STRINGS=" + files["strings"], "-DCARRYALL_PAYLOAD=" + files["list"],
                "-DCARRYALL_SPLASH_BITMAP=" + files["splash"],
                "-DCARRYALL_SIGN_CERT=" + os.path.join(files["certs"], "leaf.pem"),
                "-DCARRYALL_SIGN_KEY=" + os.path.join(files["certs"], "leaf.key")]

    def test_each_configure_builds_what_it_was_given(self):
        alpha, beta = self.product("Alpha"), self.product("Beta")
        demo = ["install.bin", "Varnhold.InstallerWizard.UI.exe"]

        def product_of(name, files):
            return ('"%s"' % name, 100 + len(name), ["%s.txt" % name],
                    os.path.relpath(os.path.join(files["certs"], "leaf.pem"), SCRATCH))

        self.configure_and_build(*self.given(alpha))
        self.assertEqual(product_of("Alpha", alpha), self.built())

        # An edited payload list makes the build run CMake again, with the cache alone.
        with open(alpha["list"], "a") as f:
            f.write("# edited\n")
        self.build()
        self.assertEqual(product_of("Alpha", alpha), self.built())

        self.configure_and_build()
        name, width, files, cert = self.built()
        self.assertEqual(('"%s"' % DEFAULT_NAME, 425, os.path.join("signing", "leaf.pem")), (name, width, cert))
        self.assertTrue(set(demo) <= set(files), files)

        self.configure_and_build(*self.given(beta))
        self.assertEqual(product_of("Beta", beta), self.built())


if __name__ == "__main__":
    unittest.main()
