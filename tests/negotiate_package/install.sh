#!/bin/sh
# Installs the test-only "Negotiate" LSA package in a Wine prefix: the DLL into system32
# and its subkey under the LSA key, which Wine's secur32 reads when a process loads it.
# Usage: install.sh PREFIX DLL
set -eu
export WINEPREFIX=$1 WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
dll=$2
name=$(basename "$dll" .dll)
key="HKLM\\System\\CurrentControlSet\\Control\\Lsa\\$name"
cp "$dll" "$WINEPREFIX/drive_c/windows/system32/$name.dll"
wine reg add "$key" /f </dev/null >/dev/null 2>&1
