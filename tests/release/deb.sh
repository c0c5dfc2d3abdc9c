#!/usr/bin/env bash
# The Debian package installed on a fresh Debian 12, as its user installs it:
#   tests/release/deb.sh DEB WORKDIR
# A minimal Debian 12 (bookworm) root is made with debootstrap from the machine's Debian mirror
# (kept as a tarball under WORKDIR/cache, so later runs unpack it instead), the package is
# installed there with `apt-get install ./pelmora_*.deb` (apt fetches what its Depends name), and
# inside the root the command-line tool and the Python module (Debian's python3) compute the
# example's centile; the CMake package and the headers are where find_package looks. Needs root
# (chroot) and debootstrap. Prints PASS/FAIL lines and exits non-zero when any check fails.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
. "$root/tests/wine/wine-env.sh"  # check

[ $# -eq 2 ] || { echo "usage: $0 DEB WORKDIR" >&2; exit 2; }
deb=$(realpath "$1")
work=$(realpath -m "$2")
logs=$work/logs
failures=0
started=$SECONDS
echo "=== the Debian package in a fresh Debian 12 root ===" >&2
[ "$(id -u)" -eq 0 ] || { echo "FAIL: needs root (chroot)"; exit 1; }
mirror=$(sed -n 's/^URIs: *\(http[^ ]*debian\)\/*$/\1/p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1)
[ -n "$mirror" ] || mirror=$(awk '$1 == "deb" && $3 == "bookworm" { print $2; exit }' /etc/apt/sources.list 2>/dev/null)
: "${mirror:=http://deb.debian.org/debian}"

target=$work/root
cache=$work/cache/bookworm-minbase.tar
mounted=
cleanup() { [ -z "$mounted" ] || umount "$target/proc" 2>/dev/null || true; }
trap cleanup EXIT
umount "$target/proc" 2>/dev/null || true
rm -rf "$target" "$logs"
mkdir -p "$target" "$logs" "$work/cache"

fresh_root() {
    if [ ! -f "$cache" ]; then
        debootstrap --variant=minbase bookworm "$work/cache/root" "$mirror" &&
            tar -C "$work/cache/root" -cf "$cache.part" . && mv "$cache.part" "$cache" &&
            rm -rf "$work/cache/root" || return 1
    fi
    tar -C "$target" -xf "$cache" && cp /etc/resolv.conf "$target/etc/resolv.conf" &&
        mount -t proc proc "$target/proc" && mounted=1 &&
        grep -q '^VERSION_ID="12"' "$target/etc/os-release"
}
check "a fresh Debian 12 root (debootstrap --variant=minbase bookworm $mirror)" fresh_root
[ -n "$mounted" ] || { echo "deb checks: no root"; exit 1; }

in_root() { chroot "$target" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LC_ALL=C.UTF-8 HOME=/root "$@"; }
apt_install() {
    cp "$deb" "$target/tmp/" &&
        in_root apt-get update -qq &&
        DEBIAN_FRONTEND=noninteractive in_root apt-get install -y -qq --no-install-recommends "/tmp/$(basename "$deb")" &&
        in_root dpkg -s pelmora
}
check "apt-get install ./$(basename "$deb") (with what its Depends name)" apt_install

cli_works() {
    local out
    out=$(in_root pelmora-centile --base uk --bwt 3500 --gest 280 --wt 64 --ht 163 --sex 1 --eth 1 --par 0) || return 1
    echo "$out"
    grep -q '48\.43984325029622' <<<"$out"
}
check "pelmora-centile in the root: the example's centile" cli_works

python_works() {
    in_root python3 -c '
import pelmora
v = pelmora.centile("uk", 3500, 280, 64, 163, "Male", "European", "0")
print(repr(v))
assert repr(float(v)) == "48.43984325029622", v
print(pelmora.centile(["swe", "nz", "au"], 3500, 280, 64, 163, 1, 1, 0))'
}
check "python3 -c 'import pelmora' in the root: the example's centile" python_works

development_files() {
    local multiarch
    multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)  # the root's is the machine's
    in_root test -f "/usr/lib/$multiarch/cmake/Pelmora/PelmoraConfig.cmake" &&
        in_root test -f /usr/include/pelmora/centile.h && in_root dpkg -L pelmora
}
check "the CMake package and the headers are installed where find_package and the compiler look" development_files

removed() {
    DEBIAN_FRONTEND=noninteractive in_root apt-get purge -y -qq pelmora &&
        ! in_root test -e /usr/bin/pelmora-centile && ! in_root test -e /usr/lib/python3/dist-packages/pelmora
}
check "apt-get purge pelmora leaves no file of it" removed

cleanup
mounted=
echo "deb checks: $failures failed, $((SECONDS - started)) s"
[ "$failures" -eq 0 ]
