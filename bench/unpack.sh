#!/usr/bin/env bash
# Benchmark, not a test: how long the bootstrapper takes to unpack the demo payload
# under Wine, next to the time the platform's own copy takes for the same 64 MiB file.
#
#   bash bench/unpack.sh [RUNS]        RUNS timed runs of each (default 5)
#
# Builds the win32 preset with the demo payload at its default size (64 MiB) into
# build/bench, a folder of its own, so that a build/win32 configured for another payload
# is left as it is; then starts a Wine session in build/bench/wine and times, in turn:
#   unpack  CarryallInstaller.exe /dontrun /keep log <file> /IAgreeToTheEULA
#           start-up, checks and the unpacking of every payload file into the private
#           folder; the wizard is not started and nothing is removed at the end;
#   copy    wine cmd /c copy /b /y <install.bin> %TEMP%\...
#           the same 64 MiB file copied into the same temporary folder.
# Both are whole Wine process runs; the "start" row (wine cmd /c exit 0) shows what the
# process start alone costs. After each unpack the files are compared with their sources
# and the private folder is removed. One untimed run of each warms the page cache.
# Prints every run in seconds, the medians and the ratio of the medians.
set -euo pipefail
shopt -s inherit_errexit
cd "$(dirname "${BASH_SOURCE[0]}")/.."
repo=$PWD

runs=${1:-5}
case "$runs" in
  '' | *[!0-9]* | 0) echo "usage: bench/unpack.sh [RUNS]  (RUNS a positive number)" >&2; exit 2 ;;
esac

build=$repo/build/bench
mib=64
echo "== Building the bootstrapper with the ${mib} MiB demo payload in $build" >&2
cmake --preset win32 -B "$build" -DCARRYALL_PAYLOAD= -DCARRYALL_DEMO_PAYLOAD_MB=$mib >/dev/null
cmake --build "$build" --target CarryallInstaller -j2 >/dev/null
exe=$build/bin/CarryallInstaller.exe
payload=$build/gen/demo/install-${mib}MiB.bin
list=$build/gen/demo/payload.list
[ -f "$exe" ] && [ -f "$payload" ] || { echo "bench: the build made no $exe or $payload" >&2; exit 1; }

state=$build/wine
bash scripts/wine-env.sh start "$state" >/dev/null
trap 'bash "$repo/scripts/wine-env.sh" stop "$state" >/dev/null 2>&1 || true' EXIT
# shellcheck disable=SC1091
source "$state/env.sh"

# Wine has no .NET Framework: the keys that the bootstrapper's check reads say that 2.0
# SP 2 and 4.8 are installed.
ndp='HKLM\Software\Microsoft\NET Framework Setup\NDP'
for value in "v2.0.50727 Install 1" "v2.0.50727 SP 2" "v4\Client Install 1" "v4\Client Servicing 0" \
  "v4\Full Install 1" "v4\Full Servicing 0"; do
  read -r key name data <<<"$value"
  wine reg add "$ndp\\$key" /v "$name" /t REG_DWORD /d "$data" /f </dev/null >/dev/null 2>&1
done
wine reg add "$ndp\\v4\\Client" /v Version /t REG_SZ /d 4.8.04084 /f </dev/null >/dev/null 2>&1

work=$build/bench-run
rm -rf "$work"
mkdir -p "$work"
temp_dir=$(winepath -u "$(wine cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')")
[ -d "$temp_dir" ] || { echo "bench: Wine's temporary folder $temp_dir is missing" >&2; exit 1; }
copy_name=carryall-bench-copy.bin

now() { date +%s%N; }
seconds() { awk -v ns="$1" 'BEGIN { printf "%.3f", ns / 1e9 }'; }
median() { tr ' ' '\n' | sed '/^$/d' | sort -n | awk '{ v[NR] = $1 } END { m = int((NR + 1) / 2); printf "%.3f", (NR % 2 ? v[m] : (v[m] + v[m + 1]) / 2) / 1e9 }'; }

# Compares every unpacked file with its source, by the demo list: the bootstrapper
# writes each file under the lower-case form of its manifest name.
check_unpacked() {
  local folder=$1 id name source
  while IFS=$'\t' read -r id name source _; do
    case "$id" in '' | '#'*) continue ;; esac
    name=$(printf '%s' "$name" | tr 'A-Z' 'a-z')
    if ! cmp -s "$source" "$folder/$name"; then
      echo "bench: $folder/$name is missing or differs from $source" >&2
      return 1
    fi
  done <"$list"
}

# One run of the bootstrapper; prints its time in nanoseconds.
unpack_once() {
  local n=$1 log=$work/unpack-$1.log before after created start end status=0
  before=$(ls -A "$temp_dir")
  start=$(now)
  timeout 300 wine "$exe" /dontrun /keep log "$(winepath -w "$log")" /IAgreeToTheEULA \
    </dev/null >"$work/unpack-$n.out" 2>&1 || status=$?
  end=$(now)
  after=$(ls -A "$temp_dir")
  created=$(comm -13 <(printf '%s\n' "$before" | sort) <(printf '%s\n' "$after" | sort))
  if [ "$status" != 0 ] || [ "$(printf '%s\n' "$created" | sed '/^$/d' | wc -l)" != 1 ] ||
    ! check_unpacked "$temp_dir/$created"; then
    echo "bench: run $n of the bootstrapper failed (status $status, new in Temp: ${created:-nothing})" >&2
    [ -f "$log" ] && tr -d '\r' <"$log" >&2
    return 1
  fi
  rm -rf "${temp_dir:?}/$created"
  echo $((end - start))
}

copy_once() {
  local start end
  rm -f "$temp_dir/$copy_name"
  start=$(now)
  timeout 300 wine cmd /c copy /b /y "$(winepath -w "$payload")" "%TEMP%\\$copy_name" \
    </dev/null >"$work/copy.out" 2>&1 || { echo "bench: wine cmd /c copy failed" >&2; cat "$work/copy.out" >&2; return 1; }
  end=$(now)
  cmp -s "$payload" "$temp_dir/$copy_name" || { echo "bench: the copy differs from $payload" >&2; return 1; }
  rm -f "$temp_dir/$copy_name"
  echo $((end - start))
}

start_once() {
  local start end
  start=$(now)
  timeout 60 wine cmd /c exit 0 </dev/null >/dev/null 2>&1
  end=$(now)
  echo $((end - start))
}

echo "== Warming up" >&2
unpack_once 0 >/dev/null
copy_once >/dev/null
start_once >/dev/null

unpack_times=() copy_times=() start_times=()
for n in $(seq "$runs"); do
  unpack_times+=("$(unpack_once "$n")")
  copy_times+=("$(copy_once)")
  start_times+=("$(start_once)")
done

printf '%-8s' run unpack copy start; echo
for ((i = 0; i < runs; i++)); do
  printf '%-8s' "$((i + 1))" "$(seconds "${unpack_times[i]}")" "$(seconds "${copy_times[i]}")" \
    "$(seconds "${start_times[i]}")"
  echo
done
unpack_median=$(echo "${unpack_times[*]}" | median)
copy_median=$(echo "${copy_times[*]}" | median)
start_median=$(echo "${start_times[*]}" | median)
printf '%-8s' median "$unpack_median" "$copy_median" "$start_median"; echo
echo
echo "payload: $(stat -c %s "$payload") bytes in install.bin, $(stat -c %s "$exe") bytes in the bootstrapper"
awk -v u="$unpack_median" -v c="$copy_median" \
  'BEGIN { if (c > 0) printf "unpack / copy: %.2f (medians, seconds, each a whole Wine process run)\n", u / c }'
