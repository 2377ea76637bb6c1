#!/usr/bin/env bash
# Builds both builds and runs every test: the host unit tests, then the Win32 layer's
# tests and the end-to-end tests of the real executable under Wine.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

bash scripts/setup.sh

cmake --preset host
cmake --build --preset host
ctest --preset host

cmake --preset win32
cmake --build --preset win32
ctest --preset win32
