#!/usr/bin/env bash
# Benchmark: one isProtectedFolder call before the protected list is gathered
# and after, in a test bed of its own.
#
# Usage: bench/run-protected.sh [BUILD_DIR]   (default build/win32; runs 3 times)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/win32}
[ -f "$build/build.ninja" ] || cmake --preset win32 -B "$build" >/dev/null
cmake --build "$build" --target bench_protected | tail -n 1
bed=$PWD/$build/bench-protected-bed
tests/bed/setup.sh "$bed" >/dev/null
trap 'tests/bed/teardown.sh "$bed" >/dev/null 2>&1' EXIT
for run in 1 2 3; do
  echo "run $run:"
  VARNEL_BED=$bed tests/bed/wine-run "$PWD/$build/bench/bench_protected.exe"
done
