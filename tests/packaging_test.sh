#!/bin/sh
# The installer package end to end under Wine, in a prefix of its own: this version and
# the next patch version installed, upgraded, downgraded and removed, with and without a
# configuration file, one logon through the tile stand-in; the steps below say each part.
# Usage: packaging_test.sh BUILD_DIR
# Exit 77 (skipped) after every check that could run has passed, when a deliverable that
# part of the test needs is not built yet; each skipped part is named.
set -eu
# objdump and Wine translate their output; it is parsed in English.
export LANG=C.UTF-8 LC_ALL=C.UTF-8 LANGUAGE=
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
bin=$build/bin
work=$build/packaging-test
rm -rf "$work" && mkdir -p "$work"

export WINEPREFIX=$work/prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
failures=0
skips=""
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
skip() { echo "SKIP: $*"; skips="$skips|$*"; }
step() { echo "== $*"; }
have() { [ -f "$bin/$1" ]; }

# ---- the packages: this version and the next patch version, rebuilt
step "build the packages"
BUILD_DIR=$build sh "$top/packaging/build-msi.sh" --allow-missing --out "$work/v1"
field() { sed -n "s/^#define PORTGATE_VERSION_$1 \([0-9]*\)$/\1/p" "$build/generated/portgate_version.h"; }
v1=$(field MAJOR).$(field MINOR).$(field PATCH)
v2=$(field MAJOR).$(field MINOR).$(($(field PATCH) + 1))
next=$build/packaging-next
targets=""
for f in wardhost.exe wardsetup.exe wardtray.exe wardtile.dll; do
    have $f && targets="$targets ${f%.*}"
done
toolchain=$(sed -n 's/^CMAKE_TOOLCHAIN_FILE:[A-Z]*=//p' "$build/CMakeCache.txt")
cmake -S "$top" -B "$next" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DPORTGATE_VERSION="$v2" >/dev/null
cmake --build "$next" -j2 --target $targets >/dev/null
BUILD_DIR=$next sh "$top/packaging/build-msi.sh" --allow-missing --out "$work/v2"
msi1=$work/v1/portgate-$v1-x64.msi
msi2=$work/v2/portgate-$v2-x64.msi

step "the table check catches wixl's silent faults"
# A 32-bit component and a custom action placed with After=: wixl builds both with exit 0.
bad=$work/bad
mkdir -p "$bad" && cp "$build/msi-stage/"* "$bad/"
sed -e '0,/ Win64="yes"/s/ Win64="yes"//' \
    -e 's/<Custom Action="\([A-Za-z]*\)" Sequence="[0-9]*"/<Custom Action="\1" After="InstallFiles"/' \
    "$top/packaging/portgate.wxs" >"$bad/portgate.wxs"
defines=""
have wardsetup.exe && defines="$defines -D HaveWardsetup=1"
have wardtray.exe && defines="$defines -D HaveWardtray=1"
have wardtile.dll && defines="$defines -D HaveWardtile=1"
(cd "$bad" && wixl -a x64 -D Version="$v1" $defines -o bad.msi portgate.wxs 2>/dev/null)
if sh "$top/packaging/check-msi.sh" "$bad/bad.msi" 2>"$bad/check.err"; then
    fail "check-msi.sh passed a package with a 32-bit component"
fi
grep -q 'component wardhost is not 64-bit' "$bad/check.err" || fail "32-bit component not reported"
if have wardsetup.exe; then
    grep -q 'custom action ImportConfig at [0-9]* runs after InstallFinalize' "$bad/check.err" ||
        fail "custom action after InstallFinalize not reported"
fi

# ---- a fresh prefix
step "fresh prefix"
wine wineboot -i </dev/null >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
# The set-up's own server must finish before the first install, or StartServices fails
# with 1060 and the install rolls back.
wineserver -w
wineserver -p </dev/null >/dev/null 2>&1
trap 'wineserver -k 2>/dev/null || true' EXIT
pkg=$WINEPREFIX/drive_c/pkg       # C:\pkg: Wine's msiexec mangles quoted paths with blanks
mkdir -p "$pkg/v1" "$pkg/v2" "$pkg/gpo"
cp "$msi1" "$pkg/v1/portgate.msi"
cp "$msi2" "$pkg/v2/portgate.msi"
cp "$msi2" "$pkg/gpo/portgate.msi"

# msiexec through "start /wait" in a batch file that prints its exit code: the code of a
# Wine process as the shell sees it is cut to 8 bits (1603 would read 67).
# Each call keeps its verbose log and Wine's warnings, C:\pkg\msiexec-N.log and .err,
# for the failure report, and its time in ms in $took.
calls=0
now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
msiexec() {  # "EXPECTED EXIT CODES" ARGUMENTS...
    expected=$1 t=$(now_ms) calls=$((calls + 1))
    shift
    last_log=$pkg/msiexec-$calls.log
    printf '@start /wait msiexec %s /l*v C:\\pkg\\msiexec-%s.log\r\n@echo exit code %%ERRORLEVEL%%\r\n' "$*" "$calls" >"$pkg/run.bat"
    rc=$(WINEDEBUG=err+all,warn+msi wine cmd /c 'C:\pkg\run.bat' </dev/null 2>"$pkg/msiexec-$calls.err" |
        tr -d '\r' | sed -n 's/^exit code //p')
    took=$(($(now_ms) - t))
    printf 'msiexec %s -> %s in %s ms\n' "$*" "${rc:=none}" "$took"
    case " $expected " in *" $rc "*) ;; *) fail "msiexec $*: exit code $rc, expected $expected" ;; esac
}
reg_value() {  # KEY NAME: the data, or nothing
    wine reg query "$1" /v "$2" </dev/null 2>/dev/null | tr -d '\r' |
        sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
products() {  # one line "version" per installed Portgate product entry
    wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s </dev/null 2>/dev/null |
        tr -d '\r' | awk '/^HKEY/ { name = ""; version = "" }
                          /DisplayName +REG_SZ +Portgate$/ { name = 1 }
                          /DisplayVersion +REG_SZ/ { version = $3 }
                          name && version { print version; name = "" }'
}
service_state() {
    wine sc query wardhost </dev/null 2>/dev/null | tr -d '\r' | sed -n 's/^ *STATE *: *[0-9]* *//p'
}
wait_running() {
    for i in $(seq 60); do
        [ "$(service_state)" = RUNNING ] && return 0
        sleep 0.5
    done
    return 1
}
file_version() { x86_64-w64-mingw32-strings -el "$1" | sed -n '/^FileVersion$/{n;p;q}'; }

product_key='HKLM\SOFTWARE\KORVALE\Portgate'
provider_key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Authentication\Credential Providers\{5E1C2A94-3B07-4D6F-9A18-C2E4B7D05F31}'
class_key='HKLM\SOFTWARE\Classes\CLSID\{5E1C2A94-3B07-4D6F-9A18-C2E4B7D05F31}'
run_key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run'
programs=$WINEPREFIX/drive_c/Program\ Files/Portgate
system=$WINEPREFIX/drive_c/windows/system32

check_installed() {  # VERSION LOGON_PORT
    [ "$(products)" = "$1" ] || fail "product entries after install: '$(products)', expected one $1"
    wait_running || fail "service not running: $(service_state)"
    service_key='HKLM\System\CurrentControlSet\Services\wardhost'
    image=$(reg_value "$service_key" ImagePath)
    [ "$image" = '"C:\Program Files\Portgate\wardhost.exe"' ] || fail "service runs '$image'"
    [ "$(reg_value "$service_key" Start)/$(reg_value "$service_key" ObjectName)" = 0x2/LocalSystem ] ||
        fail "service not automatic under LocalSystem"
    reply=$(wine "$bin/pipecall.exe" hello </dev/null 2>&1 | tr -d '\r')
    case $reply in OK*|NG*) ;; *) fail "pipe did not answer: '$reply'" ;; esac
    for f in "$programs/wardhost.exe" "$programs/wardsetup.exe" "$programs/wardtray.exe" "$system/wardtile.dll"; do
        have "${f##*/}" || continue
        [ "$(file_version "$f")" = "$1.0" ] || fail "$f is in version '$(file_version "$f")', expected $1.0"
    done
    if have wardsetup.exe; then
        [ "$(reg_value "$product_key" VLANLogonServer)" = 127.0.0.1 ] || fail "the configuration is not in the product key"
        [ "$(reg_value "$product_key" VLANLogonPort)" = "$(printf '0x%x' "$2")" ] ||
            fail "VLANLogonPort is '$(reg_value "$product_key" VLANLogonPort)', expected port $2"
        wine reg query "$provider_key" /ve </dev/null 2>/dev/null | grep -q 'REG_SZ *WdCredentialProvider' ||
            fail "credential provider not registered"
        [ "$(reg_value "$class_key\\InprocServer32" ThreadingModel)" = Apartment ] || fail "provider class not registered"
        # The tool may quote the path (it holds a blank); Windows runs either form.
        case $(reg_value "$run_key" WardTray) in
        '"C:\Program Files\Portgate\wardtray.exe" -t'|'C:\Program Files\Portgate\wardtray.exe -t') ;;
        *) fail "Run entry is '$(reg_value "$run_key" WardTray)'" ;;
        esac
    fi
}
check_clean() {  # WHEN
    [ -z "$(products)" ] || fail "$1: product entries left: $(products)"
    [ -z "$(service_state)" ] || fail "$1: service left ($(service_state))"
    [ ! -e "$programs" ] || fail "$1: left in Program Files: $(ls "$programs" | tr '\n' ' ')"
    [ ! -e "$system/wardtile.dll" ] || fail "$1: wardtile.dll left in system32"
    for k in "$product_key" "$provider_key" "$class_key"; do
        ! wine reg query "$k" </dev/null >/dev/null 2>&1 || fail "$1: key left: $k"
    done
    if [ -n "$(reg_value "$run_key" WardTray)" ]; then
        fail "$1: Run entry WardTray left"
        # Wine's log has no exit code of a custom action; its warnings say when one failed to start.
        grep -a -i -e 'unregister' -e 'execut' -e 'wardsetup' "$last_log" "${last_log%.log}.err" 2>/dev/null |
            grep -v 'apt-get' | tr -d '\r' | head -20
    fi
}

# ---- the simulated DE-Zeruzu and the site's configuration
wine "$bin/dezsim.exe" --script "Z:$bin/dezsim-scripts/logon-group.txt" --port 0 \
    >"$work/dezsim.out" 2>&1 </dev/null &
for i in $(seq 300); do
    grep -q '^listening on ' "$work/dezsim.out" 2>/dev/null && break
    sleep 0.1
done
grep -q '^listening on ' "$work/dezsim.out" || { cat "$work/dezsim.out"; echo "FAIL: dezsim did not start"; exit 1; }
port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)\r*$/\1/p' "$work/dezsim.out")
site_config() {  # FILE PORT
    printf '[General]\r\nEnable=1\r\n[VLAN]\r\nVLANLogonServer=127.0.0.1\r\nVLANLogonPort=%s\r\nVLANLogoffServer=127.0.0.1\r\nVLANLogoffPort=%s\r\n[DHCP]\r\nEnableDHCP=0\r\nNotFindDomain=1\r\n' "$2" "$2" >"$1"
}
site_config "$pkg/site.cfg" "$port"

# ---- install, logon, upgrade, downgrade, uninstall
step "install $v1 with CONFIGFILE"
have wardsetup.exe || skip "configuration import: wardsetup.exe is not built"
msiexec 0 /i 'C:\pkg\v1\portgate.msi' /qn 'CONFIGFILE=C:\pkg\site.cfg'
install_ms=$took
check_installed "$v1" "$port"

step "wardhost -check finds the installed package whole"
if ! have wardtile.dll || ! have wardsetup.exe || ! have wardtray.exe; then
    skip "wardhost -check: a deliverable it checks is not built"
else
    rc=0
    wine "$programs/wardhost.exe" -check </dev/null >"$work/check.out" 2>&1 || rc=$?
    [ $rc -eq 0 ] || { cat "$work/check.out"; fail "wardhost -check exit code $rc"; }
fi

step "one logon through the tile stand-in"
if ! have tilehost.exe || ! have portgate_negotiate.dll; then
    skip "logon through the tile: tools/lab/tilehost is not built"
elif ! have wardtile.dll || ! have wardsetup.exe; then
    skip "logon through the tile: wardtile.dll or wardsetup.exe is not built"
else
    sh "$top/tests/negotiate_package/install.sh" "$WINEPREFIX" "$bin/portgate_negotiate.dll"
    # The installed provider, found through its registration as the logon screen does.
    rc=0
    wine "$bin/tilehost.exe" --user alice --password secret --timeout 120 </dev/null \
        >"$work/tilehost.out" 2>&1 || rc=$?
    [ $rc -eq 0 ] || { cat "$work/tilehost.out"; fail "tilehost exit code $rc"; }
    [ "$(reg_value "$product_key" DefaultUserName)" = alice ] || fail "the service recorded no logon"
    grep -q 'recv: alice' "$work/dezsim.out" || fail "the simulator saw no logon"
fi

step "upgrade to $v2 without a configuration"
msiexec 0 /i 'C:\pkg\v2\portgate.msi' /qn
upgrade_ms=$took
check_installed "$v2" "$port"

step "downgrade to $v1 refused"
# Wine's removal of the old version during the upgrade deletes the upgrade code's whole
# registration, the new version's entry with it (Windows removes only the old entry):
# give it back, as Windows keeps it, so that the downgrade can be detected.
code=$(msiinfo export "$msi2" Property | tr -d '\r' | awk -F'\t' '$1 == "ProductCode" { print $2 }')
upgrade=$(msiinfo export "$msi2" Property | tr -d '\r' | awk -F'\t' '$1 == "UpgradeCode" { print $2 }')
squash() {  # the installer's packed form of a GUID
    echo "$1" | tr -d '{}' | awk -F- '{
        r = ""; for (f = 1; f <= 3; f++) for (i = length($f); i > 0; i--) r = r substr($f, i, 1)
        s = $4 $5
        for (i = 1; i < length(s); i += 2) r = r substr(s, i + 1, 1) substr(s, i, 1)
        print r }'
}
for k in 'HKLM\Software\Classes\Installer\UpgradeCodes' \
         'HKLM\Software\Microsoft\Windows\CurrentVersion\Installer\UpgradeCodes'; do
    wine reg add "$k\\$(squash "$upgrade")" /v "$(squash "$code")" /d '' /f </dev/null >/dev/null 2>&1
done
msiexec 1603 /i 'C:\pkg\v1\portgate.msi' /qn
[ "$(products)" = "$v2" ] || fail "product entries after the downgrade: '$(products)'"

step "uninstall"
msiexec 0 /x 'C:\pkg\v2\portgate.msi' /qn
uninstall_ms=$took
check_clean "after uninstall"

if have wardsetup.exe; then
    step "a failed import fails the install and rolls back"
    # A file that is missing, and one that is there but holds no configuration.
    : >"$pkg/empty.cfg"
    for f in missing empty; do
        # Windows answers a failed custom action with 1603, Wine with 1627.
        msiexec '1603 1627' /i 'C:\pkg\v1\portgate.msi' /qn "CONFIGFILE=C:\\pkg\\$f.cfg"
        check_clean "after the failed install with the $f file"
    done

    step "an install failing at its last step before the import leaves nothing"
    # The package with one more deferred action just before the import, failing as a
    # missing file's import does: the service, the files and the keys go again.
    mkdir -p "$pkg/late"
    cp "$msi1" "$pkg/late/portgate.msi"
    msibuild "$pkg/late/portgate.msi" -q "INSERT INTO \`CustomAction\` (\`Action\`, \`Type\`, \`Source\`, \`Target\`) VALUES ('FailLate', 3090, 'wardsetup.exe', '-i \"C:\\pkg\\missing.cfg\"')"
    msibuild "$pkg/late/portgate.msi" -q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('FailLate', 6505)"
    msiexec '1603 1627' /i 'C:\pkg\late\portgate.msi' /qn 'CONFIGFILE=C:\pkg\site.cfg'
    check_clean "after the install that failed late"

    step "Group Policy: portgate.ini beside the package, no properties"
    site_config "$pkg/gpo/portgate.ini" 2345
    msiexec 0 /i 'C:\pkg\gpo\portgate.msi' /qn
    check_installed "$v2" 2345
    msiexec 0 /x 'C:\pkg\gpo\portgate.msi' /qn
    check_clean "after the second uninstall"
fi

echo "package $(basename "$msi1"): $(wc -c <"$msi1") bytes; install ${install_ms} ms, upgrade ${upgrade_ms} ms, uninstall ${uninstall_ms} ms under Wine"
for f in wardhost.exe wardsetup.exe wardtray.exe wardtile.dll; do
    have $f && echo "$f: $(wc -c <"$bin/$f") bytes"
done
[ $failures -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
if [ -n "$skips" ]; then
    echo "skipped:"
    printf '%s\n' "$skips" | tr '|' '\n' | sed '/^$/d; s/^/  /'
    exit 77
fi
