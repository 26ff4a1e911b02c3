#!/bin/sh
# Sets up (start) or shuts down (stop) the throwaway Wine prefix of a test run.
# Usage: wine-prefix.sh start|stop PREFIX
set -eu
export WINEPREFIX=$2 WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# The prefix, the persistent server and the services it starts speak English whatever the
# run's locale; the Japanese entries set their own.
export LANG=C.UTF-8 LC_ALL=C.UTF-8 LANGUAGE=
# Either way the server goes first: one left from an earlier run (or one still lingering)
# would refuse -p.
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
[ "$1" = start ] || exit 0
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wine wineboot -i </dev/null >/dev/null 2>&1
    # Headless: no display driver.
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
    # A crash ends the program: winedbg's crash dialog would wait, unseen, for a click,
    # and the entry would hang to its timeout instead of failing.
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1
    # Let the set-up's own server finish and write the registry out before the
    # persistent one takes over.
    wineserver -w
fi
# One persistent wineserver for the whole run saves a start per test program. It and
# the services Wine starts must not hold CTest's output pipe open.
wineserver -p </dev/null >/dev/null 2>&1
wine cmd /c exit 0 </dev/null >/dev/null 2>&1
