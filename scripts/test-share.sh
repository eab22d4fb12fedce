#!/usr/bin/env bash
# Prints the test share: non-blank lines of every text file in a tests folder
# (tests/ and any */tests/ under src and tools, data included) against src and
# tools without their tests, and the ratio. Binary files (icons) are not counted.
cd "$(dirname "$0")/.." || exit 1
count() { # non-blank lines of the text files among the paths read from stdin
  local total=0 n f
  while IFS= read -r -d '' f; do
    grep -Iq . "$f" || continue # binary or empty
    n=$(grep -cv '^[[:space:]]*$' "$f")
    total=$((total + n))
  done
  echo "$total"
}
tests=$( { find tests -type f -print0; find src tools -type f -path '*/tests/*' -print0; } | count)
code=$(find src tools -type f -not -path '*/tests/*' -print0 | count)
echo "tests:      $tests"
echo "src+tools:  $code"
awk -v t="$tests" -v c="$code" 'BEGIN { printf "share:      %.1f%% (goal: at most 40%%)\n", 100 * t / c }'
