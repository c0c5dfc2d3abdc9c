#!/usr/bin/env bash
# The release, every face in one folder:
#   scripts/release.sh [OPTIONS] [OUTDIR]        (OUTDIR defaults to build/dist)
# writes, from the two mingw-w64 builds and a Linux build (made or brought up to date here):
#   pelmora-<version>-windows.zip, pelmora-<version>-x64.msi, pelmora-<version>-x86.msi
#   pelmora_<version>_<arch>.deb       the Linux build as a Debian package (packaging/deb.sh)
#   the R source package, the npm package and the Python wheel, where their builds are part of
#   the sources (r/build.sh, web/build.sh, pip wheel of pyproject.toml)
#   RELEASE-NOTES.md                   this version's section of CHANGELOG.md
#   SHA256SUMS                         the checksums of all of them (sha256sum -c SHA256SUMS)
#
#   --sign CERT          Authenticode-sign both DLLs, both pelmora-host.exe and both MSIs with
#                        osslsigncode: CERT is a PKCS#12 file (.p12, .pfx) or a PEM certificate
#                        (with its chain) whose key is given by --key
#   --key KEY            the PEM private key of CERT
#   --pass-file FILE     the password of the key or the PKCS#12 file, read from FILE
#   --timestamp URL      an RFC 3161 time-stamping server to countersign with (repeatable)
#   --builds DIR         the folder of the build trees mingw64 and mingw32 (default build/); a tree
#                        not there is configured without the tests
#   --version X.Y.Z      build the Windows files as that version instead of the project's (the
#                        upgrade check makes a later release of the same sources so)
#   --windows-only       only the zip and the MSIs (and SHA256SUMS of them)
#   --arch x64|x86       the Windows files of that architecture only (a machine whose kernel runs
#                        no 32-bit programs has no Wine to register the x86 DLL with)
# Unsigned by default. Only what the release takes is built (the target pelmora_release).
#
# The same sources give the same bytes: every file is dated by SOURCE_DATE_EPOCH (default: the
# last commit's time), the linker writes no time stamp and the compiler no build folder (the
# mingw-w64 toolchain), wixl runs with its clock held at that time and the MSI's package code is
# made from the package's own bytes. Signatures carry the signing time, so a signed release is not.
#
# The MSIs' registry rows are what DllRegisterServer writes, not a copy typed out: each DLL is
# registered with regsvr32 in a scratch Wine prefix (64-bit, with its 32-bit side), at the very
# path its MSI installs it to, and what the registration added below HKLM\Software\Classes is
# read from the prefix's registry file (packaging/pelmora_package.py regdiff). The assembly
# manifests for registration-free use are made from the same tables. Each MSI removes an older
# version of its architecture when it installs (a major upgrade, one UpgradeCode per architecture)
# and refuses to replace a newer one. Needs wixl and msitools, faketime, zip, Wine with its 32-bit
# part, and osslsigncode to sign (scripts/setup.sh installs them).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
umask 022

usage() { sed -n '2,/^set -euo/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//' >&2; exit 2; }
sign_cert='' sign_key='' sign_pass='' timestamps=() builds=$root/build version_override='' out='' windows_only=''
archs=(x64 x86)
declare -A preset_of=([x64]=mingw64 [x86]=mingw32)
while (($#)); do
  case $1 in
    --sign) sign_cert=$(realpath "$2"); shift 2 ;;
    --key) sign_key=$(realpath "$2"); shift 2 ;;
    --pass-file) sign_pass=$(realpath "$2"); shift 2 ;;
    --timestamp) timestamps+=(-ts "$2"); shift 2 ;;
    --builds) builds=$(realpath -m "$2"); shift 2 ;;
    --version) version_override=$2; shift 2 ;;
    --windows-only) windows_only=1; shift ;;
    --arch) [ -n "${preset_of[$2]:-}" ] || usage; archs=("$2"); shift 2 ;;
    -h | --help) usage ;;
    -*) echo "release: unknown option $1" >&2; usage ;;
    *) [ -z "$out" ] || usage; out=$1; shift ;;
  esac
done
out=$(realpath -m "${out:-build/dist}")
if [ -n "$sign_cert" ]; then
  case $sign_cert in
    *.p12 | *.pfx) signer=(-pkcs12 "$sign_cert") ;;
    *) [ -n "$sign_key" ] || { echo "release: --sign with a PEM certificate needs --key" >&2; exit 2; }
       signer=(-certs "$sign_cert" -key "$sign_key") ;;
  esac
  [ -z "$sign_pass" ] || signer+=(-readpass "$sign_pass")
  command -v osslsigncode >/dev/null || { echo "release: signing needs osslsigncode" >&2; exit 1; }
fi
tool=(/usr/bin/python3 "$root/packaging/pelmora_package.py")
assembly=Pelmora.Control

# The time every file is dated by.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null) ||
    { echo "release: no git history; set SOURCE_DATE_EPOCH" >&2; exit 1; }
fi
stamp=$SOURCE_DATE_EPOCH
export SOURCE_DATE_EPOCH TZ=UTC

for a in "${archs[@]}"; do
  preset=${preset_of[$a]}
  tree=$builds/$preset
  if [ ! -f "$tree/build.ninja" ]; then
    cmake --preset "$preset" -B "$tree" -DPELMORA_BUILD_TESTS=OFF -DPELMORA_WINDOWS_VERSION="$version_override" >/dev/null
  elif [ "$(sed -n 's/^PELMORA_WINDOWS_VERSION:STRING=//p' "$tree/CMakeCache.txt")" != "$version_override" ]; then
    cmake "$tree" -DPELMORA_WINDOWS_VERSION="$version_override" >/dev/null
  fi
  cmake --build "$tree" -j "$(nproc)" --target pelmora_release >/dev/null
done

# What each build made (packaging/CMakeLists.txt writes release-info.sh).
declare -A dll tlb host strip
for a in "${archs[@]}"; do
  # shellcheck disable=SC1090
  . "$builds/${preset_of[$a]}/packaging/release-info.sh"
  dll[$release_arch]=$release_dll
  tlb[$release_arch]=$release_tlb
  host[$release_arch]=$release_host
  strip[$release_arch]=$release_strip
done
for a in "${archs[@]}"; do
  [ -n "${dll[$a]:-}" ] || { echo "release: the ${preset_of[$a]} build is not of $a" >&2; exit 1; }
done
version=$release_version
quad=$release_version_quad
include=$release_include
name=pelmora-$version

# sign FILE: Authenticode signature, when --sign was given.
sign() {
  [ -n "$sign_cert" ] || return 0
  osslsigncode sign "${signer[@]}" -h sha256 -n "Pelmora $version" \
    ${timestamps[@]+"${timestamps[@]}"} -in "$1" -out "$1.signed" >/dev/null ||
    { echo "release: signing $1 failed" >&2; exit 1; }
  mv "$1.signed" "$1"
}

work=$out/work
stage=$work/zip
rm -rf "$out"
mkdir -p "$stage/include" "$stage/examples" "$work/capture"

# --- the files that ship -------------------------------------------------------------------------

for a in "${archs[@]}"; do
  mkdir -p "$stage/$a"
  "${strip[$a]}" --strip-all -o "$stage/$a/pelmora.dll" "${dll[$a]}"
  "${strip[$a]}" --strip-all -o "$stage/$a/pelmora-host.exe" "${host[$a]}"
  sign "$stage/$a/pelmora.dll"
  sign "$stage/$a/pelmora-host.exe"
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
if [[ " ${archs[*]} " = *" x86 "* ]] && [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/regsvr32.exe" ]; then
  echo "release: Wine has no 32-bit part to register the x86 DLL with (Debian's wine32:i386, and a kernel that runs 32-bit programs); --arch x64 makes the x64 files alone" >&2
  exit 1
fi
for a in "${archs[@]}"; do
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

for a in "${archs[@]}"; do
  other=x86
  [ $a = x86 ] && other=x64
  [ -f "$work/registration-$other.tsv" ] || : >"$work/registration-$other.tsv"  # --arch: no other MSI
  "${tool[@]}" manifest --arch $a --table "$work/registration-$a.tsv" --version "$quad" --name "$assembly" \
    >"$stage/$a/$assembly.manifest"
  "${tool[@]}" wxs --arch $a --own "$work/registration-$a.tsv" --other "$work/registration-$other.tsv" \
    --template packaging/pelmora.wxs.in --var "VERSION=$version" --var "VERSION_QUAD=$quad" --var "ARCH=$a" \
    --var "DLL=$a/pelmora.dll" --var "TLB=$a/pelmora.tlb" --var "README=README.txt" --var "LICENSE=LICENSE" \
    --var "NOTICE=NOTICE" >"$work/$name-$a.wxs"
done

# Every file dated by the release's time stamp, so the same sources give the same zip and cabinets.
chmod -R u=rwX,go=rX "$stage"
find "$stage" -exec touch -h -d "@$stamp" {} +
for a in "${archs[@]}"; do
  msi=$out/$name-$a.msi
  # wixl finds the files relative to the folder it runs in; it dates the package by its clock,
  # held here at the time stamp, and draws a random package code, replaced by one made from the
  # package's bytes (with the code zeroed) so that a package of other contents gets another.
  (cd "$stage" && faketime -f "$(date -u -d "@$stamp" '+%Y-%m-%d %H:%M:%S')" wixl -a $a -o "$msi" "$work/$name-$a.wxs")
  mapfile -t summary < <(msiinfo suminfo "$msi" | sed -n -e 's/^Subject: //p' -e 's/^Author: //p' -e 's/^Template: //p')
  [ ${#summary[@]} -eq 3 ] || { echo "release: no summary information in $msi" >&2; exit 1; }
  msibuild "$msi" -s "${summary[@]}" "{00000000-0000-0000-0000-000000000000}"
  msibuild "$msi" -s "${summary[@]}" "{$("${tool[@]}" package-code "$msi")}"
  sign "$msi"
done

(cd "$stage" && find . -type f | LC_ALL=C sort | sed 's|^\./||' | TZ=UTC zip -q -X -@ "$out/$name-windows.zip")

# --- the other faces ------------------------------------------------------------------------------

if [ -z "$windows_only" ]; then
  [ "$version" = "$(sed -n 's/^project(pelmora VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)" ] ||
    { echo "release: --version is for the Windows files only (--windows-only)" >&2; exit 2; }
  packaging/deb.sh "$builds/deb" "$out" >/dev/null
  [ ! -x r/build.sh ] || r/build.sh "$work/r" >/dev/null
  [ ! -x web/build.sh ] || web/build.sh "$work/web" >/dev/null
  # The wheel as pip builds it from the source tree (offline, Debian's setuptools).
  [ ! -f pyproject.toml ] || /usr/bin/python3 -m pip wheel --no-build-isolation --no-deps --no-index -w "$work/wheel" . >/dev/null
  shopt -s nullglob
  for f in "$work"/r/pelmora_"$version".tar.gz "$work"/web/pelmora-"$version".tgz "$work"/wheel/pelmora-"$version"-*.whl; do
    cp "$f" "$out/"
  done
  shopt -u nullglob
  # The release notes: this version's section of the change log, which must be there.
  awk -v v="$version" '
    /^## \[/ { if (on) exit; on = index($0, "## [" v "]") == 1; if (on) { print "# Pelmora " substr($0, 4); next } }
    on' CHANGELOG.md >"$out/RELEASE-NOTES.md"
  [ -s "$out/RELEASE-NOTES.md" ] || { echo "release: CHANGELOG.md has no section ## [$version]" >&2; exit 1; }
fi
(cd "$out" && find . -maxdepth 1 -type f ! -name SHA256SUMS -printf '%f\n' | LC_ALL=C sort | xargs sha256sum >SHA256SUMS)

echo "release $version in $out:"
(cd "$out" && find . -maxdepth 1 -type f -printf '  %9s  %f\n' | LC_ALL=C sort -k2)
