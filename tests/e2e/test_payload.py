"""End to end: unpacking the payload into a private folder, the information block, and
removal, on real bootstrappers built from the test payloads in payloads/.

    python3 test_payload.py [unittest options]

Bootstrappers come from CARRYALL_SMALL_EXE and CARRYALL_CORRUPT_EXE, the window
window peek tool from CARRYALL_PEEK, the tagging tool from CARRYALL_TAG_TOOL.
"""

import os
import re
import subprocess
import sys
import threading
import unittest

import harness

HERE = os.path.dirname(os.path.abspath(__file__))
FILES = os.path.join(HERE, "payloads", "files")
SMALL_EXE = os.environ.get("CARRYALL_SMALL_EXE")
CORRUPT_EXE = os.environ.get("CARRYALL_CORRUPT_EXE")
PEEK = os.environ.get("CARRYALL_PEEK")
TAG_TOOL = os.environ.get("CARRYALL_TAG_TOOL")
NO_SPACE_CHECK_EXE = os.environ.get("CARRYALL_NO_SPACE_CHECK_EXE")

E_FAIL = 0x80004005
SIZE_MISMATCH = 0x80040167
DISK_FULL_ON_WRITE = 0x80070070
GUID = re.compile(r"\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\}")

# What the small payload unpacks to: names are lower-cased, sub-folders made.
SMALL_FILES = {
    "a.txt": "a.txt",
    os.path.join("sub dir", "b file.bin"): "b.bin",
    "tool.exe": "tool.exe",
}


def setUpModule():
    harness.require_files("CARRYALL_SMALL_EXE", "CARRYALL_CORRUPT_EXE", "CARRYALL_PEEK",
                          "CARRYALL_TAG_TOOL", "CARRYALL_NO_SPACE_CHECK_EXE")
    harness.open_session()


def tearDownModule():
    harness.close_session()


def source(name):
    return harness.read_bytes(os.path.join(FILES, name))


def tree(root):
    """Every file below root, relative, with its bytes."""
    found = {}
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            found[os.path.relpath(path, root)] = harness.read_bytes(path)
    return found


class PayloadTestCase(harness.WineTestCase):

    def setUp(self):
        super().setUp()
        self.base = os.path.join(self.tmp, "base")
        os.makedirs(self.base)
        self.log_path = os.path.join(self.tmp, "run.log")

    def run_silent(self, args, exe=None):
        """A silent run with a log and the test's own base folder."""
        line = (f'log "{self.session.to_windows(self.log_path)}" /IAgreeToTheEULA '
                f'temp "{self.session.to_windows(self.base)}" {args}')
        return self.session.run(line, exe=exe or SMALL_EXE, cwd=self.tmp)

    def log_text(self):
        """The log as text with CR LF turned into LF (some lines end in CR CR LF)."""
        return harness.read_bytes(self.log_path).decode(harness.ANSI).replace("\r\n", "\n")

    def private_folders(self):
        return sorted(name for name in os.listdir(self.base) if GUID.fullmatch(name))


class UnpackTest(PayloadTestCase):

    def test_dontrun_keep_unpacks_every_file_with_its_exact_bytes(self):
        result = self.run_silent("/dontrun /keep")
        self.assertExitCode(0, result)
        folders = self.private_folders()
        self.assertEqual(1, len(folders), os.listdir(self.base))
        unpacked = tree(os.path.join(self.base, folders[0]))
        self.assertEqual({name: source(src) for name, src in SMALL_FILES.items()}, unpacked)
        log = self.log_text()
        self.assertIn("Remove folder 'No'\n", log)
        for name in ("tool.exe", "sub dir\\b file.bin", "a.txt"):
            self.assertIn(f"Extract File {name} 0\n", log)

    def test_dontrun_unpacks_and_removes_again(self):
        result = self.run_silent("/dontrun")
        self.assertExitCode(0, result)
        self.assertEqual([], os.listdir(self.base), "the base folder stays, empty")
        log = self.log_text()
        match = re.search(r"Deletion Folder of '(?P<folder>[^']+)'\n", log)
        self.assertIsNotNone(match, log)
        folder = match.group("folder")
        self.assertEqual(self.session.to_windows(self.base), folder.rsplit("\\", 1)[0])
        for name in ("tool.exe", "sub dir\\b file.bin", "a.txt"):
            self.assertIn(f"Manual Deletion of '{folder}\\{name}'\n", log)
        self.assertNotIn(f"Manual Deletion of '{folder}'\n", log, "the manifest's record wrote nothing")
        self.assertNotIn("Kept '", log)
        self.assertIn(f"Deletion subfolder Folder of '{folder}\\sub dir'\n", log)
        self.assertTrue(log.rstrip().splitlines()[-2] == f"Remove Folder '{folder}'", log)

    def test_a_wizard_that_cannot_start_is_told_with_the_systems_error(self):
        # The small payload's tool.exe is 24 bytes of text: the system refuses to start it.
        result = self.run_silent("")
        self.assertExitCode(0x80070057, result)
        log = self.log_text()
        self.assertRegex(log, r"Run Program returned error\nRun Program could not start the wizard, error (\d+)\n"
                              r"Remove folder 'Yes'\n")
        self.assertNotIn("error 0\n", log)
        self.assertEqual([], os.listdir(self.base))

    def test_zeroguid_names_the_private_folder_with_zeros(self):
        self.assertExitCode(0, self.run_silent("/zeroguid /dontrun /keep"))
        self.assertEqual(["{00000000-0000-0000-0000-000000000000}"], self.private_folders())

    def test_size_mismatch_stops_extraction_and_keeps_the_complete_file(self):
        result = self.run_silent("/dontrun /keep", exe=CORRUPT_EXE)
        self.assertExitCode(SIZE_MISMATCH, result)
        folder = os.path.join(self.base, self.private_folders()[0])
        self.assertEqual({"notes.txt": source("a.txt"), "empty.msi": source("a.txt")}, tree(folder))
        log = self.log_text()
        windows_folder = self.session.to_windows(folder)
        self.assertIn(f"{windows_folder}\\empty.msi Write file has failed\nExtract File empty.msi 80040167\n", log)
        self.assertNotIn("install.bin", log.split("WorkOutFileNames")[1])
        self.assertIn("A file is corrupt. Download SQL Carryall and retry.\n", log)


class FullDiskTest(PayloadTestCase):

    def test_a_disk_that_fills_up_while_unpacking_is_told_as_a_full_disk(self):
        # A 64 KiB volume: the 70,000-byte b.bin cannot fit. Mounting needs root.
        disk = os.path.join(self.tmp, "small disk")
        os.makedirs(disk)
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", disk],
                                 capture_output=True, text=True)
        if mounted.returncode != 0:
            self.skipTest("a tmpfs cannot be mounted here: " + mounted.stderr.strip())
        self.addCleanup(subprocess.run, ["umount", "-l", disk], check=False)
        self.base = disk
        result = self.run_silent("", exe=NO_SPACE_CHECK_EXE)
        self.assertExitCode(DISK_FULL_ON_WRITE, result)
        log = self.log_text()
        # Wine reports a short write; Windows fails the call with ERROR_DISK_FULL.
        self.assertRegex(log, r"\\sub dir\\b file\.bin Write file has failed"
                              r"(: \d+ of 70000 bytes written,|, error (112|39):) the disk is full\n")
        self.assertIn("Extract File sub dir\\b file.bin 80070070\n", log)
        self.assertRegex(log, r"\nInsufficient disk space on drive '[^']+'\. 1\.0 MB of free disk space is required\.\n")
        self.assertNotIn("Incorrect SQL Carryall build", log)
        self.assertEqual([], os.listdir(disk), "the private folder is removed")


class UnusableFolderTest(PayloadTestCase):

    def test_silent_run_with_an_unusable_folder_refuses_to_prompt(self):
        for bad in ("missing\\deeper\\base", "bad|name<>"):
            with self.subTest(bad=bad):
                temp = self.session.to_windows(self.tmp) + "\\" + bad
                line = (f'log "{self.session.to_windows(self.log_path)}" /IAgreeToTheEULA '
                        f'temp "{temp}" /dontrun')
                result = self.session.run(line, exe=SMALL_EXE, cwd=self.tmp)
                self.assertExitCode(E_FAIL, result)
                log = self.log_text()
                self.assertIn("SetTempFolder has failed\nNot Prompting the user as silent installation\n", log)
                self.assertNotIn("Enumerate Resources", log)

    def test_interactive_run_prompts_and_goes_on_with_the_typed_folder(self):
        bad = self.session.to_windows(self.tmp) + "\\missing\\deeper"
        line = f'log "{self.session.to_windows(self.log_path)}" temp "{bad}" /dontrun /keep'
        outcome = {}

        def run():
            outcome["result"] = self.session.run(line, exe=SMALL_EXE, cwd=self.tmp, timeout_ms=60000)

        runner = threading.Thread(target=run)
        runner.start()
        try:
            found = self.peek("find", "SQL Carryall", "20000")
            self.assertEqual(0, found.returncode, found.stdout)
            # The window found and the log so far say why a prompt did not come.
            self.assertIn("control id=1005 class=Edit visible=1", found.stdout,
                          f"{found.stdout}\nlog so far:\n{self.log_text()}")
            self.assertIn(f"text={bad}\n", found.stdout)
            self.assertIn("text=Enter Drive leter for temporary folder:", found.stdout)
            self.screenshot("temp-folder-prompt.png")
            self.assertEqual(0, self.peek("set-text", "SQL Carryall", "1005",
                                               self.session.to_windows(self.base)).returncode)
            self.assertEqual(0, self.peek("command", "SQL Carryall", "1").returncode)
        finally:
            runner.join(90)
        self.assertExitCode(0, outcome["result"])
        folder = os.path.join(self.base, self.private_folders()[0])
        self.assertEqual(source("a.txt"), harness.read_bytes(os.path.join(folder, "a.txt")))
        self.assertEqual(1, self.log_text().count("SetTempFolder has failed\n"))

    def peek(self, *args):
        return subprocess.run(["wine", PEEK, *args], env=self.session.env, capture_output=True,
                              text=True, timeout=60)

    def screenshot(self, name):
        """Keeps a picture of the screen among the test's artifacts."""
        path = os.path.join(self.session.tmp_root, "artifacts", name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        subprocess.run(["import", "-window", "root", path], env=self.session.env, timeout=60,
                       capture_output=True)


class InformationBlockTest(PayloadTestCase):

    def test_tagged_copy_writes_exactly_the_tags_bytes(self):
        info = '<info product="Carryall" seat="é"/>'.encode("cp1252")
        info_file = os.path.join(self.tmp, "info.bin")
        with open(info_file, "wb") as f:
            f.write(info)
        tagged = os.path.join(self.tmp, "tagged.exe")
        subprocess.run([sys.executable, TAG_TOOL, SMALL_EXE, tagged, "--info-file", info_file],
                       check=True, timeout=60)
        self.assertExitCode(0, self.run_silent("/dontrun /keep", exe=tagged))
        folder = os.path.join(self.base, self.private_folders()[0])
        self.assertEqual(info, harness.read_bytes(os.path.join(folder, "info.xml")))
        log = self.log_text()
        self.assertIn(f"Found embedded information '{info.decode('cp1252')}'\r\n", log)
        self.assertIn(f"Written out embedded information {len(info)} bytes to file "
                      f"{self.session.to_windows(folder)}\\info.xml\r\n", log)

    def test_untagged_bootstrapper_writes_no_information_file(self):
        self.assertExitCode(0, self.run_silent("/dontrun /keep"))
        folder = os.path.join(self.base, self.private_folders()[0])
        self.assertNotIn("info.xml", os.listdir(folder))
        self.assertIn("Scanning for Signature\r\n", self.log_text())


if __name__ == "__main__":
    unittest.main()
