#!/usr/bin/env python3
"""Tests of sign_exe.py and make_dev_cert.py, with osslsigncode as the independent judge of
every signature.

    python3 tools/test_sign_exe.py [-v]
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest

import pefile  # Debian's python3-pefile

import signing_testing
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


class SignForPublishers(SigningCase):
    """Timestamps from a local authority, a key on a SoftHSM token, and the publisher's
    own signing command, each judged by osslsigncode."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.work = tempfile.mkdtemp(prefix="publisher_test_")
        cls.authorities = {mode: signing_testing.Authority(os.path.join(cls.work, mode), mode)
                           for mode in ("ok", "garbage", "error")}
        ca = os.path.join(cls.work, "publisher_ca")
        signing_testing.openssl("req", "-new", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", ca + ".key",
                                "-subj", "/CN=Publisher CA", "-days", "3650", "-out", ca + ".pem")
        cls.publisher_ca = ca + ".pem"
        # Valid for one day: osslsigncode's -time then judges it after its expiry.
        cls.publisher = signing_testing.issue(cls.work, "publisher", "/CN=Publisher", ca + ".pem", ca + ".key",
                                              signing_testing.LEAF_EXTENSIONS, days="1")
        cls.publisher_key = os.path.join(cls.work, "publisher.key")
        cls.token = signing_testing.Token(os.path.join(cls.work, "token")) if signing_testing.have_token_tools() else None

    @classmethod
    def tearDownClass(cls):
        for authority in cls.authorities.values():
            authority.close()
        shutil.rmtree(cls.work)
        super().tearDownClass()

    def run_sign(self, *args, env=None):
        return subprocess.run([sys.executable, "-B", os.path.join(HERE, "sign_exe.py")] + list(args),
                              capture_output=True, env=env)

    def verify_at(self, name, ca, when=None):
        args = ["osslsigncode", "verify", "-in", self.path(name), "-CAfile", ca,
                "-TSA-CAfile", self.authorities["ok"].ca]
        if when:
            args += ["-time", str(when)]
        result = subprocess.run(args, capture_output=True)
        output = (result.stdout + result.stderr).decode(errors="replace")
        return result.returncode == 0 and "Signature verification: ok" in output, output

    def test_timestamp_authorities_are_tried_in_order_and_checked(self):
        ok, garbage, error = (self.authorities[m].url for m in ("ok", "garbage", "error"))
        unreachable = "http://127.0.0.1:1/"
        cases = [
            # (the authorities, the authority named on success or the words of the refusal)
            ([ok], ok),
            ([unreachable, garbage, ok], ok),
            ([unreachable], unreachable + ": [Errno 111] Connection refused"),
            ([garbage], garbage + ": the answer is not a timestamp response"),
            ([error, unreachable], error + ": HTTP status 500 Broken on purpose; " + unreachable + ": "),
            (["ftp:no-host"], "ftp:no-host: "),
        ]
        self.write("in.exe", make_pe())
        for urls, expected in cases:
            with self.subTest(urls=urls):
                args = [a for url in urls for a in ("--timestamp", url)]
                result = self.run_sign(self.path("in.exe"), self.path("out.exe"), "--cert", self.cert,
                                       "--key", self.key, "--chain", self.ca, *args)
                if expected == ok:
                    self.assertEqual(0, result.returncode, result.stderr)
                    self.assertIn("timestamp ", result.stdout.decode())
                    self.assertTrue(result.stdout.decode().strip().endswith("from " + ok))
                    verified, output = self.verify_at("out.exe", self.ca)
                    self.assertTrue(verified, output)
                    self.assertIn("Timestamp Server Signature verification: ok", output)
                    os.remove(self.path("out.exe"))
                else:
                    self.assertEqual(1, result.returncode)
                    self.assertIn("sign_exe.py: error: no timestamp: " + expected, result.stderr.decode())
                    self.assertEqual(1, result.stderr.count(b"\n"))
                    self.assertEqual(["in.exe"], os.listdir(self.dir))

    def test_after_the_certificate_expires_only_a_timestamped_signature_verifies(self):
        self.write("in.exe", make_pe())
        later = int(time.time()) + 10 * 86400
        own = ["--cert", self.publisher, "--key", self.publisher_key]
        command = "osslsigncode sign -certs %s -key %s -h sha256 -in {in} -out {out}" % (self.publisher,
                                                                                         self.publisher_key)
        cases = [
            # (signing arguments, verifies after expiry, warns)
            (own + ["--timestamp", self.authorities["ok"].url], True, False),
            (own, False, True),
            (["--command", command + " -ts " + self.authorities["ok"].url], True, False),
            (["--command", command], False, True),
        ]
        for args, verifies, warns in cases:
            with self.subTest(args=args):
                result = self.run_sign(self.path("in.exe"), self.path("out.exe"), *args)
                self.assertEqual(0, result.returncode, result.stderr)
                self.assertEqual(warns, b"has no timestamp: its signature stops verifying when the certificate "
                                        b"expires" in result.stderr, result.stderr)
                self.assertTrue(self.verify_at("out.exe", self.publisher_ca)[0])
                self.assertEqual(verifies, self.verify_at("out.exe", self.publisher_ca, later)[0])

    def test_a_key_on_a_token_signs_and_its_pin_comes_from_the_environment(self):
        if self.token is None:
            self.skipTest("SoftHSM, OpenSC or the PKCS#11 engine is missing (scripts/setup.sh installs them)")
        leaf = self.token.certificate("leaf", self.ca, os.path.join(self.cert_dir, "ca.key"), serial="0x5A17C0DE")
        self.write("in.exe", make_pe())
        no_pin = {k: v for k, v in self.token.env.items() if k != "CARRYALL_PKCS11_PIN"}
        cases = [
            # (environment, exit status, words of the message)
            (self.token.env, 0, ""),
            (no_pin, 1, "set the environment variable CARRYALL_PKCS11_PIN to the token's PIN"),
            (dict(self.token.env, CARRYALL_PKCS11_PIN="0000"), 1, "cannot sign"),
        ]
        for env, status, words in cases:
            with self.subTest(words=words):
                result = self.run_sign(self.path("in.exe"), self.path("out.exe"), "--cert", leaf, "--chain", self.ca,
                                       "--key", self.token.uri, "--pkcs11-module", self.token.module,
                                       "--timestamp", self.authorities["ok"].url, "--name", "Token", env=env)
                self.assertEqual(status, result.returncode, result.stderr)
                self.assertIn(words, result.stderr.decode())
                if status == 0:
                    verified, output = self.verify_at("out.exe", self.ca)
                    self.assertTrue(verified, output)
                    self.assertIn("Serial : 5A17C0DE", output)
                    self.assertIn("Timestamp Server Signature verification: ok", output)
                    os.remove(self.path("out.exe"))
                else:
                    self.assertEqual(["in.exe"], os.listdir(self.dir))

    def test_the_publishers_command_signs_and_the_tag_is_kept(self):
        self.write("in.exe", make_pe())
        self.sign("in.exe", "signed.exe")
        self.assertEqual(0, run_tool("tag_exe.py", self.path("signed.exe"), self.path("tagged.exe"),
                                     "--info", "<kept/>").returncode)
        changed = bytearray(make_pe())
        changed[0x300] ^= 1
        self.write("changed.exe", changed)
        self.sign("changed.exe", "changed.exe")
        osslsigncode = "osslsigncode sign -certs %s -key %s -h sha256 -n Cmd -ts %s" % (
            self.cert, self.key, self.authorities["ok"].url)
        python = "'%s' -B '%s'" % (sys.executable, os.path.join(HERE, "sign_exe.py"))
        copy = "'%s' -c 'import shutil, sys; shutil.copy(sys.argv[1], sys.argv[2])'" % sys.executable
        cases = [
            # (template, exit status, words of the message)
            (osslsigncode + " -in {in} -out {out}", 0, ""),
            (osslsigncode + " -nest -in {in} -out {out}", 0, ""),
            (python + " {file} {file} --cert %s --key %s" % (self.cert, self.key), 0, ""),
            (copy + " {in} {out}", 1, "carries no new signature: the command signed nothing"),
            (copy + " %s {out} {in}" % self.path("changed.exe"), 1, "changed the image, not only its signature"),
            ("'%s' -c 'import sys; sys.exit(3)' {file}" % sys.executable, 1, "failed with exit status 3"),
            (copy + " {in} " + self.path("elsewhere.exe"), 1, "the --command template must name {file}, or both"),
            ("no-such-signer {file}", 1, "the signing command no-such-signer cannot run"),
        ]
        for template, status, words in cases:
            with self.subTest(template=template):
                result = self.run_sign(self.path("tagged.exe"), self.path("out.exe"), "--command", template)
                self.assertEqual(status, result.returncode, result.stderr)
                self.assertIn(words, result.stderr.decode())
                if status == 0:
                    self.assertEqual(b"<kept/>", scan_tail(self.read("out.exe")))
                    verified, output = self.verify_at("out.exe", self.ca)
                    self.assertTrue(verified, output)
                    self.assertIn("Number of verified signatures: %d" % (2 if "-nest" in template else 1), output)
                    os.remove(self.path("out.exe"))
                else:
                    self.assertEqual(1, result.stderr.count(b"\n"))
                    self.assertEqual(["changed.exe", "in.exe", "signed.exe", "tagged.exe"], sorted(os.listdir(self.dir)))

    def test_command_excludes_the_projects_own_settings(self):
        result = self.run_sign("in.exe", "out.exe", "--command", "x {file}", "--name", "N", "--timestamp", "http://t/")
        self.assertEqual(2, result.returncode)
        self.assertIn("give --name, --timestamp to that tool's command instead", result.stderr.decode())


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
