#!/usr/bin/env bash
# The Windows release, from the two mingw-w64 builds (made or brought up to date here):
#   scripts/release.sh [OUTDIR]        (OUTDIR defaults to build/dist)
# writes pelmora-<version>-windows.zip, pelmora-<version>-x64.msi and pelmora-<version>-x86.msi.
#
# The MSIs' registry rows are what DllRegisterServer writes, not a copy typed out: each DLL is
# registered with regsvr32 in a scratch Wine prefix (64-bit, with its 32-bit side), at the very
# path its MSI installs it to, and what the registration added below HKLM\Software\Classes is
# read from the prefix's registry file (packaging/pelmora_package.py regdiff). The assembly
# manifests for registration-free use are made from the same tables. Needs wixl, zip, Wine with
# its 32-bit part (scripts/setup.sh installs them).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$(realpath -m "${1:-build/dist}")
tool=(/usr/bin/python3 "$root/packaging/pelmora_package.py")
assembly=Pelmora.Control

for preset in mingw64 mingw32; do
  [ -f "build/$preset/build.ninja" ] || cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$(nproc)" >/dev/null
done

# What each build made (packaging/CMakeLists.txt writes release-info.sh).
declare -A dll tlb strip
for preset in mingw64 mingw32; do
  # shellcheck disable=SC1090
  . "build/$preset/packaging/release-info.sh"
  dll[$release_arch]=$release_dll
  tlb[$release_arch]=$release_tlb
  strip[$release_arch]=$release_strip
done
[ -n "${dll[x64]:-}" ] && [ -n "${dll[x86]:-}" ] || { echo "release: need the x64 and the x86 build" >&2; exit 1; }
version=$release_version
quad=$release_version_quad
include=$release_include
name=pelmora-$version

work=$out/work
stage=$work/zip
rm -rf "$out"
mkdir -p "$stage/include" "$stage/examples" "$work/capture"

# --- the files that ship -------------------------------------------------------------------------

for a in x64 x86; do
  mkdir -p "$stage/$a"
  "${strip[$a]}" --strip-all -o "$stage/$a/pelmora.dll" "${dll[$a]}"
  cp "${tlb[$a]}" "$stage/$a/pelmora.tlb"
done
cp "$include/pelmora.h" "$include/pelmora_i.c" "$stage/include/"
cp -r examples/. "$stage/examples/"
shopt -s nullglob
for f in "$stage"/examples/*/*.in; do
  sed -e "s/@VERSION_QUAD@/$quad/g" -e "s/@ASSEMBLY@/$assembly/g" "$f" >"${f%.in}"
  rm "$f"
done
shopt -u nullglob
sed -e "s/@VERSION@/$version/g" -e "s/@ASSEMBLY@/$assembly/g" packaging/README.txt.in >"$stage/README.txt"
cp LICENSE NOTICE "$stage/"
# Windows line ends for the texts (VBA imports a module only so).
find "$stage" -type f \( -name '*.txt' -o -name '*.vbs' -o -name '*.bas' -o -name '*.cpp' -o -name '*.h' -o -name '*.c' -o -name '*.manifest' \
  -o -name LICENSE -o -name NOTICE \) -exec sed -i 's/\r\?$/\r/' {} +

# --- the registration, as regsvr32 leaves it -----------------------------------------------------

# shellcheck source=../tests/wine/wine-env.sh
. tests/wine/wine-env.sh
trap wine_stop EXIT
wine_start "$work/wine" || { echo "release: no Wine prefix" >&2; exit 1; }
wine_stop
reg=$WINEPREFIX/system.reg
cp "$reg" "$work/capture/before.reg"
declare -A folder=([x64]="Program Files" [x86]="Program Files (x86)")
declare -A regsvr32=([x64]=regsvr32 [x86]='C:\windows\syswow64\regsvr32.exe')
[ -d "$WINEPREFIX/drive_c/windows/syswow64" ] || { echo "release: Wine has no 32-bit part (wine32)" >&2; exit 1; }
for a in x64 x86; do
  cp "$work/capture/before.reg" "$reg"  # each registration alone, in the registry of a fresh prefix
  mkdir -p "$WINEPREFIX/drive_c/${folder[$a]}/Pelmora"
  cp "$stage/$a/pelmora.dll" "$WINEPREFIX/drive_c/${folder[$a]}/Pelmora/"
  wine_run 120 "${regsvr32[$a]}" /s "C:\\${folder[$a]}\\Pelmora\\pelmora.dll" ||
    { echo "release: regsvr32 of the $a DLL failed" >&2; exit 1; }
  wine_stop
  cp "$reg" "$work/capture/after-$a.reg"
  "${tool[@]}" regdiff "$work/capture/before.reg" "$reg" >"$work/registration-$a.tsv"
  rm -rf "$WINEPREFIX/drive_c/${folder[$a]}/Pelmora"
done
trap - EXIT

# --- manifests, MSIs, zip ------------------------------------------------------------------------

for a in x64 x86; do
  other=x86
  [ $a = x86 ] && other=x64
  "${tool[@]}" manifest --arch $a --table "$work/registration-$a.tsv" --version "$quad" --name "$assembly" \
    >"$stage/$a/$assembly.manifest"
  "${tool[@]}" wxs --arch $a --own "$work/registration-$a.tsv" --other "$work/registration-$other.tsv" \
    --template packaging/pelmora.wxs.in --var "VERSION=$version" --var "VERSION_QUAD=$quad" --var "ARCH=$a" \
    --var "DLL=$a/pelmora.dll" --var "TLB=$a/pelmora.tlb" --var "README=README.txt" --var "LICENSE=LICENSE" \
    --var "NOTICE=NOTICE" >"$work/$name-$a.wxs"
  # wixl finds the files relative to the folder it runs in.
  (cd "$stage" && wixl -a $a -o "$out/$name-$a.msi" "$work/$name-$a.wxs")
done

# Every file dated by the last commit, so the same sources give the same zip.
stamp=$(git log -1 --format=%ct 2>/dev/null || date +%s)
find "$stage" -exec touch -h -d "@$stamp" {} +
(cd "$stage" && find . -type f | LC_ALL=C sort | sed 's|^\./||' | TZ=UTC zip -q -X -@ "$out/$name-windows.zip")

echo "release $version in $out:"
(cd "$out" && ls -l -- *.zip *.msi | awk '{ printf "  %9d  %s\n", $5, $NF }')
