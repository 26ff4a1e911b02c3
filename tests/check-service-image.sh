#!/bin/sh
# wardhost.exe is a console program that imports only the Windows DLLs given and whose
# manifest asks for administrator rights and common controls 6.
# Usage: check-service-image.sh OBJDUMP EXE "DLL ..."
set -eu
# objdump translates its output; it is parsed in English.
export LANG=C.UTF-8 LC_ALL=C.UTF-8 LANGUAGE=
objdump=$1 exe=$2 windows=$3
dump=$("$objdump" -p "$exe")
printf '%s\n' "$dump" | grep -q 'Subsystem.*(Windows CUI)' || { echo "not a console program"; exit 1; }
for name in $(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z'); do
    case " $windows " in
    *" $name "*) ;;
    *) echo "imports $name, which it should not"; exit 1 ;;
    esac
done
grep -aq 'level="requireAdministrator"' "$exe" || { echo "manifest does not ask for administrator rights"; exit 1; }
grep -aq 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' "$exe" ||
    { echo "manifest does not ask for common controls 6"; exit 1; }
echo "console program, Windows DLLs only, requireAdministrator with common controls 6"
