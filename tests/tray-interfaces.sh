#!/bin/sh
# Runs the several-interfaces tests of tray_test in a network namespace of their own, whose
# loopback device carries two extra IPv4 addresses, with a Wine prefix and server of their
# own (Wine reads the address table in its server-side processes).
# Usage: tray-interfaces.sh BINDIR PREFIX       exit 77: the namespace cannot be made here
set -u
# The cases are checked in English, whatever the run's locale.
export LANG=C.UTF-8 LC_ALL=C.UTF-8 LANGUAGE=
here=$(cd "$(dirname "$0")" && pwd)
if ! unshare -n true 2>/dev/null; then
    echo "skipped: unshare -n is refused here, so the client cannot be given a known set of addresses"
    exit 77
fi
exec unshare -n sh -c '
    ip link set lo up && ip addr add 10.77.0.1/32 dev lo && ip addr add 10.77.0.2/32 dev lo || {
        echo "skipped: cannot add addresses to the loopback device"; exit 77; }
    export WINEPREFIX="$2" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    sh "$3/wine-prefix.sh" start "$WINEPREFIX" || exit 1
    wine "$1/tray_test.exe" --gtest_color=no --gtest_filter=TrayInterfaces.*
    rc=$?
    sh "$3/wine-prefix.sh" stop "$WINEPREFIX"
    exit $rc' sh "$1" "$2" "$here"
