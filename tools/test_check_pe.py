#!/usr/bin/env python3
"""Tests of check_pe.py: the exact complaints about images that the loader cannot map,
and that a signed, mapped image still passes and still verifies (osslsigncode judges).

    python3 tools/test_check_pe.py [-v]
"""

import struct
import unittest

from pe_testing import SigningCase, make_pe, run_tool

OPTIONAL = 0x40 + 24
SECTION = OPTIONAL + 224


def mapped_pe(raw_at=0x1000):
    """make_pe's image relinked with a 4 KiB file alignment: headers padded to 0x1000,
    the section's raw data at raw_at."""
    data = bytearray(make_pe(raw_size=0x2000))
    body = bytes(data[0x200:])
    struct.pack_into("<I", data, OPTIONAL + 36, 0x1000)  # FileAlignment
    struct.pack_into("<I", data, OPTIONAL + 60, 0x1000)  # SizeOfHeaders
    struct.pack_into("<I", data, SECTION + 20, raw_at)   # PointerToRawData
    return bytes(data[:0x200]) + b"\0" * (raw_at - 0x200) + body


class CheckPeTest(SigningCase):
    def check(self, name, data):
        self.write(name, data)
        result = run_tool("check_pe.py", self.path(name))
        prefix = "check_pe: %s: " % self.path(name)
        lines = result.stderr.decode().splitlines()
        self.assertTrue(all(line.startswith(prefix) for line in lines), lines)
        return result.returncode, [line[len(prefix):] for line in lines]

    def test_verdicts(self):
        cases = [
            ("mapped.exe", mapped_pe(), 0, []),
            ("default.exe", make_pe(), 1, [
                "file alignment is 512 bytes, not 4096",
                "file alignment 512 differs from section alignment 4096",
                "section .text starts at file offset 0x200, not a multiple of 4096"]),
            ("shifted.exe", mapped_pe(raw_at=0x1200), 1, [
                "section .text starts at file offset 0x1200, not a multiple of 4096"]),
            ("text.exe", b"MZ just text", 1, ["not a PE file (no MZ header)"]),
        ]
        for name, data, status, problems in cases:
            with self.subTest(name):
                self.assertEqual((status, problems), self.check(name, data))

    def test_signing_keeps_a_mapped_image(self):
        self.write("in.exe", mapped_pe())
        self.sign("in.exe", "signed.exe")
        self.assertEqual((0, []), self.check("signed.exe", self.read("signed.exe")))
        passed, output = self.verify("signed.exe")
        self.assertTrue(passed, output)


if __name__ == "__main__":
    unittest.main()
