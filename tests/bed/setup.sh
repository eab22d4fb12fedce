#!/usr/bin/env bash
# Makes the test bed: a throwaway Wine prefix and HOME under the build tree,
# with no way out to the host's files, a private Xvfb display, and a
# persistent wineserver. Writes bed/env, which every test run sources.
#
# Usage: setup.sh BED_DIR [win32|win64]
# The kind: win32 (default) is 32-bit Windows; win64 is 64-bit Windows, where
# the 32-bit uninstaller runs under WoW64 (HKLM\Software and System32 are
# redirected for it).
set -euo pipefail

bed=$(realpath -m "${1:?usage: setup.sh BED_DIR [win32|win64]}")
kind=${2:-win32}
here=$(cd "$(dirname "$0")" && pwd)

# The loader that makes the prefix and starts its programs: a win64 prefix
# needs the 64-bit one (it starts 32-bit programs under WoW64 itself).
case "$kind" in
  win32) wine=/usr/lib/wine/wine; [ -x "$wine" ] || wine=$(command -v wine || true) ;;
  win64) wine=/usr/lib/wine/wine64; [ -x "$wine" ] || wine=$(command -v wine64 || true) ;;
  *) echo "setup.sh: unknown kind '$kind' (win32 or win64)" >&2; exit 2 ;;
esac
if [ -z "$wine" ] || [ ! -x "$wine" ]; then
  echo "setup.sh: no Wine loader for $kind (scripts/install-deps.sh installs it)" >&2
  exit 1
fi

# Stop whatever an earlier bed left running, then start afresh.
"$here/teardown.sh" "$bed" >/dev/null 2>&1 || true
rm -rf "$bed"
mkdir -p "$bed/home" "$bed/tmp" "$bed/runtime"
chmod 700 "$bed/runtime"

cat >"$bed/env" <<ENV
export WINEPREFIX='$bed/prefix'
export HOME='$bed/home'
export TMPDIR='$bed/tmp'
export XDG_RUNTIME_DIR='$bed/runtime'
export XDG_CONFIG_HOME='$bed/home/.config'
export XDG_DATA_HOME='$bed/home/.local/share'
export XDG_CACHE_HOME='$bed/home/.cache'
export WINEARCH=$kind
export WINEDEBUG=-all
export WINEDLLOVERRIDES='mscoree,mshtml=;winemenubuilder.exe=d'
export VARNEL_BED='$bed'
export VARNEL_BED_KIND=$kind
ENV
# shellcheck disable=SC1091
. "$bed/env"

# Xvfb picks a free display itself and writes its number to fd 3. Daemons
# must not keep the caller's output open (CTest waits for it to close).
setsid Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -ac \
  </dev/null >"$bed/xvfb.log" 2>&1 3>"$bed/display" &
echo $! >"$bed/xvfb.pid"
for _ in $(seq 1 200); do
  [ -s "$bed/display" ] && break
  sleep 0.05
done
display=$(tr -dc 0-9 <"$bed/display")
[ -n "$display" ] || { echo "setup.sh: Xvfb did not start" >&2; exit 1; }
echo "export DISPLAY=':$display'" >>"$bed/env"
export DISPLAY=":$display"

echo "wine=$wine" >"$bed/wine"

"$wine" wineboot -i </dev/null >"$bed/wineboot.log" 2>&1
wineserver -w
grep -qx "#arch=$kind" "$WINEPREFIX/system.reg" ||
  { echo "setup.sh: Wine did not make a $kind prefix in $WINEPREFIX" >&2; exit 1; }

# Close every way out of the prefix: drives other than C:, and the links from
# the user folders to the host's home.
for device in "$WINEPREFIX/dosdevices/"*; do
  [ "$(basename "$device")" = "c:" ] || rm -f "$device"
done
find "$WINEPREFIX/drive_c" -type l | while read -r link; do
  rm -f "$link"
  mkdir -p "$link"
done

# Windows close at once without a window manager; a crash never waits for a
# debugger dialog.
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
"$wine" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1
wineserver -w

# Proof from the host side: nothing under the prefix leads outside the bed.
# (Wine links serial and parallel ports to their /dev nodes; those are not files.)
escapes=$(find "$WINEPREFIX" -type l ! -path "$WINEPREFIX/dosdevices/c:" \
  ! -regex "$WINEPREFIX/dosdevices/\(com\|lpt\)[0-9]+" -print)
if [ -n "$escapes" ]; then
  echo "setup.sh: links out of the prefix remain:" >&2
  echo "$escapes" >&2
  exit 1
fi
# The system folders are the prefix's own: System32, and on win64 SysWOW64,
# which a 32-bit program sees as its System32.
system_dirs=(system32)
[ "$kind" = win64 ] && system_dirs+=(syswow64)
for dir in "${system_dirs[@]}"; do
  if [ ! -d "$WINEPREFIX/drive_c/windows/$dir" ] || [ -L "$WINEPREFIX/drive_c/windows/$dir" ]; then
    echo "setup.sh: $WINEPREFIX/drive_c/windows/$dir is not a folder of the prefix" >&2
    exit 1
  fi
done

# A wineserver that stays up between test programs keeps each start fast.
wineserver -p </dev/null >"$bed/wineserver.log" 2>&1
echo "test bed ready in $bed (display :$display)"
