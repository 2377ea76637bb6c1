#!/usr/bin/env bash
# Builds the bootstrapper with the demo payload and runs a whole installation under
# Wine, as a user would start it: the splash shows while the payload is unpacked, the
# sample wizard's window replaces it, and the run ends with the wizard's exit code.
# Prints the log and the full 32-bit exit code, and keeps screenshots of the splash and
# of the wizard in build/win32/demo/.
#
#   bash scripts/demo.sh            interactive run (under Xvfb)
#   bash scripts/demo.sh --silent   the same run as a deployment script does it
#   bash scripts/demo.sh --gallery  runs into each dialog instead (splash, the report of
#                                   a missing .NET and of a failed wizard, the question
#                                   of an unsigned build, About) and writes a picture of
#                                   each window to build/win32/demo/ (scripts/gallery.py)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
repo=$PWD
silent=""
gallery=0
case "${1:-}" in
  --silent) silent="/IAgreeToTheEULA " ;;
  --gallery) gallery=1 ;;
  "") ;;
  *) echo "usage: demo.sh [--silent | --gallery]" >&2; exit 2 ;;
esac

bash scripts/setup.sh
cmake --preset win32 >/dev/null
cmake --build --preset win32

bin=$repo/build/win32/bin
state=$repo/build/win32/wine-demo
out=$repo/build/win32/demo
bash scripts/wine-env.sh start "$state" >/dev/null
trap 'bash "$repo/scripts/wine-env.sh" stop "$state" >/dev/null 2>&1 || true' EXIT
# shellcheck disable=SC1091
source "$state/env.sh"

rm -rf "$out"
mkdir -p "$out"
if [ "$gallery" = 1 ]; then
  echo "== Gallery under Wine (display $DISPLAY)"
  python3 scripts/gallery.py "$state" "$bin" "$out"
  exit 0
fi
exe_w=$(winepath -w "$bin/CarryallInstaller.exe")
log_w=$(winepath -w "$out/install.log")
# The sample wizard shows its window after a second and a half, so the splash can be seen.
printf '"%s" %slog "%s" PRODUCTKEY=DEMO WIZARD_WINDOW=1500 WIZARD_RUN_MS=2500' \
  "$exe_w" "$silent" "$log_w" > "$out/command.txt"

echo "== Command line"
cat "$out/command.txt"; echo
echo "== Running under Wine (display $DISPLAY)"
timeout 180 wine "$bin/runner.exe" "$(winepath -w "$out/command.txt")" --timeout-ms 120000 \
  > "$out/runner.txt" 2>/dev/null &
run=$!
sleep 1.2
import -window root "$out/splash.png" 2>/dev/null || true
if timeout 30 wine "$bin/peek.exe" find "SQL Carryall Setup" 20000 >/dev/null 2>&1; then
  sleep 0.3
  import -window root "$out/wizard.png" 2>/dev/null || true
fi
wait "$run" || true

echo "== Log ($out/install.log)"
tr -d '\r' < "$out/install.log"
echo "== Exit code"
tr -d '\r' < "$out/runner.txt" | grep -E '^(exit|timeout|runner-error)='
echo "== Screenshots: $out/splash.png $out/wizard.png"
