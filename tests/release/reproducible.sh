#!/usr/bin/env bash
# The release built a second time, from a copy of the same sources in another folder with build
# trees of its own (nothing reused), and compared byte for byte with the first:
#   tests/release/reproducible.sh FIRST_DIST WORKDIR [RELEASE OPTIONS...]
# FIRST_DIST holds the release scripts/release.sh made from this worktree's build trees; its
# Windows files (the zip and the MSIs) are what is compared. The
# tracked files are copied to WORKDIR/src, built in WORKDIR/builds (only what the release takes)
# and released to WORKDIR/dist with the same SOURCE_DATE_EPOCH (the last commit's time). Every
# release file must be identical, and so must every file in the zips. Where one is not, the check
# names it: for an MSI, each table and stream that differs (msidump), for a PE file, the first
# differing offsets. Prints PASS/FAIL lines and the time each build took.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
. "$root/tests/wine/wine-env.sh"  # check

[ $# -ge 2 ] || { echo "usage: $0 FIRST_DIST WORKDIR [RELEASE OPTIONS...]" >&2; exit 2; }
first=$(realpath "$1")
work=$(realpath -m "$2")
shift 2
options=("$@")  # given to the second release as well (e.g. --arch x64)
logs=$work/logs
failures=0
echo "=== the release built twice ===" >&2
rm -rf "$work/src" "$work/builds" "$work/dist" "$logs"
mkdir -p "$work/src" "$logs"

export SOURCE_DATE_EPOCH
SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct) || exit 1
(cd "$root" && git ls-files -z | tar --null -T - -cf - | tar -xf - -C "$work/src") || exit 1

second_build() {
    local begun=$SECONDS
    "$work/src/scripts/release.sh" --windows-only ${options[@]+"${options[@]}"} --builds "$work/builds" "$work/dist" || return 1
    echo "second build and release: $((SECONDS - begun)) s"
}
check "the release again from a copy of the sources in $work/src, with build trees of its own" second_build

# explain <a> <b>: where two files differ.
explain() {
    case $1 in
        *.msi)
            rm -rf "$work/msidump-a" "$work/msidump-b"
            mkdir -p "$work/msidump-a" "$work/msidump-b"
            (cd "$work/msidump-a" && msidump -s -t "$1" >/dev/null)
            (cd "$work/msidump-b" && msidump -s -t "$2" >/dev/null)
            diff -r -q "$work/msidump-a" "$work/msidump-b"
            diff <(msiinfo suminfo "$1") <(msiinfo suminfo "$2") ;;
        *) cmp -l "$1" "$2" | head -n 20 ;;
    esac
}

identical() {
    local f bad=0 a
    for f in $(cd "$first" && ls -- *.zip *.msi); do
        if cmp -s "$first/$f" "$work/dist/$f"; then
            printf '  identical  %9d  %s\n' "$(stat -c %s "$first/$f")" "$f"
        else
            echo "  DIFFERENT             $f"
            explain "$first/$f" "$work/dist/$f" | sed 's/^/      /'
            bad=1
        fi
    done
    for f in $(cd "$first" && ls -- *.zip); do
        rm -rf "$work/unzip-a" "$work/unzip-b"
        unzip -q "$first/$f" -d "$work/unzip-a" && unzip -q "$work/dist/$f" -d "$work/unzip-b" || return 1
        while read -r a; do
            if cmp -s "$work/unzip-a/$a" "$work/unzip-b/$a"; then
                printf '  identical  %9d  %s in %s\n' "$(stat -c %s "$work/unzip-a/$a")" "$a" "$f"
            else
                echo "  DIFFERENT             $a in $f"
                explain "$work/unzip-a/$a" "$work/unzip-b/$a" | sed 's/^/      /'
                bad=1
            fi
        done < <(cd "$work/unzip-a" && find . -type f | LC_ALL=C sort | sed 's|^\./||')
    done
    return $bad
}
[ -d "$work/dist" ] && check "the two releases are byte-identical: every file, every file in the zip" identical
echo "reproducibility checks: $failures failed"
[ "$failures" -eq 0 ]
