#!/usr/bin/env bash
# Benchmark, not a test: the peak resident memory of every step that builds, signs and
# tags a bootstrapper with a large payload, to show that none grows with the payload.
#
#   bash bench/run.sh --build-memory [MIB]     (default 1024)
#
# Configures the win32 preset in build/bench-memory with a demo payload of MIB MiB, removes
# what the payload steps made there before, and builds CarryallInstaller with make's SHELL
# set to bench/step_shell.sh, which runs every recipe line under GNU time (/usr/bin/time):
# the stub is linked first, unmeasured, since nothing of the payload goes through the
# compiler or the linker; then tags the signed file with carryall.py tag the same way and checks both signatures
# with osslsigncode. bench/build_memory.py prints each step's peak resident set (VmHWM of
# its largest process) and wall time. Needs about 3 times MIB MiB of disk; the folder is
# kept for a rebuild, delete it to get the space back.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
repo=$PWD
mib=${1:-1024}
case "$mib" in
  '' | *[!0-9]* | 0) echo "usage: bench/run.sh --build-memory [MIB]  (MIB a positive number)" >&2; exit 2 ;;
esac
[ -x /usr/bin/time ] || { echo "bench: GNU time (/usr/bin/time, Debian's package time) is missing" >&2; exit 1; }

build=$repo/build/bench-memory
log=$build/steps.log
echo "== Configuring $build with a ${mib} MiB demo payload" >&2
cmake --preset win32 -B "$build" -DCARRYALL_DEMO_PAYLOAD_MB="$mib" >/dev/null
# The program's own objects are built first, unmeasured; the payload's steps run anew.
cmake --build "$build" --target carryall_stub sample_wizard carryall_dev_cert -j2 >/dev/null 2>&1
rm -f "$build"/gen/demo/install-*.bin "$build"/gen/payload/CarryallInstaller/* \
      "$build"/bin/CarryallInstaller.exe "$build"/bin/CarryallInstaller-tagged.exe "$log"

echo "== Building CarryallInstaller, each step under /usr/bin/time" >&2
CARRYALL_STEP_LOG=$log cmake --build "$build" --target CarryallInstaller -- SHELL="$repo/bench/step_shell.sh" >/dev/null
exe=$build/bin/CarryallInstaller.exe
tagged=$build/bin/CarryallInstaller-tagged.exe
/usr/bin/time -a -o "$log" -f "%M	%e	carryall.py tag" \
  /usr/bin/python3 -B tools/carryall.py tag "$exe" "$tagged" --info "<bench/>"
for file in "$exe" "$tagged"; do
  osslsigncode verify -in "$file" -CAfile "$build/signing/ca.pem" 2>&1 | grep -q "Signature verification: ok" \
    || { echo "bench: the signature of $file does not verify" >&2; exit 1; }
done
/usr/bin/python3 -B bench/build_memory.py --log "$log" --mib "$mib" --exe "$exe"
