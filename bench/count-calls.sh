#!/usr/bin/env bash
# Win32 calls of a quiet uninstall, by name, per installed file: the test
# build uninst_seam.exe logs every call it makes through the seam. Extra
# arguments go to count_calls.py (--files N --folders N; default 500 in 20).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset host >/dev/null && cmake --build --preset host -j2 --target varnel >/dev/null
cmake --preset win32 >/dev/null && cmake --build --preset win32 -j2 --target uninst_seam >/dev/null
bed=$PWD/build/count/bed
tests/bed/setup.sh "$bed" >/dev/null
trap 'tests/bed/teardown.sh "$bed"' EXIT
python3 bench/count_calls.py "$bed" build/win32/uninst_seam.exe build/host/tools/varnel/varnel "$@"
