#!/bin/sh
# Optional, not part of CI: screenshots of wardtray's two pages in English and Japanese
# for the README, under Xvfb with Wine's X11 driver (no window manager, so no caption
# bar) and Debian's IPAGothic copied into a throwaway prefix.
# Needs xvfb, imagemagick and fonts-ipafont-gothic. Writes tray/screenshots/*.png.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
bin="$build/bin"
out="$top/tray/screenshots"
export WINEPREFIX="$build/screenshot-prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$out"

shoot() {  # shoot NAME VLANLOGON LANG
    xvfb-run -a -s '-screen 0 800x600x24' sh -c '
        key="HKLM\\SOFTWARE\\KORVALE\\Portgate"
        wine reg add "$key" /v VLANLogon /t REG_DWORD /d "$2" /f >/dev/null 2>&1
        wine reg add "$key" /v DefaultUserName /t REG_SZ /d alice /f >/dev/null 2>&1
        wine reg add "$key" /v LogonDate /t REG_DWORD /d 1765000000 /f >/dev/null 2>&1
        LANG=$3 LC_ALL=$3 wine "$4/wardtray.exe" >/dev/null 2>&1 &
        # The window is there once something other than black is on the screen.
        i=0
        until [ "$(import -window root -format "%[fx:maxima]" info: 2>/dev/null)" != "0" ]; do
            i=$((i + 1)); [ $i -le 100 ] || exit 1; sleep 0.2
        done
        sleep 1  # let the pages and the picture paint
        # Only the main window (the X11 tray beside it shows the icon).
        id=$(xwininfo -root -tree | awk "/\"Portgate/ && /wardtray.exe/ { print \$1; exit }")
        if [ -n "$id" ]; then import -window "$id" "$1"; else import -window root -trim +repage "$1"; fi
        wineserver -k' sh "$out/$1.png" "$2" "$3" "$bin"
}

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    xvfb-run -a wine wineboot -i >/dev/null 2>&1
    wineserver -w
fi
cp /usr/share/fonts/opentype/ipafont-gothic/ipag.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
# Japanese dialogs ask for MS UI Gothic through "MS Shell Dlg"; IPAGothic stands in.
wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'MS UI Gothic' /d 'IPAGothic' /f >/dev/null 2>&1
wineserver -w

shoot logon-page-en 1 en_US.UTF-8
shoot info-page-en 2 en_US.UTF-8
shoot logon-page-ja 1 ja_JP.UTF-8
shoot info-page-ja 2 ja_JP.UTF-8
ls -l "$out"
