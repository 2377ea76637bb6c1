#!/usr/bin/env bash
# Builds the bootstrapper and runs it under Wine the way a deployment script would:
# silently, with a log. Prints the log and the full 32-bit exit code.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
repo=$PWD

bash scripts/setup.sh
cmake --preset win32 >/dev/null
cmake --build --preset win32

state=$repo/build/win32/wine-demo
bash scripts/wine-env.sh start "$state" >/dev/null
trap 'bash "$repo/scripts/wine-env.sh" stop "$state" >/dev/null 2>&1 || true' EXIT
# shellcheck disable=SC1091
source "$state/env.sh"

work=$state/run
rm -rf "$work"
mkdir -p "$work"
exe_w=$(winepath -w "$repo/build/win32/bin/CarryallInstaller.exe")
log_w=$(winepath -w "$work/install.log")
printf '"%s" log "%s" /IAgreeToTheEULA PRODUCTKEY=DEMO' "$exe_w" "$log_w" > "$work/command.txt"

echo "== Command line"
cat "$work/command.txt"; echo
echo "== Running under Wine"
set +e
out=$(timeout 120 wine "$repo/build/win32/bin/runner.exe" "$(winepath -w "$work/command.txt")" 2>/dev/null)
set -e
echo "== Log ($work/install.log)"
tr -d '\r' < "$work/install.log"
echo "== Exit code"
echo "$out" | tr -d '\r' | grep -E '^(exit|timeout|runner-error)='
