#!/usr/bin/env bash
# The Windows release as a host developer takes it, under Wine:
#   tests/release/run.sh [OUTDIR]      (OUTDIR defaults to build/dist)
# Makes the release with scripts/release.sh (from the mingw-w64 builds already there), then:
# - the zip's listing and contents: every file that should ship, nothing else, no build path;
# - the examples compiled against the zip's include\ alone (mingw-w64, both architectures);
# - in one fresh 64-bit prefix, nothing registered: the registration-free client of each
#   architecture creates the control by CLSID and by ProgID and calls the four methods (and fails
#   without its application manifest);
# - in the same prefix, each MSI installed with msiexec /i /qn, used by the example VBScript and
#   the script client of tests/activex under the 64-bit or 32-bit script host and by the early-bound
#   example, both MSIs side by side, removed with msiexec /x /qn leaving no key and no file; then
#   the registry each MSI wrote compared with what regsvr32 writes for the same file at the same
#   path, in the view the MSI writes;
# then the release built again from a copy of the sources in another folder and compared byte for
# byte (reproducible.sh), a later version of the same sources installed over this one and refused
# under it, on both architectures (upgrade.sh), a release signed with a test certificate
# (signing.sh) and the Debian package in a fresh Debian 12 root (deb.sh, needs root).
# On a machine whose kernel runs no 32-bit programs, Wine cannot register or run the x86 files: the
# release is made for x64 alone and a SKIP line says what was not checked.
# Prints one PASS/FAIL line per check and exits non-zero when any check fails.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
# shellcheck source=../wine/wine-env.sh
. "$root/tests/wine/wine-env.sh"

out=$(realpath -m "${1:-$root/build/dist}")
started=$SECONDS
echo "=== wine: the Windows release, zip and MSIs ===" >&2
archs=(x64 x86) release_options=()
if ! wine_runs_win32; then
    archs=(x64) release_options=(--arch x64)
    echo "SKIP: x86: its release files (DLL, pelmora-host.exe, MSI) are not made, installed, upgraded or signed here"
fi
has_x86() { [ ${#archs[@]} -eq 2 ]; }
"$root/scripts/release.sh" ${release_options[@]+"${release_options[@]}"} "$out" || { echo "FAIL: scripts/release.sh"; exit 1; }
echo "release made in $((SECONDS - started)) s"

. "$root/build/mingw64/packaging/release-info.sh"
version=$release_version
quad=$release_version_quad
release=pelmora-$version
declare -A cxx
cxx[x64]=$release_cxx
. "$root/build/mingw32/packaging/release-info.sh"
cxx[x86]=$release_cxx

work=$out/test
logs=$work/logs
unz=$work/zip
rm -rf "$work"
mkdir -p "$logs" "$unz" "$work/bin"
failures=0

# The control's identifiers, from the IDL (not from the registration the release captured).
idl_uuid() {
    awk -v kind="$1" -v name="$2" '
        match($0, /uuid\([0-9A-Fa-f-]+\)/) { last = substr($0, RSTART + 5, RLENGTH - 6) }
        $1 == kind && ($2 == name || $2 == name "{") { print toupper(last); exit }' "$root/interface/pelmora.idl"
}
clsid="{$(idl_uuid coclass Pelmora)}"
libid="{$(idl_uuid library PelmoraLib)}"
iid="{$(idl_uuid interface _Pelmora)}"
diid="{$(idl_uuid dispinterface __Pelmora)}"
roots=("HKCR\\CLSID\\$clsid" "HKCR\\Pelmora.Pelmora" "HKCR\\Pelmora.Pelmora.1" "HKCR\\TypeLib\\$libid"
       "HKCR\\Interface\\$iid" "HKCR\\Interface\\$diid")

# The centiles of the examples' inputs (3500 g, 280 days, 64 kg, 163 cm, male, group 1, parity 0),
# as the calculators give them with glibc. Compared to 10 decimals: Windows' C runtime may round
# the last bit of exp otherwise (the VBScript example prints 4).
expected_centiles="custcentukn 48.43984325029622
custcentswe 40.930533083389356
custcentnz 46.90491450084019
custcentau 46.684319241786355"

# --- the zip -------------------------------------------------------------------------------------

zip_lists_what_ships() {
    local want got
    want=$(LC_ALL=C sort <<EOF
LICENSE
NOTICE
README.txt
examples/cpp/early_bound.cpp
examples/regfree/regfree_client.cpp
examples/regfree/regfree_client.exe.manifest
examples/vba/PelmoraExample.bas
examples/vbscript/pelmora.vbs
include/pelmora.h
include/pelmora_i.c
$(for a in "${archs[@]}"; do printf '%s\n' "$a/Pelmora.Control.manifest" "$a/pelmora-host.exe" "$a/pelmora.dll" "$a/pelmora.tlb"; done)
EOF
)
    got=$(unzip -Z1 "$out/$release-windows.zip" | LC_ALL=C sort)
    unzip -Z -l "$out/$release-windows.zip"
    diff <(echo "$want") <(echo "$got")
}

zip_contents_are_sound() {
    local bad=0 f
    unzip -q -o "$out/$release-windows.zip" -d "$unz" || return 1
    for a in "${archs[@]}"; do
        local format=pei-x86-64 objdump=x86_64-w64-mingw32-objdump
        [ $a = x86 ] && format=pei-i386 objdump=i686-w64-mingw32-objdump
        for f in pelmora.dll pelmora-host.exe; do
            $objdump -f "$unz/$a/$f" | grep -q "file format $format\$" || { echo "$a/$f is not $format"; bad=1; }
            if $objdump -h "$unz/$a/$f" | grep -q '\.debug'; then echo "$a/$f has debug sections"; bad=1; fi
            if $objdump -t "$unz/$a/$f" | grep -q '^\['; then echo "$a/$f has a symbol table"; bad=1; fi
        done
        grep -q "version=\"$quad\"" "$unz/$a/Pelmora.Control.manifest" || { echo "$a manifest lacks version $quad"; bad=1; }
    done
    for f in $(cd "$unz" && find . -type f ! -name '*.dll' ! -name '*.exe' ! -name '*.tlb'); do
        # Texts only: no build path, no placeholder left, Windows line ends, manifests that parse.
        if grep -q -e "$root" -e '/build/' "$unz/$f"; then echo "$f names a build path"; bad=1; fi
        if grep -q '@[A-Z_]*@' "$unz/$f"; then echo "$f has a placeholder left"; bad=1; fi
        if grep -q -v $'\r$' "$unz/$f"; then echo "$f has a line without CR LF"; bad=1; fi
        case $f in *.manifest)
            /usr/bin/python3 -c 'import sys, xml.dom.minidom; xml.dom.minidom.parse(sys.argv[1])' "$unz/$f" ||
                { echo "$f is no XML"; bad=1; } ;;
        esac
    done
    grep -q "Pelmora $version for Windows" "$unz/README.txt" || { echo "README.txt lacks the version"; bad=1; }
    return $bad
}

check "zip: $release-windows.zip holds exactly the files that ship" zip_lists_what_ships
check "zip: stripped DLLs and pelmora-host.exe (no symbols, no debug sections) of each architecture, manifests of version $quad, texts with no build path" \
    zip_contents_are_sound

# --- the examples, compiled against the zip alone --------------------------------------------------

compile_examples() {
    local a pids=() rc=0
    for a in x64 x86; do
        "${cxx[$a]}" -Wall -Wextra -Werror -I "$unz/include" "$unz/examples/cpp/early_bound.cpp" "$unz/include/pelmora_i.c" \
            -lole32 -loleaut32 -static -o "$work/bin/early_bound-$a.exe" &
        pids+=($!)
        mkdir -p "$work/regfree-$a"
        "${cxx[$a]}" -Wall -Wextra -Werror -I "$unz/include" "$unz/examples/regfree/regfree_client.cpp" \
            "$unz/include/pelmora_i.c" -lole32 -loleaut32 -luuid -static -o "$work/regfree-$a/regfree_client.exe" &
        pids+=($!)
    done
    for p in "${pids[@]}"; do wait "$p" || rc=1; done
    return $rc
}
check "examples: early_bound.cpp and regfree_client.cpp compile against the zip's include\\ (x64, x86)" compile_examples

# --- Wine ----------------------------------------------------------------------------------------

trap wine_stop EXIT
if ! wine_start "$work/wine"; then
    echo "FAIL: Wine prefix could not be created"
    exit 1
fi
echo "wine prefix ready after $((SECONDS - started)) s"
drive=$WINEPREFIX/drive_c
declare -A folder=([x64]="Program Files" [x86]="Program Files (x86)")
declare -A cscript=([x64]=cscript [x86]='C:\windows\syswow64\cscript.exe')
declare -A regsvr32=([x64]=regsvr32 [x86]='C:\windows\syswow64\regsvr32.exe')

# run <log> <command...>: the command's output, without CRs, in <log>; its exit status.
run() {
    local log=$1
    shift
    "$@" | tr -d '\r' >"$log"
}

# centiles_in <log> <digits> <prefix>: each "[PREFIX] METHOD VALUE" line of <log> whose method is
# expected must hold the expected value rounded to <digits> decimals, and every method must be there.
centiles_in() {
    cat "$1"
    awk -v digits="$2" -v prefix="$3" -v expected="$expected_centiles" '
        BEGIN { n = split(expected, lines, "\n"); for (i = 1; i <= n; i++) { split(lines[i], f, " "); want[f[1]] = f[2] } }
        {
            m = prefix == "" ? $1 : ($1 == prefix ? $2 : "")
            v = prefix == "" ? $2 : $3
            if (!(m in want)) next
            w = sprintf("%." digits "f", want[m])
            g = sprintf("%." digits "f", v)
            if (g == w) { seen[m]++ } else { print "WRONG " m ": " v ", expected " w; bad = 1 }
        }
        END { for (m in want) if (!seen[m]) { print "MISSING " m; bad = 1 } exit bad }' "$1"
}

regfree_client_runs() {
    local a=$1 log=$logs/regfree-$a.out
    cp "$unz/$a/pelmora.dll" "$unz/$a/Pelmora.Control.manifest" "$unz/examples/regfree/regfree_client.exe.manifest" \
        "$work/regfree-$a/"
    run "$log" wine_run 60 "$(wine_path "$work/regfree-$a/regfree_client.exe")" || { cat "$log"; return 1; }
    centiles_in "$log" 10 clsid && centiles_in "$log" 10 progid >/dev/null
}

# Without the application manifest the same program finds no class: the manifests did the work.
regfree_client_fails_without_its_manifest() {
    local a=$1 output
    mv "$work/regfree-$a/regfree_client.exe.manifest" "$work/regfree-$a/manifest.off"
    output=$(wine_run 60 "$(wine_path "$work/regfree-$a/regfree_client.exe")" | tr -d '\r')
    local rc=$?
    mv "$work/regfree-$a/manifest.off" "$work/regfree-$a/regfree_client.exe.manifest"
    echo "$output"
    [ $rc -ne 0 ] && grep -q 'CoCreateInstance(CLSID_Pelmora): 0x80040154' <<<"$output"
}

# Our keys and files anywhere in the prefix: any view, any hive, the installer's own records.
traces() {
    wine_stop
    grep -i -n -F -e "$clsid" -e "$libid" -e "$iid" -e "$diid" -e 'Pelmora' \
        "$WINEPREFIX/system.reg" "$WINEPREFIX/user.reg" "$WINEPREFIX/userdef.reg"
    (cd "$drive" && find . -iname '*pelmora*')
}
nothing_left() {
    local found
    found=$(traces)
    [ -z "$found" ] || { echo "left behind:"; echo "$found"; return 1; }
}

for a in "${archs[@]}"; do
    check "$a: registration-free: regfree_client.exe by CLSID and by ProgID, the four methods, nothing registered" \
        regfree_client_runs $a
    check "$a: registration-free: without its application manifest the client finds no class" \
        regfree_client_fails_without_its_manifest $a
done
check "registration-free: no key and no file of the control in the prefix" nothing_left

# reg query of every root in one view, as a host of that bitness sees it (the 64-bit or the 32-bit
# reg.exe), flattened to "KEY<TAB>NAME<TAB>TYPE<TAB>DATA" lines (one "KEY" line per key), lower
# case: keys and names compare without regard to case, as Windows does.
declare -A reg=([64]=reg [32]='C:\windows\syswow64\reg.exe')
view_dump() {
    local view=$1 r
    for r in "${roots[@]}"; do
        wine_run 60 "${reg[$view]}" query "$r" /s 2>/dev/null | tr -d '\r' | awk '
            /^HKEY_/ { key = $0; print key; next }
            /^    / {
                line = substr($0, 5); i = index(line, "    REG_")
                rest = substr(line, i + 4); j = index(rest, "    ")
                print key "\t" substr(line, 1, i - 1) "\t" (j ? substr(rest, 1, j - 1) : rest) "\t" (j ? substr(rest, j + 4) : "") }'
    done | tr '[:upper:]' '[:lower:]' | LC_ALL=C sort
}
# The views an MSI writes: the 64-bit MSI both (its own view, and the interfaces in the 32-bit view
# as regsvr32 writes them), the 32-bit MSI the 32-bit view.
declare -A views=([x64]="64 32" [x86]="32")
dump_views() {
    local v
    for v in ${views[$1]}; do view_dump "$v" | sed "s/^/$v /"; done
}

installed() {
    local a=$1 f bad=0
    for f in pelmora.dll pelmora.tlb README.txt LICENSE NOTICE; do
        [ -f "$drive/${folder[$a]}/Pelmora/$f" ] || { echo "missing C:\\${folder[$a]}\\Pelmora\\$f"; bad=1; }
    done
    cmp "$drive/${folder[$a]}/Pelmora/pelmora.dll" "$unz/$a/pelmora.dll" || bad=1
    dump_views $a >"$logs/msi-$a.reg"
    sed 's/^/  /' "$logs/msi-$a.reg"
    grep -q "inprocserver32	(default)	reg_sz	c:\\\\${folder[$a],,}\\\\pelmora\\\\pelmora.dll" "$logs/msi-$a.reg" ||
        { echo "no InprocServer32 naming the installed DLL in the ${views[$a]%% *}-bit view"; bad=1; }
    return $bad
}

vbscript_example() {
    local log=$logs/vbscript-$1.out
    run "$log" wine_run 60 "${cscript[$1]}" //nologo "$(wine_path "$unz/examples/vbscript/pelmora.vbs")" &&
        centiles_in "$log" 4 "" && grep -q '^gest after the call: 40 weeks$' "$log" &&
        grep -q '^missing height: empty result$' "$log" && grep -q '^bwt "abc": error 13 Type mismatch$' "$log"
}
script_client() {
    wine_run 120 "${cscript[$1]}" //nologo "$(wine_path "$root/tests/activex/client.vbs")" Pelmora.Pelmora | tail -n 3
}
early_bound_example() {
    local log=$logs/early-bound-$1.out
    run "$log" wine_run 60 "$(wine_path "$work/bin/early_bound-$1.exe")" && centiles_in "$log" 10 "" &&
        grep -q '^missing height: empty result$' "$log" && grep -q '^failed: 0x800a000d Type mismatch$' "$log"
}
msi() {
    wine_run 300 msiexec "$1" "$(wine_path "$out/$release-$2.msi")" /qn
}
folder_gone() {
    [ ! -e "$drive/${folder[$1]}/Pelmora" ] || { ls -la "$drive/${folder[$1]}/Pelmora"; return 1; }
}

use() {
    local a=$1 host="64-bit"
    [ $a = x86 ] && host="32-bit"
    check "$a: the example VBScript under the $host cscript: the four methods by ProgID" vbscript_example $a
    check "$a: tests/activex/client.vbs under the $host cscript (write-backs, errors)" script_client $a
    check "$a: the early-bound C++ example" early_bound_example $a
}

check "x64: msiexec /i $release-x64.msi /qn" msi /i x64
check "x64: files in C:\\Program Files\\Pelmora, the class in the 64-bit view" installed x64
use x64
check "x64: msiexec /x $release-x64.msi /qn" msi /x x64
check "x64: removed: no key, no file, no folder" nothing_left

if has_x86; then
    check "x86: msiexec /i $release-x86.msi /qn" msi /i x86
    check "x86: files in C:\\Program Files (x86)\\Pelmora, the class in the 32-bit view" installed x86
    use x86
    check "x64 and x86 side by side: msiexec /i $release-x64.msi /qn" msi /i x64
    both_scripts() { vbscript_example x64 && vbscript_example x86; }
    check "side by side: the 64-bit and the 32-bit cscript each create their control" both_scripts
    check "side by side: msiexec /x $release-x86.msi /qn" msi /x x86
    check "side by side: the x86 folder is gone" folder_gone x86
    x64_left_whole() {
        vbscript_example x64 && wine_run 60 reg query "HKCR\\TypeLib\\$libid\\1.0\\409\\win64"
    }
    check "side by side: the x64 control still works, its type library still registered" x64_left_whole
    check "side by side: msiexec /x $release-x64.msi /qn" msi /x x64
    check "both removed: no key, no file, no folder" nothing_left
fi

# What regsvr32 writes for the same DLL at the same path, against what the MSI wrote.
same_as_regsvr32() {
    local a=$1 rc=0
    mkdir -p "$drive/${folder[$a]}/Pelmora"
    cp "$unz/$a/pelmora.dll" "$drive/${folder[$a]}/Pelmora/"
    wine_run 120 "${regsvr32[$a]}" /s "C:\\${folder[$a]}\\Pelmora\\pelmora.dll" || { echo "regsvr32 failed"; return 1; }
    dump_views $a >"$logs/regsvr32-$a.reg"
    diff -u "$logs/regsvr32-$a.reg" "$logs/msi-$a.reg" || rc=1
    [ $rc -eq 0 ] && echo "$(wc -l <"$logs/msi-$a.reg") lines alike in the ${views[$a]} view(s)"
    wine_run 120 "${regsvr32[$a]}" /u /s "C:\\${folder[$a]}\\Pelmora\\pelmora.dll"
    rm -rf "$drive/${folder[$a]}/Pelmora"
    return $rc
}
for a in "${archs[@]}"; do
    check "$a: the MSI wrote the same keys and values as regsvr32 of the same DLL at the same path" same_as_regsvr32 $a
done

wine_stop
trap - EXIT
echo "release checks (zip and MSIs): $failures failed, $((SECONDS - started)) s"

# --- the same release again, a later one over it, a signed one, the Debian package -----------------

# timed <what> <command...>: the command, counted as one failure when it fails, and its time.
timed() {
    local what=$1 begun=$SECONDS
    shift
    "$@" || failures=$((failures + 1))
    echo "$what: $((SECONDS - begun)) s"
}
check_dir=$(realpath -m "$out/../release-check")
# A second build of the same sources in another folder, compared byte for byte.
timed "reproducibility" "$here/reproducible.sh" "$out" "$check_dir" ${release_options[@]+"${release_options[@]}"}
# The same sources as the next patch version, released from that second build's trees (which
# rebuilds the version block and links again), installed over this one and refused under it.
next=$(awk -F. '{ printf "%d.%d.%d", $1, $2, $3 + 1 }' <<<"$version")
later_release() {
    SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct) \
        "$check_dir/src/scripts/release.sh" --windows-only ${release_options[@]+"${release_options[@]}"} --builds "$check_dir/builds" --version "$next" "$check_dir/next"
}
timed "release $next" later_release
timed "upgrade $version -> $next" "$here/upgrade.sh" "$out" "$check_dir/next"
timed "signing" "$here/signing.sh" "$check_dir/signed" ${release_options[@]+"${release_options[@]}"}
timed "Debian package" "$here/deb.sh" "$(ls "$out"/pelmora_"$version"_*.deb)" "$check_dir/deb"

echo "release checks: $failures failed, $((SECONDS - started)) s"
[ "$failures" -eq 0 ]
