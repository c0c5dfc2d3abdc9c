#!/usr/bin/env bash
# The Debian package of the Linux build:
#   packaging/deb.sh BUILD_TREE OUTDIR
# configures BUILD_TREE when it is not there (the release preset for /usr, without the tests, the
# benchmarks and the Qt backend: the package needs nothing of Qt), builds it, installs it with
# `cmake --install --strip` into a staging root and makes OUTDIR/pelmora_<version>_<arch>.deb with
# dpkg-deb: the command-line tool, the libraries, their headers, the CMake package Pelmora, the
# type library and the Python module for Debian's python3. Depends: the shared libraries' packages
# as dpkg-shlibdeps finds them, the python3 the module was built for, and python3-numpy.
# Files are dated by SOURCE_DATE_EPOCH (default: the last commit's time) and owned by root.
set -euo pipefail
cd "$(dirname "$0")/.."
[ $# -eq 2 ] || { echo "usage: $0 BUILD_TREE OUTDIR" >&2; exit 2; }
tree=$(realpath -m "$1")
out=$(realpath -m "$2")
: "${SOURCE_DATE_EPOCH:=$(git log -1 --format=%ct)}"
export SOURCE_DATE_EPOCH

if [ ! -f "$tree/build.ninja" ]; then
  cmake --preset release -B "$tree" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DPELMORA_BUILD_TESTS=OFF -DPELMORA_BUILD_BENCH=OFF -DPELMORA_WITH_QT=OFF \
    -DPython3_EXECUTABLE=/usr/bin/python3 -DPELMORA_PYTHON_INSTALL_DIR=lib/python3/dist-packages >/dev/null
fi
cmake --build "$tree" -j "$(nproc)" >/dev/null

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$tree/CMakeCache.txt")
arch=$(dpkg --print-architecture)
python=$(/usr/bin/python3 -c 'import sys; print(f"{sys.version_info[0]}.{sys.version_info[1]}")')
stage=$tree/deb/root
rm -rf "$tree/deb"
mkdir -p "$stage/DEBIAN" "$out"
DESTDIR=$stage cmake --install "$tree" --strip >/dev/null
[ -d "$stage/usr/lib/python3/dist-packages/pelmora" ] || { echo "deb: the Python module was not installed" >&2; exit 1; }
[ -x "$stage/usr/bin/pelmora-centile" ] || { echo "deb: pelmora-centile was not installed" >&2; exit 1; }

# What the ELF files need from outside the package (libraries of the package itself are found in
# the staging root and need no entry).
mkdir -p "$tree/deb/debian"
printf 'Source: pelmora\n\nPackage: pelmora\nArchitecture: any\n' >"$tree/deb/debian/control"
mapfile -t elves < <(find "$stage/usr" -type f -exec sh -c 'head -c4 "$1" | grep -q "ELF"' _ {} \; -print | LC_ALL=C sort)
shlibs=$(cd "$tree/deb" && dpkg-shlibdeps -O --ignore-missing-info -l"$stage/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)" \
  "${elves[@]}" 2>/dev/null | sed -n 's/^shlibs:Depends=//p')
[ -n "$shlibs" ] || { echo "deb: dpkg-shlibdeps found no dependencies" >&2; exit 1; }
next=$(/usr/bin/python3 -c 'import sys; print(f"{sys.version_info[0]}.{sys.version_info[1] + 1}")')

find "$stage" -type d -exec chmod 755 {} +
(cd "$stage" && find usr -type f -print0 | LC_ALL=C sort -z | xargs -0 md5sum) >"$stage/DEBIAN/md5sums"
cat >"$stage/DEBIAN/control" <<CONTROL
Package: pelmora
Version: $version
Architecture: $arch
Maintainer: Pelmora developers <pelmora@users.noreply.invalid>
Installed-Size: $(du -sk --exclude=DEBIAN "$stage" | cut -f1)
Depends: $shlibs, python3 (>= $python), python3 (<< $next), python3-numpy
Section: science
Priority: optional
Description: customised birth-weight centiles
 Pelmora computes a baby's customised birth-weight centile against one of four
 reference populations (United Kingdom, Sweden, New Zealand, Australia).
 .
 This package holds the command-line tool pelmora-centile, the calculators'
 library with its C++ headers, the C interface libpelmora-centile, the control's
 libraries (headless form), the CMake package Pelmora, the type library and the
 Python module pelmora for python3.
CONTROL
# Python writes the module's byte code beside it when root imports it; the package removes that
# before its files go, as Debian's own Python packages do, so that removal leaves no folder behind.
cat >"$stage/DEBIAN/prerm" <<'PRERM'
#!/bin/sh
set -e
rm -rf /usr/lib/python3/dist-packages/pelmora/__pycache__
PRERM
chmod 755 "$stage/DEBIAN/prerm"
find "$stage" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
deb=$out/pelmora_${version}_$arch.deb
dpkg-deb --root-owner-group -Zxz --build "$stage" "$deb" >/dev/null
echo "$deb"
