# Sourced by the Wine check scripts: one private Wine prefix per run and architecture, inside the
# build tree.
#
#   wine_pick [win64|win32]   sets WINE (the architecture's loader) and WINESERVER, or fails
#   wine_runs_win32           whether this machine can run 32-bit Windows programs at all (says
#                             why not on stderr): callers skip, loudly, what needs it
#   wine_start <dir> [arch]   fresh prefix of that architecture (default win64) in <dir>/prefix,
#                             HOME in <dir>/home, Wine's own Windows fonts in C:\windows\Fonts,
#                             crash dialog off; sets WINE, WINESERVER, WINEPREFIX, WINEARCH
#   wine_fonts                copies Wine's Windows fonts (Debian's fonts-wine) into the prefix
#   wine_headless             windows and drawing with no display: Wine's null graphics driver
#   wine_run <secs> ...       runs a Windows program (or built-in like regsvr32, reg) under timeout
#   wine_path <path>          the Windows path (Z:\...) of a Linux path
#   wine_stop                 waits for the prefix's wineserver to end (kills it after a minute)
#
# A packaging script that needs a prefix for one architecture: `wine_start "$dir" win32 && "$WINE" ...`.

wine_pick() {
    local arch=${1:-win64} c
    WINE=
    WINESERVER=
    case $arch in
        win64)
            # Debian's wine64 loader; `wine` is a wrapper that runs it too when the 32-bit loader is absent.
            for c in /usr/lib/wine/wine64 "$(command -v wine64 || true)"; do
                if [ -n "$c" ] && [ -x "$c" ]; then WINE=$c; break; fi
            done
            for c in /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver "$(command -v wineserver || true)"; do
                if [ -n "$c" ] && [ -x "$c" ]; then WINESERVER=$c; break; fi
            done
            ;;
        win32)
            # The 32-bit loader (Debian's wine32:i386), never the wrapper: it would pick wine64.
            [ -x /usr/lib/wine/wine ] && WINE=/usr/lib/wine/wine
            for c in /usr/lib/wine/wineserver32 /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver; do
                if [ -x "$c" ]; then WINESERVER=$c; break; fi
            done
            ;;
        *)
            echo "wine-env: unknown architecture $arch (win64 or win32)" >&2
            return 1
            ;;
    esac
    if [ -z "$WINE" ] || [ -z "$WINESERVER" ]; then
        echo "wine-env: no $arch loader or wineserver (Debian packages wine64, wine, wine32:i386)" >&2
        return 1
    fi
    export WINESERVER
}

# Some virtual machines' kernels have no 32-bit x86 support (no IA-32 emulation): every exec of an
# i386 program fails with "Exec format error", so Wine's 32-bit loader never starts, whatever is
# installed. That is the machine's limit, not a fault of the DLL: the i686 build and its file checks
# still run, and the checks that would run it under Wine are skipped with a SKIP line. A missing
# loader is not such a limit (wine_pick reports it as a failure).
wine_runs_win32() {
    local loader=/usr/lib/wine/wine rc
    [ -x "$loader" ] || return 0
    "$loader" --version >/dev/null 2>&1
    rc=$?
    [ $rc -eq 126 ] || return 0
    echo "this machine's kernel does not execute 32-bit x86 programs ($loader: Exec format error)" >&2
    return 1
}

wine_start() {
    local dir=$1 arch=${2:-win64}
    wine_pick "$arch" || return 1
    export WINEPREFIX="$dir/prefix" HOME="$dir/home" WINEARCH=$arch WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    unset DISPLAY WAYLAND_DISPLAY
    rm -rf "$WINEPREFIX" "$HOME"
    mkdir -p "$HOME"
    timeout -k 10 300 "$WINE" wineboot -i >/dev/null 2>&1 || {
        echo "wine-env: wineboot failed in $WINEPREFIX ($arch)" >&2
        return 1
    }
    wine_fonts || return 1
    wine_run 60 reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null
}

# Wine 8 finds only the fonts in the prefix's own C:\windows\Fonts (a Windows machine has its
# standard fonts there): MS Sans Serif, Tahoma, Courier, Symbol, ...
wine_fonts() {
    local from=/usr/share/wine/fonts to="$WINEPREFIX/drive_c/windows/Fonts"
    [ -f "$from/sserife.fon" ] || {
        echo "wine-env: Wine's Windows fonts are missing in $from (Debian package fonts-wine)" >&2
        return 1
    }
    mkdir -p "$to" && cp -f "$from"/*.fon "$from"/*.ttf "$to"/
}

# Without a display Wine can make no top-level window; its null graphics driver can (and draws
# into memory). Takes effect for the prefix's next wineserver, so the running one is ended.
wine_headless() {
    wine_run 60 reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null && wine_stop
}

wine_run() {
    local secs=$1
    shift
    timeout -k 10 "$secs" "$WINE" "$@"
}

wine_path() {
    local p
    p=$(realpath -m -- "$1")
    printf 'Z:%s' "${p//\//\\}"
}

wine_stop() {
    [ -n "${WINESERVER:-}" ] && [ -n "${WINEPREFIX:-}" ] || return 0
    timeout 60 "$WINESERVER" -w || "$WINESERVER" -k || true
}

# check <name> <command...>: runs the command with its output in "$logs"/<name>.log, prints
# PASS or FAIL with the log's tail, and counts failures in the caller's $failures.
check() {
    local name=$1 log
    shift
    log="$logs/$(printf '%s' "$name" | tr -c 'A-Za-z0-9_.-' '_').log"
    if "$@" >"$log" 2>&1; then
        echo "PASS: $name"
    else
        echo "FAIL: $name"
        tail -n 60 "$log" | sed 's/^/    /'
        failures=$((failures + 1))
    fi
}
