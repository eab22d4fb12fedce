#!/usr/bin/env bash
# Benchmark: Varnel's quiet uninstall against NSIS's uninstaller, 5,000 files
# in 200 folders by default. Extra arguments go to files_bench.py
# (--files N --folders N --runs N).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset host >/dev/null && cmake --build --preset host --target varnel >/dev/null
cmake --preset win32 >/dev/null && cmake --build --preset win32 --target uninst >/dev/null
bed=$PWD/build/bench/bed
tests/bed/setup.sh "$bed" >/dev/null
trap 'tests/bed/teardown.sh "$bed"' EXIT
python3 bench/files_bench.py "$bed" build/win32/uninst.exe build/host/tools/varnel/varnel "$@"
