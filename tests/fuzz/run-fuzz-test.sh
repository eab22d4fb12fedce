#!/bin/sh
# One short fuzz run, the CTest entry fuzz.NAME:
#   run-fuzz-test.sh TARGET SEEDS WORK SECONDS
# The committed seeds are read only; what the run finds is kept in WORK/corpus
# (and fed to the next run), a crashing input in WORK/artifacts.
set -eu
target=$1 seeds=$2 work=$3 seconds=$4
mkdir -p "$work/corpus" "$work/artifacts"
export UBSAN_OPTIONS=print_stacktrace=1
exec "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$work/corpus" "$seeds"
