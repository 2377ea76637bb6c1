#!/usr/bin/env bash
# Installs what the builds and the tests need on a Debian 12 machine (among them makensis
# and wixl, which build the sample installers), and nothing that is already there. Safe
# to run again.
#   --fuzz   only what fuzz/run.sh needs: clang 14 with libFuzzer and the sanitizers'
#            run-time libraries, and the symbolizer that names the lines of a finding
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
# A mirror in the middle of a sync fails one index now and then: try again, and install
# from the indexes at hand when it still fails (the install itself then says what is missing).
update() {
  local i
  for i in 1 2 3; do
    $SUDO apt-get update -qq && return 0
    echo "setup: apt-get update failed (try $i of 3)" >&2
    sleep $((i * 5))
  done
  echo "setup: going on with the package indexes at hand" >&2
}

if [ "${1:-}" = "--fuzz" ]; then
  for p in cmake make python3 clang-14 libclang-rt-14-dev llvm-14; do
    have_pkg "$p" || need+=("$p")
  done
  if [ ${#need[@]} -gt 0 ]; then
    echo "setup: installing ${need[*]}"
    update
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}"
  fi
  exit 0
fi

for p in cmake g++ make python3 python3-pefile googletest libgtest-dev mingw-w64 g++-mingw-w64-i686-posix \
         xvfb imagemagick xdotool osslsigncode openssl softhsm2 opensc libengine-pkcs11-openssl x11-utils libx11-6 nsis wixl \
         time locales; do
  have_pkg "$p" || need+=("$p")
done
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  need_update=1
fi
have_pkg wine || need+=(wine)
have_pkg wine32:i386 || need+=(wine32:i386)

# When one architecture's package index lags behind the other's (a mirror in the middle of
# a sync), a library that both wine (amd64) and wine32 (i386) need is offered in two
# versions, which Multi-Arch forbids, and apt finds no solution. Then each such library is
# asked for in the version the i386 index has, for both architectures.
install_matching() {
  local pins=() out missing p base want added
  for _ in $(seq 1 30); do
    out=$(apt-get install -s --no-install-recommends --allow-downgrades "$@" "${pins[@]}" 2>&1) && break
    missing=$(echo "$out" | grep -oE "Depends: [^ ]+" | awk '{print $2}' | sort -u)
    added=0
    for p in $missing; do
      base=${p%:i386}
      case " ${pins[*]} " in *" $base="*|*" $p "*) continue ;; esac
      want=$(apt-cache policy "$base:i386" | awk '/Candidate/{print $2}')
      if have_pkg "$base" && [ "$(dpkg-query -W -f='${Version}' "$base:$(dpkg --print-architecture)")" != "$want" ] && [ "$want" != "(none)" ]; then
        pins+=("$base=$want" "$base:i386=$want")
      else
        pins+=("$p")
      fi
      added=1
    done
    [ $added = 1 ] || break
  done
  echo "setup: installing with matching versions: ${pins[*]}"
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends --allow-downgrades "$@" "${pins[@]}"
}

if [ ${#need[@]} -gt 0 ]; then
  echo "setup: installing ${need[*]}"
  update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" ||
    install_matching "${need[@]}"
elif [ "${need_update:-0}" = 1 ]; then
  update
fi
