"""Shared by the signing and tagging tests: a small valid PE file made by hand, the
development certificate, and osslsigncode as the independent check of a signature."""

import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))


def make_pe(plus=False, raw_size=0x1400):
    """A PE32 (or PE32+) image with one code section of raw_size bytes: DOS header, PE
    header at 0x40, headers padded to 0x200, the section's raw data at 0x200."""
    optional_size = 240 if plus else 224
    coff = struct.pack("<HHIIIHH", 0x8664 if plus else 0x14C, 1, 0, 0, 0, optional_size, 0x0102)
    if plus:
        optional = struct.pack("<HBBIIIII", 0x20B, 2, 0, raw_size, 0, 0, 0x1000, 0x1000)
        optional += struct.pack("<Q", 0x140000000)
    else:
        optional = struct.pack("<HBBIIIIII", 0x10B, 2, 0, raw_size, 0, 0, 0x1000, 0x1000, 0)
        optional += struct.pack("<I", 0x400000)
    image_size = 0x1000 + (raw_size + 0xFFF) // 0x1000 * 0x1000
    optional += struct.pack("<IIHHHHHHIIIIHH", 0x1000, 0x200, 6, 0, 0, 0, 6, 0, 0,
                            image_size, 0x200, 0, 2, 0x8140)
    stack_heap = struct.pack("<QQQQ" if plus else "<IIII", 0x100000, 0x1000, 0x100000, 0x1000)
    optional += stack_heap + struct.pack("<II", 0, 16) + b"\0" * (16 * 8)
    assert len(optional) == optional_size
    section = struct.pack("<8sIIIIIIHHI", b".text", raw_size, 0x1000, raw_size, 0x200, 0, 0, 0, 0,
                          0x60000020)
    dos = b"MZ" + b"\0" * 0x3A + struct.pack("<I", 0x40)
    headers = dos + b"PE\0\0" + coff + optional + section
    body = bytes((i * 7 + 3) & 0xFF for i in range(raw_size))
    return headers + b"\0" * (0x200 - len(headers)) + body


def security_directory(data):
    """(offset, size) of the certificate table of a file that make_pe made."""
    optional = 0x40 + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    return struct.unpack_from("<II", data, optional + (112 if magic == 0x20B else 96) + 32)


def run_tool(name, *args):
    return subprocess.run([sys.executable, "-B", os.path.join(HERE, name)] + list(args),
                          capture_output=True)


class SigningCase(unittest.TestCase):
    """Makes the development certificate once per test class, in a temporary folder, and
    gives each test its own folder."""

    @classmethod
    def setUpClass(cls):
        for tool in ("openssl", "osslsigncode"):
            if shutil.which(tool) is None:
                raise unittest.SkipTest("%s is not installed (scripts/setup.sh installs it)" % tool)
        cls.cert_dir = tempfile.mkdtemp(prefix="dev_cert_test_")
        result = run_tool("make_dev_cert.py", cls.cert_dir)
        if result.returncode != 0:
            raise RuntimeError(result.stderr.decode())
        cls.cert = os.path.join(cls.cert_dir, "leaf.pem")
        cls.key = os.path.join(cls.cert_dir, "leaf.key")
        cls.ca = os.path.join(cls.cert_dir, "ca.pem")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.cert_dir)

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="signing_test_")
        self.addCleanup(shutil.rmtree, self.dir)

    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)
        return self.path(name)

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def sign(self, in_name, out_name, *extra):
        result = run_tool("sign_exe.py", self.path(in_name), self.path(out_name),
                          "--cert", self.cert, "--key", self.key, "--chain", self.ca, *extra)
        self.assertEqual(0, result.returncode, result.stderr.decode())

    def verify(self, name):
        """osslsigncode's verdict on the file: (passed, its output)."""
        result = subprocess.run(["osslsigncode", "verify", "-in", self.path(name), "-CAfile", self.ca],
                                capture_output=True)
        output = (result.stdout + result.stderr).decode(errors="replace")
        return result.returncode == 0 and "Signature verification: ok" in output, output
