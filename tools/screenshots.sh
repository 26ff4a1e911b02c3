#!/bin/sh
# The README's pictures in English and Japanese, under Wine on a virtual X display of its own:
# the tour in Wine virtual desktops (which draw caption bars) into docs/images/<picture>-<en|ja>.png,
# every page and dialog of the configuration tool (held still by shotdriver, cropped from the
# screen) into docs/screenshots/<en|ja>-<name>.png. Installs xvfb, x11-utils, ImageMagick and
# the IPA Gothic font when missing; not needed for building or testing.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
bin=$build/bin
out=$top/docs/images
sh "$top/tools/setup-debian.sh" xvfb x11-utils imagemagick fonts-ipafont-gothic
mkdir -p "$out"

export WINEPREFIX=$build/screenshots-prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
rm -rf "$WINEPREFIX"
wine wineboot -i </dev/null >/dev/null 2>&1
wineserver -w
cp /usr/share/fonts/opentype/ipafont-gothic/ipag.ttf "$WINEPREFIX/drive_c/windows/Fonts/"

# A free display of our own; the server and Wine end with the script.
fifo=$build/screenshots-display
rm -f "$fifo" && mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 1024x768x24 3>"$fifo" >/dev/null 2>&1 &
xvfb=$!
read -r display <"$fifo"
rm -f "$fifo"
export DISPLAY=:$display
trap 'wineserver -k 2>/dev/null || true; kill $xvfb 2>/dev/null || true' EXIT

# The programs where the package puts them, and a configuration worth showing.
programs="$WINEPREFIX/drive_c/Program Files/Portgate"
mkdir -p "$programs"
cp "$bin/wardsetup.exe" "$bin/wardtray.exe" "$programs/"
cp "$bin/wardtile.dll" "$WINEPREFIX/drive_c/windows/system32/"
printf '[General]\r\nEnable=1\r\nMultiInterfaceCheck=1\r\nMultiInterfaceMessage=Disconnect the wireless network\\nbefore you log on.\r\n[DomainList]\r\n0=CORP\r\n1=LAB\r\n[VLAN]\r\nVLANLogonServer=10.0.0.1\r\nVLANLogonPort=2345\r\nVLANLogoffServer=10.0.0.1\r\nVLANLogoffPort=2346\r\n[GroupList120]\r\nVLANLogoffServer=10.0.120.1\r\nVLANLogoffPort=2346\r\n[DHCP]\r\nEnableDHCP=1\r\nWaitIpRenew=2\r\nWaitFindDomain=2\r\n' \
    >"$WINEPREFIX/drive_c/site.cfg"
wine "$programs/wardsetup.exe" -i 'C:\site.cfg' </dev/null >/dev/null 2>&1
wineserver -w

# shoot NAME LANGUAGE PROGRAM ARGUMENT...: runs PROGRAM in a Wine virtual desktop (which
# draws the caption bars), waits for its largest window and saves that window.
shoot() {
    name=$1 lang=$2 exe=$3
    shift 3
    LANG=$locale LC_ALL=$locale wine explorer /desktop="$name-$lang,800x600" "$exe" "$@" \
        </dev/null >/dev/null 2>&1 &
    shown=$!
    for i in $(seq 150); do
        sleep 0.2
        window=$(xwininfo -root -tree | grep "(\"$(basename "$exe")\" " |
                 awk '{ for (i = 1; i <= NF; i++) if ($i ~ /^[0-9]+x[0-9]+\+/) { split($i, g, /[x+]/); print g[1] * g[2], $1 } }' |
                 sort -n | tail -n 1 | cut -d' ' -f2)
        [ -z "$window" ] || break
    done
    [ -n "$window" ] || { echo "screenshots.sh: no window of $(basename "$exe")" >&2; exit 1; }
    # Let the first paint finish: the window exists before its controls are drawn.
    sleep 2
    import -window "$window" "$out/$name-$lang.png"
    wineserver -k
    wait $shown 2>/dev/null || true
    echo "$out/$name-$lang.png"
}
key='HKLM\SOFTWARE\KORVALE\Portgate'
for lang in en ja; do
    case $lang in ja) locale=ja_JP.UTF-8 ;; *) locale=en_US.UTF-8 ;; esac
    shoot wardsetup $lang "$programs/wardsetup.exe"
    shoot wardtray $lang "$programs/wardtray.exe"
    shoot wardtile $lang "$bin/tilehost.exe"
    # The tray client's information page: what a logon records. The values are written
    # under the picture's locale too: a Wine process started under another rewrites the
    # user's date and time formats, and the page may show either.
    export LANG=$locale LC_ALL=$locale
    wine reg add "$key" /v VLANLogon /t REG_DWORD /d 2 /f </dev/null >/dev/null 2>&1
    wine reg add "$key" /v DefaultUserName /d alice /f </dev/null >/dev/null 2>&1
    wine reg add "$key" /v LogonDate /t REG_DWORD /d 1765000000 /f </dev/null >/dev/null 2>&1
    shoot wardtray-info $lang "$programs/wardtray.exe"
    wine reg delete "$key" /v VLANLogon /f </dev/null >/dev/null 2>&1
    unset LANG LC_ALL
done

# The configuration tool's pages and dialogs: shotdriver prints "SHOT name x y width
# height" at each and goes on once name.done exists.
shots=$top/docs/screenshots work=$build/shots
mkdir -p "$shots"
for lang in en ja; do
    case $lang in ja) locale=ja_JP.UTF-8 ;; *) locale=en_US.UTF-8 ;; esac
    rm -rf "$work" && mkdir -p "$work"
    LANG=$locale LC_ALL=$locale wine "$bin/shotdriver.exe" "Z:$work" "Z:$top/examples/portgate.ini" \
        </dev/null >"$work/driver.log" 2>&1 &
    driver=$!
    seen=0
    while kill -0 $driver 2>/dev/null; do
        set -- $(grep '^SHOT ' "$work/driver.log" | tr -d '\r' | sed -n "$((seen + 1))p")
        [ $# -eq 6 ] || { sleep 0.1; continue; }
        seen=$((seen + 1))
        import -window root -crop "${5}x${6}+${3}+${4}" +repage "$shots/$lang-$2.png"
        touch "$work/$2.done"
    done
    wineserver -k 2>/dev/null || true
done
ls "$shots"
