#!/usr/bin/env bash
# Packs a texts-only uninstaller with the Windows varnel, signs it with osslsigncode and a throwaway
# certificate, then checks under Wine that varnel still dumps it and that the signed uninstaller
# runs quietly to exit code 0 (it finds its payload through the locator; the signature lies after
# RT_END). Arguments: wine-run varnel.exe uninst.exe
set -euo pipefail
wine_run=$1 varnel=$2 stub=$3
# shellcheck disable=SC1091
. "$VARNEL_BED/env"
dir="$WINEPREFIX/drive_c/varnel-signed" win='C:\varnel-signed'
rm -rf "$dir" && mkdir -p "$dir"
fail() { echo "FAIL: $*" >&2; exit 1; }

printf '{\n  "codePage": 1252,\n  "language": "English",\n  "texts": {\n    "caption": "Signed Demo"\n  }\n}\n' \
  >"$dir/manifest.json"
"$wine_run" "$varnel" pack "$win\\manifest.json" -o "$win\\unsigned.exe" --stub "$stub" ||
  fail "pack exited with $?"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Varnel Test Signer" \
  -keyout "$dir/key.pem" -out "$dir/cert.pem" 2>/dev/null || fail "no test certificate"
osslsigncode sign -certs "$dir/cert.pem" -key "$dir/key.pem" -n "Signed Demo" \
  -in "$dir/unsigned.exe" -out "$dir/signed.exe" >/dev/null || fail "osslsigncode failed"
[ "$(stat -c %s "$dir/signed.exe")" -gt "$(stat -c %s "$dir/unsigned.exe")" ] ||
  fail "the signed file is not larger than the unsigned one"
"$wine_run" "$varnel" dump "$win\\signed.exe" -o "$win\\dump.json" ||
  fail "dump of the signed uninstaller exited with $?"
diff -u "$dir/manifest.json" "$dir/dump.json" || fail "the signed uninstaller dumps otherwise"
rc=0
timeout 120 "$wine_run" "$win\\signed.exe" /S || rc=$?
[ "$rc" -eq 0 ] || fail "the signed uninstaller exited with $rc under Wine"
echo PASS
