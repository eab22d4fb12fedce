#!/usr/bin/env bash
# The long fuzz run of one target:
#   scripts/fuzz.sh NAME [RUNS] [--seconds N] [--merge]
# NAME is payload, font_name, dump or pack; RUNS the number of executions
# (default 10,000,000). Builds the fuzz preset (clang, libFuzzer,
# AddressSanitizer, UndefinedBehaviorSanitizer) and runs the target at the
# lowest priority from the committed seeds (tests/fuzz/corpus/NAME; for pack,
# varnel's row manifests) and what
# earlier long runs found (build/fuzz/fuzz-long/NAME/corpus). A crashing
# input is written to build/fuzz/fuzz-long/NAME/artifacts and the run stops
# there. The whole log is kept in build/fuzz/fuzz-long/NAME/log; the figures
# (executions, coverage, corpus) are printed at the end. With --merge, the
# inputs that add coverage are then merged into the committed seeds. With
# --seconds N the run also stops after N seconds.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
  echo "usage: scripts/fuzz.sh payload|font_name|dump|pack [RUNS] [--seconds N] [--merge]" >&2
  exit 2
}
[ $# -ge 1 ] || usage
name=$1
shift
runs=10000000
seconds=0
merge=0
while [ $# -gt 0 ]; do
  case $1 in
    --merge) merge=1 ;;
    --seconds)
      [ $# -ge 2 ] || usage
      seconds=$2
      shift
      ;;
    *[!0-9]* | "") usage ;;
    *) runs=$1 ;;
  esac
  shift
done
case $seconds in *[!0-9]* | "") usage ;; esac

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2 --target "${name}_fuzz" >/dev/null
target=build/fuzz/tests/fuzz/${name}_fuzz
seeds=tests/fuzz/corpus/$name
# pack also starts from the manifests of varnel's check and payload rows, written by the fuzz preset.
rows=()
[ "$name" = pack ] && rows=(build/fuzz/tests/fuzz/seeds/pack)
work=build/fuzz/fuzz-long/$name
mkdir -p "$work/corpus" "$work/artifacts"

export UBSAN_OPTIONS=print_stacktrace=1
status=0
nice -n 19 "$target" -runs="$runs" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$work/artifacts/" "$work/corpus" "$seeds" "${rows[@]}" >"$work/log" 2>&1 || status=$?

# The last status line (executions, cov, ft, corpus) and the final figures.
grep -E '^#[0-9]+' "$work/log" | tail -n 1
grep -E '^(Done|stat::)|ERROR|SUMMARY|Test unit written' "$work/log" || true
if [ $status -ne 0 ]; then
  echo "fuzz.sh: $name failed (exit $status); see $work/log and $work/artifacts" >&2
  exit $status
fi
if [ $merge -eq 1 ]; then
  "$target" -merge=1 "$seeds" "$work/corpus" >>"$work/log" 2>&1
  echo "fuzz.sh: merged into $seeds: $(ls "$seeds" | wc -l) files, $(du -sk "$seeds" | cut -f1) KB"
fi
