#!/usr/bin/env python3
"""Benchmark, not a test: what making a bootstrapper with `carryall.py pack` costs, side
by side with what the same work costs without it, in one run.

    pack.py --stub STUB --wizard WIZARD --work DIR [--runs N] [--mib MIB]
            [--rebuild-source SRC --rebuild-dir DIR]

Prints, each the median of N whole-process runs taken in turn (A B A B ...):
  - packing a payload of MIB MiB (default 1024: the generated install.bin and the wizard)
    into the stub, against `cat` of the same files (the stub and the payload's files) into
    one file on the same disk, and the speed of the pack as a share of cat's (target: at
    least 0.7);
  - the peak resident memory of that pack against the pack of a 16 MiB payload (flat: the
    payload is streamed, so the large one may take at most 16 MiB more);
  - making the demo bootstrapper (a 64 MiB install.bin and the demo's other files) with
    pack (target: under 3 s), against compiling and linking the bootstrapper from a fresh
    build folder (--rebuild-source; one run, it takes half a minute or more).
Exit status: 0 every target met, 3 a target missed, 1 a failure.

Every run starts after `sync`, so that a run does not pay for the dirty pages of the one
before it, and writes its output into DIR, which also holds the generated payloads.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
CARRYALL = REPO / "tools" / "carryall.py"
GEN_INSTALL_BIN = REPO / "resources" / "demo" / "gen_install_bin.py"
DEMO = REPO / "resources" / "demo"
MIB = 1 << 20


def timed(command, output=None):
    """Runs command after sync; returns (seconds, peak resident bytes)."""
    if output is not None and output.exists():
        output.unlink()
    subprocess.run(["sync"], check=True)
    started = time.perf_counter()
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(process.pid, 0)
    seconds = time.perf_counter() - started
    if os.waitstatus_to_exitcode(status) != 0:
        raise RuntimeError("%s failed with %d" % (command[0], os.waitstatus_to_exitcode(status)))
    return seconds, usage.ru_maxrss * 1024


def cat_command(sources, output):
    quoted = " ".join("'%s'" % s for s in sources)
    return ["sh", "-c", "exec cat %s > '%s'" % (quoted, output)]


def pack_command(stub, payload_list, output):
    return [sys.executable, "-B", str(CARRYALL), "pack", "--stub", str(stub), "--payload", str(payload_list),
            "-o", str(output)]


def make_payload(work, mib, wizard):
    """A payload list of an install.bin of mib MiB and the wizard; returns (list, sources)."""
    folder = work / ("payload-%d" % mib)
    folder.mkdir(parents=True, exist_ok=True)
    install_bin = folder / "install.bin"
    if not install_bin.exists() or install_bin.stat().st_size != mib * MIB:
        subprocess.run([sys.executable, str(GEN_INSTALL_BIN), "--mib", str(mib), "--out", str(install_bin)],
                       check=True)
    listing = folder / "payload.list"
    listing.write_text("102\tinstall.bin\t%s\n103\tsetup.exe\t%s\n" % (install_bin, wizard), encoding="utf-8")
    return listing, [install_bin, Path(wizard)]


def make_demo_payload(work, wizard):
    folder = work / "demo"
    folder.mkdir(parents=True, exist_ok=True)
    install_bin = folder / "install.bin"
    if not install_bin.exists():
        subprocess.run([sys.executable, str(GEN_INSTALL_BIN), "--mib", "64", "--out", str(install_bin)], check=True)
    text = (DEMO / "payload.list.in").read_text(encoding="utf-8")
    text = text.replace("@CARRYALL_DEMO_INSTALL_BIN@", str(install_bin)).replace(
        "@CARRYALL_DEMO_WIZARD@", str(wizard)).replace("@CARRYALL_DEMO_DIR@", str(DEMO))
    listing = folder / "payload.list"
    listing.write_text(text, encoding="utf-8")
    return listing


def median(values):
    return statistics.median(values)


def figures(values):
    return "%.3f s (min %.3f, max %.3f)" % (median(values), min(values), max(values))


def rebuild(source, folder):
    """Seconds to configure a fresh build folder and compile and link the stub there."""
    if folder.exists():
        shutil.rmtree(folder)
    started = time.perf_counter()
    subprocess.run(["cmake", "--preset", "win32", "-B", str(folder), "-DCARRYALL_PAYLOAD=",
                    "-DCARRYALL_DEMO_PAYLOAD_MB=1"], cwd=source, check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", str(folder), "--target", "carryall_stub", "-j2"], cwd=source, check=True,
                   stdout=subprocess.DEVNULL)
    seconds = time.perf_counter() - started
    shutil.rmtree(folder)
    return seconds


def main(argv):
    parser = argparse.ArgumentParser(description="Times carryall.py pack against cat and against a rebuild.")
    parser.add_argument("--stub", type=Path, required=True)
    parser.add_argument("--wizard", type=Path, required=True)
    parser.add_argument("--work", type=Path, required=True)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--mib", type=int, default=1024)
    parser.add_argument("--rebuild-source", type=Path)
    parser.add_argument("--rebuild-dir", type=Path)
    args = parser.parse_args(argv)

    work = args.work.resolve()
    args.wizard = args.wizard.resolve()
    args.stub = args.stub.resolve()
    work.mkdir(parents=True, exist_ok=True)
    big_list, big_sources = make_payload(work, args.mib, args.wizard)
    big_sources = [args.stub] + big_sources
    small_list, _ = make_payload(work, 16, args.wizard)
    demo_list = make_demo_payload(work, args.wizard)
    out = work / "out"
    out.mkdir(exist_ok=True)

    cat_times, pack_times, pack_memory, small_memory, demo_times = [], [], [], [], []
    for _ in range(args.runs):
        cat_times.append(timed(cat_command(big_sources, out / "cat.bin"), out / "cat.bin")[0])
        seconds, memory = timed(pack_command(args.stub, big_list, out / "big.exe"), out / "big.exe")
        pack_times.append(seconds)
        pack_memory.append(memory)
        small_memory.append(timed(pack_command(args.stub, small_list, out / "small.exe"), out / "small.exe")[1])
        demo_times.append(timed(pack_command(args.stub, demo_list, out / "demo.exe"), out / "demo.exe")[0])
    size = (out / "big.exe").stat().st_size
    for name in ("cat.bin", "big.exe", "small.exe", "demo.exe"):
        (out / name).unlink()

    speed = median(cat_times) / median(pack_times)
    growth = median(pack_memory) - median(small_memory)
    print("pack of %d MiB (%.0f MiB written): %s" % (args.mib, size / MIB, figures(pack_times)))
    print("cat of the same files:             %s" % figures(cat_times))
    print("pack's speed as a share of cat's:  %.2f (target: at least 0.70)" % speed)
    print("peak memory of the pack: %.1f MiB at %d MiB, %.1f MiB at 16 MiB (growth %.1f MiB, target: at most 16)"
          % (median(pack_memory) / MIB, args.mib, median(small_memory) / MIB, growth / MIB))
    print("pack of the demo bootstrapper:     %s (target: under 3 s)" % figures(demo_times))
    met = speed >= 0.7 and growth <= 16 * MIB and median(demo_times) < 3.0
    if args.rebuild_source:
        seconds = rebuild(args.rebuild_source.resolve(), (args.rebuild_dir or work / "rebuild").resolve())
        print("compile and link of the bootstrapper from a fresh build folder: %.1f s (%.0f times the demo's pack)"
              % (seconds, seconds / median(demo_times)))
    print("targets met" if met else "a target missed")
    return 0 if met else 3


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv[1:]))
    except (OSError, RuntimeError, subprocess.CalledProcessError) as e:
        print("bench: %s" % e, file=sys.stderr)
        sys.exit(1)
