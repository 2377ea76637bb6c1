#!/usr/bin/env python3
"""Runs the real bootstrapper under Wine into each of its dialogs and writes a picture
of each window, cropped to the window: what a user sees. Called by
`bash scripts/demo.sh --gallery`, which builds everything and starts the session.

    gallery.py STATE_DIR BIN_DIR OUT_DIR

STATE_DIR is the Wine session's state folder (scripts/wine-env.sh), BIN_DIR the win32
build's bin folder (CarryallInstaller.exe, runner.exe, peek.exe), OUT_DIR where the
pictures go:

  splash.png                the splash while the payload is unpacked
  report-dotnet.png         the report of a missing .NET Framework, with its link
  report-wizard-failed.png  the report of a wizard that failed
  about.png                 the About box, opened from the report's system menu
  question.png              the question of an unsigned build
"""

import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "tests", "e2e"))
import harness  # noqa: E402

PRODUCT = "SQL Carryall"
IDOK, IDCANCEL, ABOUT_COMMAND = 1, 2, 0x10


def main(state_dir, bin_dir, out_dir):
    os.environ["CARRYALL_RUNNER"] = os.path.join(bin_dir, "runner.exe")
    session = harness.WineSession(state_dir).open()
    peek = harness.Peek(session, os.path.join(bin_dir, "peek.exe"))
    exe = os.path.join(bin_dir, "CarryallInstaller.exe")
    work = session.fresh_dir("gallery")
    os.makedirs(out_dir, exist_ok=True)

    def find(name, where=None):
        window = peek.find(name, 60000, where)
        if window is None:
            raise SystemExit(f"gallery: no window {name!r} appeared")
        time.sleep(0.4)  # let it paint
        return window

    def shoot(name, window):
        path = os.path.join(out_dir, name)
        harness.screenshot(session, path, window.rect)
        print(f"gallery: {path} ({window.rect[2] - window.rect[0]} x {window.rect[3] - window.rect[1]})")

    def report():
        return find(PRODUCT, where=lambda w: w.text(1003) == "Error")

    def start(words, program=exe):
        return harness.BackgroundRun(session, words, exe=program, cwd=work, timeout_ms=120000)

    # The splash stays until the sample wizard shows its window.
    run = start("WIZARD_WINDOW=4000 WIZARD_RUN_MS=200")
    shoot("splash.png", find("exe=CarryallInstaller.exe"))
    run.result(180)

    # A failed wizard, and the About box from the report's system menu.
    run = start("WIZARD_EXIT=1603 WIZARD_WINDOW=never")
    shoot("report-wizard-failed.png", report())
    peek.act("syscommand", PRODUCT, ABOUT_COMMAND)
    shoot("about.png", find(f"About {PRODUCT}"))
    peek.act("command", f"About {PRODUCT}", IDOK)
    peek.gone(f"About {PRODUCT}")
    peek.act("command", PRODUCT, IDCANCEL)
    run.result(180)

    # An unsigned copy of the same bootstrapper asks whether to go on; No.
    # It lies where a download would, so that the question names a plausible path.
    downloads = os.path.join(session.prefix, "drive_c", "Downloads")
    os.makedirs(downloads, exist_ok=True)
    unsigned = os.path.join(downloads, "CarryallInstaller.exe")
    if os.path.exists(unsigned):
        os.remove(unsigned)
    subprocess.run(["osslsigncode", "remove-signature", "-in", exe, "-out", unsigned], check=True,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, timeout=120)
    run = start("", program=unsigned)
    shoot("question.png", find(PRODUCT, where=lambda w: w.text(1003) != "Error"))
    peek.act("command", PRODUCT, IDCANCEL)
    report()
    peek.act("command", PRODUCT, IDCANCEL)
    run.result(180)

    # No .NET Framework: the report with its download link.
    with harness.dotnet_keys(session, work, []):
        run = start("")
        shoot("report-dotnet.png", report())
        peek.act("command", PRODUCT, IDCANCEL)
        run.result(180)
    os.remove(unsigned)
    shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    if len(sys.argv) != 4:
        raise SystemExit(__doc__)
    main(*sys.argv[1:])
