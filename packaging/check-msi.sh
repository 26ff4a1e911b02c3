#!/bin/sh
# Checks a built Portgate package's tables for the faults wixl 0.101 lets through with exit
# code 0: custom actions sequenced where they never run or compiled as immediate, 32-bit
# components (registry values under WOW6432Node), unversioned programs, a lost Secure
# property, and service rows that would not install, start, stop or remove the service.
# Usage: check-msi.sh PACKAGE.msi    Prints each fault; exits 1 when there is one.
set -eu
msi=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for t in Component CustomAction Directory File InstallExecuteSequence LaunchCondition \
         Property Registry ServiceControl ServiceInstall Upgrade; do
    # Three header lines, then one tab-separated row per line.
    msiinfo export "$msi" $t 2>/dev/null | tr -d '\r' | tail -n +4 >"$tmp/$t"
done
faults=0
fault() { echo "check-msi: $*" >&2; faults=$((faults + 1)); }
seq_of() { awk -F'\t' -v a="$1" '$1 == a { print $3 }' "$tmp/InstallExecuteSequence"; }

msiinfo suminfo "$msi" | grep -q '^Template: x64;' || fault "summary Template is not x64"

# Every component 64-bit (msidbComponentAttributes64bit).
awk -F'\t' '{ if (int($4 / 256) % 2 == 0) print $1 }' "$tmp/Component" | while read -r c; do
    echo "$c"; done >"$tmp/bad32"
for c in $(cat "$tmp/bad32"); do fault "component $c is not 64-bit (Win64=\"yes\")"; done

# Custom actions: every sequenced one before InstallFinalize; those that run in the
# script (0x400) strictly between InstallInitialize and InstallFinalize.
init=$(seq_of InstallInitialize)
final=$(seq_of InstallFinalize)
[ -n "$init" ] && [ -n "$final" ] || fault "InstallInitialize or InstallFinalize not sequenced"
while IFS="$(printf '\t')" read -r action type source target rest; do
    s=$(seq_of "$action")
    if [ -z "$s" ]; then fault "custom action $action is not sequenced"; continue; fi
    [ "$s" -lt "$final" ] || fault "custom action $action at $s runs after InstallFinalize ($final): never"
    if [ $((type & 1024)) -ne 0 ] && [ "$s" -le "$init" ]; then
        fault "deferred custom action $action at $s is before InstallInitialize ($init)"
    fi
    case $action in
    ImportConfig|Unregister|QuoteServicePath)
        # Deferred and run as LocalSystem: the configuration lives under HKLM.
        [ $((type & 3072)) -eq 3072 ] || fault "$action (type $type) is not deferred without impersonation"
        ;;
    esac
    case $action in
    ImportConfig|QuoteServicePath) [ $((type & 64)) -eq 0 ] || fault "$action ignores its program's exit code" ;;
    esac
done <"$tmp/CustomAction"

# The import last of the install's own steps (after the service has started): no step
# after it may fail and leave its registration behind, since it has no rollback.
s=$(seq_of ImportConfig)
if [ -n "$s" ]; then
    [ "$s" -gt "$(seq_of PublishProduct)" ] || fault "ImportConfig at $s precedes PublishProduct"
    awk -F'\t' -v s="$s" -v f="$final" '$3 > s && $3 < f && $1 != "RemoveExistingProducts" { print $1 }' \
        "$tmp/InstallExecuteSequence" >"$tmp/after_import"
    for a in $(cat "$tmp/after_import"); do fault "$a runs after ImportConfig"; done
fi
s=$(seq_of Unregister)
[ -z "$s" ] || [ "$s" -lt "$(seq_of RemoveFiles)" ] || fault "Unregister at $s follows RemoveFiles"
if grep -q '^ImportConfig	' "$tmp/CustomAction"; then
    awk -F'\t' '$1 == "SecureCustomProperties"' "$tmp/Property" | grep -q 'CONFIGFILE' ||
        fault "CONFIGFILE is not in SecureCustomProperties"
fi

# Major upgrade: old version removed after the new one is in place, downgrade refused.
s=$(seq_of RemoveExistingProducts)
if [ -z "$s" ]; then fault "RemoveExistingProducts not sequenced"
elif [ "$s" -le "$(seq_of InstallExecute)" ] || [ "$s" -ge "$final" ]; then
    fault "RemoveExistingProducts at $s is not between InstallExecute and InstallFinalize"
fi
[ -n "$(seq_of FindRelatedProducts)" ] || fault "FindRelatedProducts not sequenced"
awk -F'\t' '$7 == "WIX_DOWNGRADE_DETECTED" && int($5 / 2) % 2 == 1' "$tmp/Upgrade" | grep -q . ||
    fault "no detect-only Upgrade row for newer versions"
grep -q 'WIX_DOWNGRADE_DETECTED' "$tmp/LaunchCondition" || fault "no launch condition refuses a downgrade"

# Programs carry their file version.
awk -F'\t' '$3 ~ /\.(exe|dll)$/ && $5 == "" { print $3 }' "$tmp/File" >"$tmp/unversioned"
for f in $(cat "$tmp/unversioned"); do fault "$f has no version in the File table"; done

# Where the programs go.
dir_of() { awk -F'\t' -v f="$1" '$3 == f { print $2 }' "$tmp/File" |
           xargs -I{} awk -F'\t' -v c={} '$1 == c { print $3 }' "$tmp/Component"; }
parent_of() { awk -F'\t' -v d="$1" '$1 == d { print $2 }' "$tmp/Directory"; }
for f in wardhost.exe wardsetup.exe wardtray.exe; do
    grep -q "	$f	" "$tmp/File" || continue
    d=$(dir_of $f)
    [ "$(parent_of "$d")" = ProgramFiles64Folder ] || fault "$f is not under ProgramFiles64Folder"
done
if grep -q '	wardtile.dll	' "$tmp/File"; then
    [ "$(dir_of wardtile.dll)" = System64Folder ] || fault "wardtile.dll is not in System64Folder"
fi

# The service: own process, automatic start, LocalSystem; installed and started with the
# product, stopped on install and removal (0x1|0x2|0x20), deleted on removal (0x80), waited for.
awk -F'\t' '$2 == "wardhost"' "$tmp/ServiceInstall" >"$tmp/svc"
[ "$(wc -l <"$tmp/svc")" -eq 1 ] || fault "not exactly one ServiceInstall row for wardhost"
awk -F'\t' '$4 == 16 && $5 == 2 && $6 == 1 && $9 == "LocalSystem" && $12 == "wardhost"' "$tmp/svc" |
    grep -q . || fault "ServiceInstall row: $(cat "$tmp/svc")"
awk -F'\t' '$2 == "wardhost" && $3 == 163 && $5 == 1 && $6 == "wardhost"' "$tmp/ServiceControl" |
    grep -q . || fault "ServiceControl row: $(cat "$tmp/ServiceControl")"
for a in StopServices DeleteServices InstallServices StartServices; do
    [ -n "$(seq_of $a)" ] || fault "$a not sequenced"
done
# The path is quoted once the service is in the table, before it is started from it.
s=$(seq_of QuoteServicePath)
if [ -z "$s" ] || [ "$s" -le "$(seq_of InstallServices)" ] || [ "$s" -ge "$(seq_of StartServices)" ]; then
    fault "QuoteServicePath at '${s}' is not between InstallServices and StartServices"
fi

# A row that only deletes a key on removal writes nothing: as a key path the component
# would always look missing.
awk -F'\t' 'NR == FNR { if ($4 == "-") minus[$1] = 1; next } ($6 in minus) { print $1 }' \
    "$tmp/Registry" "$tmp/Component" >"$tmp/badkey"
for c in $(cat "$tmp/badkey"); do fault "component $c has a delete-only registry row as key path"; done

# Registry: machine root only, never a per-user hive of whoever installs.
awk -F'\t' '$2 != 2 { print $1 }' "$tmp/Registry" >"$tmp/badroot"
for r in $(cat "$tmp/badroot"); do fault "registry row $r is not under HKLM"; done

[ $faults -eq 0 ] || { echo "check-msi: $faults fault(s) in $msi" >&2; exit 1; }
