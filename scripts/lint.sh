#!/usr/bin/env bash
# The project's lint, run by CI before the tests; each step fails the run:
#   - clang-format: every C and C++ file of ours is formatted as .clang-format says
#     (`clang-format -i FILE` formats one);
#   - clang-tidy: the checks of .clang-tidy on the product's code: the portable code through
#     the host build's compile commands (configured into build/lint), the Win32 layer
#     through the Windows build's (build/lint-win32), as the cross compiler sees it;
#   - pyflakes on every Python file, shellcheck on every shell script.
# Installs clang-format, clang-tidy, pyflakes3, shellcheck and the cross compiler from
# Debian when one is missing. A finding that is a false alarm is silenced at its line, with the reason.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
need=()
for p in clang-format clang-tidy pyflakes3 shellcheck cmake g++ googletest libgtest-dev python3 \
         mingw-w64 g++-mingw-w64-i686-posix; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "lint: installing ${need[*]}"
  $SUDO apt-get update -qq || echo "lint: apt-get update failed; installing from the indexes at hand" >&2
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

status=0
fail() { echo "lint: $1" >&2; status=1; }

# Our sources only: the payloads of the end-to-end tests are data.
mapfile -t sources < <(git ls-files '*.c' '*.cpp' '*.h' | grep -v '^tests/e2e/payloads/')
mapfile -t python < <(git ls-files '*.py')
mapfile -t shell < <(git ls-files '*.sh')

echo "lint: clang-format (${#sources[@]} files)"
clang-format --dry-run --Werror "${sources[@]}" || fail "clang-format: run clang-format -i on the files above"

echo "lint: pyflakes (${#python[@]} files)"
pyflakes3 "${python[@]}" || fail "pyflakes found the problems above"

echo "lint: shellcheck (${#shell[@]} files)"
shellcheck "${shell[@]}" || fail "shellcheck found the problems above"

# The product's portable code, through the host build (tests and the simulated platform
# are left out).
mapfile -t product < <(git ls-files 'base/*.cpp' 'platform/*.cpp' 'cmdline/*.cpp' 'payload/*.cpp' 'checks/*.cpp' \
                         'signature/*.cpp' 'launch/*.cpp' 'ui/*.cpp' 'app/*.cpp' |
                       grep -v -e '_test\.cpp$' -e '/win32/' -e '/sim/')
echo "lint: clang-tidy, portable (${#product[@]} files)"
cmake --preset host -B build/lint -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
printf '%s\n' "${product[@]}" | xargs -P 2 -n 4 clang-tidy -p build/lint --quiet ||
  fail "clang-tidy found the problems above"

# The Win32 layer compiles only against the Windows headers and the cross compiler's own
# C++ library: clang is told the target, and the folders g++ searches for its library
# headers (the C headers come with the target).
mapfile -t win32 < <(git ls-files 'platform/win32/*.cpp' 'ui/win32/*.cpp' 'app/win32/*.cpp' | grep -v '_test\.cpp$')
mapfile -t cxx_includes < <(i686-w64-mingw32-g++-posix -E -x c++ -v - </dev/null 2>&1 |
                            sed -n '/^#include <\.\.\.> search starts here:/,/^End of search list\./p' |
                            grep '/c++' | sed 's/^ *//')
tidy_args=(--extra-arg=--target=i686-w64-mingw32)
for dir in "${cxx_includes[@]}"; do tidy_args+=("--extra-arg=-isystem$dir"); done
echo "lint: clang-tidy, Win32 (${#win32[@]} files)"
cmake --preset win32 -B build/lint-win32 -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
printf '%s\n' "${win32[@]}" | xargs -P 2 -n 4 clang-tidy -p build/lint-win32 --quiet "${tidy_args[@]}" ||
  fail "clang-tidy found the problems above"

[ "$status" -eq 0 ] && echo "lint: clean"
exit "$status"
