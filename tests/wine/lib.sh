# Shared by the tests that run the Windows programs under Wine: a private X
# display, a fresh 32-bit prefix, and helpers to run, find, drive and capture.
#
#   . tests/wine/lib.sh
#   wine_setup            # Xvfb on a free display, a fresh prefix, Managed=N
#   wine_start EXE        # runs EXE in the background; trace in $WINE_TRACE
#   wine_wait_window NAME # waits for a visible window whose name matches
#   wine_finish           # waits for the program; its exit code in $WINE_EXIT
#   wine_teardown         # stops the wineserver and Xvfb, removes the prefix
#
# Artefacts (screenshots, traces) go to $ARTEFACTS (default: build dir).

set -u

WINE_TIMEOUT=${WINE_TIMEOUT:-60}

log() { printf '[wine-test] %s\n' "$*" >&2; }
fail() { printf '[wine-test] FAIL: %s\n' "$*" >&2; exit 1; }

wine_setup() {
    WINE_TMP=$(mktemp -d "${TMPDIR:-/tmp}/zvwine.XXXXXX")
    export WINEPREFIX="$WINE_TMP/prefix"
    export WINEARCH=win32
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    local n
    for n in $(seq 91 140); do
        if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then break; fi
    done
    export DISPLAY=":$n"
    Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >"$WINE_TMP/xvfb.log" 2>&1 &
    XVFB_PID=$!
    for _ in $(seq 1 50); do
        xdpyinfo >/dev/null 2>&1 && break
        sleep 0.1
    done
    xdpyinfo >/dev/null 2>&1 || fail "Xvfb did not start on $DISPLAY"
    log "display $DISPLAY, prefix $WINEPREFIX"
    wineboot -i >"$WINE_TMP/wineboot.log" 2>&1 || fail "wineboot failed (see $WINE_TMP/wineboot.log)"
    # Without a window manager Wine must draw the frames itself, or captions
    # are missing and closing a message box stalls.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 ||
        fail "cannot set Managed=N"
    wineserver -w
}

# C: of the prefix on the host.
wine_c_drive() { printf '%s/drive_c' "$WINEPREFIX"; }

wine_start() {
    WINE_TRACE="$WINE_TMP/trace.$RANDOM.log"
    WINEDEBUG=-all,+debugstr wine "$@" >"$WINE_TRACE" 2>&1 &
    WINE_PID=$!
}

# Waits until a visible window whose name matches $1 exists; its id in $WINE_WINDOW.
wine_wait_window() {
    local deadline=$((SECONDS + WINE_TIMEOUT))
    while [ $SECONDS -lt $deadline ]; do
        WINE_WINDOW=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1)
        [ -n "$WINE_WINDOW" ] && return 0
        kill -0 "$WINE_PID" 2>/dev/null || return 1
        sleep 0.2
    done
    return 1
}

# True when the trace holds a line matching the extended regular expression $1.
wine_trace_has() { grep -Eq "$1" "$WINE_TRACE"; }

wine_screenshot() {
    mkdir -p "$ARTEFACTS"
    import -display "$DISPLAY" -window root "$ARTEFACTS/$1" 2>/dev/null || log "screenshot $1 failed"
}

wine_finish() {
    local deadline=$((SECONDS + WINE_TIMEOUT))
    while kill -0 "$WINE_PID" 2>/dev/null; do
        if [ $SECONDS -ge $deadline ]; then
            kill "$WINE_PID" 2>/dev/null
            WINE_EXIT=timeout
            return 1
        fi
        sleep 0.2
    done
    wait "$WINE_PID"
    WINE_EXIT=$?
}

wine_teardown() {
    wineserver -k >/dev/null 2>&1
    [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null
    [ -n "${WINE_TMP:-}" ] && rm -rf "$WINE_TMP"
}
