#!/bin/sh
# wardsetup.exe is a GUI program that imports only Windows DLLs (those of its window are
# delay-loaded) and whose manifest asks for elevation and for common controls 6.
# Usage: check-setup-image.sh OBJDUMP EXE
set -eu
objdump=$1 exe=$2
dump=$("$objdump" -p "$exe")
printf '%s\n' "$dump" | grep -q 'Subsystem.*(Windows GUI)' || { echo "not a GUI program"; exit 1; }
windows='advapi32.dll gdi32.dll iphlpapi.dll kernel32.dll msvcrt.dll user32.dll'
for name in $(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z'); do
    case " $windows " in
    *" $name "*) ;;
    *) echo "imports $name, which it should not"; exit 1 ;;
    esac
done
grep -aq 'level="requireAdministrator"' "$exe" || { echo "manifest does not ask for elevation"; exit 1; }
grep -aq 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' "$exe" ||
    { echo "manifest does not ask for common controls 6"; exit 1; }
echo "GUI program, Windows DLLs only, requireAdministrator with common controls 6"
