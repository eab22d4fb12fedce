#!/usr/bin/env bash
# The Windows varnel under Wine, in the order below: the sample product packed and dumped back,
# packed again to the same bytes, a folder of Japanese names listed by init through code page 932,
# its uninstaller signed, and a damaged copy. Arguments: wine-run varnel.exe uninst.exe manifest.json
set -euo pipefail
wine_run=$1 varnel=$2 stub=$3 manifest=$4
# shellcheck disable=SC1091
. "$VARNEL_BED/env"
dir="$WINEPREFIX/drive_c/varnel-roundtrip" win='C:\varnel-roundtrip'
rm -rf "$dir" && mkdir -p "$dir"
fail() { echo "FAIL: $*" >&2; exit 1; }
v() { "$wine_run" "$varnel" "$@" || fail "varnel $* exited with $?"; }

# Over an existing file, a new file renamed over it. The stub's locator already holds its own
# size: the stub comes through unchanged.
cp "$manifest" "$dir/product.exe"
v pack "$manifest" -o "$win\\product.exe" --stub "$stub"
cmp -n "$(stat -c %s "$stub")" "$stub" "$dir/product.exe" || fail "the stub's bytes changed"
v dump "$win\\product.exe" -o "$win\\dump.json"
diff -u "$manifest" "$dir/dump.json" || fail "dump does not give the manifest back"

# With no --stub, varnel.exe finds the stub in ..\share\varnel beside its own folder (C:\bed\bin),
# as the Windows package lays it out; the dump packs into the same bytes.
share="$WINEPREFIX/drive_c/bed/share/varnel"
mkdir -p "$share" && cp "$stub" "$share/uninst.exe"
v pack "$win\\dump.json" -o "$win\\found.exe"
rm -rf "$WINEPREFIX/drive_c/bed/share"
cmp "$dir/product.exe" "$dir/found.exe" || fail "found.exe: packing the dump gives other bytes"
ls -a "$dir" | grep -q '\.tmp$' && fail "a temporary file was left behind"

# Japanese through Windows' own code page 932 conversion: init lists a folder's Japanese names as
# Windows gives them, and they come back from the packed uninstaller.
mkdir -p "$dir/ja/製品" && touch "$dir/ja/説明書.txt"
v init "$win\\ja" --language Japanese -o "$win\\ja.json"
v pack "$win\\ja.json" -o "$win\\ja.exe" --stub "$stub"
v dump "$win\\ja.exe" -o "$win\\ja-dump.json"
grep -qxF '    {"folder": ".", "name": "説明書.txt"},' "$dir/ja-dump.json" &&
  grep -qxF '    {"folder": ".\\製品"}' "$dir/ja-dump.json" || fail "the Japanese names do not come back"

# Signed with a throwaway certificate (the signature lies after RT_END), it still dumps the same
# and runs quietly to exit code 0: the locator, not the end of the file, finds the payload.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Varnel Test Signer" \
  -keyout "$dir/key.pem" -out "$dir/cert.pem" 2>/dev/null || fail "no test certificate"
osslsigncode sign -certs "$dir/cert.pem" -key "$dir/key.pem" -n "Signed Demo" \
  -in "$dir/ja.exe" -out "$dir/signed.exe" >/dev/null || fail "osslsigncode failed"
[ "$(stat -c %s "$dir/signed.exe")" -gt "$(stat -c %s "$dir/ja.exe")" ] || fail "nothing was signed"
v dump "$win\\signed.exe" -o "$win\\signed.json"
diff -u "$dir/ja-dump.json" "$dir/signed.json" || fail "the signed uninstaller dumps otherwise"
timeout 120 "$wine_run" "$win\\signed.exe" /S || fail "the signed uninstaller exited with $?"

# A copy cut short inside its last record: reported, not a crash.
head -c -3 "$dir/product.exe" >"$dir/cut.exe"
rc=0
"$wine_run" "$varnel" dump "$win\\cut.exe" -o "$win\\cut.json" 2>"$dir/cut.err" || rc=$?
[ "$rc" -eq 1 ] || fail "dump of a damaged payload exited with $rc, not 1"
grep -q "RT_END" "$dir/cut.err" || fail "the damage report names no record: $(cat "$dir/cut.err")"
echo PASS
