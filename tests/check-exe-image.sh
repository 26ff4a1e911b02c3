#!/bin/sh
# A deliverable program is of the given subsystem (GUI or CUI, the console), imports only
# the Windows DLLs given (those delay-loaded are not listed by the import table), and its
# manifest asks for the given execution level and for common controls 6.
# Usage: check-exe-image.sh OBJDUMP EXE GUI|CUI LEVEL "DLL ..."
set -eu
# objdump and Wine translate their output; it is parsed in English.
export LANG=C.UTF-8 LC_ALL=C.UTF-8 LANGUAGE=
objdump=$1 exe=$2 subsystem=$3 level=$4 windows=$5
dump=$("$objdump" -p "$exe")
printf '%s\n' "$dump" | grep -q "Subsystem.*(Windows $subsystem)" ||
    { echo "not a Windows $subsystem program"; exit 1; }
for name in $(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z'); do
    case " $windows " in
    *" $name "*) ;;
    *) echo "imports $name, which it should not"; exit 1 ;;
    esac
done
grep -aq "level=\"$level\"" "$exe" || { echo "manifest does not ask for level $level"; exit 1; }
grep -aq 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' "$exe" ||
    { echo "manifest does not ask for common controls 6"; exit 1; }
echo "Windows $subsystem program, Windows DLLs only, $level with common controls 6"
