#!/usr/bin/env bash
# The Windows checks of pelmora.dll, on the two mingw-w64 build trees:
#   tests/wine/run-checks.sh <x86-64 build dir> <i686 build dir>
# Each DLL is checked as a file (machine, exports, imports), then registered and used under Wine
# in a private prefix of its own architecture: the x86-64 one under wine64 in a win64 prefix, the
# i686 one under Wine's 32-bit loader in a WINEARCH=win32 prefix. Every PASS/FAIL line starts with
# the architecture; the script exits non-zero when any check fails. On a machine whose kernel runs
# no 32-bit programs the i686 DLL is checked as a file only, and a SKIP line says so.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=wine-env.sh
. "$here/wine-env.sh"

if [ $# -ne 2 ]; then
    echo "usage: $0 <x86-64 build dir> <i686 build dir>" >&2
    exit 2
fi
b64=$(realpath "$1")
b32=$(realpath "$2")
for b in "$b64" "$b32"; do
    [ -f "$b/tests/wine/wine-targets.sh" ] || { echo "FAIL: $b is no configured mingw-w64 build" >&2; exit 1; }
done

# What each build produced (written by tests/wine/CMakeLists.txt).
declare -A build dll objdump
for b in "$b64" "$b32"; do
    unset pelmora_dll pelmora_objdump pelmora_arch
    # shellcheck disable=SC1091
    . "$b/tests/wine/wine-targets.sh"
    build[$pelmora_arch]=$b
    dll[$pelmora_arch]=$pelmora_dll
    objdump[$pelmora_arch]=$pelmora_objdump
done
[ "${build[win64]:-}" = "$b64" ] || { echo "FAIL: $b64 is not the x86-64 build" >&2; exit 1; }
[ "${build[win32]:-}" = "$b32" ] || { echo "FAIL: $b32 is not the i686 build" >&2; exit 1; }

logs="$b64/wine/logs"
rm -rf "$logs"
mkdir -p "$logs"
failures=0
started=$SECONDS


# --- Checks of the files, no Wine needed --------------------------------------------------------

exports_are_the_four_entry_points() {
    local got
    got=$("$2" -p "$1" | awk '/^\[Ordinal\/Name Pointer\] Table/ { f = 1; next }
                              f && /^\t\[/ { print $NF; next }
                              f { f = 0 }' | sort | tr '\n' ' ')
    echo "exports: $got"
    [ "$got" = "DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer " ]
}

# No mingw runtime DLL (libgcc_s, libstdc++, libwinpthread): only DLLs every Windows has.
imports_only_system_dlls() {
    local name bad=0
    while read -r name; do
        echo "imports $name"
        case "${name,,}" in
            kernel32.dll | user32.dll | gdi32.dll | advapi32.dll | ole32.dll | oleaut32.dll | \
                msvcrt.dll | ucrtbase.dll | api-ms-win-*.dll | comctl32.dll | uxtheme.dll | \
                shell32.dll | shlwapi.dll | version.dll | ntdll.dll) ;;
            *) echo "  not a system DLL: $name"; bad=1 ;;
        esac
    done < <("$2" -p "$1" | awk '/DLL Name:/ { print $3 }')
    return $bad
}

machine_is() {
    "$2" -f "$1" | tee /dev/stderr | grep -q "file format $3\$"
}

for a in win64 win32; do
    format=pei-x86-64
    [ $a = win32 ] && format=pei-i386
    check "$a: ${dll[$a]##*/} is a $format DLL" machine_is "${dll[$a]}" "${objdump[$a]}" $format
    check "$a: exports exactly the four entry points, undecorated" \
        exports_are_the_four_entry_points "${dll[$a]}" "${objdump[$a]}"
    check "$a: imports only system DLLs" imports_only_system_dlls "${dll[$a]}" "${objdump[$a]}"
done

# --- Wine: the same checks on each architecture, each in its own prefix ------------------------

# The identifiers the IDL gives the class, its interfaces and its library, and the ProgIDs.
idl_uuid() {
    awk -v kind="$1" -v name="$2" '
        match($0, /uuid\([0-9A-Fa-f-]+\)/) { last = substr($0, RSTART + 5, RLENGTH - 6) }
        $1 == kind && ($2 == name || $2 == name "{") { print toupper(last); exit }' "$pelmora_idl"
}
# shellcheck disable=SC1091
. "$b64/tests/wine/wine-targets.sh"
clsid="{$(idl_uuid coclass Pelmora)}"
libid="{$(idl_uuid library PelmoraLib)}"
iid="{$(idl_uuid interface _Pelmora)}"
diid="{$(idl_uuid dispinterface __Pelmora)}"
# The names scripts and containers create the control by.
progid=Pelmora.Pelmora.1
vi_progid=Pelmora.Pelmora
echo "from the IDL: class $clsid, library $libid, interfaces $iid $diid"

# reg query <key> /s, flattened to "KEY<TAB>NAME<TAB>TYPE<TAB>DATA" lines (names as reg prints
# them), and one "KEY<TAB><TAB><TAB>" line for each key, values or not.
reg_dump() {
    wine_run 60 reg query "$1" /s | tr -d '\r' | awk '
        /^HKEY_/ { key = toupper($0); print key "\t\t\t"; next }
        /^    / {
            line = substr($0, 5); i = index(line, "    REG_")
            rest = substr(line, i + 4); j = index(rest, "    ")
            type = j ? substr(rest, 1, j - 1) : rest
            data = j ? substr(rest, j + 4) : ""
            print key "\t" substr(line, 1, i - 1) "\t" type "\t" data }'
}

# The keys registration writes, by their roots; unregistration must remove every one.
roots=("HKCR\\CLSID\\$clsid" "HKCR\\$progid" "HKCR\\$vi_progid" "HKCR\\TypeLib\\$libid"
       "HKCR\\Interface\\$iid" "HKCR\\Interface\\$diid")

# Every expected "key|value name|data" ("(Default)" is the key's own value, no name only asks for
# the key; GUIDs and paths compare without regard to case, as Windows does). The type library is
# registered for the DLL's own architecture ($arch: win64 or win32).
expected_registry() {
    local c="HKCR\\CLSID\\$clsid"
    cat <<EOT
$c|(Default)|Pelmora
$c\\InprocServer32|(Default)|$dll_win
$c\\InprocServer32|ThreadingModel|Apartment
$c\\ProgID|(Default)|$progid
$c\\VersionIndependentProgID|(Default)|$vi_progid
$c\\Control||
$c\\MiscStatus|(Default)|0
$c\\MiscStatus\\1|(Default)|131473
$c\\ToolboxBitmap32|(Default)|$dll_win, 30000
$c\\TypeLib|(Default)|$libid
$c\\Version|(Default)|1.0
HKCR\\$progid|(Default)|Pelmora
HKCR\\$progid\\CLSID|(Default)|$clsid
HKCR\\$vi_progid|(Default)|Pelmora
HKCR\\$vi_progid\\CLSID|(Default)|$clsid
HKCR\\$vi_progid\\CurVer|(Default)|$progid
HKCR\\TypeLib\\$libid\\1.0\\409\\$arch|(Default)|$dll_win
HKCR\\Interface\\$iid|(Default)|_Pelmora
HKCR\\Interface\\$iid\\TypeLib|(Default)|$libid
HKCR\\Interface\\$diid|(Default)|__Pelmora
HKCR\\Interface\\$diid\\TypeLib|(Default)|$libid
EOT
}

registry_holds_every_key_and_value() {
    local dump="$logs/registry-$arch.txt" root key name want got bad=0
    : >"$dump"
    for root in "${roots[@]}"; do
        reg_dump "$root" >>"$dump" || { echo "missing key $root"; bad=1; }
    done
    sed 's/^/  /' "$dump"
    while IFS='|' read -r key name want; do
        key=${key/#HKCR/HKEY_CLASSES_ROOT}
        key=${key^^}
        if [ -z "$name" ]; then
            if grep -q -F -x -e "$key" < <(cut -f1 "$dump"); then echo "ok   $key"; else echo "MISSING key $key"; bad=1; fi
            continue
        fi
        # Through the environment: awk -v would read the backslashes as escapes.
        got=$(k=$key n=$name awk -F '\t' '$1 == ENVIRON["k"] && toupper($2) == toupper(ENVIRON["n"]) { print $4; f = 1 }
                                          END { exit !f }' "$dump") || {
            echo "MISSING $key [$name]"; bad=1; continue; }
        if [ "${got,,}" = "${want,,}" ]; then
            echo "ok   $key [$name] = $got"
        else
            echo "WRONG $key [$name] = '$got', expected '$want'"
            bad=1
        fi
    done < <(expected_registry)
    return $bad
}

registry_holds_none_of_the_keys() {
    local root bad=0
    for root in "${roots[@]}"; do
        if wine_run 60 reg query "$root" >/dev/null 2>&1; then echo "still there: $root"; bad=1; else echo "gone: $root"; fi
    done
    return $bad
}

# The demo host answers the host's script test here as it does on Linux (the test program computes
# the expected numbers with the calculators built for this architecture and C runtime).
host_script_test() {
    [ -n "${pelmora_host:-}" ] && [ -n "${pelmora_host_test:-}" ] || { echo "no demo host in this build"; return 1; }
    PELMORA_HOST=$(wine_path "$pelmora_host") wine_run 300 "$pelmora_host_test" --gtest_brief=1
}

# pelmora-host.exe --screenshot: prints what the result label shows and draws the form (with no
# display): its lists' pale blue, the result's pale red and black text are on the picture.
host_screenshot() {
    local shot="$logs/pelmora-host-$arch.png" shown
    rm -f "$shot"
    shown=$(wine_run 120 "$pelmora_host" --screenshot "$(wine_path "$shot")" | tr -d '\r') || return 1
    echo "shows: $shown"
    [ "$shown" = 56 ] || return 1
    identify "$shot" || return 1
    for colour in '#C0C0FF' '#FFC0C0' '#000000'; do
        convert "$shot" -unique-colors txt:- | grep -qi "$colour" || { echo "no $colour on the picture"; return 1; }
    done
}

for arch in win64 win32; do
    begun=$SECONDS
    unset pelmora_host pelmora_host_test
    # shellcheck disable=SC1091
    . "${build[$arch]}/tests/wine/wine-targets.sh"
    if [ $arch = win32 ] && ! wine_runs_win32; then
        echo "SKIP: win32: the checks under Wine (the i686 DLL was built and checked as a file above)"
        continue
    fi
    trap wine_stop EXIT
    if ! wine_start "${build[$arch]}/wine" "$arch" || ! wine_headless; then
        echo "FAIL: $arch: Wine prefix could not be created"
        failures=$((failures + 1))
        continue
    fi
    echo "$arch: wine prefix ready after $((SECONDS - begun)) s ($WINE)"
    dll_win=$(wine_path "${dll[$arch]}")

    check "$arch: type library, toolbox bitmap and version block in the resources" \
        wine_run 120 "$pelmora_check_resources" "$dll_win" "$arch" --gtest_brief=1
    check "$arch: regsvr32 registers pelmora.dll" wine_run 120 regsvr32 /s "$dll_win"
    check "$arch: the registry holds every key and value of the class, its ProgIDs and type library" \
        registry_holds_every_key_and_value
    check "$arch: LoadRegTypeLib and LoadTypeLibEx read the control class, flags, dispids and parameters" \
        wine_run 120 "$pelmora_check_typelib" "$dll_win" --gtest_brief=1
    for suite in $pelmora_suites; do
        check "$arch: suite ${suite##*/} under Wine" wine_run 600 "$suite" --gtest_brief=1
    done
    check "$arch: pelmora-host.exe answers the demo host's script test" host_script_test
    check "$arch: pelmora-host.exe --screenshot draws the form and prints 56" host_screenshot
    check "$arch: regsvr32 /u unregisters pelmora.dll" wine_run 120 regsvr32 /u /s "$dll_win"
    check "$arch: no key of the class, its ProgIDs or type library is left" registry_holds_none_of_the_keys

    wine_stop
    trap - EXIT
    echo "$arch: windows checks took $((SECONDS - begun)) s"
done

echo "windows checks: $failures failed, $((SECONDS - started)) s"
[ "$failures" -eq 0 ]
