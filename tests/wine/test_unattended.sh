#!/usr/bin/env bash
# Unattended runs under Wine: the sample installation and package of
# test_update_scenarios.sh, run with /quiet (and /passive) the way a
# deployment tool runs it, each outcome checked on its exit code, the lines of
# its log file, the windows on the X server (none at all with /quiet) and the
# installed tree:
#   a table of /quiet outcomes: success, the same version again, newer,
#   translated, CD installation, not installed (with the log in the temporary
#   folder), a file in use, write-protected files, a damaged package, an
#   unknown switch, a second copy while one runs, /? with /quiet
#   /passive     the backdrop and the transfer page, no other page; a file in
#                use ends it with no question shown
#   interactive  /? shows its box; an unknown switch is refused with a box;
#                /log keeps a log of an interactive run
#
# usage: test_unattended.sh HOST_BUILD_DIR WINDOWS_BUILD_DIR [SCENARIO...]
set -u
if [ $# -lt 2 ]; then
    echo "usage: $0 HOST_BUILD_DIR WINDOWS_BUILD_DIR [SCENARIO...]" >&2
    exit 2
fi
HOST_BUILD=$(cd "$1" && pwd)
WINDOWS_BUILD=$(cd "$2" && pwd)
shift 2
ZV_ARTIFACTS=${ZV_ARTIFACTS:-$HOST_BUILD/wine-artifacts/unattended}
rm -rf "$ZV_ARTIFACTS"
HERE=$(cd "$(dirname "$0")" && pwd)
. "$HERE/lib.sh"
zv_use_windows_build "$WINDOWS_BUILD"
. "$HERE/product.sh"

zv_product_build "$HOST_BUILD" "$WINDOWS_BUILD/shell/zvupdate.exe" "$ZV_TMP/product" || exit 2
UPDATER='C:\update\zvupdate.exe'
HOLDFILE=$WINDOWS_BUILD/tests/wintests/holdfile.exe

trace() { zv_trace "$1"; }
has_line() { trace "$1" | grep -qE -- "$2"; }
lacks_line() { ! has_line "$1" "$2"; }
equals() { [ "$1" = "$2" ] || { zv_log "  got '$1', expected '$2'"; return 1; }; }

# Runs PROGRAM with switches under holdtrace.exe, as zv_start does (trace,
# exit code and holds where zv_start keeps them), for zv_start passes no
# arguments:
#   run_with NAME PROGRAM HOLD|- SWITCH...
# HOLD '-' holds nowhere; else the program stops at the first trace line
# holding HOLD (zv_wait_held NAME 1, zv_release NAME 1). The viewable windows
# before it starts are kept in BEFORE_WINDOWS.
run_with() {
    local name=$1 program=$2 hold=$3
    shift 3
    [ "$hold" != - ] || hold='never held: no trace line says this'
    BEFORE_WINDOWS=$(viewable_windows | sort)
    rm -f "$ZV_TMP/$name.rc"
    : >"$ZV_TMP/$name.wine"
    rm -rf "$ZV_TMP/$name.hold"
    mkdir -p "$ZV_TMP/$name.hold"
    local run=("$ZV_WINDOWS_BUILD/tests/wintests/holdtrace.exe" "$(zv_wine_path "$ZV_TMP/$name.hold")" "$hold" -- "$program" "$@")
    # shellcheck disable=SC2086 # the wrapper is a command with its words
    ( WINEDEBUG=-all,warn+debugstr ${ZV_WINE_WRAP:-} "$ZV_WINE" "${run[@]}" >"$ZV_TMP/$name.out" 2>"$ZV_TMP/$name.wine"
      echo $? >"$ZV_TMP/$name.rc" ) &
}

# The viewable top-level windows on the X server, one id a line.
viewable_windows() { xdotool search --onlyvisible --name '' 2>/dev/null; }
# The windows made viewable since run_with started the program.
new_windows() { comm -13 <(printf '%s\n' "$BEFORE_WINDOWS") <(viewable_windows | sort) | sed '/^$/d'; }
no_window() {
    local w
    w=$(new_windows)
    [ -z "$w" ] || { zv_log "  viewable: $(for i in $w; do xdotool getwindowname "$i"; done | tr '\n' ',')"; return 1; }
}
# True when every window made viewable since the start is the updater's own
# backdrop or frame, or a window of Wine's own with no name (a message box
# would be captioned "Error").
only_updater_windows() {
    local w name ok=0
    for w in $(new_windows); do
        name=$(xdotool getwindowname "$w")
        case $name in "Zarvel Udpater" | "Zarvel Updater - "* | "") ;; *) zv_log "  window '$name'"; ok=1 ;; esac
    done
    return $ok
}
# The whole exit code, which holdtrace.exe prints (Wine hands the host only
# its low byte).
exit_code() { sed -n 's/^exit code \(-*[0-9]*\).*/\1/p' "$ZV_TMP/$1.out" | tr -d '\r'; }
# The log file at a Windows path of drive C:, as text without CRs.
log_text() {
    local path=${1#C:\\}
    tr -d '\r' <"$(zv_drive_c)/${path//\\//}" 2>/dev/null
}
log_has() { log_text "$1" | grep -qE -- "$2" || { zv_log "  no log line /$2/ in $1"; return 1; }; }

all_files_are() {
    local want=$1 ok=0 line
    while read -r line; do
        case $line in
        "help/zvact.hlp missing") [ "$want" = old ] || { zv_log "  $line"; ok=1; } ;;
        *" $want") ;;
        *) zv_log "  $line"; ok=1 ;;
        esac
    done < <(zv_product_state $ZV_PRODUCT_FILES 2>&1)
    return $ok
}
hold_file() {
    local name=$1
    shift
    rm -f "$ZV_TMP/$name.out"
    ( zv_wine "$HOLDFILE" "$@" >"$ZV_TMP/$name.out" 2>&1 & )
    zv_wait_until "" "holdfile $* to hold its file" grep -q held "$ZV_TMP/$name.out"
}
restart_wineserver() {
    zv_wineserver -k >/dev/null 2>&1
    zv_wineserver -w
}
# A copy of the package with its members' data cut off: every member read fails.
cut_copy() {
    python3 - "$ZV_PRODUCT_DIR/zvupdate.exe" "$(zv_drive_c)/update/$1.exe" <<'EOF'
import struct, sys
source, target = sys.argv[1:]
data = bytearray(open(source, "rb").read())
at = data.find(struct.pack("<HI", 0x7777, 0x48295467))
table_offset, table_size, data_offset = struct.unpack_from("<III", data, at + 8)
del data[data_offset:]
open(target, "wb").write(data)
EOF
}

# --- /quiet: the table ---------------------------------------------------------

# name | preparation | switches | where it is held to look at the screen |
# exit code | a line of its log | the installed tree afterwards
QUIET=$(cat <<'EOF'
success|install|/quiet /norestart /log C:\update\success.log|percent 50|0|transfer stage finish|new
same|keep|-QUIET /Log C:\update\same.log|transfer stage|0|verdict: update id=0|new
newer|overlay newer|/quiet /log C:\update\newer.log|verdict|1638|verdict: refused id=64 |same
translated|overlay translated|/quiet /log C:\update\translated.log|verdict|1642|verdict: refused id=65 |same
cdrom|overlay cd|/quiet /log C:\update\cdrom.log|verdict|1642|verdict: refused id=66 |same
notinstalled|noini|/quiet|verdict|1605|verdict: not installed|same
inuse|inuse|/quiet /log C:\update\inuse.log|answer id=|1603|answer id=39 answer=2 unattended|same
protected|protected|/quiet /log C:\update\protected.log|answer id=|1603|answer id=36 answer=3 unattended|same
damaged|damaged|/quiet /log C:\update\damaged.log|answer id=|1603|answer id=34 answer=2 unattended|same
unknown|install|/quiet /S /log C:\update\unknown.log|exit|1639|switches UnknownSwitch|same
help|install|/quiet /? /log C:\update\help.log|exit|0|message id=140 .*/passive|same
EOF
)

prepare() {
    local c
    c=$(zv_drive_c)
    PROGRAM=$UPDATER
    case $1 in
    install) zv_product_install ;;
    keep) ;;
    overlay) zv_product_install 1; zv_product_overlay "$2" ;;
    noini) zv_product_install; rm -f "$(zv_windows_dir)/zvact.ini" ;;
    inuse) zv_product_install; hold_file inuse_hold 'C:\ZARVEL\data\map05.dat' "$(zv_wine_path "$ZV_TMP/inuse.release")" ;;
    protected)
        zv_product_install
        chmod a-w "$c/ZARVEL/zvsv32.bin"
        if [ "$(id -u)" -eq 0 ]; then
            ZV_WINE_WRAP="setpriv --inh-caps=-dac_override,-dac_read_search --bounding-set=-dac_override,-dac_read_search"
            restart_wineserver
        fi ;;
    damaged) zv_product_install; cut_copy damaged; PROGRAM='C:\update\damaged.exe' ;;
    esac
}

scenario_quiet() {
    local name how switches hold code line tree log
    while IFS='|' read -r name how switches hold code line tree; do
        # shellcheck disable=SC2086 # the preparation is a command with its words
        prepare $how
        # shellcheck disable=SC2086 # the switches are words
        zv_product_state $ZV_PRODUCT_FILES >"$ZV_TMP/before.state" 2>&1
        run_with "q_$name" "$PROGRAM" "$hold" $switches
        zv_wait_held "q_$name" 1 || return 1
        zv_check "quiet $name: no window at all where it is held ($hold)" no_window
        zv_release "q_$name" 1
        zv_wait_exit "q_$name"
        zv_check "quiet $name: exit code $code" equals "$(exit_code "q_$name")" "$code"
        MEASURED+=("quiet $name: $(exit_code "q_$name")")
        zv_check "quiet $name: the trace says it with its meaning" has_line "q_$name" "^exit $code [A-Za-z]+: "
        zv_check "quiet $name: no page and no box was made" lacks_line "q_$name" '^(page|backdrop|message ready)'
        log=$(trace "q_$name" | sed -n 's/^log //p')
        zv_check "quiet $name: a log was opened ($log)" test -n "$log" -a "$log" != "not opened"
        zv_check "quiet $name: the log has /$line/" log_has "$log" "$line"
        zv_check "quiet $name: the log ends with the exit code" log_has "$log" "^[0-9:.]+ exit $code "
        zv_check "quiet $name: the log names the versions" log_has "$log" '^[0-9:.]+ updater [0-9]+\.[0-9]+\.[0-9]+\.[0-9]+ package [0-9]+\.[0-9]+\.[0-9]+\.[0-9]+ '
        if [ "$tree" = same ]; then
            zv_check "quiet $name: every installed file is as it was" \
                cmp -s "$ZV_TMP/before.state" <(zv_product_state $ZV_PRODUCT_FILES 2>&1)
        else
            zv_check "quiet $name: the installed files are $tree" all_files_are "$tree"
        fi
        case $how in
        inuse) touch "$ZV_TMP/inuse.release" ;;
        protected) chmod -R u+w "$(zv_drive_c)/ZARVEL"; ZV_WINE_WRAP=; restart_wineserver ;;
        esac
    done <<<"$QUIET"
    zv_check "quiet notinstalled: the default log is in the temporary folder, named for the product and the time" \
        has_line q_notinstalled '^log C:\\users\\.*\\Temp\\ZarvelUpdate-[0-9]{8}-[0-9]{6}\.log$'
}

scenario_second() {
    zv_product_install
    run_with first "$UPDATER" 'transfer stage stage' /quiet /log 'C:\update\first.log'
    zv_wait_held first 1 || return 1
    run_with second "$UPDATER" - /quiet /log 'C:\update\second.log'
    zv_wait_exit second
    zv_check "second copy: exit code 1618" equals "$(exit_code second)" 1618
    MEASURED+=("quiet second copy: $(exit_code second)")
    zv_check "second copy: its log says another copy runs" log_has 'C:\update\second.log' 'another copy is running'
    zv_check "second copy: no window" no_window
    zv_release first 1
    zv_wait_exit first
    zv_check "second copy: the first one goes on and updates (0)" equals "$(exit_code first)" 0
    zv_check "second copy: the installed files are new" all_files_are new
}

# --- /passive -------------------------------------------------------------------

scenario_passive() {
    zv_product_install
    run_with passive "$UPDATER" 'page 403 ready' /passive /log 'C:\update\passive.log'
    zv_wait_held passive 1 || return 1
    zv_screenshot passive_transfer
    zv_check "passive: the backdrop is shown" zv_has_window 'Zarvel Udpater'
    zv_release passive 1
    zv_wait_exit passive
    zv_check "passive: exit code 0" equals "$(exit_code passive)" 0
    MEASURED+=("passive success: $(exit_code passive)")
    zv_check "passive: the transfer page and no other" lacks_line passive '^page 40[12456] created'
    zv_check "passive: the transfer page was made" has_line passive '^page 403 created'
    zv_check "passive: updated" all_files_are new
    zv_check "passive: the log ends with 0" log_has 'C:\update\passive.log' '^[0-9:.]+ exit 0 Success: '

    zv_product_install
    hold_file passive_hold 'C:\ZARVEL\data\map05.dat' "$(zv_wine_path "$ZV_TMP/passive.release")"
    run_with passive_inuse "$UPDATER" 'answer id=' /passive
    zv_wait_held passive_inuse 1 || return 1
    zv_check "passive in use: no box where the question would be" lacks_line passive_inuse '^message ready'
    zv_check "passive in use: no window but the backdrop and the transfer page's frame" only_updater_windows
    zv_release passive_inuse 1
    zv_wait_exit passive_inuse
    touch "$ZV_TMP/passive.release"
    zv_check "passive in use: exit code 1603" equals "$(exit_code passive_inuse)" 1603
    MEASURED+=("passive in use: $(exit_code passive_inuse)")
    zv_check "passive in use: answered Cancel itself" has_line passive_inuse '^answer id=39 answer=2 unattended$'
    zv_check "passive in use: left as it was" all_files_are old
}

# --- interactive -----------------------------------------------------------------

scenario_interactive() {
    zv_product_install
    run_with i_help "$UPDATER" - /?
    zv_wait_ready i_help message || return 1
    zv_screenshot help_box
    # Wine's debug channel cuts a long line short (with "..."), so the box's
    # text is looked for in the channel's own lines, and whole in a log.
    zv_check "/?: the box starts with the usage line" grep -qF \
        'OutputDebugStringA "zvupdate: message id=140 style=0x40 text=Usage: zvupdate.exe [/quiet | /passive] [/norestart] [/log FILE] [/?]' \
        "$ZV_TMP/i_help.wine"
    zv_key Return
    zv_wait_exit i_help
    zv_check "/?: exit code 0" equals "$(exit_code i_help)" 0
    MEASURED+=("interactive /?: $(exit_code i_help)")

    run_with i_unknown "$UPDATER" - -Bogus
    zv_wait_ready i_unknown message || return 1
    zv_check "unknown switch: refused with a box naming it" has_line i_unknown \
        '^message id=147 style=0x10 text=-Bogus is not a switch of this program\. Run it with /\? to see its switches\.$'
    zv_key Return
    zv_wait_exit i_unknown
    zv_check "unknown switch: exit code 1639" equals "$(exit_code i_unknown)" 1639
    MEASURED+=("interactive unknown switch: $(exit_code i_unknown)")
    zv_check "unknown switch: no page" lacks_line i_unknown '^page '

    run_with i_log "$UPDATER" - /log 'C:\update\interactive.log'
    zv_wait_ready i_log 'page 401' || return 1
    zv_click_item i_log 401 2
    zv_wait_exit i_log
    zv_check "interactive /log: Quit gives 1602" equals "$(exit_code i_log)" 1602
    MEASURED+=("interactive Quit: $(exit_code i_log)")
    zv_check "interactive /log: the log has the page and the exit" log_has 'C:\update\interactive.log' '^[0-9:.]+ page 401 result 2$'
    zv_check "interactive /log: ... and the exit code" log_has 'C:\update\interactive.log' '^[0-9:.]+ exit 1602 UserCancel: '
}

zv_start_xvfb 1024 768
zv_make_prefix
SCENARIOS=${*:-quiet second passive interactive}
MEASURED=()
for s in $SCENARIOS; do
    zv_log "--- $s"
    "scenario_$s" || zv_check "scenario $s ran to its end" false
done
zv_log "measured exit codes:"
for m in "${MEASURED[@]}"; do zv_log "  $m"; done
zv_finish
