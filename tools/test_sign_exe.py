#!/usr/bin/env python3
"""Tests of sign_exe.py and make_dev_cert.py, with osslsigncode as the independent judge of
every signature.

    python3 tools/test_sign_exe.py [-v]
"""

import os
import struct
import subprocess
import sys
import unittest

import pefile  # Debian's python3-pefile

from pe_image import Checksum
from pe_testing import HERE, SigningCase, make_pe, run_tool, security_directory
from test_tag_exe import scan_tail

OPUS_INFO_OID = bytes.fromhex("060a2b06010401823702010c")


def opus_info(data):
    """The DER of the opus-info attribute's value in a signed file."""
    at = data.index(OPUS_INFO_OID) + len(OPUS_INFO_OID)
    assert data[at] == 0x31 and data[at + 2] == 0x30, data[at:at + 4].hex()
    return data[at + 2:at + 4 + data[at + 3]]


class SignExe(SigningCase):
    def test_signed_files_verify_and_carry_the_opus_info(self):
        cases = [
            # (PE32+?, arguments, the opus-info value's exact DER)
            (False, ["--name", "T\u00e9st", "--url", "http://a.b"],
             "301a" "a00a" "8008" "0054" "00e9" "0073" "0074" "a10c" "800a" + b"http://a.b".hex()),
            (True, ["--name", "T\u00e9st", "--url", "http://a.b"],
             "301a" "a00a" "8008" "0054" "00e9" "0073" "0074" "a10c" "800a" + b"http://a.b".hex()),
            (False, ["--name", "Tools"], "300e" "a00c" "800a" + "Tools".encode("utf-16-be").hex()),
            (False, ["--url", "http://a.b"], "300e" "a10c" "800a" + b"http://a.b".hex()),
            (False, [], "3000"),
        ]
        for plus, args, expected in cases:
            with self.subTest(plus=plus, args=args):
                self.write("in.exe", make_pe(plus))
                self.sign("in.exe", "out.exe", *args)
                ok, output = self.verify("out.exe")
                self.assertTrue(ok, output)
                self.assertNotIn("invalid PE checksum", output)
                signed = self.read("out.exe")
                self.assertEqual(bytes.fromhex(expected), opus_info(signed))
                offset, size = security_directory(signed)
                self.assertEqual((len(make_pe(plus)), len(signed)), (offset, offset + size))
                self.assertEqual(0, size % 8)
                self.assertEqual(size.to_bytes(4, "little") + b"\x00\x02\x02\x00", signed[offset:offset + 8])

    def test_resigning_replaces_the_signature_also_in_place(self):
        self.write("in.exe", make_pe())
        self.sign("in.exe", "once.exe", "--name", "First", "--url", "http://first")
        self.sign("once.exe", "twice.exe", "--name", "Second")
        self.sign("in.exe", "direct.exe", "--name", "Second")
        self.assertEqual(self.read("direct.exe"), self.read("twice.exe"))
        self.sign("once.exe", "once.exe", "--name", "Second")
        self.assertEqual(self.read("direct.exe"), self.read("once.exe"))
        ok, output = self.verify("once.exe")
        self.assertTrue(ok, output)
        self.assertIn("Number of verified signatures: 1", output)

    def test_a_changed_byte_breaks_the_signature_except_in_the_checksum(self):
        cases = [
            # (what is changed, file offset, still verifies)
            ("section data", 0x300, False),
            ("COFF time stamp", 0x48, False),
            ("last byte before the certificate table", 0x15FF, False),
            ("PE checksum", 0x40 + 24 + 64, True),
        ]
        self.write("in.exe", make_pe())
        self.sign("in.exe", "signed.exe")
        for what, offset, verifies in cases:
            with self.subTest(what):
                data = bytearray(self.read("signed.exe"))
                data[offset] ^= 0x01
                self.write("changed.exe", data)
                self.assertEqual(verifies, self.verify("changed.exe")[0])

    def test_errors_leave_no_output_and_the_input_unchanged(self):
        other = self.path("other")
        self.assertEqual(0, run_tool("make_dev_cert.py", other).returncode)
        self.write("in.exe", make_pe())
        self.write("not_pe.exe", b"MZ" + b"\0" * 5000)
        self.write("empty.pem", b"")
        cases = [
            # (input, certificate, key, chain, words of the message)
            ("in.exe", self.cert, os.path.join(other, "leaf.key"), self.ca, "does not belong to the certificate"),
            ("in.exe", self.cert, self.path("missing.key"), self.ca, "cannot sign"),
            ("in.exe", self.path("missing.pem"), self.key, self.ca, "cannot read"),
            ("in.exe", self.cert, self.key, self.path("empty.pem"), "holds no PEM certificate"),
            ("in.exe", self.path("empty.pem"), self.key, "", "holds no PEM certificate"),
            ("not_pe.exe", self.cert, self.key, "", "not a PE file"),
            ("missing.exe", self.cert, self.key, "", "cannot read"),
        ]
        for source, cert, key, chain, words in cases:
            for out in ("out.exe", source):
                with self.subTest(source=source, words=words, out=out):
                    before = self.read(source) if os.path.exists(self.path(source)) else None
                    result = run_tool("sign_exe.py", self.path(source), self.path(out),
                                      "--cert", cert, "--key", key, "--chain", chain)
                    self.assertEqual(1, result.returncode)
                    self.assertIn(words, result.stderr.decode())
                    self.assertFalse(os.path.exists(self.path("out.exe")))
                    self.assertEqual(before, self.read(source) if before is not None else None)
        self.assertEqual(["ca.key", "ca.pem", "empty.pem", "in.exe", "leaf.key", "leaf.pem", "not_pe.exe", "other"],
                         sorted(os.listdir(self.dir) + os.listdir(other)), "a temporary file was left")

    def tag(self, in_name, out_name, info):
        result = run_tool("tag_exe.py", self.path(in_name), self.path(out_name), "--info", info, "--allow-unsigned")
        self.assertEqual(0, result.returncode, result.stderr.decode())

    def test_signing_a_tagged_file_keeps_its_information_block(self):
        # Lengths 1 to 8 meet every amount of alignment padding; 4106 is the longest block.
        infos = ["x" * n for n in range(1, 9)] + ["<info channel='beta'/>", "y" * 4106]
        self.write("in.exe", make_pe())
        self.sign("in.exe", "first.exe", "--name", "First")
        self.sign("in.exe", "second.exe", "--name", "Second")
        for info in infos:
            for tagged_when in ("signed", "unsigned"):
                with self.subTest(length=len(info), tagged=tagged_when):
                    self.tag("first.exe" if tagged_when == "signed" else "in.exe", "tagged.exe", info)
                    self.sign("tagged.exe", "tagged.exe", "--name", "Second")
                    # Exactly the file that tagging the newly signed file gives.
                    self.tag("second.exe", "expected.exe", info)
                    self.assertEqual(self.read("expected.exe"), self.read("tagged.exe"))
                    self.assertEqual(info.encode(), scan_tail(self.read("tagged.exe")))
                    ok, output = self.verify("tagged.exe")
                    self.assertTrue(ok, output)
                    self.assertNotIn("invalid PE checksum", output)

    def test_bytes_that_re_signing_would_drop_are_refused(self):
        self.write("in.exe", make_pe())
        self.sign("in.exe", "signed.exe")
        signed = self.read("signed.exe")
        offset, size = security_directory(signed)

        def grown_table(extra, entry=True):
            data = bytearray(signed + extra)
            if entry:
                struct.pack_into("<I", data, offset, size + len(extra))
            struct.pack_into("<I", data, 0x40 + 24 + 96 + 32 + 4, size + len(extra))
            return bytes(data)

        not_pkcs7 = bytearray(signed)
        struct.pack_into("<H", not_pkcs7, offset + 6, 0x0001)
        cases = [
            # (the input's bytes, words of the message)
            (signed + b"extra", "bad.exe: 5 bytes follow the certificate table; re-signing would drop"),
            (grown_table(b"\0\0NOTATAG"), "holds 7 bytes after the signature that are not an information block"),
            (bytes(not_pkcs7), "the certificate table cannot be read"),
            (signed[:-100], "points outside the file"),
            (grown_table(struct.pack("<IHH", 16, 0x0200, 2) + b"\x30\x06" + bytes(6), entry=False),
             "holds a second entry after the signature's (16 bytes)"),
        ]
        for data, words in cases:
            with self.subTest(words):
                self.write("bad.exe", data)
                result = run_tool("sign_exe.py", self.path("bad.exe"), self.path("bad.exe"),
                                  "--cert", self.cert, "--key", self.key)
                self.assertEqual(1, result.returncode)
                self.assertIn(words, result.stderr.decode())
                self.assertEqual(data, self.read("bad.exe"))

    def test_data_after_an_unsigned_image_stays_in_the_signed_image(self):
        overlay = b"\xef\xbe\xad\xdeNullsoftInst" + bytes(range(256)) * 4
        self.write("nsis.exe", make_pe() + overlay)
        self.tag("nsis.exe", "tagged.exe", "<a/>")
        self.sign("tagged.exe", "signed.exe")
        signed = self.read("signed.exe")
        self.assertEqual((make_pe() + overlay)[0x200:], signed[0x200:len(make_pe() + overlay)])
        self.assertEqual(b"<a/>", scan_tail(signed))
        self.assertTrue(self.verify("signed.exe")[0])

    def test_names_and_links_that_are_odd(self):
        self.write("in.exe", make_pe())
        cases = [
            # (the --name/--url argument as bytes, exit status, the message or the name's DER)
            (b"--name=-Setup", 0, "a00e800c" + "-Setup".encode("utf-16-be").hex()),
            (b"--name=caf\xe9", 1, "sign_exe.py: error: --name holds a byte that is not UTF-8 (0xE9)\n"),
            (b"--url=http://\xe9", 1, "sign_exe.py: error: --url holds a byte that is not UTF-8 (0xE9)\n"),
            (b"--url=http://\xc3\xa9", 1, "--url must be ASCII"),
        ]
        for argument, status, expected in cases:
            with self.subTest(argument):
                result = subprocess.run(
                    [sys.executable, "-B", os.path.join(HERE, "sign_exe.py"), self.path("in.exe"),
                     self.path("out.exe"), "--cert", self.cert, "--key", self.key, argument], capture_output=True)
                self.assertEqual(status, result.returncode, result.stderr)
                if status:
                    self.assertIn(expected, result.stderr.decode())
                    self.assertEqual(1, result.stderr.count(b"\n"))
                    self.assertFalse(os.path.exists(self.path("out.exe")))
                else:
                    self.assertIn(expected, opus_info(self.read("out.exe")).hex())
                    os.remove(self.path("out.exe"))

    def test_development_certificate_is_made_once(self):
        before = {name: os.stat(os.path.join(self.cert_dir, name)).st_mtime_ns
                  for name in ("ca.pem", "ca.key", "leaf.pem", "leaf.key")}
        result = run_tool("make_dev_cert.py", self.cert_dir)
        self.assertEqual((0, b""), (result.returncode, result.stdout))
        self.assertEqual(before, {name: os.stat(os.path.join(self.cert_dir, name)).st_mtime_ns
                                  for name in before})


class PeChecksum(unittest.TestCase):
    def test_streamed_checksum_is_pefiles(self):
        base = bytearray(make_pe())
        checksum_at = 0x40 + 24 + 64
        # A word in the section's data that brings the sum of the words to a multiple of
        # 0xFFFF, which the fold writes as 0xFFFF, not 0.
        folds_to_ffff = bytearray(base)
        total = Checksum()
        total.add(folds_to_ffff, 0)
        low = total.value(0)
        folds_to_ffff[0x300:0x302] = ((int.from_bytes(folds_to_ffff[0x300:0x302], "little") - low) % 0xFFFF).to_bytes(2, "little")
        cases = [
            # (what, the file's bytes)
            ("even length", bytes(base)),
            ("odd length", bytes(base) + b"\x7f"),
            ("checksum field already set", bytes(base[:checksum_at]) + b"\xff" * 4 + bytes(base[checksum_at + 4:])),
            ("words summing to a multiple of 0xFFFF", bytes(folds_to_ffff)),
        ]
        for what, data in cases:
            for chunk in (1 << 20, 3):  # whole, and in pieces that start at odd offsets
                with self.subTest(what, chunk=chunk):
                    total = Checksum()
                    zeroed = data[:checksum_at] + bytes(4) + data[checksum_at + 4:]
                    for at in range(0, len(zeroed), chunk):
                        total.add(zeroed[at:at + chunk], at)
                    self.assertEqual(pefile.PE(data=data).generate_checksum(), total.value(len(data)))
        self.assertEqual(0xFFFF + len(folds_to_ffff), pefile.PE(data=bytes(folds_to_ffff)).generate_checksum())


if __name__ == "__main__":
    unittest.main()
