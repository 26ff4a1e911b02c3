#!/bin/sh
# Runs the several-interfaces case of tilehost_test in a network namespace whose lo has
# two addresses besides 127.0.0.1, with a Wine prefix and wineserver of its own.
# Usage: tilehost_interfaces.sh PREFIX TEST_PROGRAM NEGOTIATE_DLL
# Exit 77 (skipped) when no namespace can be made here.
set -eu
# The case is checked in English, whatever the run's locale.
export LANG=C.UTF-8 LC_ALL=C.UTF-8 LANGUAGE=
prefix=$1 program=$2 package=$3
here=$(cd "$(dirname "$0")" && pwd)
if ! command -v ip >/dev/null 2>&1; then
    echo "skipped: no ip command (iproute2) to add addresses"
    exit 77
fi
if ! unshare -n true 2>/dev/null; then
    echo "skipped: unshare -n is refused here (it needs root)"
    exit 77
fi
exec unshare -n sh -c '
    set -eu
    ip link set lo up
    ip addr add 10.77.0.1/16 dev lo
    ip addr add 10.77.0.2/16 dev lo
    sh "$0/wine-prefix.sh" start "$1"
    trap "sh \"$0/wine-prefix.sh\" stop \"$1\"" EXIT
    sh "$0/negotiate_package/install.sh" "$1" "$3"
    WINEPREFIX=$1 WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
        wine "$2" --gtest_color=no --gtest_filter=SeveralInterfaces.* </dev/null
' "$here" "$prefix" "$program" "$package"
