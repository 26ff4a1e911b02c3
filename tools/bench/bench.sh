#!/bin/sh
# Builds, then in a throwaway Wine prefix installs and starts wardhost and runs the
# benchmarks against it; the README's performance section says what each measures and
# beside which floor.
# Usage: tools/bench/bench.sh [pipe|renew|logon|backtoback|tray|setup|tile ...]   (default: all of them)
set -eu
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$top/build}
BUILD_DIR=$build sh "$top/tools/build.sh" >/dev/null

export WINEPREFIX="$build/bench-prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
sh "$top/tests/wine-prefix.sh" start "$WINEPREFIX"
trap 'sh "$top/tests/wine-prefix.sh" stop "$WINEPREFIX"' EXIT
bin="$build/bin"
wine "$bin/wardhost.exe" -install >/dev/null
# Wine's sc answers 1 even when the start succeeded; each benchmark waits for the pipe.
wine sc start wardhost >/dev/null || true
[ $# -gt 0 ] || set -- pipe renew logon backtoback tray setup tile
for bench in "$@"; do
    case $bench in
    pipe)  echo "== pipebench 2000";  wine "$bin/pipebench.exe" 2000 ;;
    renew) echo "== renewbench 10";   wine "$bin/renewbench.exe" 10 ;;
    logon) echo "== logonbench 50";   wine "$bin/logonbench.exe" 50 ;;
    backtoback)
        echo "== pipebench --back-to-back 400, five runs"
        for run in 1 2 3 4 5; do wine "$bin/pipebench.exe" --back-to-back 400; done ;;
    tray)  echo "== traybench 30 200"; wine "$bin/traybench.exe" 30 200 ;;
    setup) echo "== setupbench 20";   wine "$bin/setupbench.exe" 20 ;;
    tile)
        # Wine resolves only "Kerberos": the test-only package makes "Negotiate" resolve.
        sh "$top/tests/negotiate_package/install.sh" "$WINEPREFIX" "$bin/portgate_negotiate.dll"
        for run in "submit 30" "load 100" "cycles 1000"; do
            echo "== tilebench $run"; wine "$bin/tilebench.exe" $run
        done
        x86_64-w64-mingw32-strip -o "$build/wardtile-stripped.dll" "$bin/wardtile.dll"
        echo "== wardtile.dll stripped: $(stat -c %s "$build/wardtile-stripped.dll") bytes" ;;
    *) echo "unknown benchmark: $bench" >&2; exit 2 ;;
    esac
done
wine "$bin/wardhost.exe" -uninstall >/dev/null
