#!/bin/sh
# The main job: sets up a fresh Debian machine and builds; then, in a throwaway Wine prefix,
# against DE-Zeruzu simulators on 127.0.0.1, logs on and off through the service's pipe, the
# logon tile (in tilehost) and the tray client, printing what each showed and what the switch got.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
sh "$top/tools/setup-debian.sh"
BUILD_DIR=$build sh "$top/tools/build.sh" >/dev/null

export WINEPREFIX="$build/mainjob-prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
sh "$top/tests/wine-prefix.sh" start "$WINEPREFIX"
trap 'sh "$top/tests/wine-prefix.sh" stop "$WINEPREFIX"' EXIT
bin="$build/bin"

# Two DE-Zeruzu simulators on 127.0.0.1, one for the logon (two connections: the pipe's
# and the tile's) and one for the logoff; the configuration points the service at them.
sims="$build/mainjob-dezsim"
rm -rf "$sims" && mkdir -p "$sims"
# start_sim NAME SCRIPT CONNECTIONS: a simulator in the background, its output in NAME.out.
start_sim() {
    wine "$bin/dezsim.exe" --script "Z:$bin/dezsim-scripts/$2" --port 0 --connections $3 \
        >"$sims/$1.out" 2>&1 </dev/null &
}
start_sim logon logon-group.txt 2
start_sim logoff logoff.txt 1
port_of() {
    for i in $(seq 300); do
        grep -q '^listening on ' "$sims/$1.out" 2>/dev/null && break
        sleep 0.1
    done
    sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$sims/$1.out" |
        grep . || { echo "dezsim for $1 did not start" >&2; exit 1; }
}
logon_port=$(port_of logon)
logoff_port=$(port_of logoff)
key='HKLM\SOFTWARE\KORVALE\Portgate'
# The shipped example configuration with the simulators' ports, imported by the
# configuration tool. It also turns the domain-controller search off: Wine has no domain
# controller to find (the search would take its full 120 s) and no DHCP renewal
# ("iprenew" answers after its 4 s timer).
sed -e "s/^VLANLogonPort=.*/VLANLogonPort=$logon_port/" \
    -e "s/^VLANLogoffPort=6001\$/VLANLogoffPort=$logoff_port/" \
    "$top/examples/portgate.ini" >"$sims/portgate.ini"
wine "$bin/wardsetup.exe" -i "Z:$sims/portgate.ini" || { echo "wardsetup -i failed" >&2; exit 1; }
echo "DE-Zeruzu simulators: logon on 127.0.0.1:$logon_port, logoff on 127.0.0.1:$logoff_port"

wine "$bin/wardhost.exe" -install
# Wine's sc answers 1 even when the start succeeded; the pipe calls below wait for it.
wine sc start wardhost >/dev/null || true
for request in "logon alice secret CORP" "logoff" "iprenew" "finddomain" "hello"; do
    printf '%-26s -> %s\n' "$request" "$(wine "$bin/pipecall.exe" $request)"
    case $request in
    logon*|logoff)
        echo "  state values now:"
        wine reg query "$key" /s | tr -d '\r' |
            grep -E 'VLANLogon |GroupNumber|LogonDate|Default|DomainList|CORP' | sed 's/^ */    /'
        ;;
    esac
done

# The logon tile as the logon screen drives it: registered like the configuration tool
# does, loaded through that registration, fields filled, submitted; tilehost prints the
# steps, the outcome and the packed logon (password masked) and never logs on to Windows.
# Wine resolves only the "Kerberos" package: the test-only package makes "Negotiate" resolve.
sh "$top/tests/negotiate_package/install.sh" "$WINEPREFIX" "$bin/portgate_negotiate.dll"
wine "$bin/tilehost.exe" --register "Z:$bin/wardtile.dll"
wine reg add "$key" /v EnableDHCP /t REG_DWORD /d 0 /f >/dev/null
echo "Logon through the tile (tilehost):"
# Into a file, not a pipe: Wine's desktop process may inherit the output and keep a pipe open.
tile_rc=0
wine "$bin/tilehost.exe" --user bob --password tilesecret --domain CORP --answer ok --timeout 300 \
    >"$sims/tilehost.out" 2>&1 </dev/null || tile_rc=$?
tr -d '\r' <"$sims/tilehost.out" | sed 's/^/  /'
wine "$bin/tilehost.exe" --unregister >/dev/null
[ $tile_rc -eq 0 ] || { echo "tilehost ended with $tile_rc (0: the tile returned a credential)" >&2; exit 1; }
echo "What the simulators received:"
grep -h '^recv: ' "$sims/logon.out" "$sims/logoff.out" | sed 's/^/  /'
wine "$bin/wardhost.exe" -uninstall

# The same logon and logoff through wardtray.exe, driven by messages to its windows
# (traydrive.exe), against two fresh simulators.
echo "Through wardtray.exe, driven by messages:"
wine "$bin/wardhost.exe" -install >/dev/null
wine sc start wardhost >/dev/null || true
start_sim tray-logon logon-group.txt 1
start_sim tray-logoff logoff.txt 1
wine reg add "$key" /v VLANLogonPort /t REG_DWORD /d "$(port_of tray-logon)" /f >/dev/null
wine reg add "$key" /v VLANLogoffPort /t REG_DWORD /d "$(port_of tray-logoff)" /f >/dev/null
wine "$bin/traydrive.exe" alice secret
echo "What the simulators received from the client's requests:"
grep -h '^recv: ' "$sims/tray-logon.out" "$sims/tray-logoff.out" | sed 's/^/  /'
wine "$bin/wardhost.exe" -uninstall
