#!/usr/bin/env bash
# Stops the test bed's wineserver and Xvfb. The prefix stays for inspection.
bed=$(realpath -m "${1:?usage: teardown.sh BED_DIR}")
[ -f "$bed/env" ] || exit 0
# shellcheck disable=SC1091
. "$bed/env"
here=$(cd "$(dirname "$0")" && pwd)
"$here/in-bed" wineserver -k 2>/dev/null || true
timeout 20 "$here/in-bed" wineserver -w 2>/dev/null || true # it flushes the registry as it goes
for holder in agent seal xvfb; do # the link agent, the process that holds the sealed namespace, Xvfb
  [ -f "$bed/$holder.pid" ] && kill "$(cat "$bed/$holder.pid")" 2>/dev/null
  rm -f "$bed/$holder.pid"
done
exit 0
