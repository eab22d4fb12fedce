#!/usr/bin/env bash
# Takes the screenshots of the uninstaller's dialogs shown in docs/uninstaller.md:
# builds the Windows side if needed, makes a throwaway test bed of its own,
# runs the real uninst.exe under Xvfb there, and converts the
# captured windows to PNG files in docs/screenshots/.
#
# Usage: scripts/screenshots.sh [BUILD_DIR]   (default build/win32)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build/win32}")
bed="$build/shotbed"
out="$root/docs/screenshots"

if [ ! -f "$build/build.ninja" ]; then
  cmake --preset win32 -S "$root" -B "$build"
fi
cmake --build "$build" --target uninst autoanswer

"$root/tests/bed/setup.sh" "$bed"
trap '"$root/tests/bed/teardown.sh" "$bed"' EXIT
# shellcheck disable=SC1091
. "$bed/env"
shots="$WINEPREFIX/drive_c/shots"
rm -rf "$shots"
VARNEL_BED="$bed" "$root/tests/bed/wine-run" "$build/demo/autoanswer.exe" --shots \
  "$build/uninst.exe" 'C:\shots' </dev/null

mkdir -p "$out"
for name in confirm progress question; do
  convert "$shots/$name.bmp" "$out/$name.png"
  echo "docs/screenshots/$name.png"
done
