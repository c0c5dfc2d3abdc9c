#!/usr/bin/env bash
# The ActiveX checks of pelmora.dll under Wine, on a virtual X display (Xvfb), for the architecture
# of the given build (x86-64 under wine64 in a win64 prefix, i686 under Wine's 32-bit loader in a
# WINEARCH=win32 prefix):
#   tests/activex/run.sh <mingw-w64 build dir> [--keep-screenshot FILE.png]
# - the Win32 forms backend and the ActiveX face on their own (two test programs);
# - the registered control in Wine's own container window "AtlAxWin100", with a screenshot taken
#   by ImageMagick's import while it is on screen, and every caption measured in its own font;
# - a VBScript client run by Wine's cscript.
# With WINEPREFIX set to a prefix that tests/wine/wine-env.sh made (tests/wine/run-checks.sh does,
# PELMORA_WINE_SHARED=1), that prefix is used and pelmora.dll is registered there; otherwise the
# script makes its own prefix. Prints one PASS/FAIL line per check, each naming the architecture;
# exits non-zero on a failure. On a machine whose kernel runs no 32-bit programs an i686 build is
# skipped with a SKIP line.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../wine/wine-env.sh
. "$here/../wine/wine-env.sh"

if [ $# -lt 1 ]; then
    echo "usage: $0 <mingw-w64 build dir> [--keep-screenshot FILE.png]" >&2
    exit 2
fi
build=$(realpath "$1")
keep=
if [ "${2:-}" = --keep-screenshot ] && [ -n "${3:-}" ]; then keep=$(realpath -m "$3"); fi
# What the build produced: tests/wine's summary where it exists, else the component's own output.
pelmora_dll="$build/component/pelmora.dll"
pelmora_idl="$here/../../interface/pelmora.idl"
pelmora_arch=win64
if [ -f "$build/tests/wine/wine-targets.sh" ]; then
    # shellcheck disable=SC1091
    . "$build/tests/wine/wine-targets.sh"
fi
arch=$pelmora_arch
case $arch in
    win64) format=pei-x86-64 objdump=x86_64-w64-mingw32-objdump ;;
    win32) format=pei-i386 objdump=i686-w64-mingw32-objdump ;;
    *) echo "FAIL: $build: unknown architecture $arch" >&2; exit 1 ;;
esac
if command -v "$objdump" >/dev/null && [ -f "$pelmora_dll" ]; then
    "$objdump" -f "$pelmora_dll" | grep -q "file format $format" ||
        { echo "FAIL: $pelmora_dll is not a $format DLL ($arch)" >&2; exit 1; }
fi
bin="$build/tests/activex"
for f in "$pelmora_dll" "$bin/pelmora-forms-win32-test.exe" "$bin/pelmora-ole-control-test.exe" \
    "$bin/pelmora-activex-host.exe"; do
    [ -f "$f" ] || { echo "FAIL: $f was not built" >&2; exit 1; }
done
# The version-independent ProgID, where the component keeps it (its registration table, or the IDL).
progid=$(sed -n 's/.*char prog_id\[\] *= *"\([^"]*\)".*/\1/p' "$here/../../component/registration.hpp" 2>/dev/null | head -n 1)
[ -n "$progid" ] || progid=$(sed -n 's/.*vi_progid("\([^"]*\)").*/\1/p' "$pelmora_idl" | head -n 1)
[ -n "$progid" ] || { echo "FAIL: the component's ProgID was not found" >&2; exit 1; }

if [ "$arch" = win32 ] && [ "${PELMORA_WINE_SHARED:-0}" != 1 ] && ! wine_runs_win32; then
    echo "SKIP: win32: the ActiveX checks under Wine (the i686 DLL and its test programs were built)"
    exit 0
fi

work="$build/activex"
logs="$work/logs"
rm -rf "$logs"
mkdir -p "$logs"
failures=0
started=$SECONDS
xvfb_pid=
own_prefix=0


finish() {
    wine_stop
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null
        wait "$xvfb_pid" 2>/dev/null
    fi
}
trap finish EXIT

# --- the prefix: the caller's, or one of our own -------------------------------------------------

if [ "${PELMORA_WINE_SHARED:-0}" = 1 ] && [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
    wine_pick "$arch" || exit 1
    echo "using the Wine prefix $WINEPREFIX"
else
    own_prefix=1
    wine_start "$work" "$arch" || { echo "FAIL: $arch: Wine prefix could not be created"; exit 1; }
    echo "$arch: wine prefix ready after $((SECONDS - started)) s ($WINE)"
fi
# The running wineserver started its desktop without a display: let it end, so that the programs
# below get a desktop on ours.
wine_stop

# --- the display ---------------------------------------------------------------------------------

display_file="$work/display"
rm -f "$display_file"
# -displayfd: Xvfb picks a free display number and writes it when it is ready for clients.
Xvfb -displayfd 4 -screen 0 1024x768x24 -nolisten tcp 4>"$display_file" >"$logs/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 150); do
    [ -s "$display_file" ] && break
    sleep 0.1
done
[ -s "$display_file" ] || { echo "FAIL: Xvfb did not start"; cat "$logs/xvfb.log"; exit 1; }
DISPLAY=":$(tr -dc 0-9 <"$display_file")"
export DISPLAY
echo "Xvfb on $DISPLAY"

dll_win=$(wine_path "$pelmora_dll")

# --- checks --------------------------------------------------------------------------------------

check "$arch: Win32 forms backend (windows, colours, picks, tab order)" \
    wine_run 300 "$bin/pelmora-forms-win32-test.exe" --gtest_brief=1
check "$arch: ActiveX face against a recording container" \
    wine_run 300 "$bin/pelmora-ole-control-test.exe" --gtest_brief=1
check "$arch: regsvr32 registers pelmora.dll" wine_run 120 regsvr32 /s "$dll_win"

shot="$work/pelmora-activex-wine-$arch.png"
hosted_in_atlaxwin() {
    local ready="$work/shot.ready" done="$work/shot.done" host rc geometry
    rm -f "$ready" "$done" "$shot"
    wine_run 300 "$bin/pelmora-activex-host.exe" "$progid" --screenshot "$(wine_path "$ready")" \
        "$(wine_path "$done")" --gtest_brief=1 &
    host=$!
    for _ in $(seq 600); do
        [ -s "$ready" ] && break
        kill -0 "$host" 2>/dev/null || break
        sleep 0.1
    done
    if [ -s "$ready" ]; then
        geometry=$(tr -d '\r\n' <"$ready")
        timeout 60 import -window root -crop "$geometry" +repage "$shot" || echo "import failed"
    else
        echo "the host never showed its window for the screenshot"
    fi
    touch "$done"
    wait "$host"
    rc=$?
    echo "host exit status $rc"
    return $rc
}
check "$arch: the control in Wine's AtlAxWin100 container: lists, captions, geometry, 56, picks" hosted_in_atlaxwin

screenshot_shows_the_form() {
    local colours
    [ -s "$shot" ] || { echo "no screenshot"; return 1; }
    identify "$shot"
    colours=$(convert "$shot" -format '%k' info:)
    echo "$colours colours"
    # The lists' pale blue, the result's pale red and black text are on the picture, with the
    # window colours around them (MS Sans Serif is a bitmap font: no smoothing adds shades).
    convert "$shot" -unique-colors txt:- | grep -qi '#C0C0FF' || { echo "no pale blue list"; return 1; }
    convert "$shot" -unique-colors txt:- | grep -qi '#FFC0C0' || { echo "no pale red result"; return 1; }
    convert "$shot" -unique-colors txt:- | grep -qi '#000000' || { echo "no black text"; return 1; }
    [ "$colours" -ge 6 ]
}
check "$arch: screenshot of the hosted control (Xvfb, import)" screenshot_shows_the_form
if [ -n "$keep" ] && [ -s "$shot" ]; then cp "$shot" "$keep" && echo "screenshot kept in $keep"; fi

check "$arch: VBScript client under cscript (CreateObject, the four methods, write-backs, errors)" \
    wine_run 120 cscript //nologo "$(wine_path "$here/client.vbs")" "$progid"

if [ "$own_prefix" = 1 ]; then
    check "$arch: regsvr32 /u unregisters pelmora.dll" wine_run 120 regsvr32 /u /s "$dll_win"
fi

finish
trap - EXIT
echo "$arch: activex checks: $failures failed, $((SECONDS - started)) s"
[ "$failures" -eq 0 ]
