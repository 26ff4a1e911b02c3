#!/bin/sh
# Builds, then in a throwaway Wine prefix installs and starts wardhost and runs logonbench:
# the median "logon" round trip against the DE-Zeruzu simulator, beside its floor.
# Usage: tools/logonbench.sh [COUNT]   (default 50)
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
BUILD_DIR=$build sh "$top/tools/build.sh" >/dev/null

export WINEPREFIX="$build/logonbench-prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
sh "$top/tests/wine-prefix.sh" start "$WINEPREFIX"
trap 'sh "$top/tests/wine-prefix.sh" stop "$WINEPREFIX"' EXIT
bin="$build/bin"
wine "$bin/wardhost.exe" -install >/dev/null
# Wine's sc answers 1 even when the start succeeded; logonbench waits for the pipe.
wine sc start wardhost >/dev/null || true
wine "$bin/logonbench.exe" "${1:-50}"
wine "$bin/wardhost.exe" -uninstall >/dev/null
