#!/usr/bin/env bash
# The Windows varnel under Wine: packs the demo's sample product, dumps it back
# to the very same manifest, packs the dump to the very same uninstaller, and
# reports a damaged copy with exit code 1.
# Arguments: wine-run varnel.exe uninst.exe manifest.json
set -euo pipefail
wine_run=$1 varnel=$2 stub=$3 manifest=$4
# shellcheck disable=SC1091
. "$VARNEL_BED/env"
case=varnel-roundtrip
dir="$WINEPREFIX/drive_c/$case"
rm -rf "$dir" && mkdir -p "$dir"
fail() { echo "FAIL: $*" >&2; exit 1; }

"$wine_run" "$varnel" pack "$manifest" -o "C:\\$case\\product.exe" --stub "$stub" ||
  fail "pack exited with $?"
[ -f "$dir/product.exe" ] || fail "pack wrote no uninstaller"
# The stub's locator already holds its own size: the stub comes through unchanged.
cmp -n "$(stat -c %s "$stub")" "$stub" "$dir/product.exe" || fail "the stub's bytes changed"

"$wine_run" "$varnel" dump "C:\\$case\\product.exe" -o "C:\\$case\\dump.json" ||
  fail "dump exited with $?"
diff -u "$manifest" "$dir/dump.json" || fail "dump does not give the manifest back"

"$wine_run" "$varnel" pack "C:\\$case\\dump.json" -o "C:\\$case\\again.exe" --stub "$stub" ||
  fail "packing the dump exited with $?"
cmp "$dir/product.exe" "$dir/again.exe" || fail "packing the dump gives other bytes"

# Packing over an existing uninstaller replaces it whole (a new file renamed over it).
"$wine_run" "$varnel" pack "C:\\$case\\dump.json" -o "C:\\$case\\again.exe" --stub "$stub" ||
  fail "packing over an existing uninstaller exited with $?"
cmp "$dir/product.exe" "$dir/again.exe" || fail "packing over an existing file gives other bytes"
ls -a "$dir" | grep -q '\.tmp$' && fail "a temporary file was left behind"

# With no --stub, varnel.exe finds the stub in ..\share\varnel beside its own
# folder (C:\bed\bin), as the Windows package lays it out.
share="$WINEPREFIX/drive_c/bed/share/varnel"
mkdir -p "$share" && cp "$stub" "$share/uninst.exe"
"$wine_run" "$varnel" pack "C:\\$case\\dump.json" -o "C:\\$case\\found.exe" ||
  fail "pack without --stub exited with $?"
rm -rf "$WINEPREFIX/drive_c/bed/share"
cmp "$dir/product.exe" "$dir/found.exe" || fail "the stub found beside varnel.exe gives other bytes"

# Japanese through Windows' own code page 932 conversion: texts and a file
# name come back the same.
cat >"$dir/ja.json" <<'JSON'
{
  "codePage": 932,
  "language": "Japanese",
  "texts": {
    "caption": "製品のアンインストール"
  },
  "files": [
    {"folder": ".", "name": "説明書.txt"}
  ]
}
JSON
"$wine_run" "$varnel" pack "C:\\$case\\ja.json" -o "C:\\$case\\ja.exe" --stub "$stub" ||
  fail "pack of the Japanese manifest exited with $?"
"$wine_run" "$varnel" dump "C:\\$case\\ja.exe" --code-page=932 -o "C:\\$case\\ja-dump.json" ||
  fail "dump of the Japanese uninstaller exited with $?"
diff -u "$dir/ja.json" "$dir/ja-dump.json" || fail "the Japanese manifest does not come back"

# A copy cut short inside its last record: reported, not a crash.
size=$(stat -c %s "$dir/product.exe")
head -c $((size - 3)) "$dir/product.exe" >"$dir/cut.exe"
set +e
"$wine_run" "$varnel" dump "C:\\$case\\cut.exe" -o "C:\\$case\\cut.json" 2>"$dir/cut.err"
rc=$?
set -e
[ "$rc" -eq 1 ] || fail "dump of a damaged payload exited with $rc, not 1"
grep -q "RT_END" "$dir/cut.err" || fail "the damage report names no record: $(cat "$dir/cut.err")"
echo "PASS"
