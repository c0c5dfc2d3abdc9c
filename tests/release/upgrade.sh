#!/usr/bin/env bash
# A later release replacing an earlier one, under Wine, for each architecture's MSI:
#   tests/release/upgrade.sh OLD_DIST NEW_DIST
# OLD_DIST and NEW_DIST hold releases made by scripts/release.sh of two versions, the second the
# later. In one fresh 64-bit prefix, for x64 and then x86 (each architecture both have MSIs of): the old MSI installed and used by the
# example VBScript; the new one installed over it, which must remove the old product (one product
# of the architecture left, of the new version, its files in place of the old ones, the registry
# exactly as after the first install) and work; the old MSI then refused (a downgrade) leaving the
# new one untouched, with its message in the install log; the new one removed, leaving nothing.
# Prints one PASS/FAIL line per check and exits non-zero when any check fails.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
# shellcheck source=../wine/wine-env.sh
. "$root/tests/wine/wine-env.sh"

[ $# -eq 2 ] || { echo "usage: $0 OLD_DIST NEW_DIST" >&2; exit 2; }
old_dist=$(realpath "$1")
new_dist=$(realpath "$2")
started=$SECONDS

# A release folder's version (from its zip's name) and files.
version_of() {
    local zip
    zip=$(cd "$1" && echo pelmora-*-windows.zip)
    [ -f "$1/$zip" ] || { echo "no release in $1" >&2; exit 2; }
    zip=${zip#pelmora-}
    echo "${zip%-windows.zip}"
}
declare -A version=([old]=$(version_of "$old_dist") [new]=$(version_of "$new_dist"))
declare -A dist=([old]=$old_dist [new]=$new_dist)
[ "${version[old]}" != "${version[new]}" ] || { echo "both releases are ${version[old]}" >&2; exit 2; }
echo "=== wine: upgrade from ${version[old]} to ${version[new]}, x64 and x86 ===" >&2

work=$new_dist/upgrade
logs=$work/logs
rm -rf "$work"
mkdir -p "$logs"
failures=0
for r in old new; do
    mkdir -p "$work/$r"
    unzip -q "${dist[$r]}/pelmora-${version[$r]}-windows.zip" -d "$work/$r" || exit 1
done

trap wine_stop EXIT
wine_start "$work/wine" || { echo "FAIL: Wine prefix could not be created"; exit 1; }
drive=$WINEPREFIX/drive_c
declare -A folder=([x64]="Program Files" [x86]="Program Files (x86)")
declare -A cscript=([x64]=cscript [x86]='C:\windows\syswow64\cscript.exe')
declare -A reg=([x64]=reg [x86]='C:\windows\syswow64\reg.exe')

msi_path() { wine_path "${dist[$1]}/pelmora-${version[$1]}-$2.msi"; }
msi() { # msi /i|/x old|new ARCH: msiexec quiet, its log in $logs
    wine_run 300 msiexec "$1" "$(msi_path "$2" "$3")" /qn /l*v "$(wine_path "$logs/msiexec-$2-$3${1//\//-}.log")"
}

# The example VBScript under the host of the architecture: the four methods answer.
works() {
    local out
    out=$(wine_run 60 "${cscript[$1]}" //nologo "$(wine_path "$root/examples/vbscript/pelmora.vbs")" | tr -d '\r')
    echo "$out"
    grep -q '^custcentukn 48\.4398$' <<<"$out" && grep -q '^custcentau 46\.6843$' <<<"$out"
}

# The Pelmora products Windows Installer has, as "code version name" lines.
products() {
    wine_run 60 cscript //nologo "$(wine_path "$here/products.vbs")" Pelmora | tr -d '\r' | LC_ALL=C sort
}

# The registration the control's keys show in the architecture's view.
registration() {
    local clsid
    clsid=$(awk 'match($0, /uuid\([0-9A-Fa-f-]+\)/) { u = substr($0, RSTART + 5, RLENGTH - 6) }
                 $1 == "coclass" && $2 ~ /^Pelmora/ { print toupper(u); exit }' "$root/interface/pelmora.idl")
    wine_run 60 "${reg[$1]}" query "HKCR\\CLSID\\{$clsid}" /s | tr -d '\r'
    wine_run 60 "${reg[$1]}" query 'HKCR\Pelmora.Pelmora' /s | tr -d '\r'
}

# installed_is <old|new> <arch>: exactly that release's product of the architecture, and its files.
installed_is() {
    local r=$1 a=$2 bad=0 list f
    list=$(products)
    echo "$list"
    [ "$(grep -c " (${a})\$" <<<"$list")" -eq 1 ] || { echo "not one Pelmora ($a) product"; bad=1; }
    grep -q " ${version[$r]}\.0 Pelmora ${version[$r]} (${a})\$" <<<"$list" ||
        { echo "Pelmora ${version[$r]} ($a) is not the one installed"; bad=1; }
    for f in pelmora.dll pelmora.tlb; do
        cmp "$drive/${folder[$a]}/Pelmora/$f" "$work/$r/$a/$f" || { echo "$f is not the ${version[$r]} one"; bad=1; }
    done
    diff <(cd "$drive/${folder[$a]}/Pelmora" && ls) <(printf '%s\n' LICENSE NOTICE README.txt pelmora.dll pelmora.tlb) ||
        { echo "other files in the install folder"; bad=1; }
    return $bad
}

# Our keys and files anywhere in the prefix, and the installer's own records.
nothing_left() {
    local found
    wine_stop
    found=$(grep -i -n -F -e 'Pelmora' "$WINEPREFIX/system.reg" "$WINEPREFIX/user.reg"; cd "$drive" && find . -iname '*pelmora*')
    [ -z "$found" ] || { echo "left behind:"; echo "$found"; return 1; }
}

# The old MSI over the new: msiexec fails with ERROR_INSTALL_FAILURE (1603, which a Linux exit
# status keeps as 1603 mod 256), its log shows the newer product found and the launch conditions
# failing, and the condition that failed is the one whose message says why. (With /qn the message
# is shown to no one; Wine's log does not copy it.)
refused() {
    local a=$1 rc log=$logs/msiexec-old-$1-i.log newer
    msi /i old "$a"
    rc=$?
    [ $rc -eq $((1603 % 256)) ] || { echo "msiexec exit status $rc, not 1603"; return 1; }
    newer=$(msiinfo export "${dist[new]}/pelmora-${version[new]}-$a.msi" Property | tr -d '\r' | awk '$1 == "ProductCode" { print $2 }')
    grep -a "WIX_DOWNGRADE_DETECTED = $newer" "$log" || { echo "the log does not show ${version[new]} ($newer) found"; return 1; }
    grep -a 'Action ended .*LaunchConditions\. Return value [^1]' "$log" || { echo "no failed launch condition in the log"; return 1; }
    msiinfo export "${dist[old]}/pelmora-${version[old]}-$a.msi" LaunchCondition | tr -d '\r' |
        grep "^NOT WIX_DOWNGRADE_DETECTED	A newer version of Pelmora ($a) is already installed\. To install ${version[old]}, remove the newer version first\.\$"
}

same_registration() { diff -u "$logs/registration-$1-old.txt" <(registration "$1"); }

# The architectures both releases have MSIs of (both, unless made with --arch).
archs=()
for a in x64 x86; do
    [ -f "$old_dist/pelmora-${version[old]}-$a.msi" ] && [ -f "$new_dist/pelmora-${version[new]}-$a.msi" ] && archs+=("$a")
done
[ ${#archs[@]} -gt 0 ] || { echo "FAIL: no MSI in both releases"; exit 1; }
[ ${#archs[@]} -eq 2 ] || echo "NOTE: upgrade checked for ${archs[*]} only: the releases have no other MSIs"
for a in "${archs[@]}"; do
    check "$a: msiexec /i pelmora-${version[old]}-$a.msi /qn" msi /i old $a
    check "$a: ${version[old]} installed and working" installed_is old $a
    check "$a: ${version[old]}: the example VBScript" works $a
    registration $a >"$logs/registration-$a-old.txt"
    check "$a: msiexec /i pelmora-${version[new]}-$a.msi /qn over ${version[old]}" msi /i new $a
    check "$a: upgraded: ${version[new]} the only Pelmora ($a) product, its files in place of the old" installed_is new $a
    check "$a: upgraded: the registration is the same as after the first install, once" same_registration $a
    check "$a: ${version[new]}: the example VBScript" works $a
    check "$a: msiexec /i pelmora-${version[old]}-$a.msi over ${version[new]} is refused, with its message" refused $a
    check "$a: after the refused downgrade ${version[new]} is still installed and works" installed_is new $a
    check "$a: msiexec /x pelmora-${version[new]}-$a.msi /qn" msi /x new $a
    check "$a: removed: no key, no file, no product" nothing_left
done

wine_stop
trap - EXIT
echo "upgrade checks: $failures failed, $((SECONDS - started)) s"
[ "$failures" -eq 0 ]
