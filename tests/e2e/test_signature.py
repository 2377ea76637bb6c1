"""End to end: the bootstrapper verifies its own Authenticode signature under Wine, logs
its signer and hands the signed program name to the wizard; an unsigned, tampered or
declined file stops before anything is checked or unpacked.

    python3 test_signature.py [unittest options]

Bootstrappers: CARRYALL_WIZARD_EXE and CARRYALL_SMALL_EXE (signed by the build),
CARRYALL_UNSIGNED_EXE (built unsigned, with the sample wizard). Tools: CARRYALL_TAG_TOOL, CARRYALL_PEEK, and
CARRYALL_SIGN_DIR, the folder of the development certificate (its CA is what
osslsigncode checks the chain against).
"""

import os
import re
import shutil
import subprocess
import sys
import unittest

import harness

WIZARD_EXE = os.environ.get("CARRYALL_WIZARD_EXE")
SMALL_EXE = os.environ.get("CARRYALL_SMALL_EXE")
UNSIGNED_EXE = os.environ.get("CARRYALL_UNSIGNED_EXE")
TAG_TOOL = os.environ.get("CARRYALL_TAG_TOOL")
PEEK = os.environ.get("CARRYALL_PEEK")
SIGN_DIR = os.environ.get("CARRYALL_SIGN_DIR")

NOT_SIGNED = 0x800B0100
PRODUCT = "SQL Carryall"
FAILED_TO_RUN = "Failed to run SQL Carryall error 0x800b0100."


def setUpModule():
    harness.require_files("CARRYALL_WIZARD_EXE", "CARRYALL_SMALL_EXE", "CARRYALL_UNSIGNED_EXE",
                          "CARRYALL_TAG_TOOL", "CARRYALL_PEEK")
    if not SIGN_DIR or not os.path.isdir(SIGN_DIR):
        raise RuntimeError(f"CARRYALL_SIGN_DIR names no folder: {SIGN_DIR!r}")
    harness.open_session()


def tearDownModule():
    harness.close_session()


def osslsigncode_verify(path):
    """True when osslsigncode, an implementation independent of the build's signer and
    of Wine, accepts the file's signature against the development CA."""
    completed = subprocess.run(
        ["osslsigncode", "verify", "-in", path, "-CAfile", os.path.join(SIGN_DIR, "ca.pem")],
        stdout=subprocess.PIPE, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL, timeout=120)
    output = completed.stdout.decode("utf-8", "replace")
    return completed.returncode == 0 and "Signature verification: ok" in output, output


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
                            r"Digital verification: SerialNumber (?P<serial>[0-9A-F]{8})\n"
                            r"Digital verification: IssuerName '(?P<issuer>.*)'\n", log)
        self.assertIsNotNone(details, log)
        self.assertEqual(("Carryall Development", PRODUCT, "null", "Carryall Development CA"),
                         details.group("subject", "program", "more", "issuer"))
        self.assertNotEqual("00000000", details["serial"], "the certificate was found")
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
