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
import shlex
import shutil
import subprocess
import sys
import threading
import time
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
UNSIGNED_EXE = os.environ.get("CARRYALL_UNSIGNED_EXE")
SIGN_TOOL = os.environ.get("CARRYALL_SIGN_TOOL")

ZERO_GUID = "{00000000-0000-0000-0000-000000000000}"
E_FAIL = 0x80004005
E_INVALIDARG = 0x80070057
NOT_SIGNED = 0x800B0100
BAD_COMMAND_LINE = 0x80030057


def setUpModule():
    harness.require_files("CARRYALL_SMALL_EXE", "CARRYALL_WIZARD_EXE", "CARRYALL_TAG_TOOL",
                          "CARRYALL_PEEK", "CARRYALL_DEVICE_COM1_EXE",
                          "CARRYALL_DEVICE_NUL_EXE", "CARRYALL_UNSIGNED_EXE", "CARRYALL_SIGN_TOOL")
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
        self.left_out = []  # more paths the snapshot leaves out (what a case moved aside)
        # Started by the wine command from its Unix path instead of by runner.exe, whose
        # CreateProcessW Wine refuses for a program path of more than MAX_PATH.
        self.started_by_wine = False

    def win(self, path):
        return self.session.to_windows(path)

    def user_folder(self):
        """Makes ctx.elsewhere with two files of the user's in it."""
        os.makedirs(self.elsewhere, exist_ok=True)
        for name, data in [("keep.txt", b"the user's own file\n"), ("a.txt", b"not a payload file\n")]:
            with open(os.path.join(self.elsewhere, name), "wb") as f:
                f.write(data)


def start_with_wine(ctx, args):
    """Runs ctx.exe by the wine command with args split as a shell would; the exit code
    is then only its low eight bits."""
    argv = ["wine", ctx.exe, *shlex.split(args)]
    done = subprocess.run(argv, env=ctx.session.env, cwd=ctx.tmp, capture_output=True, text=True, timeout=120)
    return harness.RunResult(done.returncode, " ".join(argv), done.stdout + done.stderr)


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

MAX_COMMAND_LINE = 32767  # CreateProcessW's limit, in UTF-16 units with the terminator


def c_runtime_argv(line):
    """Splits a command line by the Microsoft C run-time's rules (CommandLineToArgvW
    reads the lines composed here the same way): the program ends at the first blank
    outside quotes; then 2n backslashes and a quote give n backslashes and toggle
    quoting ("" inside quotes is a literal quote), 2n+1 backslashes and a quote give n
    backslashes and a literal quote, other backslashes are themselves."""
    i, program, quoted = 0, "", False
    while i < len(line) and (quoted or line[i] not in " \t"):
        if line[i] == '"':
            quoted = not quoted
        else:
            program += line[i]
        i += 1
    argv, current, started, quoted = [program], "", False, False
    while True:
        while i < len(line) and not started and not quoted and line[i] in " \t":
            i += 1
        if i >= len(line):
            break
        run = 0
        while i < len(line) and line[i] == "\\":
            run, i = run + 1, i + 1
        started = True
        if i < len(line) and line[i] == '"':
            current += "\\" * (run // 2)
            if run % 2:
                current += '"'
            elif quoted and line[i + 1:i + 2] == '"':
                current, i = current + '"', i + 1
            else:
                quoted = not quoted
            i += 1
            continue
        current += "\\" * run
        if i >= len(line) or (not quoted and line[i] in " \t"):
            argv.append(current)
            current, started = "", False
            continue
        current, i = current + line[i], i + 1
    if started:
        argv.append(current)
    return argv


def start_window_watch(ctx, milliseconds):
    """Starts peek.exe watch for the run to come (its output goes outside the case's
    folder, which is under snapshot); ctx.watched() then waits for it and answers the
    (show|hide, exe) of every visible top-level window that came or went."""
    finish = harness.start_window_watch(ctx.session, milliseconds, PEEK)
    ctx.watched = lambda: [(what, exe) for _, what, exe, _, _ in finish()]


def silent_wizard_run(temp_value_raw, extra=""):
    """A silent run of the sample wizard (never a window) with the base folder given to
    temp as temp_value_raw, the raw text after "temp " in which {base} stands for it."""
    def prepare(ctx):
        ctx.exe = WIZARD_EXE
        ctx.args = (f'/IAgreeToTheEULA log "{{log}}" temp {temp_value_raw} /zeroguid {extra}'
                    f'WIZARD_WINDOW=never WIZARD_RUN_MS=200')
        start_window_watch(ctx, 6000)
    return prepare


def wizard_reads_back(values, more_words=()):
    """Checks that the wizard was started with exactly the composed line; that the C
    run-time's rules give it back, after each option named in values, the value that
    values[name](ctx) gives, and every word of the run and of more_words; that no window
    showed; and that the private folder went."""
    def check(test, ctx, result, log):
        events = ctx.watched()
        test.assertEqual([], [e for e in events if e[1] in ("wizard app.exe", "e2e_wizard.exe")],
                         "a silent run shows no window")
        composed = re.search(r"^RunProgram program '(.*)'$", log, re.M)
        test.assertIsNotNone(composed, log)
        line = composed[1]
        test.assertIn(f"Wizard: command line {line}\n", log, "the wizard sees exactly the composed line")
        argv = c_runtime_argv(line)
        expected = dict({"/log": lambda ctx: ctx.win(ctx.log)}, **values)
        for name, value in expected.items():
            test.assertIn(name, argv)
            test.assertEqual(value(ctx), argv[argv.index(name) + 1], argv)
        words = ["/IAgreeToTheEULA", "WIZARD_WINDOW=never", "WIZARD_RUN_MS=200", *more_words]
        for word in words:
            test.assertIn(word, argv)
        test.assertEqual("VH_I=SQL Carryall", argv[-1])
        test.assertEqual(1 + 2 * len(expected) + len(words) + 1, len(argv), argv)
        test.assertIn("Wizard: exit code 0\nRunProgram returned 0\nRemove folder 'Yes'\n", log)
        test.assertEqual([], os.listdir(ctx.base), "the private folder is removed")
    return check


def prepare_too_long(ctx):
    """A bootstrapper line of 32,766 characters, the longest that starts, whose composed
    wizard line comes out longer: log and extract are given relative and handed on
    absolute, and the wizard's path in the private folder and VH_I are added."""
    ctx.exe = WIZARD_EXE
    head = f'"{ctx.win(ctx.exe)}" '
    args = "/IAgreeToTheEULA log run.log temp base extract x /zeroguid LONG_WORD="
    ctx.long_word = "LONG_WORD=" + "W" * (MAX_COMMAND_LINE - 1 - len(head) - len(args))
    ctx.args = args[:-len("LONG_WORD=")] + ctx.long_word


def check_too_long(test, ctx, result, log):
    # The word's place among the options depends on its hash, so only its presence is checked.
    params = [line for line in log.split("\n") if line.startswith("Command line params ")]
    test.assertTrue(params and all(f" {ctx.long_word} " in line for line in params),
                    "the bootstrapper got its whole line")
    length = re.search(r"^Run Program command line is (\d+) characters long, "
                       r"the system takes at most 32766$", log, re.M)
    test.assertIsNotNone(length, log)
    test.assertGreater(int(length[1]), 32900)
    test.assertIn("Failed to run SQL Carryall error 0x80070057.\n", log)
    test.assertNotIn("Wizard:", log, "nothing was started")
    test.assertNotIn("RunProgram returned", log)
    test.assertIn("Run Program returned error\nRemove folder 'Yes'\n", log)
    test.assertEqual([], os.listdir(ctx.base), "the private folder is removed")


COMMAND_LINE_CASES = [
    # The value ends in two backslashes (raw \\\\ before the closing quote): composed as
    # \\\\ again, not \\\ which made the wizard swallow /log and WIZARD_WINDOW=never.
    Case("temp_ending_in_two_backslashes", silent_wizard_run('"{base}\\\\\\\\"'), 0,
         r"Wizard: command line .* /temp \"[^\"]*\\base\\\\\\\\\" .*",
         wizard_reads_back({"/temp": lambda ctx: ctx.win(ctx.base) + "\\\\"})),
    # Raw \\ before the closing quote is one backslash of the value: composed as before.
    Case("temp_ending_in_one_backslash", silent_wizard_run('"{base}\\\\"'), 0,
         r"Wizard: command line .* /temp \"[^\"]*\\base\\\\\" .*",
         wizard_reads_back({"/temp": lambda ctx: ctx.win(ctx.base) + "\\"})),
    # A value that is one backslash (LOG in capitals opens no log, it is only handed on)
    # and one with an embedded quote (extract is handed on, made absolute).
    Case("values_of_a_backslash_and_with_a_quote",
         silent_wizard_run('"{base}"', extra='LOG \\ extract "a\\"b" '), 0,
         r"Wizard: command line .* /LOG \"\\\\\" .*",
         wizard_reads_back({"/temp": lambda ctx: ctx.win(ctx.base), "/LOG": lambda ctx: "\\",
                            "/extract": lambda ctx: ctx.win(ctx.tmp) + '\\a"b'})),
    # Bare words and a flag that need quoting: a word's own quote no longer opens a quoted
    # run that swallows the rest, and a NAME=value with blanks stays one argument.
    Case("words_that_need_quoting",
         silent_wizard_run('"{base}"', extra='a\\"b "INSTALLDIR=C:\\Program Files\\X" "/INSTDIR=C:\\RW J" '), 0,
         r'Wizard: command line .* INSTALLDIR="C:\\Program Files\\X" .*',
         wizard_reads_back({"/temp": lambda ctx: ctx.win(ctx.base)},
                           ['a"b', "INSTALLDIR=C:\\Program Files\\X", "/INSTDIR=C:\\RW J"])),
    Case("wizard_command_line_too_long", prepare_too_long, E_INVALIDARG, r"Run Program returned error",
         check_too_long),
]

# ---- odd base folders and free space ----

def base_folder(temp, *more):
    """temp as the text of the temp value."""
    def prepare(ctx):
        ctx.args = " ".join(['/IAgreeToTheEULA log "{log}" temp "' + temp + '" /zeroguid /dontrun', *more])
    return prepare


def unpacked(test, ctx, result, log):
    test.assertEqual(harness.read_bytes(os.path.join(HERE, "payloads", "files", "a.txt")),
                     harness.read_bytes(os.path.join(ctx.private, "a.txt")))


def refused_as_a_folder(test, ctx, result, log):
    test.assertIn("SetTempFolder has failed\nNot Prompting the user as silent installation\n", log)


FOLDER_CASES = [
    # The free space is that of the base's own volume, and the run works in that form.
    Case("long-path base", base_folder("\\\\?\\{base}", "/keep"), 0,
         r"Free Disk Space: Checking at least \d+ MB free on drive 'Z:\\' for temp directory "
         r"'\\\\\?\\Z:\\.*\\base'", unpacked),
    Case("CON base", base_folder("CON"), E_FAIL,
         r"Free disk space not checked: '\\\\\.\\CON' is not a folder\.", refused_as_a_folder),
    Case("NUL base", base_folder("NUL"), E_FAIL,
         r"Free disk space not checked: '\\\\\.\\NUL' is not a folder\.", refused_as_a_folder),
]

# ---- the log and the information block ----

def cyrillic_log(ctx):
    """A log name that code page 1252 cannot hold."""
    ctx.log = os.path.join(ctx.tmp, "\u0436\u0443\u0440\u043d\u0430\u043b.log")


FORGED_TAG = b"a\r\nFound embedded information 'forged'\r\n\x01b"


def forged_tag(ctx):
    info_file = os.path.join(ctx.tmp, "info.bin")
    with open(info_file, "wb") as f:
        f.write(FORGED_TAG)
    ctx.exe = os.path.join(ctx.tmp, "tagged.exe")
    subprocess.run([sys.executable, TAG_TOOL, SMALL_EXE, ctx.exe, "--info-file", info_file],
                   check=True, timeout=60)
    ctx.args += " /keep"


def tag_shown_escaped(test, ctx, result, log):
    test.assertNotRegex(log, r"(?m)^Found embedded information 'forged'")
    test.assertEqual(FORGED_TAG, harness.read_bytes(os.path.join(ctx.private, "info.xml")))


LOG_CASES = [
    Case("log named outside the code page", cyrillic_log, 0, r"Started \d+",
         lambda test, ctx, result, log: test.assertRegex(log, r"\nEnded \d+\n$")),
    Case("tag with a line break", forged_tag, 0,
         # The line's own format ends in "\r\n", which text mode writes as CR CR LF.
         r"Found embedded information 'a\\r\\nFound embedded information 'forged'\\r\\n\\x01b'\r",
         tag_shown_escaped),
]

# ---- a folder that was there before: written only through plain files of one name,
# ---- and only what the run wrote is deleted; the payload is held while the wizard runs

def pre_existing(plant):
    """A private folder that is there before the run, with plant(ctx) put in it."""
    def prepare(ctx):
        ctx.user_folder()
        os.makedirs(ctx.private)
        plant(ctx)
    return prepare


def keep(ctx):
    return os.path.join(ctx.elsewhere, "keep.txt")


def kept(name, why="this run did not write it"):
    """Checks that the entry name of the private folder is still there and logged as kept."""
    def check(test, ctx, result, log):
        test.assertIn(f"Kept '{ctx.win(ctx.private)}\\{name}': {why}\n", log)
        test.assertTrue(os.path.lexists(os.path.join(ctx.private, name)))
    return check


def all_of(*checks):
    def check(test, ctx, result, log):
        for each in checks:
            each(test, ctx, result, log)
    return check


def hard_link_kept(test, ctx, result, log):
    test.assertEqual(2, os.stat(keep(ctx)).st_nlink, "the user's file keeps both its names")


def wizard_run(ctx, ms=4000):
    """A silent run of the sample wizard that keeps running ms milliseconds."""
    ctx.exe = WIZARD_EXE
    ctx.args = f'/IAgreeToTheEULA log "{{log}}" temp "{{base}}" /zeroguid WIZARD_WINDOW=never WIZARD_RUN_MS={ms}'


def when_the_wizard_runs(act):
    """A during: waits (bounded) until the wizard has written its first line to the log,
    then act(test, ctx)."""
    def during(test, ctx):
        started = harness.wait_for(lambda: os.path.exists(ctx.log) and b"Wizard: command line" in
                                   harness.read_bytes(ctx.log), timeout_s=30)
        test.assertTrue(started, "the wizard started")
        act(test, ctx)
    return during


def plant_links(test, ctx):
    os.symlink(keep(ctx), os.path.join(ctx.private, "planted.txt"))
    os.link(os.path.join(ctx.elsewhere, "a.txt"), os.path.join(ctx.private, "second name.txt"))


def planted_links_checked(test, ctx, result, log):
    folder = ctx.win(ctx.private)
    test.assertIn(f"Deletion file '{folder}\\second name.txt'\n", log)
    test.assertEqual(1, os.stat(os.path.join(ctx.elsewhere, "a.txt")).st_nlink, "only the second name went")
    test.assertEqual(["planted.txt"], os.listdir(ctx.private))


def second_run(test, ctx):
    # Its log lies outside the case's folder, which is under snapshot.
    ctx.second_log = os.path.join(ctx.tmp + "-second", "run.log")
    os.makedirs(os.path.dirname(ctx.second_log), exist_ok=True)
    ctx.second = ctx.session.run(f'/IAgreeToTheEULA log "{ctx.win(ctx.second_log)}" temp "{ctx.win(ctx.base)}" '
                                 f'/zeroguid /dontrun', exe=WIZARD_EXE, cwd=ctx.tmp)
    ctx.during_second = sorted(os.listdir(ctx.private))


def second_run_refused(test, ctx, result, log):
    test.assertExitCode(E_FAIL, ctx.second)
    second = harness.read_bytes(ctx.second_log).decode(harness.ANSI).replace("\r\n", "\n")
    folder = ctx.win(ctx.private)
    test.assertIn(f"{folder}\\readme.txt Create file has failed\nExtract File readme.txt 80004005\n", second)
    test.assertNotIn("Manual Deletion", second)
    test.assertNotIn("Deletion file", second)
    test.assertIn(f"Kept '{folder}\\wizard app.exe': this run did not write it\n", second)
    test.assertEqual(["data.bin", "readme.txt", "wizard app.exe"], ctx.during_second,
                     "the first run's files stay while its wizard runs")
    test.assertIn("Wizard: exit code 0\n", log)
    test.assertEqual([], os.listdir(ctx.base), "the first run removes its own folder")


def swap_folder(test, ctx):
    os.rename(ctx.private, ctx.private + ".moved")
    os.symlink(os.path.join(ctx.elsewhere, "empty"), ctx.private)


def prepare_swap(ctx):
    wizard_run(ctx)
    ctx.user_folder()
    os.makedirs(os.path.join(ctx.elsewhere, "empty"))
    ctx.left_out.append(ctx.private + ".moved")


def swapped_folder_checked(test, ctx, result, log):
    test.assertTrue(os.path.isdir(os.path.join(ctx.elsewhere, "empty")), "the user's empty folder stays")
    test.assertEqual(["data.bin", "readme.txt", "wizard app.exe"], sorted(os.listdir(ctx.private + ".moved")))


SAFETY_CASES = [
    # A link to nothing: opening it for writing would make its target, outside (and
    # Wine then says the file was there already); a new file is asked for first.
    Case("file-link-to-nothing",
         pre_existing(lambda ctx: os.symlink(os.path.join(ctx.elsewhere, "new.txt"),
                                             os.path.join(ctx.private, "a.txt"))), E_FAIL,
         IN_PRIVATE + r"a\.txt Create file has failed",
         # Wine lists no link to nothing, so the clean-up never sees it: it stays, and so
         # does the folder.
         lambda test, ctx, result, log: (
             test.assertTrue(os.path.islink(os.path.join(ctx.private, "a.txt"))),
             test.assertIn(f"Kept '{ctx.win(ctx.private)}': this run did not write it\n", log))),
    # Planted in the run's own folder while the wizard ran: a link made clean-up delete
    # the user's keep.txt. A second name of a user's file goes; its first name stays.
    Case("links-planted-while-the-wizard-runs", lambda ctx: (wizard_run(ctx), ctx.user_folder()), 0,
         r"Kept 'Z:\\.*\\planted\.txt': this run did not write it",
         planted_links_checked, during=when_the_wizard_runs(plant_links)),
    # A second run on one base deleted the first run's data files while its wizard ran.
    # The second run waits a few seconds for the held file before it fails: the wizard
    # runs longer than that.
    Case("second-run-while-the-wizard-runs", lambda ctx: wizard_run(ctx, 12000), 0, r"Wizard: exit code 0",
         second_run_refused, during=when_the_wizard_runs(second_run)),
    # The folder swapped for a link to an empty folder of the user's: once removed it.
    Case("folder-swapped-for-a-link-while-the-wizard-runs", prepare_swap, 0,
         r"Kept 'Z:\\.*\\\{0{8}(-0{4}){3}-0{12}\}': this run did not write it",
         swapped_folder_checked, during=when_the_wizard_runs(swap_folder)),
]

# ---- the trust question starts on "No" ----

def prepare_question(ctx):
    ctx.exe = UNSIGNED_EXE
    ctx.args = 'log "{log}" temp "{base}" /zeroguid /dontrun'


def answer_with_enter(test, ctx):
    peeker = harness.Peek(ctx.session, PEEK)
    question = peeker.find("SQL Carryall")
    test.assertIsNotNone(question, "the question is shown")
    test.assertEqual(["Yes", "No"], question.visible_buttons())
    # Windows sends Enter to the focused button, Wine to the default one: the focus is
    # what proves the answer on Windows.
    test.assertEqual(2, peeker.focus("SQL Carryall"), "No (IDCANCEL) has the focus")
    peeker.act("key", "SQL Carryall", 0x0D)
    report = peeker.find("SQL Carryall", where=lambda w: w.text(1003) == "Error")
    test.assertIsNotNone(report, "the report follows")
    peeker.act("command", "SQL Carryall", 2)


QUESTION_CASES = [
    Case("question-starts-on-no", prepare_question, NOT_SIGNED, r"Not signed correctly",
         lambda test, ctx, result, log: test.assertNotIn("Enumerate Resources", log), during=answer_with_enter),
]

# ---- nothing from outside forges a log line ----

FORGED = "A\nEnded 0\r\nDigital verification: SubjectName 'forged'\x01"
FORGED_SHOWN = r"A\\nEnded 0\\r\\nDigital verification: SubjectName 'forged'\\x01"


def no_forged_line(test, ctx, result, log):
    lines = log.split("\n")
    test.assertFalse([line for line in lines if line.startswith("Ended 0")], log)
    test.assertFalse([line for line in lines if line.startswith("Digital verification: SubjectName 'forged'")], log)
    test.assertRegex(log, r"\nEnded \d+\n$")


def with_forged_word(extra):
    def prepare(ctx):
        ctx.args += f' {extra}"{FORGED}"'
    return prepare


def forged_signer(ctx):
    """A copy of the small build signed by a certificate whose subject, issuer, program
    name and more-information link hold line breaks."""
    work = os.path.join(ctx.tmp, "signer")
    os.makedirs(work)
    config = os.path.join(work, "cert.cnf")
    with open(config, "w") as f:
        f.write("[req]\ndistinguished_name = dn\nprompt = no\nstring_mask = utf8only\nutf8 = yes\n"
                "[dn]\nCN = Evil\\r\\nDigital verification: SubjectName forged\n"
                "[ext]\nbasicConstraints = critical, CA:FALSE\nkeyUsage = critical, digitalSignature\n"
                "extendedKeyUsage = codeSigning\n")
    key, cert = os.path.join(work, "key.pem"), os.path.join(work, "cert.pem")
    subprocess.run(["openssl", "req", "-x509", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                    "-out", cert, "-days", "30", "-config", config, "-extensions", "ext"],
                   check=True, capture_output=True, timeout=60)
    ctx.exe = os.path.join(ctx.tmp, "forged.exe")
    subprocess.run([sys.executable, SIGN_TOOL, SMALL_EXE, ctx.exe, "--cert", cert, "--key", key,
                    "--name", "Prog\nEnded 0", "--url", "https://x.test/\r\nEnded 0"],
                   check=True, capture_output=True, timeout=120)


def signer_shown_escaped(test, ctx, result, log):
    no_forged_line(test, ctx, result, log)
    test.assertFalse([line for line in log.split("\n") if line.startswith("Digital verification: SubjectName forged")])
    for line in ["Digital verification: SubjectName 'Evil\\r\\nDigital verification: SubjectName forged'",
                 "Digital verification: IssuerName 'Evil\\r\\nDigital verification: SubjectName forged'",
                 "Digital verification: ProgramName 'Prog\\nEnded 0'",
                 "Digital verification: MoreInfo    'https://x.test/\\r\\nEnded 0'"]:
        test.assertIn(line + "\n", log)


FORGERY_CASES = [
    Case("usage-with-line-breaks", with_forged_word("/? "), BAD_COMMAND_LINE,
         r"Command line '.*" + FORGED_SHOWN + r".*' incorrect\.", no_forged_line),
    # Once a subject with CR LF added a forged "Digital verification: SubjectName" line.
    Case("signer-with-line-breaks", forged_signer, 0,
         r"Digital verification: SubjectName 'Evil\\r\\nDigital verification: SubjectName forged'",
         signer_shown_escaped),
]

# ---- every path the bootstrapper takes ----

def long_module_path(ctx):
    """A copy of the small build at a path of more than 260 characters."""
    folder = ctx.tmp
    while len(ctx.win(folder)) < 280:
        folder = os.path.join(folder, "d" * 40)
    os.makedirs(folder)
    ctx.exe = os.path.join(folder, "small.exe")
    shutil.copyfile(SMALL_EXE, ctx.exe)
    ctx.started_by_wine = True


def signer_read(test, ctx, result, log):
    test.assertGreater(len(ctx.win(ctx.exe)), 260)
    test.assertIn(f"Digital verification: 'The file \"{ctx.win(ctx.exe)}\" is signed and the signature was "
                  "verified.\n'\n", log)
    test.assertNotIn("failed strcpy", log)
    test.assertIn("GetAuthenticodeInformation Fininshed\nDigital verification: SubjectName 'Carryall Development'\n",
                  log)


PATH_CASES = [
    # Once verified whole and then not read: the wizard got the default name "Mini".
    Case("module-path-over-260", long_module_path, 0, r"Digital verification: ProgramName 'SQL Carryall'",
         signer_read),
    # Wine took COM¹ (superscript one) as a folder name; the device rule covers it.
    Case("COM-superscript-base", base_folder("COM\u00b9"), E_FAIL,
         r"Free disk space not checked: 'Z:\\.*\\COM\u00b9' is not a folder\.", refused_as_a_folder),
]


# ---- what was there before: identities, not names, say what the run may touch ----

def plant_hard_link(ctx):
    ctx.user_folder()
    os.makedirs(ctx.private)
    # A second name of the user's file at the payload's "a.txt": no reparse point to see.
    os.link(os.path.join(ctx.elsewhere, "keep.txt"), os.path.join(ctx.private, "a.txt"))


def plant_file_symlink(ctx):
    ctx.user_folder()
    os.makedirs(ctx.private)
    # Under Wine a Unix link to a file reads as an ordinary file.
    os.symlink(os.path.join(ctx.elsewhere, "keep.txt"), os.path.join(ctx.private, "a.txt"))


def check_user_file_intact(test, ctx, result, log):
    with open(os.path.join(ctx.elsewhere, "keep.txt"), "rb") as f:
        test.assertEqual(b"the user's own file\n", f.read(), "the user's file holds its own bytes")
    test.assertNotIn("a.txt written Ok", log)


def plant_unrelated_file(ctx):
    os.makedirs(ctx.private)
    with open(os.path.join(ctx.private, "notes.txt"), "wb") as f:
        f.write(b"the user's notes\n")
    ctx.args = '/IAgreeToTheEULA log "{log}" temp "{base}" /zeroguid /dontrun'


def check_unrelated_kept(test, ctx, result, log):
    test.assertEqual(["notes.txt"], os.listdir(ctx.private), "only the user's file is left")
    with open(os.path.join(ctx.private, "notes.txt"), "rb") as f:
        test.assertEqual(b"the user's notes\n", f.read())
    test.assertIn(f"Manual Deletion of '{ctx.win(ctx.private)}\\a.txt'\n", log)


def wizard_still_running(ctx):
    ctx.exe = WIZARD_EXE
    # Longer than a second run's few seconds of waiting for the held files.
    ctx.args = '/IAgreeToTheEULA log "{log}" temp "{base}" /zeroguid WIZARD_WINDOW=never WIZARD_RUN_MS=15000'


def hold_while_the_wizard_runs(test, ctx):
    data = os.path.join(ctx.private, "data.bin")
    names = ["data.bin", "wizard app.exe", "readme.txt"]
    test.assertTrue(harness.wait_for(lambda: all(os.path.exists(os.path.join(ctx.private, n)) for n in names),
                                     timeout_s=30), "the wizard's files appear")
    time.sleep(1)  # the last one written is held, and the wizard started
    # A delete through the system fails while the wizard runs: the run holds its files.
    subprocess.run(["wine", "cmd", "/c", "del", "/f", "/q", ctx.win(data)], env=ctx.session.env,
                   capture_output=True, timeout=60)
    test.assertTrue(os.path.exists(data), "a payload file cannot be deleted while the wizard runs")
    # A second run on the same folder fails at its first file and deletes nothing.
    second_log = os.path.join(ctx.tmp, "second.log")
    second = ctx.session.run(f'/IAgreeToTheEULA log "{ctx.win(second_log)}" temp "{ctx.win(ctx.base)}" '
                             f'/zeroguid /dontrun', exe=ctx.exe, cwd=ctx.tmp)
    test.assertExitCode(E_FAIL, second)
    test.assertEqual(sorted(names),
                     sorted(n for n in os.listdir(ctx.private) if n != "info.xml"),
                     "the second run deleted nothing of the first run's")
    os.remove(second_log)


def check_wizard_run_cleaned_up(test, ctx, result, log):
    test.assertIn("Wizard: exit code 0\nRunProgram returned 0\nRemove folder 'Yes'\n", log)
    test.assertFalse(os.path.exists(ctx.private), "the private folder goes once the wizard ends")


def forged_word(ctx):
    ctx.args = '/IAgreeToTheEULA log "{log}" temp "{base}" /zeroguid /dontrun A\nEnded 0\nB'


def check_no_forged_line(test, ctx, result, log):
    lines = log.split("\n")
    test.assertNotIn("Ended 0", lines)
    # Its two words reach the log with the line feeds shown, never as lines of their own.
    test.assertRegex(log, r"Command line params .*0\\nB .* A\\nEnded ")


IDENTITY_CASES = [
    # A hard link is no reparse point: once "a.txt written Ok", and the user's file held
    # the payload's bytes.
    Case("hard-link-in-the-zero-guid-folder", plant_hard_link, E_FAIL,
         IN_PRIVATE + r"a\.txt has other names: nothing is written through it",
         all_of(check_user_file_intact, kept("a.txt"), hard_link_kept)),
    # Once the payload went through the link, and its target was deleted at clean-up.
    Case("file-symlink-in-the-zero-guid-folder", plant_file_symlink, E_FAIL,
         IN_PRIVATE + r"a\.txt is a link: nothing is written through it",
         all_of(check_user_file_intact, kept("a.txt"))),
    # A file the run did not write stays, and so does the folder it is in.
    Case("user-file-in-the-zero-guid-folder", plant_unrelated_file, 0,
         r"Kept '" + IN_PRIVATE + r"notes\.txt': this run did not write it", check_unrelated_kept),
    # Files held while the wizard runs: a delete fails, a second run deletes nothing.
    Case("payload-held-while-the-wizard-runs", wizard_still_running, 0, r"RunProgram returned 0",
         check_wizard_run_cleaned_up, during=hold_while_the_wizard_runs),
    # A word with line feeds once wrote an "Ended 0" line before "Started".
    Case("word-with-line-feeds", forged_word, 0, r"Started \d+", check_no_forged_line),
]

# ---- a switch given as a flag stays set; info.xml and the log only as the run wrote them;
# ---- a read-only file of the run's is no held file

def with_words(exe, words):
    def prepare(ctx):
        ctx.exe = exe
        ctx.args += " " + words
    return prepare


def files_kept_and_nothing_run(test, ctx, result, log):
    unpacked(test, ctx, result, log)
    test.assertNotIn("RunProgram", log)


def plant_info_hard_link(ctx):
    forged_tag(ctx)
    ctx.user_folder()
    os.makedirs(ctx.private)
    os.link(keep(ctx), os.path.join(ctx.private, "info.xml"))


def info_refused(test, ctx, result, log):
    test.assertNotIn("Enumerate Resources", log, "nothing is unpacked")
    test.assertEqual(b"the user's own file\n", harness.read_bytes(keep(ctx)))
    hard_link_kept(test, ctx, result, log)


def plant_log_link(ctx):
    ctx.user_folder()
    os.symlink(keep(ctx), ctx.log)


def user_file_untouched(test, ctx, result, log):
    test.assertEqual(b"the user's own file\n", harness.read_bytes(keep(ctx)))


def user_log(ctx):
    return os.path.join(ctx.elsewhere, "user.log")


def swap_log(test, ctx):
    os.rename(ctx.log, ctx.log + ".moved")
    os.symlink(user_log(ctx), ctx.log)


def prepare_log_swap(ctx):
    wizard_run(ctx, 1500)
    ctx.user_folder()
    with open(user_log(ctx), "wb") as f:
        f.write(b"the user's log\n")
    # The wizard itself opens the log by name and may append its last line through the
    # link: only the bootstrapper's lines are looked for there.
    ctx.left_out += [ctx.log + ".moved", user_log(ctx)]


def log_swap_checked(test, ctx, result, log):
    text = harness.read_bytes(user_log(ctx)).decode(harness.ANSI, "replace")
    test.assertTrue(text.startswith("the user's log\n"), text)
    for line in ("RunProgram returned", "Remove folder", "Ended"):
        test.assertNotIn(line, text, "the run writes no more once the file at the log's name changed")
    moved = harness.read_bytes(ctx.log + ".moved").decode(harness.ANSI, "replace")
    test.assertIn("Wizard: command line", moved)
    test.assertNotIn("Ended", moved)


def make_read_only(test, ctx):
    os.chmod(os.path.join(ctx.private, "data.bin"), 0o444)


def read_only_deleted(test, ctx, result, log):
    test.assertNotIn("data.bin is held", log)
    test.assertNotIn("data.bin is refused", log)
    test.assertFalse(os.path.exists(ctx.private), "the private folder goes")


SWITCH_AND_FILE_CASES = [
    # Once the bare word undid the flag: the run showed the "continue?" question of an
    # unsigned build, which nobody watching a silent run answers.
    Case("bare-word-repeats-the-silent-switch", with_words(UNSIGNED_EXE, "IAgreeToTheEULA"), NOT_SIGNED,
         r"Not signed correctly so failing now!",
         lambda test, ctx, result, log: test.assertNotIn("Enumerate Resources", log)),
    # Once "keep" deleted the files and "dontrun" started the wizard.
    Case("bare-words-repeat-keep-and-dontrun", with_words(SMALL_EXE, "dontrun /keep keep"), 0,
         r"Remove folder 'No'", files_kept_and_nothing_run),
    # Once "Failed to create temp file ... 681", exit 0, and the wizard beside the planted file.
    Case("info-xml-is-a-second-name", plant_info_hard_link, E_FAIL,
         IN_PRIVATE + r"info\.xml has other names: nothing is written through it\r", info_refused),
    # Once the log went through the link into the user's file.
    Case("log-is-a-link", plant_log_link, 0, r"the user's own file", user_file_untouched),
    # Once the run's last lines went through a link put at the log's name meanwhile.
    Case("log-swapped-for-a-link-while-the-wizard-runs", prepare_log_swap, 0, r"the user's log",
         log_swap_checked, during=when_the_wizard_runs(swap_log)),
    # Once logged eight times as held (error 5), waited for, and marked for the restart.
    Case("payload-file-made-read-only", lambda ctx: wizard_run(ctx, 1500), 0,
         r"Cleared the read-only attribute of '" + IN_PRIVATE + r"data\.bin'", read_only_deleted,
         during=when_the_wizard_runs(make_read_only)),
]

CASES = (LINK_CASES + NAME_CASES + PROMPT_CASES + COMMAND_LINE_CASES + FOLDER_CASES + LOG_CASES +
         IDENTITY_CASES + SAFETY_CASES + QUESTION_CASES + FORGERY_CASES + PATH_CASES + SWITCH_AND_FILE_CASES)


class HostileRunTest(harness.WineTestCase):

    def test_every_hostile_run_changes_nothing_outside_the_private_folder(self):
        self.assertTrue(CASES, "no cases")
        for case in CASES:
            with self.subTest(case=case.name):
                tmp = self.session.fresh_dir(f"hostile-{case.name}")
                ctx = Context(self.session, tmp)
                case.prepare(ctx)
                before = snapshot(tmp, leave_out=[ctx.private, ctx.log, *ctx.left_out])
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
                elif ctx.started_by_wine:
                    result = start_with_wine(ctx, args)
                else:
                    result = self.session.run(args, exe=ctx.exe, cwd=tmp)
                log = (harness.read_bytes(ctx.log).decode(harness.ANSI, "replace").replace("\r\n", "\n")
                       if os.path.exists(ctx.log) else "")
                self.assertExitCode(case.exit_code, result)
                self.assertTrue(any(re.fullmatch(case.line, line) for line in log.split("\n")),
                                f"no line matches {case.line!r} in:\n{log}")
                self.assertEqual(before, snapshot(tmp, leave_out=[ctx.private, ctx.log, *ctx.left_out]),
                                 "something outside the private folder changed")
                if case.check:
                    case.check(self, ctx, result, log)


if __name__ == "__main__":
    unittest.main()
