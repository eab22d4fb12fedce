#!/usr/bin/env bash
# varnel as a vendor gets it, from `cmake --install` and from the Debian package (`cpack -G DEB`,
# unpacked with dpkg-deb): it packs the demo with the stub it was installed with and dumps it back,
# packs a product installed per user with the other stub, and prints the texts the package holds. The package also carries the license as its copyright
# file, a stripped program and the manual page, and lintian (where installed) finds no fault with
# them; the Windows zip, when the stub's build tree has built varnel.exe, holds the license and the
# texts and both stubs. Arguments: build-dir demo-manifest stub-folder license-file; 77: no stubs.
set -euo pipefail
build=$1 manifest=$2 stubs=$3 license=$4
stub=$stubs/uninst.exe user_stub=$stubs/uninst-user.exe
[ -f "$stub" ] && [ -f "$user_stub" ] || { echo "SKIP: no stubs in $stubs (build the win32 preset first)"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset VARNEL_STUB
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$work/prefix" >/dev/null
(cd "$build" && cpack -G DEB -B "$work/package" >/dev/null) || fail "cpack -G DEB"
deb=$(ls "$work"/package/*.deb)
[ "$(dpkg-deb -f "$deb" Package)" = varnel ] || fail "the package is not named varnel"
dpkg-deb -x "$deb" "$work/root"
gzip -t "$work/root/usr/share/man/man1/varnel.1.gz" || fail "no compressed manual page"
file "$work/root/usr/bin/varnel" | grep -q ', stripped' || fail "/usr/bin/varnel is not stripped"
copyright=$work/root/usr/share/doc/varnel/copyright
grep -qx "Copyright: $(sed -n '1s/^Copyright (c) //p' "$license")" "$copyright" &&
  grep -qx 'License: Zlib' "$copyright" || fail "the copyright file names no holder or license"
while IFS= read -r line; do
  [ -z "$line" ] || grep -qF -- "$line" "$copyright" || fail "the copyright file lacks: $line"
done < <(tail -n +2 "$license")
if command -v lintian >/dev/null; then
  lintian "$deb" >"$work/lintian" 2>/dev/null || true
  sed 's/^/lintian: /' "$work/lintian"
  ! grep -qE '^[EW]: varnel: [a-z0-9-]*(copyright|unstripped|manpage|manual-page|groff|gzip)' \
    "$work/lintian" || fail "lintian finds fault with the copyright, the stripping or the manual page"
fi
win32=$(dirname "$stub")
if [ -f "$win32/CPackConfig.cmake" ] && [ -f "$win32/tools/varnel/varnel.exe" ]; then
  (cd "$win32" && cpack -G ZIP -B "$work/zip" >/dev/null) || fail "cpack -G ZIP"
  (cd "$work/zip" && cmake -E tar xf ./*.zip) && zip=$(echo "$work"/zip/*-win32)
  cmp -s "$license" "$zip/LICENSE.txt" || fail "zip: no LICENSE.txt"
  cmp -s "$stub" "$zip/share/varnel/uninst.exe" || fail "zip: no stub in share/varnel"
  cmp -s "$user_stub" "$zip/share/varnel/uninst-user.exe" || fail "zip: no uninst-user.exe in share/varnel"
  diff -r "$work/root/usr/share/varnel/languages" "$zip/share/varnel/languages" ||
    fail "zip: share/varnel/languages is not the package's"
fi
for root in prefix root/usr; do
  varnel=$work/$root/bin/varnel share=$work/$root/share/varnel
  cmp -s "$stub" "$share/uninst.exe" || fail "$root: no stub in share/varnel"
  cmp -s "$user_stub" "$share/uninst-user.exe" || fail "$root: no uninst-user.exe in share/varnel"
  for language in English German Japanese; do
    "$varnel" texts $language | cmp -s - "$share/languages/$language.json" ||
      fail "$root: share/varnel/languages/$language.json is not what varnel texts prints"
  done
  (cd "$work" && "$varnel" pack "$manifest" -o out.exe 2>/dev/null) || fail "$root: pack without --stub"
  cmp -s -n "$(stat -c %s "$stub")" "$stub" "$work/out.exe" || fail "$root: not packed on the stub"
  "$varnel" dump "$work/out.exe" 2>/dev/null | diff -u "$manifest" - || fail "$root: dump differs"
  echo '{"scope": "user", "files": [{"folder": ".", "name": "a"}]}' >"$work/user.json"
  (cd "$work" && "$varnel" pack user.json -o user.exe 2>/dev/null) || fail "$root: pack per user"
  cmp -s -n "$(stat -c %s "$user_stub")" "$user_stub" "$work/user.exe" ||
    fail "$root: a product per user not packed on uninst-user.exe"
  "$varnel" dump "$work/user.exe" 2>/dev/null | grep -qx '  "scope": "user",' ||
    fail "$root: the dump of a product per user without a register section gives no scope"
done
echo PASS
