#!/bin/sh
# A deliverable GUI program imports only the Windows DLLs given (those delay-loaded are not
# listed by the import table) and its manifest asks for the given execution level and for
# common controls 6.
# Usage: check-gui-image.sh OBJDUMP EXE LEVEL "DLL ..."
set -eu
# objdump and Wine translate their output; it is parsed in English.
export LANG=C.UTF-8 LC_ALL=C.UTF-8 LANGUAGE=
objdump=$1 exe=$2 level=$3 windows=$4
dump=$("$objdump" -p "$exe")
printf '%s\n' "$dump" | grep -q 'Subsystem.*(Windows GUI)' || { echo "not a GUI program"; exit 1; }
for name in $(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z'); do
    case " $windows " in
    *" $name "*) ;;
    *) echo "imports $name, which it should not"; exit 1 ;;
    esac
done
grep -aq "level=\"$level\"" "$exe" || { echo "manifest does not ask for level $level"; exit 1; }
grep -aq 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' "$exe" ||
    { echo "manifest does not ask for common controls 6"; exit 1; }
echo "GUI program, Windows DLLs only, $level with common controls 6"
