"""Drives Windows programs under Wine for the end-to-end tests (standard library only).

The session (prefix, Xvfb, wineserver) comes from scripts/wine-env.sh. Programs are
started through runner.exe, which passes an exact raw command line to CreateProcessW and
reports the full 32-bit exit code.

Environment:
  CARRYALL_WINE_STATE  the session's state folder (default <repo>/build/win32/wine);
                       its env.sh names the prefix and the display
  CARRYALL_RUNNER      runner.exe (default: beside CARRYALL_EXE, else
                       <repo>/build/win32/bin/runner.exe)
  CARRYALL_E2E_TMP     where the tests' scratch folders go (default: e2e-tmp beside the
                       state folder, that is inside the build folder)

Typical use in a test module:

    def setUpModule(): harness.open_session()
    def tearDownModule(): harness.close_session()

    class SomeTest(harness.WineTestCase):
        def test_x(self):
            result = self.session.run('log x.txt', exe=EXE, cwd=self.tmp)
"""

import dataclasses
import itertools
import os
import re
import shlex
import shutil
import subprocess
import unittest

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), os.pardir, os.pardir))
WINE_ENV_SCRIPT = os.path.join(REPO, "scripts", "wine-env.sh")

# The log and every other 8-bit text of the programs use the thread's ANSI code page,
# which is 1252 in the session's locale (see wine-env.sh).
ANSI = "cp1252"

_RUNNER_LINE = re.compile(r"^(exit=0x(?P<code>[0-9A-F]{8})|timeout=\d+|runner-error=.*)$", re.M)


class RunnerError(Exception):
    """runner.exe could not start the program or wait for it; the message says why."""


@dataclasses.dataclass
class RunResult:
    exit_code: int  # the child's exit code as an unsigned 32-bit value
    command_line: str  # exactly what CreateProcessW received
    output: str  # runner's stdout and stderr, and Wine's


def _default_state_dir():
    return os.environ.get("CARRYALL_WINE_STATE") or os.path.join(REPO, "build", "win32", "wine")


def read_env_file(path):
    """The variables of an env.sh written by wine-env.sh (lines: export NAME='value')."""
    values = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            words = shlex.split(line, comments=True)
            if len(words) == 2 and words[0] == "export" and "=" in words[1]:
                name, value = words[1].split("=", 1)
                values[name] = value
    return values


class WineSession:
    """One Wine session: its variables, path conversion and program runs."""

    def __init__(self, state_dir=None):
        self.state_dir = os.path.abspath(state_dir or _default_state_dir())
        self.started_here = False
        self.env = None
        self._serial = itertools.count()

    # -- life cycle ---------------------------------------------------------------------

    def open(self):
        """Uses the session of the state folder, else the one that the environment names
        (WINEPREFIX and DISPLAY set); else starts one, which close() then stops."""
        env_file = os.path.join(self.state_dir, "env.sh")
        self.env = dict(os.environ)
        if not os.path.exists(env_file) and not ("WINEPREFIX" in self.env and
                                                 "DISPLAY" in self.env):
            subprocess.run([WINE_ENV_SCRIPT, "start", self.state_dir], check=True,
                           stdin=subprocess.DEVNULL, timeout=600)
            self.started_here = True
        if os.path.exists(env_file):
            self.env.update(read_env_file(env_file))
        self.prefix = os.path.abspath(self.env["WINEPREFIX"])
        os.makedirs(self.tmp_root, exist_ok=True)
        return self

    def close(self):
        if self.started_here:
            subprocess.run([WINE_ENV_SCRIPT, "stop", self.state_dir], check=True,
                           stdin=subprocess.DEVNULL, timeout=120)
            self.started_here = False

    @property
    def tmp_root(self):
        return os.path.abspath(os.environ.get("CARRYALL_E2E_TMP")
                               or os.path.join(os.path.dirname(self.state_dir), "e2e-tmp"))

    @property
    def runner(self):
        if os.environ.get("CARRYALL_RUNNER"):
            return os.environ["CARRYALL_RUNNER"]
        if os.environ.get("CARRYALL_EXE"):
            return os.path.join(os.path.dirname(os.environ["CARRYALL_EXE"]), "runner.exe")
        return os.path.join(REPO, "build", "win32", "bin", "runner.exe")

    # -- paths --------------------------------------------------------------------------

    def to_windows(self, path):
        """A Unix path as the programs see it: the prefix's drive_c is C:, the rest Z:."""
        path = os.path.abspath(path)
        drive_c = os.path.join(self.prefix, "drive_c")
        if path == drive_c:
            return "C:\\"
        if path.startswith(drive_c + os.sep):
            return "C:\\" + os.path.relpath(path, drive_c).replace("/", "\\")
        return "Z:" + path.replace("/", "\\")

    def to_unix(self, windows_path):
        """The inverse of to_windows, for C: and Z: paths."""
        drive, rest = windows_path[:2].upper(), windows_path[2:].replace("\\", "/")
        if drive == "C:":
            return os.path.join(self.prefix, "drive_c", rest.lstrip("/"))
        if drive == "Z:":
            return rest or "/"
        raise ValueError(f"not a C: or Z: path: {windows_path!r}")

    def fresh_dir(self, name):
        """An empty folder under the scratch root, named after name (e.g. a test id)."""
        path = os.path.join(self.tmp_root, re.sub(r"[^A-Za-z0-9_.-]+", "_", name))
        shutil.rmtree(path, ignore_errors=True)
        os.makedirs(path)
        return path

    # -- runs ---------------------------------------------------------------------------

    def run(self, args, exe, cwd=None, timeout_ms=60000, env=None):
        """Runs exe with the raw argument text args: the command line is exe's Windows
        path in double quotes, then one space and args (nothing when args is empty)."""
        command_line = f'"{self.to_windows(exe)}"' + (f" {args}" if args else "")
        return self.run_command_line(command_line, cwd=cwd, timeout_ms=timeout_ms, env=env)

    def run_command_line(self, command_line, cwd=None, timeout_ms=60000, env=None):
        """Starts a program with exactly this command line and waits for it.

        cwd: Unix path of the child's current folder. env: variables to set for the
        child (None as a value removes one). Raises RunnerError when the program could
        not be started or did not end within timeout_ms."""
        scratch = os.path.join(self.tmp_root, ".runner")
        os.makedirs(scratch, exist_ok=True)
        stem = os.path.join(scratch, f"{os.getpid()}-{next(self._serial)}")
        files = {kind: f"{stem}.{kind}" for kind in ("cmd", "env", "out")}
        with open(files["cmd"], "wb") as f:
            f.write(command_line.encode("utf-8"))
        argv = ["wine", self.runner, self.to_windows(files["cmd"]),
                "--timeout-ms", str(timeout_ms)]
        if cwd is not None:
            argv += ["--cwd", self.to_windows(cwd)]
        if env:
            with open(files["env"], "wb") as f:
                f.write("".join(name + ("" if value is None else "=" + value) + "\n"
                                for name, value in env.items()).encode("utf-8"))
            argv += ["--env-file", self.to_windows(files["env"])]
        try:
            # Output goes to a file, not a pipe: a Wine process that outlives the run
            # would keep a pipe open and make the read hang.
            with open(files["out"], "wb") as out:
                completed = subprocess.run(argv, env=self.env, cwd=scratch,
                                           stdin=subprocess.DEVNULL, stdout=out,
                                           stderr=subprocess.STDOUT,
                                           timeout=timeout_ms / 1000 + 30)
            with open(files["out"], "rb") as f:
                # runner.exe writes its stdout in text mode: CR LF line ends.
                output = f.read().decode("utf-8", errors="replace").replace("\r\n", "\n")
        finally:
            for path in files.values():
                if os.path.exists(path):
                    os.remove(path)
        reports = list(_RUNNER_LINE.finditer(output))
        if not reports:
            raise RunnerError(f"runner.exe said nothing (status {completed.returncode}): "
                              f"{output!r}")
        if not reports[-1].group("code"):
            raise RunnerError(f"{reports[-1].group(0)} for {command_line!r}")
        exit_code = int(reports[-1].group("code"), 16)
        # Wine hands a Unix parent the low byte, or 1 for a nonzero code ending in 00.
        expected_status = (exit_code & 0xFF) or (1 if exit_code else 0)
        if completed.returncode != expected_status:
            raise RunnerError(f"runner.exe reported 0x{exit_code:08X} but wine ended with "
                              f"{completed.returncode}: {output!r}")
        return RunResult(exit_code=exit_code, command_line=command_line, output=output)


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


class Re:
    """An expected log line given as a regular expression over the whole line."""

    def __init__(self, pattern):
        self.regex = re.compile(pattern)

    def matches(self, line):
        return self.regex.fullmatch(line) is not None

    def __repr__(self):
        return f"<matching {self.regex.pattern}>"


def split_log_lines(data):
    """The lines of an ANSI log whose every line ends in CR LF, decoded losslessly;
    raises AssertionError for a missing final line break or a bare CR or LF (except a CR
    at the end of a line's text)."""
    if not data:
        return []
    if not data.endswith(b"\r\n"):
        raise AssertionError(f"the log does not end with CR LF: {data[-40:]!r}")
    lines = data[:-2].split(b"\r\n")
    for number, line in enumerate(lines, 1):
        # A line that the program ends with "\r\n" itself reaches the text-mode file as
        # CR CR LF: its text keeps the first CR. Any other CR or LF is a fault.
        if b"\r" in line[:-1] or b"\n" in line:
            raise AssertionError(f"line {number} holds a bare CR or LF: {line!r}")
    return [line.decode(ANSI, errors="surrogateescape") for line in lines]


_session = None


def open_session():
    """The test run's session, opened on first use."""
    global _session
    if _session is None:
        _session = WineSession().open()
    return _session


def close_session():
    global _session
    if _session is not None:
        _session.close()
        _session = None


class WineTestCase(unittest.TestCase):
    """A test with the session in self.session and an empty folder in self.tmp."""

    maxDiff = None

    def setUp(self):
        self.session = open_session()
        # Class and method only: the log paths must stay well under MAX_PATH.
        self.tmp = self.session.fresh_dir(".".join(self.id().split(".")[-2:]))

    def assertExitCode(self, expected, result):
        """Compares full 32-bit exit codes, shown in hexadecimal."""
        self.assertEqual(f"0x{expected:08X}", f"0x{result.exit_code:08X}",
                         result.command_line)

    def assertLogLines(self, data, expected):
        """data (the log's bytes) holds exactly the expected lines, each ended by CR LF;
        an expected line is text (compared after decoding with the ANSI code page) or a
        Re."""
        actual = split_log_lines(data)
        shown = [e if isinstance(e, Re) and i < len(actual) and e.matches(actual[i])
                 else (actual[i] if i < len(actual) else None)
                 for i, e in enumerate(expected)] + actual[len(expected):]
        shown = [line for line in shown if line is not None]
        self.assertEqual(list(expected), shown)
