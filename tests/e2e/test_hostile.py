"""End to end: hostile and careless runs of the real bootstrapper under Wine. Every case
checks the exit code, a log line, and that nothing outside the private folder changed:
a snapshot (names, kinds, link targets and hashes) of the case's scratch folder is taken
before and after the run, leaving out only the private folder itself.

    python3 test_hostile.py [unittest options]

Each case is a row of one table (CASES); the areas below each keep their own list.
"""

import dataclasses
import hashlib
import os
import re
import shutil
import subprocess
import sys
import threading
import typing
import unittest

import harness

HERE = os.path.dirname(os.path.abspath(__file__))
SMALL_EXE = os.environ.get("CARRYALL_SMALL_EXE")
WIZARD_EXE = os.environ.get("CARRYALL_WIZARD_EXE")
TAG_TOOL = os.environ.get("CARRYALL_TAG_TOOL")
PEEK = os.environ.get("CARRYALL_PEEK")
DEVICE_COM1_EXE = os.environ.get("CARRYALL_DEVICE_COM1_EXE")
DEVICE_NUL_EXE = os.environ.get("CARRYALL_DEVICE_NUL_EXE")

ZERO_GUID = "{00000000-0000-0000-0000-000000000000}"
E_FAIL = 0x80004005
E_INVALIDARG = 0x80070057


def setUpModule():
    for name, path in [("CARRYALL_SMALL_EXE", SMALL_EXE), ("CARRYALL_WIZARD_EXE", WIZARD_EXE),
                       ("CARRYALL_TAG_TOOL", TAG_TOOL), ("CARRYALL_PEEK", PEEK),
                       ("CARRYALL_DEVICE_COM1_EXE", DEVICE_COM1_EXE),
                       ("CARRYALL_DEVICE_NUL_EXE", DEVICE_NUL_EXE)]:
        if not path or not os.path.isfile(path):
            raise RuntimeError(f"{name} names no file: {path!r}")
    harness.open_session()


def tearDownModule():
    harness.close_session()


def snapshot(root, leave_out=()):
    """Everything below root as {relative path: (kind, content)}: kind is "dir", "link"
    (content: the link's target) or "file" (content: SHA-256 of the bytes). Links are
    not followed. Paths in leave_out (absolute) and everything below them are skipped."""
    leave_out = {os.path.abspath(p) for p in leave_out}
    found = {}
    for folder, dirs, files in os.walk(root, followlinks=False):
        for name in list(dirs):
            path = os.path.join(folder, name)
            if path in leave_out:
                dirs.remove(name)
            elif os.path.islink(path):
                found[os.path.relpath(path, root)] = ("link", os.readlink(path))
                dirs.remove(name)
            else:
                found[os.path.relpath(path, root)] = ("dir", "")
        for name in files:
            path = os.path.join(folder, name)
            if path in leave_out:
                continue
            if os.path.islink(path):
                found[os.path.relpath(path, root)] = ("link", os.readlink(path))
            else:
                with open(path, "rb") as f:
                    found[os.path.relpath(path, root)] = ("file", hashlib.sha256(f.read()).hexdigest())
    return found


@dataclasses.dataclass
class Case:
    """One hostile run.

    prepare(ctx) makes the case's files in ctx.tmp and may set ctx.exe, ctx.args,
    ctx.silent and ctx.private (the private folder's Unix path, left out of the
    snapshot; default: <base>/{0...0}). args is the raw command-line text after the
    program name; "{log}", "{base}" and "{tmp}" in it are replaced by the Windows paths
    of ctx.log, ctx.base and ctx.tmp. check(test, ctx, result, log) may assert more.
    during(test, ctx), when given, runs while the program runs (to answer a dialog)."""
    name: str
    prepare: typing.Callable
    exit_code: int
    line: str  # a regular expression that must match one whole line of the log
    check: typing.Optional[typing.Callable] = None
    during: typing.Optional[typing.Callable] = None


class Context:
    def __init__(self, session, tmp):
        self.session = session
        self.tmp = tmp
        self.base = os.path.join(tmp, "base")
        os.makedirs(self.base)
        self.log = os.path.join(tmp, "run.log")
        self.exe = SMALL_EXE
        self.args = '/IAgreeToTheEULA log "{log}" temp "{base}" /zeroguid /dontrun'
        self.private = os.path.join(self.base, ZERO_GUID)
        self.elsewhere = os.path.join(tmp, "elsewhere")  # a folder of the user's

    def win(self, path):
        return self.session.to_windows(path)

    def user_folder(self):
        """Makes ctx.elsewhere with two files of the user's in it."""
        os.makedirs(self.elsewhere, exist_ok=True)
        for name, data in [("keep.txt", b"the user's own file\n"), ("a.txt", b"not a payload file\n")]:
            with open(os.path.join(self.elsewhere, name), "wb") as f:
                f.write(data)


def peek(ctx, *args):
    return subprocess.run(["wine", PEEK, *args], env=ctx.session.env, capture_output=True,
                          text=True, timeout=60)


IN_PRIVATE = r"Z:\\.*\\\{0{8}(-0{4}){3}-0{12}\}\\"  # a log line's path in the private folder


# ---- links: the bootstrapper never writes or deletes through a reparse point ----

def plant_zero_guid_link(ctx):
    ctx.user_folder()
    os.symlink(ctx.elsewhere, ctx.private)


def check_zero_guid_link(test, ctx, result, log):
    test.assertIn("SetTempFolder has failed\nNot Prompting the user as silent installation\n", log)
    test.assertNotIn("Enumerate Resources", log)
    test.assertEqual(ctx.elsewhere, os.readlink(ctx.private), "the link stays as it was")


def plant_link_inside(ctx):
    ctx.user_folder()
    # The user's own file under the payload file's name: written through the link it
    # would be overwritten, and then deleted by the removal.
    with open(os.path.join(ctx.elsewhere, "b file.bin"), "wb") as f:
        f.write(b"the user's b file\n")
    os.makedirs(ctx.private)
    os.symlink(ctx.elsewhere, os.path.join(ctx.private, "sub dir"))


LINK_CASES = [
    # /zeroguid names the private folder in advance; a link planted at that name once
    # took the payload into its target and then deleted every file there, and the target.
    Case("zero-guid-folder-is-a-link", plant_zero_guid_link, E_FAIL, r"SetTempFolder has failed",
         check_zero_guid_link),
    # A link "sub dir" in a pre-existing private folder, where the small payload's
    # "Sub Dir\b file.bin" goes.
    Case("link-inside-the-private-folder", plant_link_inside, E_FAIL,
         IN_PRIVATE + r"sub dir\\b file\.bin Create file has failed",
         lambda test, ctx, result, log: test.assertIn("Extract File sub dir\\b file.bin 80004005\n", log)),
]

# ---- payload names: reserved device names are refused ----

def check_device(name):
    def check(test, ctx, result, log):
        test.assertIn("a.txt written Ok\nExtract File a.txt 0\n", log)
        test.assertIn(f"\\{name} Create file has failed\nExtract File {name} 80004005\n", log)
    return check


NAME_CASES = [
    # Once the bytes went to the serial port or nowhere, logged "written Ok", exit 0.
    Case("device-name-com1", lambda ctx: setattr(ctx, "exe", DEVICE_COM1_EXE), E_FAIL,
         IN_PRIVATE + r"com1\.log Create file has failed", check_device("com1.log")),
    Case("device-name-nul", lambda ctx: setattr(ctx, "exe", DEVICE_NUL_EXE), E_FAIL,
         IN_PRIVATE + r"nul Create file has failed", check_device("nul")),
]

# ---- the folder typed in the prompt is made absolute ----

def answer_relative(test, ctx):
    found = peek(ctx, "find", "SQL Carryall", "20000")
    test.assertEqual(0, found.returncode, found.stdout)
    test.assertEqual(0, peek(ctx, "set-text", "SQL Carryall", "1005", "base").returncode)
    test.assertEqual(0, peek(ctx, "command", "SQL Carryall", "1").returncode)


PROMPT_CASES = [
    # Interactive: the base folder cannot be made, the user types "base", which is
    # resolved against the current folder (the case's folder), as "temp" would be.
    Case("prompt-with-a-relative-answer",
         lambda ctx: setattr(ctx, "args", 'log "{log}" temp "{tmp}\\missing\\deeper" /zeroguid /dontrun'),
         0, r"Z:\\.*\\base\\\{0{8}(-0{4}){3}-0{12}\}\\a\.txt written Ok",
         lambda test, ctx, result, log: test.assertIn(f"{ctx.win(ctx.private)}\\a.txt written Ok\n", log),
         during=answer_relative),
]

# ---- the wizard's command line ----

COMMAND_LINE_CASES = []

# ---- odd base folders and free space ----

FOLDER_CASES = []

# ---- the log and the information block ----

LOG_CASES = []

CASES = LINK_CASES + NAME_CASES + PROMPT_CASES + COMMAND_LINE_CASES + FOLDER_CASES + LOG_CASES


class HostileRunTest(harness.WineTestCase):

    def test_every_hostile_run_changes_nothing_outside_the_private_folder(self):
        self.assertTrue(CASES, "no cases")
        for case in CASES:
            with self.subTest(case=case.name):
                tmp = self.session.fresh_dir(f"hostile-{case.name}")
                ctx = Context(self.session, tmp)
                case.prepare(ctx)
                before = snapshot(tmp, leave_out=[ctx.private, ctx.log])
                args = (ctx.args.replace("{log}", ctx.win(ctx.log))
                        .replace("{base}", ctx.win(ctx.base)).replace("{tmp}", ctx.win(tmp)))
                if case.during:
                    outcome = {}
                    runner = threading.Thread(target=lambda: outcome.update(
                        result=self.session.run(args, exe=ctx.exe, cwd=tmp)))
                    runner.start()
                    try:
                        case.during(self, ctx)
                    finally:
                        runner.join(90)
                    result = outcome["result"]
                else:
                    result = self.session.run(args, exe=ctx.exe, cwd=tmp)
                log = (harness.read_bytes(ctx.log).decode(harness.ANSI, "replace").replace("\r\n", "\n")
                       if os.path.exists(ctx.log) else "")
                self.assertExitCode(case.exit_code, result)
                self.assertTrue(any(re.fullmatch(case.line, line) for line in log.split("\n")),
                                f"no line matches {case.line!r} in:\n{log}")
                self.assertEqual(before, snapshot(tmp, leave_out=[ctx.private, ctx.log]),
                                 "something outside the private folder changed")
                if case.check:
                    case.check(self, ctx, result, log)


if __name__ == "__main__":
    unittest.main()
