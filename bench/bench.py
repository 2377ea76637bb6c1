#!/usr/bin/env python3
"""The measurements of bench/run.sh, which builds the programs and starts the Wine session
this runs in (its variables in the environment). Standard library only.

    bench.py --build DIR --temp DIR --runs N

--build is the benchmark's build folder, --temp the Unix path of Wine's %TEMP%, where the
bootstrapper makes its private folder and the copy goes. Every figure is the median of N
whole-process runs; the two sides of a pair run alternately (A B, then B A), so that a
change in the machine's load falls on both alike. Exit status 0 when every target is
met, 3 when one is missed, 1 when a run failed.

Memory is read from /proc of the Wine process: a program started as `wine X.exe` runs in
that very Unix process (the loader executes in place). Wine's own GetProcessMemoryInfo
answers from the same fields, so these are the figures a Windows tool would show under
Wine: VmHWM is PeakWorkingSetSize (the kernel keeps this peak itself), and RssAnon plus
VmSwap is PagefileUsage/PrivateUsage, the memory that no file backs. Wine reports no peak
of the latter, so it is sampled every millisecond and the largest sample kept; private
memory only grows in these runs (the image, the heap), so the samples miss at most the
last millisecond's growth.
"""

import argparse
import filecmp
import os
import platform
import shutil
import statistics
import subprocess
import sys
import time

MIB = 1 << 20
SIZES = (16, 64, 256)
PROBE_WINDOWS = 200
PROBE_POLLS = 200
WIZARD_WORDS = ["WIZARD_WINDOW=never", "WIZARD_RUN_MS=0"]

# The targets: (label, test of the figures, the limit as printed).
UNPACK_LIMIT = 1.10
INSTALL_LIMIT = 1.25
PRIVATE_LIMIT_MIB = 16
PROBE_LIMIT = 1.25


class BenchError(Exception):
    pass


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def run_wine(args, output, timeout=600):
    """Runs `wine ARGS` to its end, its output into the file output; (seconds it took, the
    output). A nonzero exit is a failure. The output goes to a file, never a pipe: a
    process that the program starts on its way (Wine's desktop process, which outlives it
    by about a second) would hold a pipe open and the wait would time that too."""
    with open(output, "wb") as sink:
        start = time.perf_counter()
        status = subprocess.run(["wine"] + args, stdin=subprocess.DEVNULL, stdout=sink, stderr=subprocess.STDOUT,
                                timeout=timeout).returncode
        seconds = time.perf_counter() - start
    with open(output, "rb") as f:
        text = f.read().decode(errors="replace")
    if status != 0:
        raise BenchError("wine %s exited with %d:\n%s" % (" ".join(args), status, text))
    return seconds, text


def read_status(pid):
    fields = {}
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                name, _, value = line.partition(":")
                fields[name] = value.strip()
    except OSError:
        return None
    return fields


def kib(fields, name):
    value = fields.get(name, "0 kB").split()
    return int(value[0]) if value else 0


def memory_of(args, image_name, timeout=600):
    """Runs `wine ARGS` and samples its process; (peak working set, peak private) in
    bytes. image_name is the program's file name, which the process must show as its
    name, or the samples would be of some other process."""
    process = subprocess.Popen(["wine"] + args, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    peak_ws = peak_private = 0
    named = False
    deadline = time.monotonic() + timeout
    while process.poll() is None:
        fields = read_status(process.pid)
        if fields and "VmHWM" in fields:
            named |= image_name.lower().startswith(fields.get("Name", "").lower())
            peak_ws = max(peak_ws, kib(fields, "VmHWM"))
            peak_private = max(peak_private, kib(fields, "RssAnon") + kib(fields, "VmSwap"))
        if time.monotonic() > deadline:
            process.kill()
            raise BenchError("wine %s ran longer than %d s" % (" ".join(args), timeout))
        time.sleep(0.001)
    if process.returncode != 0:
        raise BenchError("wine %s exited with %d" % (" ".join(args), process.returncode))
    if not named:
        raise BenchError("the process of wine %s never showed the name %s" % (" ".join(args), image_name))
    return peak_ws * 1024, peak_private * 1024


def payload_sources(list_path):
    """(file name as unpacked, source path) of each line of a payload list."""
    files = []
    with open(list_path, encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\n")
            if not line or line.startswith("#"):
                continue
            fields = line.split("\t")
            # The bootstrapper writes each file under the lower-case form of its name.
            files.append((fields[1].lower().replace("\\", "/"), fields[2]))
    return files


class Bench:
    def __init__(self, build, temp, runs):
        self.build = build
        self.temp = temp
        self.runs = runs
        self.bin = os.path.join(build, "bin")
        self.work = os.path.join(build, "bench-run")
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        demo = os.path.join(build, "gen", "demo", "payload.list")
        self.unpackers = {64: (os.path.join(self.bin, "CarryallInstaller.exe"), demo)}
        for mib in SIZES:
            if mib != 64:
                self.unpackers[mib] = (os.path.join(self.bin, "bench_unpack_%d.exe" % mib),
                                       os.path.join(build, "bench", "payload-%d" % mib, "payload.list"))

    def exe(self, name):
        return windows_path(os.path.join(self.bin, name))

    def out(self, name):
        return os.path.join(self.work, name + ".out")

    def temp_entries(self):
        return set(os.listdir(self.temp))

    # One whole-process run of each measured thing; each returns seconds.

    def unpack(self, mib, exe=None):
        exe, list_path = exe or self.unpackers[mib][0], self.unpackers[mib][1]
        log = os.path.join(self.work, "unpack-%d.log" % mib)
        before = self.temp_entries()
        seconds, _ = run_wine([windows_path(exe), "/dontrun", "/keep", "log", windows_path(log),
                               "/IAgreeToTheEULA"], self.out("unpack"))
        created = self.temp_entries() - before
        if len(created) != 1:
            raise BenchError("the %d MiB unpack left %s in Temp, not one folder" % (mib, sorted(created)))
        folder = os.path.join(self.temp, created.pop())
        for name, source in payload_sources(list_path):
            if not filecmp.cmp(source, os.path.join(folder, name), shallow=False):
                raise BenchError("%s/%s differs from %s" % (folder, name, source))
        shutil.rmtree(folder)
        return seconds

    def copy(self, mib):
        """The platform's share of an unpack: the same trust request on the same
        bootstrapper, then CopyFileW of its install.bin."""
        source = self.payload(mib)
        target = os.path.join(self.temp, "carryall-bench-copy.bin")
        seconds, _ = run_wine([self.exe("bench_reference.exe"), "copy", windows_path(self.unpackers[mib][0]),
                               windows_path(source), windows_path(target)], self.out("copy"))
        if not filecmp.cmp(source, target, shallow=False):
            raise BenchError("the copy of %s differs from it" % source)
        os.remove(target)
        return seconds

    def payload(self, mib):
        _, list_path = self.unpackers[mib]
        return dict(payload_sources(list_path))["install.bin"]

    def install_small(self):
        before = self.temp_entries()
        seconds, _ = run_wine([self.exe("bench_small.exe"), "/IAgreeToTheEULA"] + WIZARD_WORDS, self.out("install"))
        if self.temp_entries() != before:
            raise BenchError("the small installation left %s in Temp" % sorted(self.temp_entries() - before))
        return seconds

    def wizard_alone(self):
        """The platform's share of a small installation: the same trust request on the
        same bootstrapper, then the wizard started and waited for."""
        return run_wine([self.exe("bench_reference.exe"), "run", self.exe("bench_small.exe"),
                         self.exe("sample_wizard.exe")] + WIZARD_WORDS, self.out("wizard"))[0]

    def probe(self):
        _, output = run_wine([self.exe("bench_probe.exe"), str(PROBE_WINDOWS), str(PROBE_POLLS)], self.out("probe"))
        fields = dict(word.split("=", 1) for word in output.split() if "=" in word)
        if "median_us" not in fields or "bare_median_us" not in fields:
            raise BenchError("bench_probe printed no time:\n" + output)
        return float(fields["median_us"]) / 1e6, float(fields["bare_median_us"]) / 1e6

    def unpack_memory(self, mib, exe=None):
        exe = exe or self.unpackers[mib][0]
        before = self.temp_entries()
        figures = memory_of([windows_path(exe), "/dontrun", "/keep", "/IAgreeToTheEULA"], os.path.basename(exe))
        for entry in self.temp_entries() - before:
            shutil.rmtree(os.path.join(self.temp, entry))
        return figures

    def trivial_memory(self):
        return memory_of([self.exe("bench_trivial.exe")], "bench_trivial.exe")

    # Repetition.

    def pair(self, first, second):
        """RUNS runs of each of two measurements, alternately; their medians and the runs."""
        a, b = [], []
        for index in range(self.runs):
            if index % 2 == 0:
                a.append(first())
                b.append(second())
            else:
                b.append(second())
                a.append(first())
        return statistics.median(a), statistics.median(b), a, b

    def warm_up(self):
        for mib in SIZES:
            self.unpack(mib)
            self.copy(mib)
        self.install_small()
        self.wizard_alone()


def mib(value):
    return value / MIB


def machine():
    cpu = "unknown processor"
    try:
        with open("/proc/cpuinfo") as f:
            cpu = next(line.split(":", 1)[1].strip() for line in f if line.startswith("model name"))
    except (OSError, StopIteration):
        pass
    with open("/proc/meminfo") as f:
        memory = int(f.readline().split()[1]) / (1 << 20)
    wine = subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()
    return "%s, %d cores, %.0f GiB; %s; %s; load average %s" % (
        cpu, os.cpu_count(), memory, platform.platform(terse=True), wine,
        " ".join("%.2f" % x for x in os.getloadavg()))


def compare(bench, first, second):
    """Two builds of the bootstrapper side by side: time and memory of the 64 MiB unpack."""
    try:
        for exe in (first, second):
            bench.unpack(64, exe)
        a, b, runs_a, runs_b = bench.pair(lambda: bench.unpack(64, first), lambda: bench.unpack(64, second))
        memory = [[bench.unpack_memory(64, exe) for _ in range(bench.runs)] for exe in (first, second)]
    except (BenchError, subprocess.TimeoutExpired) as error:
        print("bench: %s" % error, file=sys.stderr)
        return 1
    for exe, seconds, runs, mem in ((first, a, runs_a, memory[0]), (second, b, runs_b, memory[1])):
        print("%s: unpack %.3f s (runs %s), peak working set %.1f MiB, peak private %.1f MiB" % (
            exe, seconds, " ".join("%.3f" % r for r in runs), mib(statistics.median(m[0] for m in mem)),
            mib(statistics.median(m[1] for m in mem))))
    print("second / first: %.2f" % (b / a))
    return 0


def main(argv):
    parser = argparse.ArgumentParser(description="The measurements of bench/run.sh.")
    parser.add_argument("--build", required=True)
    parser.add_argument("--temp", required=True)
    parser.add_argument("--runs", type=int, required=True)
    parser.add_argument("--compare", nargs=2, metavar="EXE",
                        help="instead: unpack the 64 MiB demo payload with two builds of the bootstrapper")
    args = parser.parse_args(argv)
    bench = Bench(args.build, args.temp, args.runs)

    print("Carryall benchmark, %s UTC" % time.strftime("%Y-%m-%d %H:%M", time.gmtime()))
    print("machine: " + machine())
    print("each figure: the median of %d whole-process runs under Wine; pairs run alternately" % args.runs)
    print(flush=True)
    # Wine starts its desktop process (explorer) for the first program that touches the
    # window system, and ends it about a second after the last such program: the
    # bootstrapper would pay for starting it on most runs, and the wizard, which shows
    # no window here, never. On Windows the desktop is always there; one hidden window,
    # open for the whole benchmark, keeps it there under Wine too.
    holder = subprocess.Popen(["wine", bench.exe("sample_wizard.exe"), "WIZARD_WINDOW=hidden",
                               "WIZARD_RUN_MS=86400000"], stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        time.sleep(1)
        if args.compare:
            return compare(bench, *args.compare)
        bench.warm_up()
        sweep = {}
        for size in SIZES:
            sweep[size] = bench.pair(lambda: bench.unpack(size), lambda: bench.copy(size))
        install = bench.pair(bench.install_small, bench.wizard_alone)
        memory = {}
        for size in SIZES:
            memory[size] = [bench.unpack_memory(size) for _ in range(args.runs)]
        trivial = [bench.trivial_memory() for _ in range(args.runs)]
        probes = [bench.probe() for _ in range(args.runs)]
    except (BenchError, subprocess.TimeoutExpired) as error:
        print("bench: %s" % error, file=sys.stderr)
        return 1
    finally:
        holder.kill()
        holder.wait()

    def ws(runs):
        return statistics.median(r[0] for r in runs)

    def private(runs):
        return statistics.median(r[1] for r in runs)

    trivial_ws, trivial_private = ws(trivial), private(trivial)
    unpack, copy = sweep[64][0], sweep[64][1]
    probe = statistics.median(p[0] for p in probes)
    bare = statistics.median(p[1] for p in probes)
    results = []

    def row(label, measured, against, ratio, target, met):
        results.append(met)
        print("%-44s %12s %12s %8s   %-22s %s" % (label, measured, against, ratio, target,
                                                   "met" if met else "MISSED"))

    print("%-44s %12s %12s %8s   %s" % ("", "measured", "against", "ratio", "target"))
    row("unpack 64 MiB / verify + CopyFileW (s)", "%.3f" % unpack, "%.3f" % copy, "%.2f" % (unpack / copy),
        "ratio <= %.2f" % UNPACK_LIMIT, unpack / copy <= UNPACK_LIMIT)
    row("small silent install / verify + wizard (s)", "%.3f" % install[0], "%.3f" % install[1],
        "%.2f" % (install[0] / install[1]), "ratio <= %.2f" % INSTALL_LIMIT, install[0] / install[1] <= INSTALL_LIMIT)
    print("%-44s %12.1f %12.1f %8.2f" % ("peak working set, 64 MiB unpack / trivial (MiB)", mib(ws(memory[64])),
                                         mib(trivial_ws), ws(memory[64]) / trivial_ws))
    above = mib(private(memory[64]) - trivial_private)
    row("peak private, 64 MiB unpack / trivial (MiB)", "%.1f" % mib(private(memory[64])), "%.1f" % mib(trivial_private),
        "%.2f" % (private(memory[64]) / trivial_private), "< %d MiB above" % PRIVATE_LIMIT_MIB,
        above < PRIVATE_LIMIT_MIB)
    row("one probe poll / bare loop, %d windows (ms)" % PROBE_WINDOWS, "%.3f" % (probe * 1e3), "%.3f" % (bare * 1e3),
        "%.2f" % (probe / bare), "ratio <= %.2f" % PROBE_LIMIT, probe / bare <= PROBE_LIMIT)
    print()
    print("payload sweep (the unpack against verify + CopyFileW of its install.bin; memory of the unpack)")
    print("%8s %10s %10s %8s %14s %14s %16s" % ("MiB", "unpack s", "copy s", "ratio", "peak WS MiB",
                                                 "private MiB", "private - trivial"))
    for size in SIZES:
        u, c = sweep[size][0], sweep[size][1]
        above = mib(private(memory[size]) - trivial_private)
        if size != 64:
            results.append(above < PRIVATE_LIMIT_MIB)
        print("%8d %10.3f %10.3f %8.2f %14.1f %14.1f %16.1f" % (size, u, c, u / c, mib(ws(memory[size])),
                                                                  mib(private(memory[size])), above))
    print()
    print("runs (s):")
    rows = [("unpack %d" % size, sweep[size][2]) for size in SIZES]
    rows += [("copy %d" % size, sweep[size][3]) for size in SIZES]
    rows += [("install", install[2]), ("reference", install[3]), ("probe ms", [p[0] * 1e3 for p in probes]),
             ("bare ms", [p[1] * 1e3 for p in probes])]
    for label, runs in rows:
        print("  %-10s %s" % (label, " ".join("%.3f" % r for r in runs)))
    print()
    missed = results.count(False)
    print("targets: %d of %d met" % (len(results) - missed, len(results)))
    return 3 if missed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
