#!/usr/bin/env bash
# varnel as a vendor gets it, from `cmake --install` and from the Debian package (`cpack -G DEB`,
# unpacked with dpkg-deb): it packs the demo with the stub it was installed with and dumps it back,
# and prints the texts the package holds. Arguments: build-dir demo-manifest stub-file; 77: no stub.
set -euo pipefail
build=$1 manifest=$2 stub=$3
[ -f "$stub" ] || { echo "SKIP: no $stub (build the win32 preset first)"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset VARNEL_STUB
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$work/prefix" >/dev/null
(cd "$build" && cpack -G DEB -B "$work/package" >/dev/null) || fail "cpack -G DEB"
deb=$(ls "$work"/package/*.deb)
[ "$(dpkg-deb -f "$deb" Package)" = varnel ] || fail "the package is not named varnel"
dpkg-deb -x "$deb" "$work/root"
for root in prefix root/usr; do
  varnel=$work/$root/bin/varnel share=$work/$root/share/varnel
  cmp -s "$stub" "$share/uninst.exe" || fail "$root: no stub in share/varnel"
  for language in English German Japanese; do
    "$varnel" texts $language | cmp -s - "$share/languages/$language.json" ||
      fail "$root: share/varnel/languages/$language.json is not what varnel texts prints"
  done
  (cd "$work" && "$varnel" pack "$manifest" -o out.exe 2>/dev/null) || fail "$root: pack without --stub"
  cmp -s -n "$(stat -c %s "$stub")" "$stub" "$work/out.exe" || fail "$root: not packed on the stub"
  "$varnel" dump "$work/out.exe" | diff -u "$manifest" - || fail "$root: dump differs"
done
echo PASS
