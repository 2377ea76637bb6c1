#!/usr/bin/env python3
"""Tests of tag_exe.py: the exact bytes it appends, the blocks it refuses, that the
bootstrapper's tail scan, as its contract describes it, finds exactly the information,
and that a signed file stays signed (osslsigncode judges).

    python3 tools/test_tag_exe.py [-v]
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

from pe_testing import SigningCase, make_pe, security_directory

HERE = os.path.dirname(os.path.abspath(__file__))
TOOL = os.path.join(HERE, "tag_exe.py")

# Stands in for a bootstrapper: long enough for the scan, and with a marker of its own
# in its tail that the appended one must win over.
EXE = b"MZ" + bytes(range(256)) * 20 + b"MRDC<old/>" + b"\xff" * 10


def run_tool(*args):
    return subprocess.run([sys.executable, TOOL] + list(args), capture_output=True)


def run_unsigned(*args):
    """tag_exe.py on a file that is not signed, which it tags only when told so."""
    return run_tool(*(list(args) + ["--allow-unsigned"]))


def scan_tail(data):
    """What the bootstrapper writes to info.xml for a file of these bytes, or None: the
    window is the 4116 bytes before the last one, the marker may start at window index
    1 to 4111, the nearest to the end wins, and the last 6 bytes are never information."""
    size = len(data)
    if size <= 4116:
        return None
    window = data[size - 4117:size - 1]
    for index in range(4111, 0, -1):
        if window[index:index + 4] == b"MRDC":
            length = (4111 - index) - 4
            return window[index + 4:index + 4 + length] if length > 0 else None
    return None


class TagExe(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="tag_exe_test_")
        self.addCleanup(shutil.rmtree, self.dir)
        self.exe = self.write("in.exe", EXE)
        self.out = os.path.join(self.dir, "out.exe")

    def write(self, name, data):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def read(self, path):
        with open(path, "rb") as f:
            return f.read()

    def test_appends_marker_information_and_six_zero_bytes(self):
        cases = [
            # (arguments for the information, the bytes appended after the exe)
            (["--info", "<info/>"], b"MRDC<info/>\0\0\0\0\0\0"),
            (["--info", "caf\u00e9 \u20ac5"], b"MRDCcaf\xe9 \x805\0\0\0\0\0\0"),
            (["--info-file", self.write("zero.bin", b"a\0b\r\n")], b"MRDCa\0b\r\n\0\0\0\0\0\0"),
            (["--info-file", self.write("utf8.xml", "\u00e9".encode("utf-8"))],
             b"MRDC\xc3\xa9\0\0\0\0\0\0"),
            (["--info", "x" * 4106], b"MRDC" + b"x" * 4106 + b"\0" * 6),
        ]
        for args, tail in cases:
            with self.subTest(args=args[0], length=len(tail)):
                result = run_unsigned(self.exe, self.out, *args)
                self.assertEqual(0, result.returncode, result.stderr)
                self.assertEqual(EXE + tail, self.read(self.out))
                self.assertEqual(tail[4:-6], scan_tail(self.read(self.out)))
        self.assertEqual(EXE, self.read(self.exe), "the input was changed")

    def test_refusals_leave_no_output(self):
        link = os.path.join(self.dir, "link.exe")
        os.symlink(self.exe, link)
        tiny = self.write("tiny.exe", b"MZ" * 2000)
        cases = [
            # (IN, OUT, information arguments, words of the message)
            (self.exe, self.exe, ["--info", "x"], "same file"),
            (self.exe, link, ["--info", "x"], "same file"),
            (self.exe, os.path.join(self.dir, ".", "in.exe"), ["--info", "x"], "same file"),
            (self.exe, self.out, ["--info", "x" * 4107], "4107 bytes; the bootstrapper finds at most 4106"),
            (self.exe, self.out, ["--info-file", self.write("long.bin", b"\0" * 5000)],
             "5000 bytes; the bootstrapper finds at most 4106"),
            (self.exe, self.out, ["--info", ""], "empty"),
            (self.exe, self.out, ["--info", "<a>MRDC</a>"], "'MRDC'"),
            (self.exe, self.out, ["--info", "\u65e5"], "code page 1252"),
            (self.exe, self.out, ["--info-file", os.path.join(self.dir, "missing")], "cannot read"),
            (tiny, self.out, ["--info", "x" * 100], "the result would have 4110 bytes"),
            (os.path.join(self.dir, "missing.exe"), self.out, ["--info", "x"], "cannot read"),
        ]
        for in_path, out_path, args, words in cases:
            with self.subTest(out=out_path, args=args[0], words=words):
                result = run_unsigned(in_path, out_path, *args)
                self.assertEqual(1, result.returncode)
                self.assertIn(words, result.stderr.decode())
                self.assertFalse(os.path.exists(self.out))
                self.assertEqual(EXE, self.read(self.exe))

    def test_info_and_info_file_exclude_each_other(self):
        result = run_unsigned(self.exe, self.out, "--info", "a", "--info-file", self.exe)
        self.assertEqual(2, result.returncode)
        self.assertFalse(os.path.exists(self.out))

    def test_existing_output_is_replaced(self):
        self.write("out.exe", b"old contents")
        self.assertEqual(0, run_unsigned(self.exe, self.out, "--info", "new").returncode)
        self.assertEqual(EXE + b"MRDCnew" + b"\0" * 6, self.read(self.out))


def block(info):
    return b"MRDC" + info + b"\0" * 6


class TagPeExe(SigningCase):
    def tag(self, in_name, out_name, info, *extra):
        result = run_tool(self.path(in_name), self.path(out_name), "--info", info, *extra)
        self.assertEqual(0, result.returncode, result.stderr.decode())
        return self.read(out_name)

    def test_signed_file_keeps_its_signature_with_the_block_at_the_end(self):
        self.write("in.exe", make_pe())
        self.sign("in.exe", "signed.exe")
        signed = self.read("signed.exe")
        table = security_directory(signed)[0]
        # Lengths 1 to 8 meet every amount of alignment padding; 4106 is the longest block.
        for info in [b"x" * n for n in range(1, 9)] + [b"<info/>", b"y" * 4106]:
            with self.subTest(length=len(info)):
                tagged = self.tag("signed.exe", "tagged.exe", info.decode())
                ok, output = self.verify("tagged.exe")
                self.assertTrue(ok, output)
                self.assertNotIn("invalid PE checksum", output)
                self.assertTrue(tagged.endswith(block(info)))
                self.assertEqual(info, scan_tail(tagged))
                offset, size = security_directory(tagged)
                self.assertEqual((table, len(tagged), 0), (offset, offset + size, size % 8))
                self.assertEqual(size, int.from_bytes(tagged[offset:offset + 4], "little"))
                # Between the signature and the block only zero bytes, fewer than 8.
                padding = tagged[len(signed):len(tagged) - len(block(info))]
                self.assertEqual(b"\0" * len(padding), padding)
                self.assertLess(len(padding), 8)

    def test_tagging_a_tagged_file_replaces_its_block(self):
        cases = [
            # (file, signed?)
            ("pe32.exe", False),
            ("pe32.exe", True),
        ]
        for name, signed in cases:
            with self.subTest(signed=signed):
                self.write(name, make_pe())
                if signed:
                    self.sign(name, name)
                extra = [] if signed else ["--allow-unsigned"]
                once = self.tag(name, "once.exe", "<first a='1'/>", *extra)
                twice = self.tag("once.exe", "twice.exe", "<b/>", *extra)
                self.assertEqual(self.tag(name, "direct.exe", "<b/>", *extra), twice)
                self.assertTrue(twice.endswith(block(b"<b/>")))
                self.assertEqual(signed, self.verify("twice.exe")[0])
                if not signed:
                    self.assertEqual(make_pe() + block(b"<first a='1'/>"), once)
                    self.assertEqual(make_pe() + block(b"<b/>"), twice)

    def test_data_after_an_unsigned_image_is_kept(self):
        # An NSIS installer keeps its data after the image and finds it from there.
        overlay = b"\xef\xbe\xad\xdeNullsoftInst" + bytes(range(256)) * 8
        self.write("nsis.exe", make_pe() + overlay)
        once = self.tag("nsis.exe", "once.exe", "<a/>", "--allow-unsigned")
        self.assertEqual(make_pe() + overlay + block(b"<a/>"), once)
        twice = self.tag("once.exe", "twice.exe", "<b/>", "--allow-unsigned")
        self.assertEqual(make_pe() + overlay + block(b"<b/>"), twice)

    def test_what_tagging_cannot_keep_is_refused(self):
        self.write("in.exe", make_pe())
        self.sign("in.exe", "signed.exe")
        signed = self.read("signed.exe")
        offset, size = security_directory(signed)
        directory_size = 0x40 + 24 + 96 + 32 + 4

        def grown(extra, entry_too):
            data = bytearray(signed + extra)
            if entry_too:
                struct.pack_into("<I", data, offset, size + len(extra))
            struct.pack_into("<I", data, directory_size, size + len(extra))
            return bytes(data)

        second = struct.pack("<IHH", 16, 0x0200, 0x0002) + b"\x30\x06" + b"\0" * 6
        cases = [
            # (the input's bytes, extra arguments, words of the message)
            (make_pe(), [], "it is not signed, and a signature made after the tag would hide it; sign first, tag last"),
            (make_pe()[:0x1000], ["--allow-unsigned"], "damaged or cut short"),
            (signed[:-100], [], "damaged or cut short"),
            (signed + b"extra", [], "5 bytes follow the certificate table"),
            (grown(second, False), [], "a second entry after the signature's (16 bytes)"),
            (grown(b"\0\0NOTATAG", True), [], "7 bytes after the signature that are not an information block"),
        ]
        for data, extra, words in cases:
            with self.subTest(words):
                self.write("bad.exe", data)
                result = run_tool(self.path("bad.exe"), self.path("out.exe"), "--info", "x", *extra)
                self.assertEqual(1, result.returncode)
                message = result.stderr.decode()
                self.assertIn(words, message)
                self.assertEqual(1, message.count("\n"), message)
                self.assertFalse(os.path.exists(self.path("out.exe")))

    def test_info_that_is_not_utf8_is_one_line_of_error(self):
        self.write("in.exe", make_pe())
        self.sign("in.exe", "signed.exe")
        result = subprocess.run([sys.executable, TOOL, self.path("signed.exe"), self.path("out.exe"),
                                 b"--info=caf\xe9"], capture_output=True)
        self.assertEqual((1, b"tag_exe.py: error: --info holds a byte that is not UTF-8 (0xE9)\n"),
                         (result.returncode, result.stderr))
        self.assertFalse(os.path.exists(self.path("out.exe")))


if __name__ == "__main__":
    unittest.main()
