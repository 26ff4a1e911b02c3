#!/bin/sh
# A deliverable DLL exports exactly the names given and imports only Windows DLLs.
# Usage: check-dll-image.sh OBJDUMP DLL EXPORT...
set -eu
# objdump and Wine translate their output; it is parsed in English.
export LANG=C.UTF-8 LC_ALL=C.UTF-8 LANGUAGE=
objdump=$1 dll=$2
shift 2
dump=$("$objdump" -p "$dll")
exports=$(printf '%s\n' "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
          sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p' | sort | tr '\n' ' ')
wanted=$(printf '%s\n' "$@" | sort | tr '\n' ' ')
[ "$exports" = "$wanted" ] || { echo "exports: $exports; wanted: $wanted"; exit 1; }
windows='advapi32.dll comctl32.dll gdi32.dll iphlpapi.dll kernel32.dll msvcrt.dll ole32.dll oleaut32.dll
secur32.dll shell32.dll shlwapi.dll user32.dll version.dll ws2_32.dll netapi32.dll'
for name in $(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z'); do
    case " $(echo $windows) " in
    *" $name "*) ;;
    *) echo "imports $name, which is not a Windows DLL"; exit 1 ;;
    esac
done
echo "exports: $exports; imports only Windows DLLs"
