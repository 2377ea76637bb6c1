#!/usr/bin/env bash
# Builds every fuzz target with clang, libFuzzer and the address and undefined-behaviour
# sanitizers, runs each for SECONDS (default 60) and prints its executions and findings.
#
#   bash fuzz/run.sh [SECONDS]
#
# Each target starts from its kept inputs in fuzz/corpus/<target>/ and grows a working
# corpus in build/fuzz/corpus/<target>/. An input that finds a fault (a crash, a broken
# property, a leak, a time-out) is copied into fuzz/corpus/<target>/ as found-<kind>-<hash>,
# where the host tests replay it: mend the fault, rename the input for what it found,
# and commit both. After a finding the target goes on for the rest of its time.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

seconds="${1:-60}"
case "$seconds" in '' | *[!0-9]*) echo "usage: bash fuzz/run.sh [SECONDS]" >&2; exit 2 ;; esac

bash scripts/setup.sh --fuzz

build=build/fuzz
targets=(command_line format payload embedded_info dotnet log)
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer -g -O1"
mkdir -p "$build"
if ! { cmake -S . -B "$build" -G "Unix Makefiles" -DCARRYALL_TARGET=fuzz \
         -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_CXX_FLAGS="$flags" &&
       cmake --build "$build" -j 2 --target "${targets[@]/#/fuzz_}"; } >"$build/build.log" 2>&1; then
  cat "$build/build.log" >&2
  exit 1
fi

ASAN_SYMBOLIZER_PATH="$(command -v llvm-symbolizer-14 || true)"
export ASAN_SYMBOLIZER_PATH
export UBSAN_OPTIONS=print_stacktrace=1

count_files() { find "$1" -mindepth 1 -maxdepth 1 | wc -l; }

summary=()
for target in "${targets[@]}"; do
  work="$build/corpus/$target"
  artifacts="$build/findings/$target"
  mkdir -p "$work" "$artifacts"
  # The information scan reads the last 4117 bytes of a file: its inputs must be longer.
  max_len=4096
  if [ "$target" = embedded_info ]; then max_len=12288; fi

  executions=0
  findings=0
  deadline=$(($(date +%s) + seconds))
  while [ "$(date +%s)" -lt "$deadline" ]; do
    left=$((deadline - $(date +%s)))
    [ "$left" -gt 0 ] || break
    log="$build/$target.log"
    before=$(count_files "$artifacts")
    "$build/bin/fuzz_$target" -max_total_time="$left" -max_len="$max_len" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$artifacts/" "$work" "fuzz/corpus/$target" >"$log" 2>&1 || true
    ran=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    executions=$((executions + ${ran:-0}))
    # The names libFuzzer gives its findings hold no blanks: the newest first.
    # shellcheck disable=SC2012
    for found in $(ls -t "$artifacts" | head -n $(($(count_files "$artifacts") - before))); do
      findings=$((findings + 1))
      kind=${found%%-*}
      cp "$artifacts/$found" "fuzz/corpus/$target/found-$kind-${found#*-}"
      echo "fuzz: $target found a fault ($kind): fuzz/corpus/$target/found-$kind-${found#*-}" >&2
      grep -m 3 -E 'ERROR|runtime error|broken:' "$log" | sed 's/^/fuzz:   /' >&2 || true
    done
    # A run that stopped without a finding and without stats did not start: stop here.
    if [ "$(count_files "$artifacts")" -eq "$before" ] && [ -z "$ran" ]; then
      echo "fuzz: $target did not run; see $log" >&2
      break
    fi
  done
  summary+=("$(printf '%-14s %14s executions %4s findings' "$target" "$executions" "$findings")")
done

echo "fuzzing for ${seconds} s per target:"
printf '%s\n' "${summary[@]}"
