#!/usr/bin/env bash
# The demo: sets up a Debian 12 machine, builds the uninstaller and the
# authoring tool, lays out the sample product in a throwaway Wine prefix,
# packs its uninstaller from demo/sample-product.json, registers it in
# Programs and Features with the .reg file that `varnel register` writes,
# runs it, and prints what was removed and what remained, and Wine's own list
# of installed programs (`wine uninstaller --list`) before and after. The uninstaller deletes itself and the
# emptied installation folder through a hidden batch file once it has ended;
# the demo waits for that (30 seconds at most) before it looks.
#
#   scripts/demo.sh             quiet uninstall (/Q)
#   scripts/demo.sh --dialogs   with its dialogs
# Either way the windows appear on a private Xvfb display and are answered by
# the first button of each, as a user pressing OK or Yes (a quiet uninstall
# still asks about shared and write-protected files).
set -euo pipefail
export LC_ALL=C
cd "$(dirname "$0")/.."
root=$PWD
mode=${1:-}

scripts/install-deps.sh
cmake --preset host >/dev/null && cmake --build --preset host --target varnel >/dev/null
cmake --preset win32 >/dev/null && cmake --build --preset win32 --target uninst autoanswer com_demo >/dev/null

bed=$root/build/demo/bed
tests/bed/setup.sh "$bed" >/dev/null
trap 'tests/bed/teardown.sh "$bed"' EXIT
# shellcheck disable=SC1091
. "$bed/env"
run() { tests/bed/wine-run "$@"; }

product='C:\Program Files\Varnel Demo'
host_product="$WINEPREFIX/drive_c/Program Files/Varnel Demo"
python3 scripts/lay-out-product.py demo/sample-product.json "$WINEPREFIX/drive_c" "$host_product" \
  >"$bed/layout.txt"
while IFS=$'\t' read -r key value; do
  if [ -n "$value" ]; then
    run reg add "$key" /v "$value" /d demo /f >/dev/null 2>&1
  else
    run reg add "$key" /ve /d demo /f >/dev/null 2>&1
  fi
done < <(grep -P '^reg\t' "$bed/layout.txt" | cut -f2-)

# The product's font (DejaVu Sans Mono under a name of its own) and COM
# server are real, and registered as their installer would register them.
fonts_key='HKLM\Software\Microsoft\Windows NT\CurrentVersion\Fonts'
font_value='Varnel Demo Mono (TrueType)'
clsid_key='HKCR\CLSID\{5E1A0C3B-7D2F-4A69-9B48-0C6D3E2F1A57}'
python3 tests/fixtures/rename_font.py /usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf \
  "$host_product/VarnelDemo.ttf" "Varnel Demo Mono"
cp build/win32/tests/com_demo.dll "$host_product/bin/VarnelDemoCom.dll"
run reg add "$fonts_key" /v "$font_value" /d "$product\VarnelDemo.ttf" /f >/dev/null 2>&1
run regsvr32 /s "$product\bin\VarnelDemoCom.dll" >/dev/null 2>&1

varnel=build/host/tools/varnel/varnel
$varnel pack demo/sample-product.json -o "$host_product/uninst.exe" --stub build/win32/uninst.exe
# Registered as its installer would: the .reg file imported into the 32-bit
# view, where the 32-bit uninstaller removes it.
$varnel register demo/sample-product.json --install-dir "$product" -o "$bed/product.reg"
run reg import "$bed/product.reg" /reg:32 >/dev/null 2>&1
registration='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Varnel Demo'
programs() {
  echo "Programs and Features (wine uninstaller --list, KEY|||Name):"
  run uninstaller --list | tr -d '\r' | sed 's/^/  /' | grep . || echo "  (none)"
}

snapshot() {
  {
  (cd "$WINEPREFIX/drive_c" && find "Program Files/Varnel Demo" ProgramData -path '*Varnel Demo*' 2>/dev/null)
  grep -P '^reg\t' "$bed/layout.txt" | cut -f2- | while IFS=$'\t' read -r key value; do
    if run reg query "$key" ${value:+/v "$value"} >/dev/null 2>&1; then
      echo "registry: $key${value:+ [$value]}"
    fi
  done
  if run reg query "$fonts_key" /v "$font_value" >/dev/null 2>&1; then
    echo "registry: font $font_value"
  fi
  if run reg query "$clsid_key" >/dev/null 2>&1; then
    echo "registry: COM server $clsid_key"
  fi
  if run reg query "$registration" /reg:32 >/dev/null 2>&1; then
    echo "registry: Programs and Features $registration"
  fi
  } | sort
}
before=$(snapshot)
programs
echo

echo "Running the uninstaller of the sample product in $product"
rc=0
options=/Q
[ "$mode" = "--dialogs" ] && options=
run "$root/build/win32/demo/autoanswer.exe" "$product\\uninst.exe" $options || rc=$?
echo "exit code: $rc"
# Done when the executable and the batch file (its last line deletes it) are gone.
for _ in $(seq 60); do
  [ -e "$host_product/uninst.exe" ] ||
    [ -n "$(find "$WINEPREFIX/drive_c/users" -name 'delme*.bat' 2>/dev/null)" ] || break
  sleep 0.5
done
[ -e "$host_product/uninst.exe" ] || echo "The uninstaller has deleted itself."
after=$(snapshot)

echo
echo "Removed:"
comm -23 <(echo "$before") <(echo "$after") | sed 's/^/  /'
echo "Remained:"
comm -12 <(echo "$before") <(echo "$after") | sed 's/^/  /'
echo
programs
