#!/bin/sh
# Installs (or with "remove", removes) the test-only "Negotiate" LSA package in a Wine
# prefix: the DLL into system32 and its subkey under the LSA key, which Wine's secur32
# reads when a process loads it.
# Usage: install.sh PREFIX DLL [remove]
set -eu
export WINEPREFIX=$1 WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
dll=$2
name=$(basename "$dll" .dll)
key="HKLM\\System\\CurrentControlSet\\Control\\Lsa\\$name"
if [ "${3:-}" = remove ]; then
    wine reg delete "$key" /f </dev/null >/dev/null 2>&1 || true
    rm -f "$WINEPREFIX/drive_c/windows/system32/$name.dll"
    exit 0
fi
cp "$dll" "$WINEPREFIX/drive_c/windows/system32/$name.dll"
wine reg add "$key" /f </dev/null >/dev/null 2>&1
