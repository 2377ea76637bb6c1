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

import contextlib
import ctypes
import ctypes.util
import dataclasses
import itertools
import os
import re
import shlex
import shutil
import subprocess
import threading
import time
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


def require_files(*names):
    """Raises RuntimeError unless every environment variable of names holds the path of
    an existing file: the tests' programs and tools must be built before they run."""
    for name in names:
        path = os.environ.get(name)
        if not path or not os.path.isfile(path):
            raise RuntimeError(f"{name} names no file: {path!r}")


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


# -- windows of other programs (peek.exe) -------------------------------------------------

_RECT = r"(?P<l>-?\d+),(?P<t>-?\d+),(?P<r>-?\d+),(?P<b>-?\d+)"
_WINDOW_LINE = re.compile(r"window caption=(?P<caption>.*) rect=" + _RECT + r" client=(?P<w>\d+)x(?P<h>\d+)")
_CONTROL_LINE = re.compile(r"control id=(?P<id>-?\d+) class=(?P<cls>\S*) visible=(?P<visible>[01]) "
                           r"style=(?P<style>[0-9a-f]{8}) rect=" + _RECT + r" text=(?P<text>.*)")


def _rect(match):
    return tuple(int(match[k]) for k in "ltrb")


@dataclasses.dataclass
class Control:
    id: int
    cls: str
    visible: bool
    style: int
    rect: tuple  # left, top, right, bottom on the screen
    text: str


@dataclasses.dataclass
class Window:
    caption: str
    rect: tuple  # left, top, right, bottom on the screen
    client: tuple  # width, height
    controls: list

    def control(self, id_):
        """The first control with this id (ids -1 are not unique)."""
        return next((c for c in self.controls if c.id == id_), None)

    def text(self, id_):
        """The text of the first control with this id; None when there is none."""
        control = self.control(id_)
        return control.text if control else None

    def visible_buttons(self):
        return [c.text for c in self.controls if c.cls == "Button" and c.visible]


class Peek:
    """peek.exe in the session: finds and drives the windows of the programs it runs."""

    def __init__(self, session, exe=None):
        self.session = session
        self.exe = exe or os.environ.get("CARRYALL_PEEK")

    def __call__(self, *args, timeout=90):
        """Runs peek.exe; its exit status and its output (UTF-8, LF line ends)."""
        completed = subprocess.run(["wine", self.exe, *map(str, args)], env=self.session.env,
                                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                   stdin=subprocess.DEVNULL, timeout=timeout)
        return completed.returncode, completed.stdout.decode("utf-8", "replace").replace("\r\n", "\n")

    def find(self, name, wait_ms=20000, where=None):
        """The visible top-level window named name (caption, or "exe=NAME") with its
        controls, or None when none came within wait_ms; with where, the first one seen
        for which where(window) is true (a window that replaces another of the same
        name)."""
        deadline = time.monotonic() + wait_ms / 1000
        while True:
            window = self._find_once(name, max(0, int((deadline - time.monotonic()) * 1000)))
            if window is not None and (where is None or where(window)):
                return window
            if time.monotonic() >= deadline:
                return None
            time.sleep(0.1)

    def _find_once(self, name, wait_ms):
        status, output = self("find", name, wait_ms)
        if status != 0:
            return None
        window = None
        for line in output.split("\n"):
            if window is None:
                match = _WINDOW_LINE.fullmatch(line)
                if match:
                    window = Window(match["caption"], _rect(match), (int(match["w"]), int(match["h"])), [])
                continue
            match = _CONTROL_LINE.fullmatch(line)
            if match:
                window.controls.append(Control(int(match["id"]), match["cls"], match["visible"] == "1",
                                               int(match["style"], 16), _rect(match), match["text"]))
            elif window.controls and line:
                window.controls[-1].text += "\n" + line  # a text with line breaks
        return window

    def gone(self, name, wait_ms=20000):
        """Waits until no visible top-level window is named name; True when none is."""
        deadline = time.monotonic() + wait_ms / 1000
        while True:
            if self("find", name, 0)[0] != 0:
                return True
            if time.monotonic() > deadline:
                return False
            time.sleep(0.1)

    def focus(self, name):
        """The id of the control of window name that has the keyboard focus (0: none of
        its controls); None when the window is missing."""
        status, output = self("focus", name)
        match = re.search(r"^focus id=(-?\d+)$", output, re.M)
        return int(match[1]) if status == 0 and match else None

    def act(self, *args):
        """One of peek.exe's actions (command, syscommand, button-up, char, key,
        set-text); raises when the window or control is missing."""
        status, output = self(*args)
        if status != 0:
            raise AssertionError(f"peek.exe {' '.join(map(str, args))} failed ({status}): {output}")


def wait_for(probe, ready=bool, timeout_s=10.0):
    """Calls probe until ready(its answer) holds or timeout_s has passed; the last answer."""
    deadline = time.monotonic() + timeout_s
    while True:
        answer = probe()
        if ready(answer) or time.monotonic() >= deadline:
            return answer
        time.sleep(0.1)


def screenshot(session, path, rect=None):
    """Writes a PNG of the session's screen, or of rect (left, top, right, bottom) on it."""
    crop = [] if rect is None else ["-crop", f"{rect[2] - rect[0]}x{rect[3] - rect[1]}+{rect[0]}+{rect[1]}",
                                    "+repage"]
    subprocess.run(["import", "-window", "root", *crop, path], env=session.env, check=True,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=60)


def count_colors(session, rect, colors):
    """How many pixels of rect (left, top, right, bottom) on the screen have each of the
    colors ((r, g, b) tuples), exactly."""
    width, height = rect[2] - rect[0], rect[3] - rect[1]
    data = subprocess.run(["import", "-window", "root", "-crop", f"{width}x{height}+{rect[0]}+{rect[1]}",
                           "+repage", "-depth", "8", "rgb:-"], env=session.env, check=True,
                          stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                          timeout=60).stdout
    counts = {color: 0 for color in colors}
    for i in range(0, len(data) - 2, 3):
        pixel = (data[i], data[i + 1], data[i + 2])
        if pixel in counts:
            counts[pixel] += 1
    return counts


class BellWatcher:
    """Counts the bells of the session's X display: under Wine, MessageBeep rings the X
    bell, which the XKB extension reports as a bell event."""

    XKB_USE_CORE_KBD = 0x100
    XKB_BELL_NOTIFY = 8

    def __init__(self, session):
        x11 = ctypes.CDLL(ctypes.util.find_library("X11"))
        x11.XOpenDisplay.restype = ctypes.c_void_p
        x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x11.XkbQueryExtension.argtypes = [ctypes.c_void_p] + [ctypes.POINTER(ctypes.c_int)] * 5
        x11.XkbSelectEvents.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_ulong, ctypes.c_ulong]
        x11.XPending.argtypes = [ctypes.c_void_p]
        x11.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
        x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.x11 = x11
        self.display = x11.XOpenDisplay(session.env["DISPLAY"].encode())
        if not self.display:
            raise RuntimeError(f"cannot open display {session.env['DISPLAY']}")
        opcode, self.event_base, error, major, minor = (ctypes.c_int() for _ in range(5))
        major.value = 1
        if not x11.XkbQueryExtension(self.display, ctypes.byref(opcode), ctypes.byref(self.event_base),
                                     ctypes.byref(error), ctypes.byref(major), ctypes.byref(minor)):
            raise RuntimeError("the X server has no XKB extension")
        bell_mask = 1 << self.XKB_BELL_NOTIFY
        x11.XkbSelectEvents(self.display, self.XKB_USE_CORE_KBD, bell_mask, bell_mask)
        x11.XSync(self.display, 0)
        self.bells = 0

    def count(self, settle_s=1.0):
        """The bells rung since the watch began, after waiting settle_s for late ones."""
        deadline = time.monotonic() + settle_s
        event = (ctypes.c_long * 24)()  # an XEvent
        while True:
            while self.x11.XPending(self.display):
                self.x11.XNextEvent(self.display, event)
                raw = bytes(event)
                # XkbAnyEvent: int type, then (LP64) serial, send_event, display and
                # time, then int xkb_type at byte 40.
                if (int.from_bytes(raw[0:4], "little") == self.event_base.value and
                        int.from_bytes(raw[40:44], "little") == self.XKB_BELL_NOTIFY):
                    self.bells += 1
            if time.monotonic() >= deadline:
                return self.bells
            time.sleep(0.05)

    def close(self):
        if self.display:
            self.x11.XCloseDisplay(self.display)
            self.display = None


class BackgroundRun:
    """A program run that goes on while the test drives its windows; result() waits."""

    def __init__(self, session, args, exe, cwd=None, timeout_ms=60000):
        self._outcome = {}

        def run():
            try:
                self._outcome["result"] = session.run(args, exe=exe, cwd=cwd, timeout_ms=timeout_ms)
            except Exception as error:  # reported by result()
                self._outcome["error"] = error
        self._thread = threading.Thread(target=run, daemon=True)
        self._thread.start()

    def done(self):
        return not self._thread.is_alive()

    def wait(self, timeout_s):
        self._thread.join(timeout_s)

    def result(self, timeout_s=120):
        self._thread.join(timeout_s)
        if self._thread.is_alive():
            raise AssertionError("the run did not end")
        if "error" in self._outcome:
            raise self._outcome["error"]
        return self._outcome["result"]


# -- the registry of the session ------------------------------------------------------------

DOTNET_SETUP_KEY = r"HKLM\Software\Microsoft\NET Framework Setup\NDP"


def reg(session, cwd, *args):
    """One "wine reg" call on the session's live registry: its status and output."""
    out_path = os.path.join(cwd, "reg.out")
    # Output to a file, not a pipe: see WineSession.run_command_line.
    with open(out_path, "wb") as out:
        status = subprocess.run(["wine", "reg", *args], env=session.env, cwd=cwd,
                                stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT,
                                timeout=60).returncode
    with open(out_path, "rb") as f:
        output = f.read().decode("utf-8", errors="replace")
    os.remove(out_path)
    return status, output


_saves = itertools.count()


@contextlib.contextmanager
def dotnet_keys(session, cwd, commands):
    """Within the block, the .NET setup keys are only what the "wine reg" commands (lists
    of arguments) write; afterwards the prefix's own keys are back."""
    saved = os.path.join(cwd, f"ndp-saved-{next(_saves)}.reg")
    exported = reg(session, cwd, "export", DOTNET_SETUP_KEY, session.to_windows(saved), "/y")[0] == 0
    try:
        if exported:
            _reg_ok(session, cwd, "delete", DOTNET_SETUP_KEY, "/f")
        for command in commands:
            _reg_ok(session, cwd, *command)
        yield
    finally:
        reg(session, cwd, "delete", DOTNET_SETUP_KEY, "/f")
        if exported:
            _reg_ok(session, cwd, "import", session.to_windows(saved))


def _reg_ok(session, cwd, *args):
    status, output = reg(session, cwd, *args)
    if status != 0:
        raise AssertionError(f"wine reg {' '.join(args)}: {output}")


# -- watching windows come and go -----------------------------------------------------------

WATCH_LINE = re.compile(r"t=(?P<t>\d+) (?P<what>show|hide|started|ended) hwnd=(?P<hwnd>\S+) pid=\d+ exe=(?P<exe>.*?) "
                        r"class=(?P<cls>.*?) caption=(?P<caption>.*)")


def start_window_watch(session, milliseconds, peek=None, process=None):
    """Starts peek.exe watch and waits until it runs; returns a function that waits for
    the watch to end and answers its events as (time, show|hide, exe in lower case, class,
    caption) tuples (a window that hides as its process ends is known by its handle).
    With a process name, its start and end are events too: (time, started|ended, exe in
    lower case, "", ""), in the order the watcher saw them among the windows'."""
    out_path = os.path.join(session.tmp_root, f".watch-{os.getpid()}-{next(session._serial)}.txt")
    out = open(out_path, "wb")
    watcher = subprocess.Popen(["wine", peek or os.environ.get("CARRYALL_PEEK"), "watch", str(milliseconds)] + ([process] if process else []),
                               env=session.env, stdout=out, stderr=subprocess.DEVNULL,
                               stdin=subprocess.DEVNULL)
    deadline = time.monotonic() + 30
    while b"ready" not in read_bytes(out_path):
        if time.monotonic() > deadline or watcher.poll() is not None:
            out.close()
            raise AssertionError("the window watcher did not start")
        time.sleep(0.05)

    def finish():
        watcher.wait(timeout=milliseconds / 1000 + 60)
        out.close()
        shown, events = {}, []
        for line in read_bytes(out_path).decode("utf-8").replace("\r\n", "\n").splitlines():
            match = WATCH_LINE.fullmatch(line)
            if not match:
                continue
            who = (match["exe"].lower(), match["cls"], match["caption"])
            if match["what"] == "show":
                shown[match["hwnd"]] = who
            elif match["what"] == "hide":
                who = shown.get(match["hwnd"], who)
            events.append((int(match["t"]), match["what"]) + who)
        os.remove(out_path)
        return events
    return finish
