#!/usr/bin/env bash
# Sets up a Debian 12 machine, builds everything and runs every test:
# the Windows side (the real uninst.exe and the Windows-side tests under Wine,
# in a throwaway test bed), the host side (the authoring tool), and a short
# run of each fuzz target (clang, libFuzzer and the sanitizers; the long runs
# are scripts/fuzz.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
jobs=$(nproc)

cmake --preset host >/dev/null
cmake --build --preset host -j "$jobs"
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j "$jobs"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"

status=0
ctest --preset host -j "$jobs" || status=1
ctest --preset win32 -j "$jobs" || status=1
ctest --preset fuzz -j "$jobs" || status=1
exit $status
