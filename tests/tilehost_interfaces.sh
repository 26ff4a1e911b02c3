#!/bin/sh
# Runs the several-interfaces cases of each test program given in a network namespace whose
# lo has two addresses besides 127.0.0.1, with a Wine prefix and wineserver of its own.
# Usage: tilehost_interfaces.sh PREFIX NEGOTIATE_DLL TEST_PROGRAM...
# Exit 77 (skipped) when no namespace can be made here.
set -eu
# The cases are checked in English, whatever the run's locale.
export LANG=C.UTF-8 LC_ALL=C.UTF-8 LANGUAGE=
here=$(cd "$(dirname "$0")" && pwd)
if ! command -v ip >/dev/null 2>&1 || ! unshare -n true 2>/dev/null; then
    echo "skipped: no network namespace to add addresses in (unshare -n needs root, ip needs iproute2)"
    exit 77
fi
exec unshare -n sh -c '
    set -eu
    here=$1 prefix=$2 package=$3
    shift 3
    ip link set lo up
    ip addr add 10.77.0.1/16 dev lo
    ip addr add 10.77.0.2/16 dev lo
    sh "$here/wine-prefix.sh" start "$prefix"
    trap "sh \"$here/wine-prefix.sh\" stop \"$prefix\"" EXIT
    sh "$here/negotiate_package/install.sh" "$prefix" "$package"
    for program in "$@"; do
        WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
            wine "$program" --gtest_color=no --gtest_filter=SeveralInterfaces.* </dev/null
    done
' sh "$here" "$@"
