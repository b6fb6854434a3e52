# Helpers for the tests that run the updater under Wine on a virtual screen.
#
# Source this file from a test script, then:
#   zv_use_windows_build DIR        run the Windows programs of build folder DIR
#                                   (build/windows, 32-bit, or build/windows64)
#                                   with the Wine loader they need; ZV_WINE is
#                                   that loader, zv_wine and zv_wineserver run it
#   zv_start_xvfb 1024 768          a 24-bit X server on a display of its own
#   zv_make_prefix                  a fresh Wine prefix for this run
#   zv_start NAME EXE               run EXE in the background; its trace goes
#                                   to $ZV_TMP/NAME.trace, its exit code to
#                                   $ZV_TMP/NAME.rc; a command in ZV_WINE_WRAP
#                                   (such as setpriv with its options) runs wine
#   zv_wait_trace NAME REGEX [SECONDS]   wait for a trace line
#   zv_wait_exit NAME [SECONDS]     wait for the exit; the code is in ZV_RC
#   zv_windows_pid WINPATH          the process id of the program started as
#                                   WINPATH (C:\...), to hold it (SIGSTOP)
#   zv_step_until NAME PID TEXT     let the held program run in steps of a few
#                                   milliseconds until Wine's output of NAME
#                                   holds TEXT (a fixed string); left held
#   zv_wait_window TITLE [SECONDS]  wait for a top-level window; prints its id
#   zv_key KEYS..., zv_click X Y    keyboard and mouse through XTEST
#   zv_screenshot NAME              $ZV_ARTIFACTS/NAME.png (and NAME.ppm)
#   zv_pixel FILE.ppm X Y           prints "R G B" (zvscreen.py has more)
#   zv_check CONDITION-TEXT COMMAND...   counts a failure when COMMAND fails
#   zv_finish                       prints the summary; exits non-zero on failure
# Everything is cleaned up on exit (Wine server, X server, temporary files).
# ZV_KEEP=1 keeps the temporary directory; ZV_ARTIFACTS, set before sourcing,
# names where the screenshots go (default: inside the temporary directory).
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
    local i
    for i in $(seq 1 100); do
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

# The drive C: path of the prefix, for laying out files.
zv_drive_c() { printf '%s\n' "$WINEPREFIX/drive_c"; }

zv_start() {
    local name=$1 exe=$2
    rm -f "$ZV_TMP/$name.trace" "$ZV_TMP/$name.rc"
    : >"$ZV_TMP/$name.trace"
    # The program's trace arrives on Wine's debug channel (OutputDebugStringA).
    # shellcheck disable=SC2086 # the wrapper is a command with its words
    ( WINEDEBUG=-all,warn+debugstr ${ZV_WINE_WRAP:-} "$ZV_WINE" "$exe" >"$ZV_TMP/$name.out" 2>"$ZV_TMP/$name.wine"
      echo $? >"$ZV_TMP/$name.rc" ) &
}

# The program's own trace lines, without Wine's framing, unescaped.
zv_trace() {
    local name=$1
    python3 - "$ZV_TMP/$name.wine" <<'EOF'
import re, signal, sys
signal.signal(signal.SIGPIPE, signal.SIG_DFL)  # readers such as grep -q may stop early
line = re.compile(r'OutputDebugStringA "zvupdate: (.*)\\n"$')
with open(sys.argv[1], encoding="latin-1") as f:
    for raw in f:
        m = line.search(raw.rstrip("\n"))
        if m:
            print(m.group(1).encode("latin-1").decode("unicode_escape"))
EOF
}

zv_wait_trace() {
    local name=$1 pattern=$2 seconds=${3:-20} i
    for i in $(seq 1 $((seconds * 10))); do
        if zv_trace "$name" | grep -qE -- "$pattern"; then return 0; fi
        sleep 0.1
    done
    zv_log "timed out waiting for trace /$pattern/ of $name"
    return 1
}

zv_wait_exit() {
    local name=$1 seconds=${2:-20} i
    ZV_RC=
    for i in $(seq 1 $((seconds * 10))); do
        if [ -s "$ZV_TMP/$name.rc" ]; then
            ZV_RC=$(cat "$ZV_TMP/$name.rc")
            return 0
        fi
        sleep 0.1
    done
    zv_log "timed out waiting for $name to end"
    return 1
}

# Some moments of a run pass in less time than a script needs to see them and
# act (the bar at 50 % while a large member is written takes a fraction of a
# second on a fast machine): the program is held with SIGSTOP and let go in
# small steps until it gets there.
zv_windows_pid() {
    local pattern
    pattern=$(printf '%s' "$1" | sed 's/[\\.]/\\&/g')
    pgrep -f -x "$pattern.*" | head -n 1
}

zv_step_until() {
    local name=$1 pid=$2 text=$3 i
    for i in $(seq 1 5000); do
        grep -qF -- "$text" "$ZV_TMP/$name.wine" && return 0
        kill -CONT "$pid"
        sleep 0.005
        kill -STOP "$pid"
    done
    zv_log "$name did not get to '$text'"
    return 1
}

# --- Windows on the screen --------------------------------------------------

zv_wait_window() {
    local title=$1 seconds=${2:-20} i id
    for i in $(seq 1 $((seconds * 10))); do
        id=$(xdotool search --onlyvisible --name "^${title}\$" 2>/dev/null | head -n 1)
        if [ -n "$id" ]; then printf '%s\n' "$id"; return 0; fi
        sleep 0.1
    done
    zv_log "timed out waiting for window '$title'"
    return 1
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

zv_key() { xdotool key --delay 80 "$@"; sleep 0.3; }

zv_click() {
    xdotool mousemove "$1" "$2" click 1
    sleep 0.3
}

# Centre of a page item, from the page's trace: "X Y".
zv_item_centre() {
    local name=$1 page=$2 item=$3
    zv_trace "$name" | sed -nE "s/^page $page item $item at (-?[0-9]+),(-?[0-9]+) ([0-9]+)x([0-9]+) .*/\1 \2 \3 \4/p" |
        tail -n 1 | awk '{ print int($1 + $3 / 2), int($2 + $4 / 2) }'
}

zv_screenshot() {
    local name=$1
    sleep 0.3
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
