#!/usr/bin/env bash
# Benchmark, not a test: what the bootstrapper costs under Wine next to what the same work
# costs without it, side by side in one run, and whether the targets are met.
#
#   bash bench/run.sh [--big] [RUNS]   RUNS whole-process runs of everything (default 5)
#
# Builds the win32 preset with the default 64 MiB demo payload and the benchmark's own
# programs (bench/CMakeLists.txt: bootstrappers of 1, 16 and 256 MiB, a trivial program,
# the window-probe helper) into build/bench, a folder of its own, so that a build/win32
# configured otherwise is left as it is; starts a Wine session in build/bench/wine; and
# prints, each a median of RUNS runs (bench/bench.py says how each is taken):
#   - unpacking the demo payload (silent, /dontrun /keep) against the reference program
#     (bench/reference.c) verifying the same file and copying its install.bin, and the ratio;
#   - a whole silent installation of a small payload whose wizard exits at once,
#     against the reference verifying that file and then running the wizard, and the ratio;
#   - peak working set and peak private memory of the 64 MiB unpack against a trivial
#     Win32 program;
#   - one poll of the wizard-window probe with 200 top-level windows open, against a bare
#     loop of EnumWindows and GetWindowThreadProcessId, and the ratio;
#   - the payload sweep: unpack, copy and memory at 16, 64 and 256 MiB (and 1 GiB with
#     --big), and what the unpack and the copy cost per MiB at each size, above the same
#     run with a 1 MiB install.bin.
# Then which targets are met (the cost per MiB among them: the largest within 1.3 times
# the smallest). Exit status: 0 all met, 3 a target missed, 1 a failure.
#
# --big builds the 1 GiB bootstrapper too (the first time: a few minutes and 2 GiB of
# disk in build/bench) and needs about 4 GiB of free disk while it runs.
#
# --ram-temp (first, before the rest) mounts a tmpfs of 3 GiB on Wine's %TEMP% for the
# measurement, so that what the unpacks, copies and installations write stays in memory:
# the disk's own speed, which the kernel falls back to in the middle of a large write
# once it holds back dirty pages, is then left out of the figures. Needs root.
#
#   bash bench/run.sh --compare FIRST.exe SECOND.exe [RUNS]
#
# times and measures the 64 MiB unpack of two builds of the bootstrapper (each carrying
# the demo payload) alternately instead: how a change to it is judged.
#
#   bash bench/run.sh --build-memory [MIB]
#
# measures the build instead (no Wine): the peak resident memory and time of every step
# that makes, signs and tags a bootstrapper with a MIB MiB payload (default 1024); see
# bench/build_memory.sh.
#
#   bash bench/run.sh --pack [RUNS]
#
# measures making a bootstrapper with tools/carryall.py pack instead (no Wine): a 1 GiB
# payload packed against cat of the same files, the pack's peak memory, and the demo
# bootstrapper packed against compiling and linking it from a fresh build folder; see
# bench/pack.py.
set -euo pipefail
shopt -s inherit_errexit
cd "$(dirname "${BASH_SOURCE[0]}")/.."
repo=$PWD

if [ "${1:-}" = --build-memory ]; then
  shift
  exec bash bench/build_memory.sh "$@"
fi
if [ "${1:-}" = --pack ]; then
  runs=${2:-5}
  case "$runs" in '' | *[!0-9]* | 0) echo "usage: bench/run.sh --pack [RUNS]" >&2; exit 2 ;; esac
  build=$repo/build/bench-pack
  echo "== Building the stub and the sample wizard in $build" >&2
  cmake --preset win32 -B "$build" -DCARRYALL_PAYLOAD= -DCARRYALL_DEMO_PAYLOAD_MB=1 >/dev/null
  cmake --build "$build" --target carryall_stub sample_wizard -j2 >/dev/null
  echo "== Measuring" >&2
  exec /usr/bin/python3 -B bench/pack.py --stub "$build/bin/carryall-stub.exe" \
    --wizard "$build/bin/sample_wizard.exe" --work "$build/pack" --runs "$runs" \
    --rebuild-source "$repo" --rebuild-dir "$build/rebuild"
fi

extra=()  # what bench.py is asked besides the runs: --compare A B, or --big
big=OFF
ram_temp=no
if [ "${1:-}" = --ram-temp ]; then
  ram_temp=yes
  shift
fi
if [ "${1:-}" = --compare ]; then
  [ $# -ge 3 ] || { echo "usage: bench/run.sh --compare FIRST.exe SECOND.exe [RUNS]" >&2; exit 2; }
  extra=(--compare "$(realpath "$2")" "$(realpath "$3")")
  shift 3
elif [ "${1:-}" = --big ]; then
  big=ON
  extra=(--big)
  shift
fi
[ $# -le 1 ] || { echo "usage: bench/run.sh [--ram-temp] [--big] [RUNS] | [--ram-temp] --compare FIRST.exe SECOND.exe [RUNS]" >&2; exit 2; }
runs=${1:-5}
case "$runs" in
  '' | *[!0-9]* | 0) echo "usage: bench/run.sh [--big] [RUNS]  (RUNS a positive number)" >&2; exit 2 ;;
esac

build=$repo/build/bench
echo "== Building the benchmark's programs in $build" >&2
cmake --preset win32 -B "$build" -DCARRYALL_PAYLOAD= -DCARRYALL_DEMO_PAYLOAD_MB=64 -DCARRYALL_BENCH=ON \
  -DCARRYALL_BENCH_BIG=$big >/dev/null
cmake --build "$build" --target bench_programs -j2 >/dev/null

state=$build/wine
bash scripts/wine-env.sh start "$state" >/dev/null
trap 'bash "$repo/scripts/wine-env.sh" stop "$state" >/dev/null 2>&1 || true' EXIT
# shellcheck disable=SC1091
source "$state/env.sh"

# The session's prefix has .NET Framework 4.8; 2.0 SP 2 as well, whichever version the
# build's string table asks for.
ndp='HKLM\Software\Microsoft\NET Framework Setup\NDP'
for value in "v2.0.50727 Install 1" "v2.0.50727 SP 2"; do
  read -r key name data <<<"$value"
  wine reg add "$ndp\\$key" /v "$name" /t REG_DWORD /d "$data" /f </dev/null >/dev/null 2>&1
done

temp_dir=$(winepath -u "$(wine cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')")
[ -d "$temp_dir" ] || { echo "bench: Wine's temporary folder $temp_dir is missing" >&2; exit 1; }
if [ "$ram_temp" = yes ]; then
  # Everything written lands in memory: the figures leave out the disk, whose speed the
  # kernel switches to, mid-write, once it holds back dirty pages (1 GiB writes here).
  mount -t tmpfs -o size=3g tmpfs "$temp_dir" || { echo "bench: cannot mount a tmpfs on $temp_dir" >&2; exit 1; }
  trap 'umount -l "$temp_dir" || true; bash "$repo/scripts/wine-env.sh" stop "$state" >/dev/null 2>&1 || true' EXIT
fi

echo "== Measuring" >&2
status=0
/usr/bin/python3 -B bench/bench.py --build "$build" --temp "$temp_dir" --runs "$runs" "${extra[@]}" || status=$?
exit "$status"
