#!/usr/bin/env bash
# Runs a Windows program in the test session's Wine environment (see wine-env.sh):
#
#   wine-run.sh PROGRAM [ARGS...]
#
# CTest uses it as CMAKE_CROSSCOMPILING_EMULATOR for the cross-built unit tests.
# The program's stdout and stderr pass through; the exit status is the program's exit
# code as Wine hands it to a Unix parent (the low 8 bits; a nonzero code whose low byte
# is 0 shows as 1). tests/e2e/runner.exe sees the full 32-bit value.
#
# Environment:
#   CARRYALL_WINE_STATE    the session's state folder (default <repo>/build/win32/wine)
#   CARRYALL_WINE_TIMEOUT  seconds the program may run (default 600); then it is killed
#                          and the status is 124
#   CARRYALL_WINE_KEEP     when this script had to start the session itself, it stops it
#                          again afterwards, unless this is 1. Under CTest the fixture
#                          "wine" starts and stops the session instead.
set -euo pipefail

[ $# -ge 1 ] || { echo "usage: wine-run.sh PROGRAM [ARGS...]" >&2; exit 2; }

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
state=${CARRYALL_WINE_STATE:-$here/../build/win32/wine}
seconds=${CARRYALL_WINE_TIMEOUT:-600}

started_here=0
if [ ! -f "$state/env.sh" ]; then
  "$here/wine-env.sh" start "$state" >&2
  started_here=1
fi
# shellcheck source=/dev/null
. "$state/env.sh"

if [ "$started_here" = 0 ] || [ "${CARRYALL_WINE_KEEP:-0}" = 1 ]; then
  exec timeout -k 10 "$seconds" wine "$@"
fi
trap '"$here/wine-env.sh" stop "$state" >&2' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
status=0
timeout -k 10 "$seconds" wine "$@" || status=$?
exit "$status"
