#!/bin/sh
# Builds portgate-<version>-x64.msi from the release programs in BUILD_DIR/bin with wixl,
# patches the tables wixl cannot write, and fails when the table check finds a fault.
# Usage: build-msi.sh [--allow-missing] [--out DIR]
#   BUILD_DIR (default <top>/build) holds bin/ and generated/portgate_version.h; the
#   package carries that version. Without --allow-missing every deliverable must be there.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
out=$build
allow_missing=0
while [ $# -gt 0 ]; do
    case $1 in
    --allow-missing) allow_missing=1 ;;
    --out) out=$2; shift ;;
    *) echo "build-msi.sh: unknown argument $1" >&2; exit 2 ;;
    esac
    shift
done
for tool in wixl msibuild msiinfo; do
    command -v $tool >/dev/null || { echo "build-msi.sh: $tool missing (tools/setup-debian.sh installs it)" >&2; exit 1; }
done

header=$build/generated/portgate_version.h
[ -f "$header" ] || { echo "build-msi.sh: $header missing: build first" >&2; exit 1; }
field() { sed -n "s/^#define PORTGATE_VERSION_$1 \([0-9]*\)$/\1/p" "$header"; }
version=$(field MAJOR).$(field MINOR).$(field PATCH)

stage=$build/msi-stage
rm -rf "$stage" && mkdir -p "$stage" "$out"
cp "$top/packaging/portgate.wxs" "$top/packaging/disable.cfg" "$stage/"
defines=""
missing=""
for file in wardhost.exe wardsetup.exe wardtray.exe wardtile.dll; do
    if [ -f "$build/bin/$file" ]; then
        # A program left from a build of another version must not slip into the package.
        found=$(x86_64-w64-mingw32-strings -el "$build/bin/$file" | sed -n '/^FileVersion$/{n;p;q}')
        if [ "$found" != "$version.0" ]; then
            echo "build-msi.sh: $file has file version '$found', not $version.0" >&2
            exit 1
        fi
        cp "$build/bin/$file" "$stage/"
        name=${file%.*}
        defines="$defines -D Have$(echo "$name" | cut -c1 | tr a-z A-Z)$(echo "$name" | cut -c2-)=1"
    else
        missing="$missing $file"
    fi
done
if [ -n "$missing" ]; then
    [ $allow_missing -eq 1 ] || { echo "build-msi.sh: missing from $build/bin:$missing" >&2; exit 1; }
    echo "build-msi.sh: WARNING: package built without$missing" >&2
fi
[ -f "$stage/wardhost.exe" ] || { echo "build-msi.sh: wardhost.exe missing" >&2; exit 1; }

msi=$out/portgate-$version-x64.msi
rm -f "$msi"
# wixl drops attributes it does not know with only a warning: any warning fails the build.
(cd "$stage" && wixl -a x64 -D Version="$version" $defines -o "$msi" portgate.wxs) 2>"$stage/wixl.err" || {
    cat "$stage/wixl.err" >&2; exit 1; }
if [ -s "$stage/wixl.err" ]; then
    cat "$stage/wixl.err" >&2
    echo "build-msi.sh: wixl warned; fix portgate.wxs" >&2
    rm -f "$msi"; exit 1
fi

# What wixl 0.101 cannot say:
# - file versions (without them Windows Installer treats the programs as unversioned and
#   a major upgrade may keep the old files);
# - Secure="yes" (CONFIGFILE must reach the elevated part of a managed install);
# - the same version rebuilt replaces the installed one (IncludeMaximum) instead of
#   sitting beside it as a second product entry;
# - the downgrade refusal must not block the old version's own removal.
# msibuild runs one query per call.
patch() { msibuild "$msi" -q "$1" || { echo "build-msi.sh: failed: $1" >&2; rm -f "$msi"; exit 1; }; }
q='`'
patch "UPDATE ${q}Property$q SET ${q}Value$q = 'WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED;CONFIGFILE' WHERE ${q}Property$q = 'SecureCustomProperties'"
# Attributes belongs to the Upgrade table's key: replace the row.
upgrade_code=$(sed -n 's/.*UpgradeCode="\({[0-9A-F-]*}\)".*/\1/p' "$stage/portgate.wxs")
patch "DELETE FROM ${q}Upgrade$q WHERE ${q}ActionProperty$q = 'WIX_UPGRADE_DETECTED'"
patch "INSERT INTO ${q}Upgrade$q (${q}UpgradeCode$q, ${q}VersionMax$q, ${q}Attributes$q, ${q}ActionProperty$q) VALUES ('$upgrade_code', '$version', 513, 'WIX_UPGRADE_DETECTED')"
message=$(msiinfo export "$msi" LaunchCondition | tr -d '\r' | awk -F'\t' '$1 == "NOT WIX_DOWNGRADE_DETECTED" { print $2 }')
patch "DELETE FROM ${q}LaunchCondition$q WHERE ${q}Condition$q = 'NOT WIX_DOWNGRADE_DETECTED'"
patch "INSERT INTO ${q}LaunchCondition$q (${q}Condition$q, ${q}Description$q) VALUES ('Installed OR NOT WIX_DOWNGRADE_DETECTED', '$message')"
for file in wardhost.exe wardsetup.exe wardtray.exe wardtile.dll; do
    [ -f "$stage/$file" ] || continue
    patch "UPDATE ${q}File$q SET ${q}Version$q = '$version.0' WHERE ${q}File$q = '$file'"
done
if [ -f "$stage/wardsetup.exe" ]; then
    # SITECONFIGFILE: the full path of portgate.ini when it lies beside the package.
    patch "CREATE TABLE ${q}DrLocator$q (${q}Signature_$q CHAR(72) NOT NULL, ${q}Parent$q CHAR(72), ${q}Path$q CHAR(255), ${q}Depth$q SHORT PRIMARY KEY ${q}Signature_$q, ${q}Parent$q, ${q}Path$q)"
    patch "INSERT INTO ${q}DrLocator$q (${q}Signature_$q, ${q}Path$q, ${q}Depth$q) VALUES ('SiteConfigFile', '[SourceDir]', 0)"
    patch "INSERT INTO ${q}Signature$q (${q}Signature$q, ${q}FileName$q) VALUES ('SiteConfigFile', 'portgate.ini')"
    patch "INSERT INTO ${q}AppSearch$q (${q}Property$q, ${q}Signature_$q) VALUES ('SITECONFIGFILE', 'SiteConfigFile')"
fi

sh "$top/packaging/check-msi.sh" "$msi" || { rm -f "$msi"; exit 1; }
echo "$msi ($(wc -c <"$msi") bytes)"
