#!/usr/bin/env python3
"""Tests of check_pe.py: the exact complaints about images that the loader cannot map,
that import a DLL outside KnownDLLs or that lack a hardening flag, and that a signed,
mapped image still passes and still verifies (osslsigncode judges).

    python3 tools/test_check_pe.py [-v]
"""

import struct
import unittest

from pe_testing import SigningCase, make_pe, run_tool

OPTIONAL = 0x40 + 24
SECTION = OPTIONAL + 224


KNOWN_IMPORTS = ("KERNEL32.dll", "msvcrt.dll", "SHELL32.dll", "ole32.dll")


def mapped_pe(raw_at=0x1000, imports=KNOWN_IMPORTS, dll_characteristics=0x8140, relocations=8,
              coff_characteristics=0x0122):
    """make_pe's image relinked with a 4 KiB file alignment: headers padded to 0x1000,
    the section's raw data at raw_at (RVA 0x1000); the import table at the section's
    start names imports, each with one function imported by name; the base relocation
    directory is relocations bytes at RVA 0x1800."""
    data = bytearray(make_pe(raw_size=0x2000))
    body = bytearray(data[0x200:])
    names_at = 20 * (len(imports) + 1)
    for index, name in enumerate(imports):
        # The lookup table (one entry and its terminator), the hint and name, the DLL name.
        thunks_at = names_at
        struct.pack_into("<II", body, thunks_at, 0x1000 + thunks_at + 8, 0)
        body[thunks_at + 8:thunks_at + 16] = b"\0\0Call\0\0"
        names_at = thunks_at + 16
        struct.pack_into("<I", body, 20 * index, 0x1000 + thunks_at)  # OriginalFirstThunk
        struct.pack_into("<I", body, 20 * index + 16, 0x1000 + thunks_at)  # FirstThunk
        struct.pack_into("<I", body, 20 * index + 12, 0x1000 + names_at)  # Name
        body[names_at:names_at + len(name) + 1] = name.encode() + b"\0"
        names_at += len(name) + 1
    body[20 * len(imports):20 * len(imports) + 20] = bytes(20)
    struct.pack_into("<H", data, 0x40 + 22, coff_characteristics)
    struct.pack_into("<I", data, OPTIONAL + 36, 0x1000)  # FileAlignment
    struct.pack_into("<I", data, OPTIONAL + 60, 0x1000)  # SizeOfHeaders
    struct.pack_into("<H", data, OPTIONAL + 70, dll_characteristics)
    struct.pack_into("<II", data, OPTIONAL + 96 + 8, 0x1000, 20 * (len(imports) + 1))
    struct.pack_into("<II", data, OPTIONAL + 96 + 40, 0x1800, relocations)
    struct.pack_into("<I", data, SECTION + 20, raw_at)   # PointerToRawData
    return bytes(data[:0x200]) + b"\0" * (raw_at - 0x200) + bytes(body)


def make_pe_characteristics():
    return struct.unpack_from("<H", make_pe(), 0x40 + 22)[0]


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
                "section .text starts at file offset 0x200, not a multiple of 4096",
                "Characteristics 0x%04x lacks LARGE_ADDRESS_AWARE" % make_pe_characteristics(),
                "the base relocations are stripped: the image cannot be moved"]),
            ("shifted.exe", mapped_pe(raw_at=0x1200), 1, [
                "section .text starts at file offset 0x1200, not a multiple of 4096"]),
            ("planting.exe", mapped_pe(imports=("KERNEL32.dll", "VERSION.dll", "Shlwapi.DLL", "wintrust.dll")), 1, [
                "imports VERSION.dll, which Windows would look for beside the program first",
                "imports wintrust.dll, which Windows would look for beside the program first"]),
            ("no_imports.exe", mapped_pe(imports=()), 0, []),
            ("unhardened.exe", mapped_pe(dll_characteristics=0x0140 ^ 0x0100, relocations=0), 1, [
                "DllCharacteristics 0x0040 lacks NX_COMPAT",
                "DllCharacteristics 0x0040 lacks TERMINAL_SERVER_AWARE",
                "the base relocations are stripped: the image cannot be moved"]),
            ("stripped.exe", mapped_pe(dll_characteristics=0x8100, coff_characteristics=0x0123), 1, [
                "DllCharacteristics 0x8100 lacks DYNAMIC_BASE",
                "the base relocations are stripped: the image cannot be moved"]),
            ("small_address_space.exe", mapped_pe(coff_characteristics=0x0102), 1, [
                "Characteristics 0x0102 lacks LARGE_ADDRESS_AWARE"]),
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
