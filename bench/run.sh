#!/usr/bin/env bash
# The whole-uninstall benchmark: Varnel, NSIS, Windows Installer and the floor
# remove the same generated product in throwaway Wine beds of both kinds.
# Builds what it needs, then runs bench/bench.py, whose options it passes on:
#   --sizes 500,5000,50000  --runs 3  --big-runs 3 (runs at 50,000 and more)
#   --kinds win32,win64  --window-reps 7  --plot docs/bench.png
# Prints medians, ratios, the goals met or not, and how long it all took.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset host >/dev/null && cmake --build --preset host -j2 --target varnel >/dev/null
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j2 --target uninst bench_launch bench_msgbox bench_msgbox6 >/dev/null
exec python3 bench/bench.py "$@"
