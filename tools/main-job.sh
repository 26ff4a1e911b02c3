#!/bin/sh
# The main job: sets up a fresh Debian machine, builds, then in a throwaway Wine prefix
# installs and starts wardhost, sends each command word through its pipe and prints the
# replies, and stops and uninstalls it again.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
sh "$top/tools/setup-debian.sh"
BUILD_DIR=$build sh "$top/tools/build.sh" >/dev/null

export WINEPREFIX="$build/mainjob-prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
sh "$top/tests/wine-prefix.sh" start "$WINEPREFIX"
trap 'sh "$top/tests/wine-prefix.sh" stop "$WINEPREFIX"' EXIT
bin="$build/bin"

wine "$bin/wardhost.exe" -install
# Wine's sc answers 1 even when the start succeeded; the pipe calls below wait for it.
wine sc start wardhost >/dev/null || true
for request in "logon alice secret CORP" "logoff" "iprenew" "finddomain" "hello"; do
    printf '%-26s -> %s\n' "$request" "$(wine "$bin/pipecall.exe" $request)"
done
wine "$bin/wardhost.exe" -uninstall
