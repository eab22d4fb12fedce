#!/usr/bin/env bash
# Programs and Features under Wine, a client that nobody here wrote. A product is laid out, packed
# by varnel.exe and registered with the .reg file that varnel.exe register writes, imported into the
# 32-bit view (reg import /reg:32). Wine's `uninstaller --list` shows it under its display name.
# Then it is removed:
# - remove: `uninstaller --remove KEY`, which runs the UninstallString (Wine 8 runs that one, not
#   the QuietUninstallString, and does not wait for it): the uninstaller with its windows, the
#   confirmation and the closing message, answered here as a user would;
# - quiet: the QuietUninstallString itself, as deployment tools run it: no window to answer.
# Either way the product, its own registry key, the uninstaller, its folder and the registration
# are gone afterwards, and the list no longer shows the product.
# The scope: "machine", a product in Program Files registered under HKLM, on uninst.exe; "user",
# a product in the user's #LocalAppData# registered under HKCU, on uninst-user.exe, which dump
# names. Wine runs every program with administrator rights whatever its manifest asks, so that
# the user's uninstaller needs none is not shown here; the build test reads its manifest. The
# user's quiet run registers the folder by its macro, as %LOCALAPPDATA% in expandable values, and
# expands the command as deployment tools do; Wine 8's uninstaller does not expand an expandable
# UninstallString, so the remove run registers the full path.
# Arguments: wine-run varnel.exe stub.exe answer.exe machine|user
set -euo pipefail
wine_run=$1 varnel=$2 stub=$3 answer=$4 scope=$5
# shellcheck disable=SC1091
. "$VARNEL_BED/env"
fail() { echo "FAIL: $run: $*" >&2; exit 1; }
v() { "$wine_run" "$varnel" "$@" 2>/dev/null || fail "varnel $* exited with $?"; }
r() { "$wine_run" "$@" 2>/dev/null | tr -d '\r'; }
key=VarnelRegisterTest name="Varnel Register Test"
work='C:\varnel-register' host_work="$WINEPREFIX/drive_c/varnel-register"
listed() { r uninstaller --list | grep -qxF "$key|||$name"; }
if [ "$scope" = user ]; then
  root=HKCU appdata=$(r cmd /c echo %LOCALAPPDATA%)
  [[ "$appdata" == C:\\* ]] || { echo "FAIL: no local application data folder: $appdata" >&2; exit 1; }
  dir="$appdata\\$name"
  host="$WINEPREFIX/drive_c/$(echo "${appdata#C:\\}" | tr '\\' /)/$name"
else
  root=HKLM type=REG_SZ given="C:\\Program Files\\$name"
  dir=$given shown=$given host="$WINEPREFIX/drive_c/Program Files/$name"
fi
registration="$root\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$key"

for run in "$scope.remove" "$scope.quiet"; do
  if [ "$run" = user.quiet ]; then
    given="#LocalAppData#\\$name" shown="%LOCALAPPDATA%\\$name" type=REG_EXPAND_SZ
  elif [ "$scope" = user ]; then
    given=$dir shown=$dir type=REG_SZ
  fi
  rm -rf "$host" "$host_work" && mkdir -p "$host/bin" "$host_work"
  echo app >"$host/bin/app.exe" && echo doc >"$host/readme.txt"
  cat >"$host_work/product.json" <<EOF
{"texts": {"caption": "$name"}, "options": {"themed": true},
 "register": {"key": "$key", "root": "$root", "publisher": "Varnel", "version": "1.0"},
 "files": [{"folder": ".", "name": "readme.txt"}, {"folder": ".\\\\bin"}, {"folder": ".\\\\bin", "name": "app.exe"}],
 "registry": [{"root": "HKCU", "key": "Software\\\\$name"}]}
EOF
  r reg add "HKCU\\Software\\$name" /v Setting /d 1 /f >/dev/null || fail "no product key"
  v pack "$work\\product.json" -o "$dir\\uninst.exe" --stub "$stub"
  "$wine_run" "$varnel" dump "$dir\\uninst.exe" 2>&1 >/dev/null | tr -d '\r' |
    grep -qxF "varnel: stub: $(basename "$stub") ($([ "$scope" = user ] && echo asInvoker, per user ||
      echo requireAdministrator, per machine))" || fail "dump does not name $(basename "$stub")"
  v register "$work\\product.json" --install-dir "$given" -o "$work\\product.reg"
  r reg import "$work\\product.reg" /reg:32 >/dev/null || fail "reg import failed"
  r reg query "$registration" /v QuietUninstallString /reg:32 | grep -qF "$type    \"$shown\\uninst.exe\" /Q" ||
    fail "no QuietUninstallString \"$shown\\uninst.exe\" /Q in the 32-bit view"
  listed || fail "uninstaller --list does not show $key|||$name: $(r uninstaller --list)"

  if [ "${run#*.}" = remove ]; then
    "$wine_run" "$answer" "$name" 2 >"$host_work/answered.txt" &
    answering=$!
    r uninstaller --remove "$key" >/dev/null || fail "uninstaller --remove exited with $?"
    wait $answering || fail "the uninstaller's two windows did not come: $(cat "$host_work/answered.txt")"
    tr -d '\r' <"$host_work/answered.txt"
  else
    # The command line as CreateProcess splits it: the quoted program, then its options.
    quiet=$(r reg query "$registration" /v QuietUninstallString /reg:32 | sed -n "s/.*$type    //p")
    variable=%LOCALAPPDATA% && quiet=${quiet//"$variable"/${appdata:-}}
    program=${quiet#\"} && program=${program%%\"*}
    # shellcheck disable=SC2086
    timeout 120 "$wine_run" "$program" ${quiet##*\" } || fail "$quiet exited with $?"
  fi
  # The uninstaller deletes itself and its emptied folder once it has ended.
  for _ in $(seq 60); do [ -e "$host" ] || break; sleep 0.5; done
  [ ! -e "$host" ] || fail "left behind: $(cd "$host" && find . | tr '\n' ' ')"
  [ -d "${host%/*}" ] || fail "the folder that held the product is gone too"
  ! r reg query "$registration" /reg:32 >/dev/null || fail "the registration is still there"
  ! r reg query "HKCU\\Software\\$name" >/dev/null || fail "the product's key is still there"
  ! listed || fail "uninstaller --list still shows the product"
  echo "$run: removed, and gone from the list"
done
rm -rf "$host_work"
echo PASS
