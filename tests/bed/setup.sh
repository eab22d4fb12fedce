#!/usr/bin/env bash
# Makes the test bed: a throwaway Wine prefix and HOME under the build tree,
# with no way out to the host's files, a private Xvfb display, and a
# persistent wineserver. Writes bed/env, which every test run sources.
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
[ -x "$wine" ] ||
  { echo "setup.sh: no Wine loader for $kind (scripts/install-deps.sh installs it)" >&2; exit 1; }

# Stop whatever an earlier bed left running, then start afresh.
"$here/teardown.sh" "$bed" >/dev/null 2>&1 || true
rm -rf "$bed" "$bed.canary"
mkdir -p "$bed/home" "$bed/tmp" "$bed/runtime"
chmod 700 "$bed/runtime"

# The seal: Wine reaches the host's files through \\?\unix\ paths whatever
# the drives are, so the wineserver and every Wine program run in a mount
# namespace, held open by a sleeping process, where the whole host is
# read-only but the bed's folder and its Wine socket folder (named after the
# prefix's device and inode). CI never runs unsealed; elsewhere it is said.
mkdir -p "$bed/prefix" "/tmp/.wine-$(id -u)"
chmod 700 "/tmp/.wine-$(id -u)"
socket_dir=/tmp/.wine-$(id -u)/$(printf 'server-%x-%x' $(stat -c '%d %i' "$bed/prefix"))
mkdir -p "$socket_dir" && chmod 700 "$socket_dir"
seal() {
  [ "$(id -u)" = 0 ] || { echo "not root" >&2; return 1; }
  setsid unshare -m --propagation private sh -c '
    set -e
    for w in "$@"; do mount --bind "$w" "$w"; done
    findmnt -rn -o TARGET,OPTIONS | while read -r target options; do
      case "$target" in /proc|/proc/*|/sys|/sys/*) continue ;; esac
      for w in "$@"; do [ "$target" = "$w" ] && continue 2; done
      case ",$options," in *,ro,*) continue ;; esac
      mount -o remount,bind,ro "$target"
    done
    echo sealed >&3
    exec 3>&-
    exec sleep infinity' seal "$bed" "$socket_dir" \
    </dev/null >/dev/null 2>"$bed/seal.log" 3>"$bed/seal.ready" &
  echo $! >"$bed/seal.pid"
  for _ in $(seq 1 100); do
    grep -q sealed "$bed/seal.ready" 2>/dev/null && break
    kill -0 "$(cat "$bed/seal.pid")" 2>/dev/null || break
    sleep 0.05
  done
  grep -q sealed "$bed/seal.ready" 2>/dev/null || { cat "$bed/seal.log" >&2; return 1; }
  # Proof: inside, a file beside the bed cannot be made; the bed's own can.
  if nsenter -t "$(cat "$bed/seal.pid")" -m touch "$bed.seal-probe" 2>/dev/null; then
    rm -f "$bed.seal-probe"
    echo "the host is writable inside the namespace" >&2
    return 1
  fi
  nsenter -t "$(cat "$bed/seal.pid")" -m touch "$bed/tmp/seal-probe" || return 1
  rm -f "$bed/tmp/seal-probe"
}
if ! seal; then
  [ -f "$bed/seal.pid" ] && kill "$(cat "$bed/seal.pid")" 2>/dev/null || true
  rm -f "$bed/seal.pid"
  if [ "${CI:-}" = true ]; then
    echo "setup.sh: cannot seal the bed (root and unshare -m needed); CI never runs unsealed" >&2
    exit 1
  fi
  echo "setup.sh: WARNING: the bed is not sealed: Wine can reach the host through \\\\?\\unix\\ paths" >&2
fi
# What a sealed bed must leave alone: files of the host outside the bed,
# named by the case driver.the-seal-holds (%CANARY%).
mkdir -p "$bed.canary/sub"
echo keep | tee "$bed.canary/keep.txt" >"$bed.canary/sub/keep.dat"
canary='\\?\unix'$(printf %s "$bed.canary" | tr / '\\')

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
export VARNEL_CANARY='$canary'
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

"$here/in-bed" "$wine" wineboot -i </dev/null >"$bed/wineboot.log" 2>&1
"$here/in-bed" wineserver -w

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
"$here/in-bed" "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
"$here/in-bed" "$wine" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1
"$here/in-bed" wineserver -w

# Proof from the host side, the check every run makes: the prefix is of its
# kind, has no drive but C:, and nothing under it leads outside the bed.
"$here/wine-run" || { echo "setup.sh: the prefix in $WINEPREFIX is not sealed off" >&2; exit 1; }

# A wineserver that stays up between test programs keeps each start fast.
"$here/in-bed" wineserver -p </dev/null >"$bed/wineserver.log" 2>&1
# The agent that makes links inside drive C: for the tests (tests/bed/link-agent).
setsid "$here/in-bed" python3 "$here/link-agent" </dev/null >"$bed/agent.log" 2>&1 &
echo $! >"$bed/agent.pid"
echo "test bed ready in $bed (display :$display)"
