#!/usr/bin/env bash
# Starts and stops the Wine session that the Windows build's tests run in: one private
# 32-bit prefix, one Xvfb display and one persistent wineserver per state folder.
#
#   wine-env.sh start STATE_DIR   set the session up (a no-op when it is already up)
#   wine-env.sh stop STATE_DIR    end the session and remove its prefix (a no-op when down)
#
# STATE_DIR holds:
#   template/        the prefix as wineboot made it plus our registry settings (see
#                    write_registry_file; among them an installed .NET Framework 4.8);
#                    built once and kept across sessions (rebuilt when the Wine version
#                    or the settings change)
#   prefix/          this session's copy of the template; removed by stop
#   env.sh           the variables every wine call of the session needs; present exactly
#                    while the session is up
#   desktop.ready    written by the desktop keeper (tests/e2e/desktop_keeper.c) once it
#                    holds the desktop up; see start_desktop
#   browser.sh       stands in for the web browser: every URL that a program opens with
#                    ShellExecuteW("open", ...) is appended, one per line, to browser.log
#                    (emptied at every start)
#   xvfb.pid, *.log  bookkeeping and the output of Xvfb and the Wine processes
#
# Every wait is bounded. Wine and Xvfb get their output redirected to files, so nothing
# that outlives this script holds the caller's stdout or stderr open (CTest waits for
# those to close).
set -euo pipefail

# Under C.UTF-8 Wine 8 reports GetACP() = 1252 and GetOEMCP() = 437 (locale 0409), and
# keeps Unix file names in UTF-8, so a log path such as "dir with spaces é\log é.txt"
# works and the log holds é as the single byte 0xE9. Under C or POSIX the ANSI code page
# is 1252 too, but the Unix character set is ASCII and CreateFileW of a name with é
# fails. These machines have no other locales generated.
export LANG=C.UTF-8 LC_ALL=C.UTF-8
export WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset WINESERVER WINELOADER

die() { echo "wine-env: $*" >&2; exit 1; }

usage() { die "usage: wine-env.sh start|stop STATE_DIR"; }

[ $# -eq 2 ] || usage
action=$1
case "$action" in start | stop) ;; *) usage ;; esac
mkdir -p "$2"
state=$(cd "$2" && pwd)
case "$state" in
  *[,\"\'\\]*) die "the state folder must not contain , \" ' or \\: $state" ;;
esac

template=$state/template
prefix=$state/prefix
envfile=$state/env.sh
starting=0

# One start or stop at a time per state folder. The descriptor is closed for every
# process that may outlive this script (9>&-), or Xvfb or the wineserver would hold the
# lock for ever.
exec 9>"$state/.lock"
flock -w 300 9 || die "could not lock $state within 300 s"

# Quotes a value for a POSIX shell; harness.py reads env.sh back with shlex.
shq() { printf "'%s'" "${1//\'/\'\\\'\'}"; }

windows_path() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }

is_our_xvfb() {
  local pid=$1
  [ -n "$pid" ] && [ -r "/proc/$pid/comm" ] && [ "$(cat "/proc/$pid/comm")" = Xvfb ]
}

# Ends a process and waits (bounded) until it is gone.
end_process() {
  local pid=$1
  kill -TERM "$pid" 2>/dev/null || return 0
  if ! timeout 10 tail --pid="$pid" -s 0.05 -f /dev/null; then
    kill -KILL "$pid" 2>/dev/null || true
    timeout 5 tail --pid="$pid" -s 0.05 -f /dev/null || true
  fi
}

stop_session() {
  rm -f "$envfile"
  if [ -d "$prefix" ]; then
    WINEPREFIX=$prefix timeout 30 wineserver -k </dev/null >/dev/null 2>&1 9>&- || true
    WINEPREFIX=$prefix timeout 30 wineserver -w </dev/null >/dev/null 2>&1 9>&- || true
  fi
  if [ -f "$state/xvfb.pid" ]; then
    local pid
    pid=$(cat "$state/xvfb.pid")
    if is_our_xvfb "$pid"; then end_process "$pid"; fi
    rm -f "$state/xvfb.pid" "$state/xvfb.display"
  fi
  rm -rf "$prefix"
}

session_is_up() {
  [ -f "$envfile" ] && [ -d "$prefix" ] && [ -f "$state/xvfb.pid" ] &&
    is_our_xvfb "$(cat "$state/xvfb.pid")"
}

write_browser_script() {
  cat >"$state/browser.sh" <<EOF
#!/bin/sh
# Stands in for the web browser of the test prefix: records what it is asked to open.
for arg in "\$@"; do printf '%s\n' "\$arg" >>'$state/browser.log'; done
EOF
  chmod +x "$state/browser.sh"
  rm -f "$state/browser.log"
}

# Sets display to the new server's name.
start_xvfb() {
  rm -f "$state/xvfb.display"
  # -displayfd: Xvfb takes the first free display number itself and writes it once the
  # server accepts connections.
  setsid Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp \
    3>"$state/xvfb.display" </dev/null >"$state/xvfb.log" 2>&1 9>&- &
  local pid=$!
  echo "$pid" >"$state/xvfb.pid"
  for _ in $(seq 100); do
    if grep -qx '[0-9][0-9]*' "$state/xvfb.display" 2>/dev/null; then
      display=:$(cat "$state/xvfb.display")
      return 0
    fi
    kill -0 "$pid" 2>/dev/null || die "Xvfb ended at start-up: $(tail -n 5 "$state/xvfb.log")"
    sleep 0.1
  done
  die "Xvfb gave no display number within 10 s"
}

write_registry_file() {
  # A REGEDIT4 file is read in the ANSI code page; the state folder's path must be ASCII.
  cat >"$state/settings.reg" <<EOF
REGEDIT4

[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]
"ShowCrashDialog"=dword:00000000

[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]
"Managed"="N"

[HKEY_CURRENT_USER\\Software\\Wine\\WineBrowser]
"Browsers"="$state/browser.sh"
EOF
  # Wine ships no .NET Framework, and the bootstrapper does not start its wizard without
  # one: the setup keys of an installed .NET Framework 4.8, both profiles, as the
  # bootstrapper's detection reads them. Tests that need another state change them with
  # "wine reg" in a prefix of their own.
  local profile
  for profile in Client Full; do
    cat >>"$state/settings.reg" <<EOF

[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\NET Framework Setup\\NDP\\v4\\$profile]
"Install"=dword:00000001
"Servicing"=dword:00000000
"Version"="4.8.04084"
"Release"=dword:00080eb1
"TargetVersion"="4.0.0"
EOF
  done
}

# Needs DISPLAY: a wine call without a display breaks later window creation.
build_template() {
  write_registry_file
  # The template is rebuilt when Wine or the registry settings change.
  local stamp
  stamp="$(wine --version 2>/dev/null || echo unknown) $(sha256sum <"$state/settings.reg" | cut -d' ' -f1)"
  if [ -f "$template/.carryall-template" ] &&
    [ "$(cat "$template/.carryall-template")" = "$stamp" ]; then
    return 0
  fi
  echo "wine-env: building the template prefix (once)" >&2
  rm -rf "$template"
  local log=$state/template.log
  : >"$log"
  WINEPREFIX=$template timeout 180 wineboot -i </dev/null >>"$log" 2>&1 9>&- ||
    { rm -rf "$template"; die "wineboot -i failed, see $log"; }
  WINEPREFIX=$template timeout 60 wine regedit /S "$(windows_path "$state/settings.reg")" \
    </dev/null >>"$log" 2>&1 9>&- || { rm -rf "$template"; die "regedit failed, see $log"; }
  # The registry reaches the prefix's files only when its wineserver has ended.
  WINEPREFIX=$template timeout 60 wineserver -w </dev/null >>"$log" 2>&1 9>&- ||
    { rm -rf "$template"; die "the template's wineserver did not end within 60 s"; }
  echo "$stamp" >"$template/.carryall-template"
}

# Wine's desktop is an explorer.exe that the first window of a session starts and that ends
# a few seconds after the last window. Left alone, every program that opens a window after
# a pause races the desktop's start, which no program meets on Windows: a window that is
# never made, or a second explorer that holds its starter's output pipes open. The keeper
# owns a hidden window from now until the session ends, so the desktop starts once, here.
# CARRYALL_DESKTOP_KEEPER names the keeper; the default is the build's bin folder beside
# STATE_DIR. Without one the session still works, with those races.
start_desktop() {
  local keeper=${CARRYALL_DESKTOP_KEEPER:-$(dirname "$state")/bin/desktop_keeper.exe}
  if [ ! -f "$keeper" ]; then
    echo "wine-env: no desktop keeper at $keeper; the desktop comes and goes" >&2
    return 0
  fi
  rm -f "$state/desktop.ready"
  setsid wine "$keeper" "$(windows_path "$state/desktop.ready")" \
    </dev/null >"$state/keeper.log" 2>&1 9>&- &
  local pid=$!
  for _ in $(seq 300); do
    [ -f "$state/desktop.ready" ] && return 0
    kill -0 "$pid" 2>/dev/null || die "the desktop keeper ended at start-up, see $state/keeper.log"
    sleep 0.1
  done
  die "the desktop keeper was not ready within 30 s, see $state/keeper.log"
}

start_session() {
  if session_is_up; then
    return 0
  fi
  stop_session # leftovers of a session whose Xvfb died or whose start failed
  starting=1
  trap 'if [ "$starting" = 1 ]; then stop_session; fi' EXIT
  local display
  write_browser_script
  start_xvfb
  export DISPLAY=$display
  build_template
  cp -a "$template" "$prefix"
  export WINEPREFIX=$prefix
  timeout 30 wineserver -p </dev/null >"$state/wineserver.log" 2>&1 9>&- ||
    die "wineserver -p failed, see $state/wineserver.log"
  # The first wine call of a session starts the Wine services (about 0.8 s); later
  # calls of a small program then take 0.03 to 0.09 s.
  timeout 120 wine cmd /c exit 0 </dev/null >"$state/wine.log" 2>&1 9>&- ||
    die "the warm-up wine call failed, see $state/wine.log"
  start_desktop
  {
    echo "# Written by wine-env.sh start; removed by stop."
    echo "export WINEPREFIX=$(shq "$prefix")"
    echo "export DISPLAY=$(shq "$DISPLAY")"
    echo "export WINEDEBUG=$(shq "$WINEDEBUG")"
    echo "export WINEDLLOVERRIDES=$(shq "$WINEDLLOVERRIDES")"
    echo "export WINEARCH=$(shq "$WINEARCH")"
    echo "export LANG=$(shq "$LANG")"
    echo "export LC_ALL=$(shq "$LC_ALL")"
    echo "export CARRYALL_WINE_STATE=$(shq "$state")"
    echo "export CARRYALL_XVFB_PID=$(shq "$(cat "$state/xvfb.pid")")"
    echo "export CARRYALL_BROWSER_LOG=$(shq "$state/browser.log")"
  } >"$envfile.tmp"
  mv "$envfile.tmp" "$envfile"
  starting=0
}

case "$action" in
  start) start_session ;;
  stop) stop_session ;;
esac
