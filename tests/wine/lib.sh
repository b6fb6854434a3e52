# Helpers for the tests that run the updater under Wine on a virtual screen.
#
# Source this file from a test script, then:
#   zv_use_windows_build DIR        run the Windows programs of build folder DIR
#                                   (build/windows, 32-bit, or build/windows64)
#                                   with the Wine loader they need; ZV_WINE is
#                                   that loader, zv_wine and zv_wineserver run it
#   zv_start_xvfb 1024 768          a 24-bit X server on a display of its own
#   zv_make_prefix                  a fresh Wine prefix for this run
#   zv_start NAME EXE [HOLD...]     run EXE in the background; its trace goes
#                                   to $ZV_TMP/NAME.wine, its exit code to
#                                   $ZV_TMP/NAME.rc; a command in ZV_WINE_WRAP
#                                   (such as setpriv with its options) runs wine.
#                                   With HOLD texts, EXE runs under holdtrace.exe
#                                   and stops at the first trace line holding
#                                   the first text, and so on (zv_wait_held,
#                                   zv_release)
#   zv_trace NAME                   the program's trace lines
#   zv_wait_trace NAME REGEX        wait for a trace line
#   zv_wait_count NAME REGEX COUNT  wait for COUNT such lines
#   zv_wait_ready NAME WHAT [COUNT] wait until a page ("page 402") or a message
#                                   box ("message") is painted, on the screen
#                                   and takes input: the COUNT-th (default 1)
#                                   "WHAT ready at X,Y WxH" line, and then the
#                                   window there viewable on the X server
#   zv_wait_held NAME K             wait until the program stands at hold K
#   zv_release NAME K               let it go on from hold K
#   zv_wait_exit NAME               wait for the exit; the code is in ZV_RC
#   zv_wait_until NAME WHAT CMD...  wait until CMD succeeds
#   zv_wait_window TITLE            wait for a top-level window; prints its id
#   zv_wait_above UPPER LOWER       wait until window UPPER is in front of LOWER
#   zv_windows_pid WINPATH          the process id of the program started as
#                                   WINPATH (C:\...) in this prefix
#   zv_key KEYS..., zv_click X Y    keyboard and mouse through XTEST
#   zv_click_item NAME PAGE ITEM    a click on the centre of a page's item
#   zv_screenshot NAME              $ZV_ARTIFACTS/NAME.png (and NAME.ppm)
#   zv_pixel FILE.ppm X Y           prints "R G B" (zvscreen.py has more)
#   zv_check CONDITION-TEXT COMMAND...   counts a failure when COMMAND fails
#   zv_finish                       prints the summary; exits non-zero on failure
# Everything is cleaned up on exit (Wine server, X server, temporary files).
# ZV_KEEP=1 keeps the temporary directory; ZV_ARTIFACTS, set before sourcing,
# names where the screenshots go (default: inside the temporary directory).
#
# Every wait is for a state (a trace line, a window, a file), never for a
# fixed time, and every key and click is sent only once the page or box it
# is meant for says it is ready. Each wait gives up after ZV_TIMEOUT seconds
# (180 unless set), long enough for a machine busy with other work; one that
# gives up says what it waited for, what the program's trace said last, and
# the screenshot it took then.
#
# Run as a command, "bash tests/wine/lib.sh builds" prints the build folders
# the Wine tests run on this machine, one a line, and on standard error why.

set -u

# --- Which Wine, which build ------------------------------------------------
#
# Debian's "wine" and "wineboot" commands are wrappers that take the 32-bit
# loader whenever it is installed, and some machines cannot run 32-bit
# processes at all (the kernel answers "Exec format error"). So nothing here
# goes through the wrappers: each build is run with its own loader, named by
# its path. Where 32-bit processes run, the tests run the 32-bit build (the
# updater that ships) and the 64-bit one; elsewhere the 64-bit one alone.
# ZV_WINE_BUILDS ("32 64", "64" or "32") says which, when it is set: with
# ZV_WINE_BUILDS=64 the fallback runs on any machine.

ZV_WINE_DIR=${ZV_WINE_DIR:-/usr/lib/wine}

# Whether this machine runs 32-bit processes: tried with one, Wine's 32-bit
# loader itself. Asked once; the answer is kept in ZV_RUNS_32BIT.
zv_runs_32bit() {
    if [ -z "${ZV_RUNS_32BIT:-}" ]; then
        if "$ZV_WINE_DIR/wine" --version >/dev/null 2>&1; then
            ZV_RUNS_32BIT=yes
        else
            ZV_RUNS_32BIT=no
        fi
        export ZV_RUNS_32BIT
    fi
    [ "$ZV_RUNS_32BIT" = yes ]
}

# The widths of the builds to test, "32 64" or "64" (or what ZV_WINE_BUILDS
# says).
zv_wine_builds() {
    if [ -n "${ZV_WINE_BUILDS:-}" ]; then
        printf '%s\n' "$ZV_WINE_BUILDS"
    elif zv_runs_32bit; then
        echo "32 64"
    else
        echo 64
    fi
}

# The build folder of a width, relative to the source tree.
zv_windows_build_dir() {
    case $1 in
        32) echo build/windows ;;
        64) echo build/windows64 ;;
        *) zv_log "no Windows build is $1-bit"; return 1 ;;
    esac
}

# The width of a Windows program, from the machine field of its PE header.
zv_pe_bits() {
    local pe machine
    pe=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
    [ -n "$pe" ] || return 1
    machine=$(od -An -tx2 -j$((pe + 4)) -N2 "$1" 2>/dev/null | tr -d ' ')
    case $machine in
        014c) echo 32 ;;
        8664) echo 64 ;;
        *) return 1 ;;
    esac
}

# Chooses the Wine loader and prefix kind for the programs of build folder
# DIR (judged by its zvupdate.exe). Exits with 2 when this machine cannot
# run them.
zv_use_windows_build() {
    local dir=$1 bits
    bits=$(zv_pe_bits "$dir/shell/zvupdate.exe") ||
        { zv_log "no Windows program in $dir (build its preset first)"; exit 2; }
    if [ "$bits" = 32 ]; then
        if ! zv_runs_32bit; then
            zv_log "$dir holds 32-bit programs, and this machine cannot run 32-bit processes"
            exit 2
        fi
        ZV_WINE=$ZV_WINE_DIR/wine
        export WINEARCH=win32
    else
        ZV_WINE=$ZV_WINE_DIR/wine64
        export WINEARCH=win64
    fi
    [ -x "$ZV_WINE" ] || { zv_log "missing the Wine loader $ZV_WINE"; exit 2; }
    ZV_WINESERVER=$ZV_WINE_DIR/wineserver64
    [ -x "$ZV_WINESERVER" ] || ZV_WINESERVER=$ZV_WINE_DIR/wineserver32
    # Programs that Wine starts by itself (wineboot's helpers) take the same
    # loader and server.
    export WINELOADER=$ZV_WINE WINESERVER=$ZV_WINESERVER
    ZV_BUILD_BITS=$bits
    ZV_WINDOWS_BUILD=$(cd "$dir" && pwd)
}

zv_wine() { "$ZV_WINE" "$@"; }
zv_wineserver() { "$ZV_WINESERVER" "$@"; }

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    zv_log() { printf '%s\n' "$*" >&2; }
    case "${1:-}" in
        builds)
            widths=$(zv_wine_builds)
            if [ -n "${ZV_WINE_BUILDS:-}" ]; then
                zv_log "wine: the builds are chosen by ZV_WINE_BUILDS=$ZV_WINE_BUILDS"
            elif ! zv_runs_32bit; then
                zv_log "wine: this machine cannot run 32-bit processes; the Wine tests run on the 64-bit build alone"
            fi
            for b in $widths; do zv_windows_build_dir "$b" || exit 2; done
            exit 0
            ;;
        *) echo "usage: $0 builds" >&2; exit 2 ;;
    esac
fi

ZV_TMP=$(mktemp -d "${TMPDIR:-/tmp}/zvwine.XXXXXX")
# Screenshots stay after the run only when the caller names a directory.
ZV_ARTIFACTS=${ZV_ARTIFACTS:-$ZV_TMP/artifacts}
mkdir -p "$ZV_ARTIFACTS"
ZV_FAILURES=0
ZV_CHECKS=0
ZV_XVFB_PID=
ZV_RC=
ZV_TIMEOUT=${ZV_TIMEOUT:-180}
ZV_TIMEOUTS=0

zv_log() { printf '%s\n' "$*" >&2; }

zv_cleanup() {
    if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ] && [ -n "${ZV_WINESERVER:-}" ]; then
        zv_wineserver -k >/dev/null 2>&1 || true
        zv_wineserver -w >/dev/null 2>&1 || true
    fi
    zv_stop_xvfb
    if [ "${ZV_KEEP:-0}" = 1 ]; then
        zv_log "kept $ZV_TMP"
    else
        rm -rf "$ZV_TMP"
    fi
}
trap zv_cleanup EXIT

zv_require() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null 2>&1 || { zv_log "missing tool: $tool"; exit 2; }
    done
}
zv_require Xvfb xdotool xdpyinfo import convert od python3

# --- X server ---------------------------------------------------------------

zv_start_xvfb() {
    local width=$1 height=$2 display
    zv_stop_xvfb
    # A display number no other server holds: start from one derived from
    # our process id and step on past taken ones.
    display=$(( 100 + $$ % 300 ))
    while [ -e "/tmp/.X${display}-lock" ] || [ -e "/tmp/.X11-unix/X${display}" ]; do
        display=$((display + 1))
    done
    Xvfb ":$display" -screen 0 "${width}x${height}x24" -nolisten tcp >"$ZV_TMP/xvfb.log" 2>&1 &
    ZV_XVFB_PID=$!
    export DISPLAY=":$display"
    local end=$((SECONDS + ZV_TIMEOUT))
    while [ "$SECONDS" -le "$end" ]; do
        if xdpyinfo >/dev/null 2>&1; then return 0; fi
        if ! kill -0 "$ZV_XVFB_PID" 2>/dev/null; then break; fi
        sleep 0.1
    done
    zv_log "Xvfb did not start on $DISPLAY:"; cat "$ZV_TMP/xvfb.log" >&2
    exit 2
}

zv_stop_xvfb() {
    if [ -n "$ZV_XVFB_PID" ]; then
        kill "$ZV_XVFB_PID" 2>/dev/null || true
        wait "$ZV_XVFB_PID" 2>/dev/null || true
        ZV_XVFB_PID=
    fi
}

# --- Wine -------------------------------------------------------------------

# A new prefix of the kind zv_use_windows_build chose.
zv_make_prefix() {
    [ -n "${ZV_WINE:-}" ] || { zv_log "zv_make_prefix: call zv_use_windows_build first"; exit 2; }
    export WINEPREFIX="$ZV_TMP/prefix"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    zv_wine wineboot -i >"$ZV_TMP/wineboot.log" 2>&1
    zv_wineserver -w
    if [ ! -d "$WINEPREFIX/drive_c/windows" ]; then
        zv_log "the Wine prefix was not created ($ZV_WINE, $WINEARCH):"
        tail -n 20 "$ZV_TMP/wineboot.log" >&2
        exit 2
    fi
    # Wine's own fonts (Marlett draws the caption buttons, MS Sans Serif
    # stands in for "Helv"): some packagings keep them where Wine does not
    # look, and the windows are then drawn with whatever the host has.
    local fonts
    for fonts in /usr/share/wine/fonts /usr/local/share/wine/fonts /opt/wine*/share/wine/fonts; do
        if [ -f "$fonts/marlett.ttf" ]; then
            cp -n "$fonts"/* "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null
            break
        fi
    done
    # Wine draws the windows' frames itself; no window manager takes them.
    zv_wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
    # A program that crashes ends at once instead of waiting in the debugger.
    zv_wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
    zv_wineserver -w
}

# A host path as the Windows programs see it: Wine's drive Z: is the host's
# root.
zv_wine_path() { printf 'Z:%s\n' "${1//\//\\}"; }

# The drive C: path of the prefix, for laying out files.
zv_drive_c() { printf '%s\n' "$WINEPREFIX/drive_c"; }

zv_start() {
    local name=$1 exe=$2
    shift 2
    rm -f "$ZV_TMP/$name.rc"
    : >"$ZV_TMP/$name.wine"
    local run=("$exe")
    if [ $# -gt 0 ]; then
        # holdtrace.exe writes heldK into this folder and waits for releaseK.
        rm -rf "$ZV_TMP/$name.hold"
        mkdir -p "$ZV_TMP/$name.hold"
        run=("$ZV_WINDOWS_BUILD/tests/wintests/holdtrace.exe" "$(zv_wine_path "$ZV_TMP/$name.hold")" "$@" -- "$exe")
    fi
    # The program's trace arrives on Wine's debug channel (OutputDebugStringA).
    # shellcheck disable=SC2086 # the wrapper is a command with its words
    ( WINEDEBUG=-all,warn+debugstr ${ZV_WINE_WRAP:-} "$ZV_WINE" "${run[@]}" >"$ZV_TMP/$name.out" 2>"$ZV_TMP/$name.wine"
      echo $? >"$ZV_TMP/$name.rc" ) &
}

# The program's own trace lines, without Wine's framing. Wine escapes
# backslashes and quotes; nothing else occurs in the trace.
zv_trace() {
    sed -n 's/.*OutputDebugStringA "zvupdate: \(.*\)\\n"$/\1/p' "$ZV_TMP/$1.wine" 2>/dev/null | sed 's/\\\(["\\]\)/\1/g'
}

# Says that a wait gave up: what it waited for, the program's last trace lines
# and a screenshot of that moment.
zv_timed_out() {
    local name=$1 what=$2 shot
    ZV_TIMEOUTS=$((ZV_TIMEOUTS + 1))
    shot=timeout-$ZV_TIMEOUTS${name:+-$name}
    zv_screenshot "$shot" 2>/dev/null
    zv_log "timed out after $ZV_TIMEOUT s waiting for $what"
    if [ -n "$name" ] && [ -e "$ZV_TMP/$name.wine" ]; then
        zv_log "  the trace of $name ended with:"
        zv_trace "$name" | tail -n 12 | sed 's/^/    /' >&2
    fi
    zv_log "  the screen then: $ZV_ARTIFACTS/$shot.png"
}

# Polls COMMAND until it succeeds, for at most ZV_TIMEOUT seconds.
zv_wait_until() {
    local name=$1 what=$2 end=$((SECONDS + ZV_TIMEOUT))
    shift 2
    until "$@"; do
        if [ "$SECONDS" -gt "$end" ]; then
            zv_timed_out "$name" "$what"
            return 1
        fi
        sleep 0.05
    done
}

zv_trace_count_at_least() { [ "$(zv_trace "$1" | grep -cE -- "$2")" -ge "$3" ]; }
zv_wait_count() {
    zv_wait_until "$1" "$3 trace lines /$2/ of $1" zv_trace_count_at_least "$1" "$2" "$3"
}
zv_wait_trace() { zv_wait_count "$1" "$2" 1; }

# Whether a top-level window at exactly X Y W H is viewable on the X server.
zv_viewable_at() {
    local id
    for id in $(xwininfo -root -children 2>/dev/null |
        sed -nE "s/^ +(0x[0-9a-f]+) .* $3x$4\+$1\+$2 +\+-?[0-9]+\+-?[0-9]+$/\1/p"); do
        xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable' && return 0
    done
    return 1
}

zv_wait_ready() {
    local name=$1 what=$2 count=${3:-1} x y w h
    zv_wait_count "$name" "^$what ready at " "$count" || return 1
    read -r x y w h <<<"$(zv_trace "$name" | grep -E -- "^$what ready at " | sed -n "${count}p" |
        sed -E 's/.* ready at (-?[0-9]+),(-?[0-9]+) ([0-9]+)x([0-9]+)$/\1 \2 \3 \4/')"
    zv_wait_until "$name" "the window of $what ready ($w x $h at $x,$y) on the screen" zv_viewable_at "$x" "$y" "$w" "$h"
}

zv_wait_held() {
    zv_wait_until "$1" "$1 to stand at hold $2" test -e "$ZV_TMP/$1.hold/held$2"
}
zv_release() { : >"$ZV_TMP/$1.hold/release$2"; }

zv_has_ended() { [ -s "$ZV_TMP/$1.rc" ]; }
zv_wait_exit() {
    ZV_RC=
    zv_wait_until "$1" "$1 to end" zv_has_ended "$1" || return 1
    ZV_RC=$(cat "$ZV_TMP/$1.rc")
}

# The process id of the program started as WINPATH (C:\...) in this prefix
# (other Wine tests may run the same program beside this one).
zv_windows_pid() {
    local pattern pid
    pattern=$(printf '%s' "$1" | sed 's/[\\.]/\\&/g')
    for pid in $(pgrep -f -x "$pattern.*"); do
        if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
            echo "$pid"
            return 0
        fi
    done
    return 1
}

# --- Windows on the screen --------------------------------------------------

zv_window_id() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1; }
zv_has_window() { [ -n "$(zv_window_id "$1")" ]; }
zv_lacks_window() { [ -z "$(zv_window_id "$1")" ]; }
zv_wait_window() {
    zv_wait_until "" "window '$1'" zv_has_window "$1" || return 1
    zv_window_id "$1"
}

# The top-level X windows, bottom to top, that are mapped: "id name" lines.
zv_stacking() {
    xwininfo -root -children 2>/dev/null | python3 -c '
import re, subprocess, sys
for line in sys.stdin:
    m = re.match(r"\s+(0x[0-9a-f]+) (\(has no name\)|\"(.*)\"):", line)
    if not m:
        continue
    wid = m.group(1)
    state = subprocess.run(["xwininfo", "-id", wid], capture_output=True, text=True).stdout
    if "IsViewable" in state:
        print(int(wid, 16), m.group(3) or "")
' | tac
}

# Whether the viewable window named UPPER is in front of the one named LOWER.
zv_above() {
    zv_stacking | python3 -c '
import sys
names = [line.rstrip("\n").split(" ", 1)[1] if " " in line else "" for line in sys.stdin]
upper, lower = sys.argv[1], sys.argv[2]
sys.exit(0 if upper in names and lower in names and names.index(upper) > names.index(lower) else 1)
' "$1" "$2"
}
zv_wait_above() { zv_wait_until "" "'$1' in front of '$2'" zv_above "$1" "$2"; }

zv_key() { xdotool key --delay 80 "$@"; }
zv_click() { xdotool mousemove "$1" "$2" click 1; }

# "X Y W H" of a page's item on the screen, from the page's trace.
zv_item_rect() {
    zv_trace "$1" | sed -nE "s/^page $2 item $3 at (-?[0-9]+),(-?[0-9]+) ([0-9]+)x([0-9]+) .*/\1 \2 \3 \4/p" | tail -n 1
}
zv_click_item() {
    local x y w h
    read -r x y w h <<<"$(zv_item_rect "$1" "$2" "$3")"
    [ -n "$h" ] || { zv_log "  no item $3 on page $2"; return 1; }
    zv_click $((x + w / 2)) $((y + h / 2))
}

zv_screenshot() {
    local name=$1
    import -window root -depth 8 "$ZV_ARTIFACTS/$name.ppm"
    convert "$ZV_ARTIFACTS/$name.ppm" "$ZV_ARTIFACTS/$name.png"
}

ZV_SCREEN="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/zvscreen.py"
zv_pixel() { python3 "$ZV_SCREEN" pixel "$@"; }

# --- Checks -----------------------------------------------------------------

zv_check() {
    local what=$1
    shift
    ZV_CHECKS=$((ZV_CHECKS + 1))
    if "$@"; then
        zv_log "ok: $what"
    else
        ZV_FAILURES=$((ZV_FAILURES + 1))
        zv_log "FAILED: $what"
    fi
}

zv_finish() {
    zv_log "$ZV_CHECKS checks, $ZV_FAILURES failed; screenshots in $ZV_ARTIFACTS"
    [ "$ZV_FAILURES" -eq 0 ]
}
