"""End to end: the bootstrapper verifies its own Authenticode signature under Wine, logs
its signer and hands the signed program name to the wizard; an unsigned, tampered or
declined file stops before anything is checked or unpacked.

    python3 test_signature.py [unittest options]

A publisher's route runs here too: a key made on a SoftHSM token, an RFC 3161 authority
on 127.0.0.1, signing through sign_exe.py and through osslsigncode as the publisher's own
command, then the tag; and what the tools refuse.

Bootstrappers: CARRYALL_WIZARD_EXE and CARRYALL_SMALL_EXE (signed by the build),
CARRYALL_UNSIGNED_EXE (built unsigned, with the sample wizard). Tools: CARRYALL_TAG_TOOL,
CARRYALL_SIGN_TOOL, CARRYALL_PEEK, and CARRYALL_SIGN_DIR, the folder of the development
certificate (its CA is what osslsigncode checks the chain against).
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

import harness

WIZARD_EXE = os.environ.get("CARRYALL_WIZARD_EXE")
SMALL_EXE = os.environ.get("CARRYALL_SMALL_EXE")
UNSIGNED_EXE = os.environ.get("CARRYALL_UNSIGNED_EXE")
TAG_TOOL = os.environ.get("CARRYALL_TAG_TOOL")
PEEK = os.environ.get("CARRYALL_PEEK")
SIGN_DIR = os.environ.get("CARRYALL_SIGN_DIR")
SIGN_TOOL = os.environ.get("CARRYALL_SIGN_TOOL")

NOT_SIGNED = 0x800B0100
PRODUCT = "SQL Carryall"
FAILED_TO_RUN = "Failed to run SQL Carryall error 0x800b0100."


def setUpModule():
    harness.require_files("CARRYALL_WIZARD_EXE", "CARRYALL_SMALL_EXE", "CARRYALL_UNSIGNED_EXE",
                          "CARRYALL_TAG_TOOL", "CARRYALL_SIGN_TOOL", "CARRYALL_PEEK")
    if not SIGN_DIR or not os.path.isdir(SIGN_DIR):
        raise RuntimeError(f"CARRYALL_SIGN_DIR names no folder: {SIGN_DIR!r}")
    harness.open_session()


def tearDownModule():
    harness.close_session()


def osslsigncode_verify(path, tsa_ca=None, when=None):
    """True when osslsigncode, an implementation independent of the build's signer and
    of Wine, accepts the file's signature against the development CA (and its timestamp
    against tsa_ca), at the time when (seconds since 1970) or now."""
    extra = (["-TSA-CAfile", tsa_ca] if tsa_ca else []) + (["-time", str(when)] if when else [])
    completed = subprocess.run(
        ["osslsigncode", "verify", "-in", path, "-CAfile", os.path.join(SIGN_DIR, "ca.pem")] + extra,
        stdout=subprocess.PIPE, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL, timeout=120)
    output = completed.stdout.decode("utf-8", "replace")
    return completed.returncode == 0 and "Signature verification: ok" in output, output


def certificate_serial(pem_path):
    """The serial number of a PEM certificate as its DER INTEGER holds it, in hex."""
    der = subprocess.run(["openssl", "x509", "-in", pem_path, "-outform", "DER"], check=True,
                         capture_output=True, stdin=subprocess.DEVNULL, timeout=60).stdout

    def header(pos):
        return 2 if der[pos + 1] < 0x80 else 2 + (der[pos + 1] & 0x7F)

    at = header(0)  # the TBSCertificate
    at += header(at)  # its first field
    if der[at] == 0xA0:  # explicit version
        at += 2 + der[at + 1]
    assert der[at] == 0x02, der[at:at + 4].hex()
    return der[at + 2:at + 2 + der[at + 1]].hex().upper()


def run_tool(tool, *args, env=None):
    return subprocess.run([sys.executable, "-B", tool] + list(args), capture_output=True, stdin=subprocess.DEVNULL,
                          timeout=300, env=env)


class SignatureTestCase(harness.WineTestCase):

    def setUp(self):
        super().setUp()
        self.base = os.path.join(self.tmp, "base")
        os.makedirs(self.base)
        self.log_path = os.path.join(self.tmp, "install.log")

    def run_line(self, words="", silent=True):
        line = (f'log "{self.session.to_windows(self.log_path)}" '
                f'temp "{self.session.to_windows(self.base)}" {words}').rstrip()
        return "/IAgreeToTheEULA " + line if silent else line

    def run_bootstrapper(self, exe, words="", silent=True, timeout_ms=60000):
        return self.session.run(self.run_line(words, silent), exe=exe, cwd=self.tmp, timeout_ms=timeout_ms)

    def log_text(self):
        return harness.read_bytes(self.log_path).decode(harness.ANSI).replace("\r\n", "\n")

    def copy(self, exe, name):
        path = os.path.join(self.tmp, name)
        shutil.copyfile(exe, path)
        return path

    def assertStoppedUnsigned(self, result, description):
        """The run stopped at the signature: the description in the log, the silent
        run's line and report, nothing checked or unpacked."""
        self.assertExitCode(NOT_SIGNED, result)
        log = self.log_text()
        self.assertIn(f"Digital verification: '{description}\n'\n"
                      "Not signed correctly so failing now!\n"
                      f"{FAILED_TO_RUN}\n", log)
        self.assertNotIn("GetAuthenticodeInformation", log)
        self.assertNotIn(".NET", log)
        self.assertEqual([], os.listdir(self.base))


class SignedBuildTest(SignatureTestCase):

    def test_signed_build_verifies_logs_its_signer_and_names_the_program_for_the_wizard(self):
        result = self.run_bootstrapper(WIZARD_EXE, "WIZARD_RUN_MS=100")

        self.assertExitCode(0, result)
        log = self.log_text()
        path = self.session.to_windows(WIZARD_EXE)
        self.assertIn(f"Digital verification: 'The file \"{path}\" is signed and the signature was "
                      "verified.\n'\nGetAuthenticodeInformation \n", log)
        details = re.search(r"GetAuthenticodeInformation Fininshed\n"
                            r"Digital verification: SubjectName '(?P<subject>.*)'\n"
                            r"Digital verification: ProgramName '(?P<program>.*)'\n"
                            r"Digital verification: MoreInfo    '(?P<more>.*)'\n"
                            r"Digital verification: SerialNumber (?P<serial>[0-9A-F]+)\n"
                            r"Digital verification: IssuerName '(?P<issuer>.*)'\n", log)
        self.assertIsNotNone(details, log)
        self.assertEqual(("Carryall Development", PRODUCT, "null", "Carryall Development CA"),
                         details.group("subject", "program", "more", "issuer"))
        self.assertEqual(certificate_serial(os.path.join(SIGN_DIR, "leaf.pem")), details["serial"])
        self.assertIn("Scanning for Signature\r\nNo embedded information found\r\n", log)
        self.assertRegex(log, r'Wizard: command line "[^"]*\\wizard app\.exe" .* VH_I="SQL Carryall" \n')
        ok, output = osslsigncode_verify(WIZARD_EXE)
        self.assertTrue(ok, output)

    def test_tagged_copy_still_verifies_and_hands_its_information_to_the_wizard(self):
        tagged = os.path.join(self.tmp, "tagged.exe")
        info = "<info product='signed and tagged'/>"
        subprocess.run([sys.executable, TAG_TOOL, SMALL_EXE, tagged, "--info", info], check=True,
                       stdin=subprocess.DEVNULL, timeout=120)

        result = self.run_bootstrapper(tagged, "/dontrun /keep /zeroguid")

        self.assertExitCode(0, result)
        log = self.log_text()
        self.assertIn(" is signed and the signature was verified.\n'\n", log)
        self.assertIn("Digital verification: SubjectName 'Carryall Development'\n", log)
        folder = os.path.join(self.base, "{00000000-0000-0000-0000-000000000000}")
        self.assertEqual(info.encode("cp1252"), harness.read_bytes(os.path.join(folder, "info.xml")))
        ok, output = osslsigncode_verify(tagged)
        self.assertTrue(ok, output)


class PublisherSigningTest(SignatureTestCase):
    """A key that never leaves its token, a timestamp on every signature, the tag last."""

    @classmethod
    def setUpClass(cls):
        sys.path.insert(0, os.path.dirname(SIGN_TOOL))
        import signing_testing
        if not signing_testing.have_token_tools():
            raise unittest.SkipTest("SoftHSM, OpenSC or the PKCS#11 engine is missing (scripts/setup.sh installs them)")
        cls.work = tempfile.mkdtemp(prefix="publisher_e2e_")
        cls.authority = signing_testing.Authority(os.path.join(cls.work, "tsa"))
        cls.token = signing_testing.Token(os.path.join(cls.work, "token"))
        # Valid for one day, so that osslsigncode can judge it after its expiry.
        cls.leaf = cls.token.certificate("leaf", os.path.join(SIGN_DIR, "ca.pem"), os.path.join(SIGN_DIR, "ca.key"),
                                         days="1", serial="0x5A17C0DE")

    @classmethod
    def tearDownClass(cls):
        cls.authority.close()
        shutil.rmtree(cls.work)

    def sign_with_token(self, source, out, *extra):
        result = run_tool(SIGN_TOOL, source, out, "--cert", self.leaf, "--chain", os.path.join(SIGN_DIR, "ca.pem"),
                          "--key", self.token.uri, "--pkcs11-module", self.token.module, *extra, env=self.token.env)
        self.assertEqual(0, result.returncode, result.stderr)
        return result

    def tag(self, source, out, info):
        result = run_tool(TAG_TOOL, source, out, "--info", info)
        self.assertEqual(0, result.returncode, result.stderr)

    def assertRunsSignedAndTagged(self, exe, info, program):
        result = self.run_bootstrapper(exe, "/keep /zeroguid WIZARD_RUN_MS=100")
        self.assertExitCode(0, result)
        log = self.log_text()
        self.assertIn(" is signed and the signature was verified.\n'\n", log)
        self.assertIn("Digital verification: SubjectName 'Carryall Token Publisher'\n"
                      f"Digital verification: ProgramName '{program}'\n"
                      "Digital verification: MoreInfo    'null'\n"
                      "Digital verification: SerialNumber 5A17C0DE\n"
                      "Digital verification: IssuerName 'Carryall Development CA'\n", log)
        self.assertIn(f"Scanning for Signature\r\nFound embedded information '{info}'\r\n", log)
        self.assertIn("Wizard: beside me info.xml\n", log)
        self.assertRegex(log, r'Wizard: command line "[^"]*\\wizard app\.exe" .* VH_I="%s" \n'
                         % re.escape(program if program != "null" else "Mini"))
        folder = os.path.join(self.base, "{00000000-0000-0000-0000-000000000000}")
        self.assertEqual(info.encode("cp1252"), harness.read_bytes(os.path.join(folder, "info.xml")))

    def test_token_key_with_a_timestamp_then_the_tag(self):
        signed = os.path.join(self.tmp, "signed.exe")
        result = self.sign_with_token(WIZARD_EXE, signed, "--name", "Token Publisher",
                                      "--timestamp", self.authority.url)
        self.assertIn(f"from {self.authority.url}", result.stdout.decode())
        tagged = os.path.join(self.tmp, "tagged.exe")
        self.tag(signed, tagged, "<info route='token'/>")
        after_expiry = int(time.time()) + 10 * 86400
        for when in (None, after_expiry):
            with self.subTest(when=when):
                ok, output = osslsigncode_verify(tagged, self.authority.ca, when)
                self.assertTrue(ok, output)
                self.assertIn("Timestamp Server Signature verification: ok", output)
        self.assertRunsSignedAndTagged(tagged, "<info route='token'/>", "Token Publisher")

        # Without a timestamp the signature dies with its certificate, and the tool says so.
        untimestamped = os.path.join(self.tmp, "untimestamped.exe")
        result = self.sign_with_token(SMALL_EXE, untimestamped)
        self.assertIn("has no timestamp: its signature stops verifying when the certificate expires",
                      result.stderr.decode())
        self.assertTrue(osslsigncode_verify(untimestamped)[0])
        self.assertFalse(osslsigncode_verify(untimestamped, None, after_expiry)[0])

    def test_osslsigncode_through_the_token_as_the_publishers_command_keeps_the_tag(self):
        tagged = os.path.join(self.tmp, "tagged.exe")
        self.tag(WIZARD_EXE, tagged, "<info route='command'/>")
        # osslsigncode reads the PIN from a file that only this user can read, removed after.
        pin = os.path.join(self.tmp, "pin")
        descriptor = os.open(pin, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
        os.write(descriptor, self.token.env["CARRYALL_PKCS11_PIN"].encode())
        os.close(descriptor)
        template = (f"osslsigncode sign -pkcs11module {self.token.module} -certs {self.leaf} "
                    f"-ac {os.path.join(SIGN_DIR, 'ca.pem')} -key '{self.token.uri}' -readpass {pin} -h sha256 "
                    f"-ts {self.authority.url} -in {{in}} -out {{out}}")
        out = os.path.join(self.tmp, "out.exe")
        result = run_tool(SIGN_TOOL, tagged, out, "--command", template, env=self.token.env)
        os.remove(pin)
        self.assertEqual(0, result.returncode, result.stderr)
        self.assertEqual(b"", result.stderr, "a timestamped signature gives no warning")
        ok, output = osslsigncode_verify(out, self.authority.ca, int(time.time()) + 10 * 86400)
        self.assertTrue(ok, output)
        self.assertIn("Timestamp Server Signature verification: ok", output)
        self.assertRunsSignedAndTagged(out, "<info route='command'/>", "null")

    def test_refusals_end_nonzero_and_leave_no_file(self):
        copy = "'%s' -c 'import shutil, sys; shutil.copy(sys.argv[1], sys.argv[2])'" % sys.executable
        changed = os.path.join(self.tmp, "changed.exe")
        data = bytearray(harness.read_bytes(SMALL_EXE))
        data[0x400] ^= 1
        with open(changed, "wb") as f:
            f.write(data)
        cases = [
            # (tool, arguments, words of the message)
            (TAG_TOOL, [UNSIGNED_EXE, "--info", "<i/>"], "sign first, tag last"),
            (SIGN_TOOL, [SMALL_EXE, "--cert", os.path.join(SIGN_DIR, "leaf.pem"), "--key",
                         os.path.join(SIGN_DIR, "leaf.key"), "--timestamp", "http://127.0.0.1:1/"],
             "no timestamp: http://127.0.0.1:1/: "),
            (SIGN_TOOL, [SMALL_EXE, "--command", copy + " {in} {out}"], "the command signed nothing"),
            (SIGN_TOOL, [SMALL_EXE, "--command", copy + " %s {out} {in}" % changed],
             "changed the image, not only its signature"),
        ]
        for tool, args, words in cases:
            with self.subTest(words):
                out = os.path.join(self.tmp, "refused.exe")
                result = run_tool(tool, args[0], out, *args[1:])
                self.assertEqual(1, result.returncode, result.stderr)
                self.assertIn(words, result.stderr.decode())
                self.assertEqual(["base", "changed.exe"], sorted(os.listdir(self.tmp)))


class UnverifiedFileTest(SignatureTestCase):

    def test_unsigned_build_stops_a_silent_run(self):
        path = self.session.to_windows(UNSIGNED_EXE)
        result = self.run_bootstrapper(UNSIGNED_EXE, "/dontrun")
        self.assertStoppedUnsigned(result, f'The file "{path}" is not signed. Error 0x800b0100')

    def test_changed_payload_byte_breaks_the_signature(self):
        tampered = self.copy(SMALL_EXE, "tampered.exe")
        data = bytearray(harness.read_bytes(tampered))
        # a.txt of the small payload, packed as it is into the resource section.
        at = data.find(harness.read_bytes(os.path.join(os.path.dirname(__file__), "payloads", "files", "a.txt")))
        self.assertGreater(at, 0)
        data[at] ^= 0x20
        with open(tampered, "wb") as f:
            f.write(data)

        result = self.run_bootstrapper(tampered, "/dontrun")

        self.assertStoppedUnsigned(result, "Error is: 0x80096010.")
        ok, _ = osslsigncode_verify(tampered)
        self.assertFalse(ok, "osslsigncode agrees that the file was changed")


class QuestionTest(SignatureTestCase):
    """An interactive run of the unsigned build asks in the report dialog's question mode
    whether to go on; only Yes goes on."""

    def test_question_and_its_answers(self):
        peek = harness.Peek(self.session, PEEK)
        path = self.session.to_windows(UNSIGNED_EXE)
        # How the user answers, and what follows: No and Escape end the run after the
        # report, Yes runs the whole installation (the sample wizard).
        answers = [("No", ("command", 2), NOT_SIGNED),
                   ("Escape", ("key", 0x1B), NOT_SIGNED),
                   ("Yes", ("command", 1), 0)]
        for name, action, exit_code in answers:
            with self.subTest(name):
                run = harness.BackgroundRun(
                    self.session, self.run_line("WIZARD_WINDOW=never WIZARD_RUN_MS=100", silent=False),
                    exe=UNSIGNED_EXE, cwd=self.tmp)
                question = peek.find(PRODUCT)
                self.assertIsNotNone(question, "the question is shown")
                self.assertEqual(f"Verification of {PRODUCT} failed. Do you wish to continue?",
                                 question.text(1003))
                self.assertEqual(f'The file "{path}" is not signed. Error 0x800b0100', question.text(1000))
                self.assertEqual(["Yes", "No"], question.visible_buttons())
                peek.act(*action[:1], PRODUCT, *action[1:])
                if exit_code:
                    report = peek.find(PRODUCT, where=lambda w: w.text(1003) == "Error")
                    self.assertIsNotNone(report, "the report follows")
                    self.assertEqual(["Error", FAILED_TO_RUN, "", ["Cancel"]],
                                     [report.text(1003), report.text(1000), report.text(1001),
                                      report.visible_buttons()])
                    peek.act("command", PRODUCT, 2)
                result = run.result()
                self.assertExitCode(exit_code, result)
                log = self.log_text()
                self.assertIn("Not signed correctly\n", log)
                if exit_code:
                    self.assertIn(f"Not signed correctly\n{FAILED_TO_RUN}\n", log)
                    self.assertNotIn("GetAuthenticodeInformation", log)
                else:
                    self.assertIn("GetAuthenticodeInformation \n", log)
                    self.assertIn("Wizard: exit code 0\n", log)
                    self.assertNotIn(FAILED_TO_RUN, log)


if __name__ == "__main__":
    unittest.main()
