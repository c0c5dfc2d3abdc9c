# Sourced by the Wine check scripts: one private 64-bit Wine prefix per run, inside the build tree.
#
#   wine_start <dir>     fresh prefix in <dir>/prefix, HOME in <dir>/home; crash dialog off
#   wine_run <secs> ...  runs a Windows program (or built-in like regsvr32, reg) under timeout
#   wine_path <path>     the Windows path (Z:\...) of a Linux path
#   wine_stop            waits for the prefix's wineserver to end (kills it after a minute)

wine_pick() {
    local c
    WINE=
    # Debian's wine64 loader; `wine` is a wrapper that runs it too when the 32-bit loader is absent.
    for c in /usr/lib/wine/wine64 "$(command -v wine64 || true)" "$(command -v wine || true)"; do
        if [ -n "$c" ] && [ -x "$c" ]; then WINE=$c; break; fi
    done
    WINESERVER=
    for c in /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver "$(command -v wineserver || true)"; do
        if [ -n "$c" ] && [ -x "$c" ]; then WINESERVER=$c; break; fi
    done
    if [ -z "$WINE" ] || [ -z "$WINESERVER" ]; then
        echo "wine-env: wine64 and wineserver not found (Debian packages wine64, wine)" >&2
        return 1
    fi
    export WINESERVER
}

wine_start() {
    local dir=$1
    wine_pick || return 1
    export WINEPREFIX="$dir/prefix" HOME="$dir/home" WINEARCH=win64 WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    unset DISPLAY WAYLAND_DISPLAY
    rm -rf "$WINEPREFIX" "$HOME"
    mkdir -p "$HOME"
    timeout -k 10 300 "$WINE" wineboot -i >/dev/null 2>&1 || {
        echo "wine-env: wineboot failed in $WINEPREFIX" >&2
        return 1
    }
    wine_run 60 reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null
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
