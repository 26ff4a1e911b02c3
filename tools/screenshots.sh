#!/bin/sh
# Pictures of wardsetup's pages and dialogs in English and Japanese for the README, taken
# on a virtual X display (xvfb) in a Wine prefix of their own. Not needed for building or
# testing, so its packages are installed here rather than by setup-debian.sh.
# Usage: tools/screenshots.sh [OUTPUT-FOLDER]   (default: docs/screenshots)
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
out=${1:-$top/docs/screenshots}
missing=""
for p in xvfb imagemagick fonts-ipafont-gothic; do
    dpkg -s "$p" >/dev/null 2>&1 || missing="$missing $p"
done
if [ -n "$missing" ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends $missing
fi
BUILD_DIR=$build sh "$top/tools/build.sh" >/dev/null

export WINEPREFIX="$build/shots-prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wine wineboot -i </dev/null >/dev/null 2>&1
    wineserver -w
fi
# Wine brings no Japanese font.
cp /usr/share/fonts/opentype/ipafont-gothic/ipag*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
mkdir -p "$out"
work="$build/shots"
for lang in en_US ja_JP; do
    rm -rf "$work" && mkdir -p "$work"
    LANG=$lang.UTF-8 LC_ALL=$lang.UTF-8 xvfb-run -a -s '-screen 0 1024x768x24' sh -c '
        wine "$1/shotdriver.exe" "Z:$2" "Z:$3" >"$2/driver.log" 2>&1 &
        driver=$!
        seen=0
        while kill -0 $driver 2>/dev/null; do
            lines=$(grep -c "^SHOT " "$2/driver.log" || true)
            if [ "$lines" -gt "$seen" ]; then
                seen=$((seen + 1))
                set -- "$1" "$2" "$3" "$4" $(grep "^SHOT " "$2/driver.log" | sed -n "${seen}p")
                # $5 is "SHOT", then name, x, y, width, height.
                import -window root -crop "${9}x${10}+${7}+${8}" +repage "$4-$6.png"
                touch "$2/$6.done"
                set -- "$1" "$2" "$3" "$4"
            fi
            sleep 0.1
        done
    ' sh "$build/bin" "$work" "$top/examples/portgate.ini" "$out/${lang%_*}"
    wineserver -k || true
done
ls "$out"
