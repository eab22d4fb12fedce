#!/usr/bin/env bash
# varnel as a vendor gets it: `cmake --install` into a throwaway prefix, and
# the Debian package that `cpack -G DEB` builds, unpacked with dpkg-deb into a
# throwaway root. From each, the installed varnel packs the demo's manifest
# with no --stub (it finds the stub it was installed with) and dumps it back.
# Arguments: build-dir demo-manifest stub-file. Exit code 77: no stub built.
set -euo pipefail
build=$1 manifest=$2 stub=$3
[ -f "$stub" ] || { echo "SKIP: no $stub (build the win32 preset first)"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset VARNEL_STUB
fail() { echo "FAIL: $*" >&2; exit 1; }

try_root() { # root-folder bin-folder
  local root=$1 bin=$2
  [ -x "$bin/varnel" ] || fail "$root: no bin/varnel"
  cmp -s "$stub" "$(dirname "$bin")/share/varnel/uninst.exe" || fail "$root: no stub in share/varnel"
  for language in English German Japanese; do
    "$bin/varnel" texts "$language" | cmp -s - "$(dirname "$bin")/share/varnel/languages/$language.json" ||
      fail "$root: share/varnel/languages/$language.json is not what varnel texts prints"
  done
  (cd "$work" && "$bin/varnel" pack "$manifest" -o "$root.exe") || fail "$root: pack without --stub"
  cmp -s -n "$(stat -c %s "$stub")" "$stub" "$work/$root.exe" || fail "$root: not packed on the stub"
  "$bin/varnel" dump "$work/$root.exe" | diff -u "$manifest" - || fail "$root: dump differs"
  "$bin/varnel" --version | grep -q "share/varnel/uninst.exe ($(stat -c %s "$stub") bytes)" ||
    fail "$root: --version names no stub"
}

cmake --install "$build" --prefix "$work/prefix" >/dev/null
try_root prefix "$work/prefix/bin"

(cd "$build" && cpack -G DEB -B "$work/package" >/dev/null) || fail "cpack -G DEB"
deb=$(ls "$work"/package/*.deb)
[ "$(dpkg-deb -f "$deb" Package)" = varnel ] || fail "the package is not named varnel"
dpkg-deb -x "$deb" "$work/root"
try_root root "$work/root/usr/bin"
echo PASS
