#!/usr/bin/env bash
# Whole updates under Wine, driven like a user would: the sample installation
# (tests/tools/product_fixture.cpp) in a prefix, the sample package stamped in
# by quillon build, and a table of scenarios, each checked on the program's
# trace, the files on the disk, screenshots and the exit code:
#   happy        welcome, detection page, transfer (the bar at 50 % on the
#                screen), success page; every file new, carried blocks kept
#   not-installed, refusals   page 406, or page 402 with Next disabled
#   halt         Cancel: No goes on; a second start while the halt
#                confirmation is up; Cancel again: Yes halts; page 405
#   escape       Escape on the page, Enter (No) on the confirmation, Escape
#                again and Escape on the confirmation halts
#   close        Alt+F4 on the backdrop during the transfer stops it at once
#   protected    read-only installed files: question 36, Retry after making
#                the file writable, Ignore keeps the other
#   interrupted  the updater killed in the middle of its commit, held there
#                by a file another program holds: the next start rolls the
#                update back before it shows a page
#   running      a product program starts during the commit: its old copy
#                cannot be removed; the update completes, and the first start
#                after the program ended removes the old copy and the journal
#   packer       quillon list, verify and extract on the package stamped into
#                this build's updater
#   volumes      the package cut into volumes: all beside the updater, no
#                disk prompt; one missing, the prompt for it alone
#   signed       the package signed with osslsigncode: it verifies, and updates
#                as the unsigned one does
#   links        links planted in the product folder (help to the system
#                directory, a new copy's name to a system file, a dangling
#                one): refused with message 76, nothing written anywhere
#   damaged      a package cut short, a member without data, a member with a
#                flipped bit (found by its digest) and a table that claims more
#                records than it holds: never the success page, never a changed
#                installed file
# After every stopped or failed transfer the installation is exactly as it
# was: nothing is put in place until every member is staged.
#
# usage: test_update_scenarios.sh HOST_BUILD_DIR WINDOWS_BUILD_DIR [SCENARIO...]
# Screenshots go to $ZV_ARTIFACTS (default HOST_BUILD_DIR/wine-artifacts/update_scenarios).
set -u
if [ $# -lt 2 ]; then
    echo "usage: $0 HOST_BUILD_DIR WINDOWS_BUILD_DIR [SCENARIO...]" >&2
    exit 2
fi
HOST_BUILD=$(cd "$1" && pwd)
WINDOWS_BUILD=$(cd "$2" && pwd)
shift 2
ZV_ARTIFACTS=${ZV_ARTIFACTS:-$HOST_BUILD/wine-artifacts/update_scenarios}
rm -rf "$ZV_ARTIFACTS"
HERE=$(cd "$(dirname "$0")" && pwd)
. "$HERE/lib.sh"
zv_use_windows_build "$WINDOWS_BUILD"
. "$HERE/product.sh"

SECONDS=0
zv_product_build "$HOST_BUILD" "$WINDOWS_BUILD/shell/zvupdate.exe" "$ZV_TMP/product" || exit 2
zv_log "fixture and package built in ${SECONDS} s"
UPDATER='C:\update\zvupdate.exe'
HOLDFILE=$WINDOWS_BUILD/tests/wintests/holdfile.exe

# --- helpers over the trace ---------------------------------------------------
# The trace is read straight from Wine's output with sed, which is quick
# enough to poll every 20 ms: the moments to catch during the transfer are
# short. Wine escapes backslashes and quotes; nothing else occurs in it.

trace() {
    sed -n 's/.*OutputDebugStringA "zvupdate: \(.*\)\\n"$/\1/p' "$ZV_TMP/$1.wine" 2>/dev/null | sed 's/\\\(["\\]\)/\1/g'
}
has_line() { trace "$1" | grep -qE -- "$2"; }
lacks_line() { ! has_line "$1" "$2"; }
count_lines() { trace "$1" | grep -cE -- "$2"; }
equals() { [ "$1" = "$2" ] || { zv_log "  got '$1', expected '$2'"; return 1; }; }
# Waits until the trace has COUNT lines matching the pattern.
wait_count() {
    local name=$1 pattern=$2 count=$3 end=$((SECONDS + ${4:-30}))
    while [ "$SECONDS" -le "$end" ]; do
        [ "$(count_lines "$name" "$pattern")" -ge "$count" ] && return 0
        sleep 0.02
    done
    zv_log "timed out waiting for $count lines /$pattern/ of $name"
    return 1
}
wait_for() { wait_count "$1" "$2" 1 "${3:-30}"; }
# Checks that lines of TEXT match the patterns in this order.
in_order_text() {
    local text=$1 last=0 n pattern
    shift
    for pattern in "$@"; do
        n=$(grep -nE -- "$pattern" <<<"$text" | awk -F: -v last="$last" '$1 > last { print $1; exit }')
        if [ -z "$n" ]; then
            zv_log "  /$pattern/ missing after line $last"
            return 1
        fi
        last=$n
    done
}
# Checks that the trace lines matching the patterns appear in this order.
in_order() {
    local name=$1
    shift
    in_order_text "$(trace "$name")" "$@"
}
# The text of an item of a page, as the page showed it last.
item_text() {
    trace "$1" | sed -nE "s/^page $2 item $3 at [-0-9,]+ [0-9]+x[0-9]+ visible=[01] enabled=[01] text=(.*)$/\1/p" | tail -n 1
}
# "X Y W H" of an item on the screen.
item_rect() {
    trace "$1" | sed -nE "s/^page $2 item $3 at (-?[0-9]+),(-?[0-9]+) ([0-9]+)x([0-9]+) .*/\1 \2 \3 \4/p" | tail -n 1
}
click_item() {
    local x y w h
    read -r x y w h <<<"$(item_rect "$1" "$2" "$3")"
    [ -n "$x" ] || { zv_log "  no item $3 on page $2"; return 1; }
    xdotool mousemove $((x + w / 2)) $((y + h / 2)) click 1
}

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
no_new_files_left() {
    local left
    # New copies, backups and the journal all start with "~zv".
    left=$(find "$(zv_drive_c)/ZARVEL" "$(zv_windows_dir)/system32" -iname '~zv*' | head -n 5)
    [ -z "$left" ] || { zv_log "  left behind: $left"; return 1; }
}

# The process id of the running updater.
updater_pid() {
    local pid
    pid=$(zv_windows_pid "$UPDATER")
    [ -n "$pid" ] || { zv_log "  no updater process"; return 1; }
    echo "$pid"
}
# Starts the updater (or PROGRAM) and goes on to the detection page.
to_detection() {
    local name=$1
    zv_start "$name" "${2:-$UPDATER}"
    wait_for "$name" '^page 401 item 100 ' 60 || return 1
    zv_key Return
    wait_for "$name" '^page (402 item 104|406 item -1) ' 30
}
# Starts the updater and goes on to the transfer page.
to_transfer() {
    local name=$1
    to_detection "$name" || return 1
    zv_key Return
    wait_for "$name" '^page 403 item 103 ' 30
}
# Starts holdfile.exe with ARGS (tests/wintests/holdfile.cpp), its output in
# $ZV_TMP/NAME.out, and waits until it holds its file.
hold_file() {
    local name=$1 i
    shift
    ( zv_wine "$HOLDFILE" "$@" >"$ZV_TMP/$name.out" 2>&1 & )
    for i in $(seq 1 100); do grep -q held "$ZV_TMP/$name.out" 2>/dev/null && return 0; sleep 0.2; done
    return 1
}
# Leaves the last page with its button and waits for the exit.
finish_run() {
    local name=$1 page=$2
    click_item "$name" "$page" 2
    zv_wait_exit "$name" 30
    zv_check "$name: the program ends with 0" equals "$ZV_RC" 0
}
# Resets the wine server, so that the next start runs with the current
# ZV_WINE_WRAP (the server is started by the first program of a prefix).
restart_wineserver() {
    zv_wineserver -k >/dev/null 2>&1
    zv_wineserver -w
}

# --- the scenarios ---------------------------------------------------------

# Wine's VerLanguageNameA gives the bare language where Windows adds the
# country ("English (United States)"); the page shows what the system says.
ENGLISH=English
GERMAN=German
HINT_NEXT='Click &Next to update Zarvel on your hard disk.'
HINT_QUIT='Click &Quit to return to Windows.'
SUCCESS_TEXT='Zarvel has been successfully updated to version 1.01.'
PARTIAL_TEXT='Zarvel has not been totally updated. You will have to run this utility again to completely update Zarvel.'
NOT_INSTALLED_TEXT='Zarvel is not installed. Please install it before trying to update it.'

scenario_happy() {
    zv_product_install 2
    zv_start happy "$UPDATER"
    wait_for happy '^page 401 item 100 ' 60 || return 1
    zv_screenshot happy_welcome
    zv_check "happy: the welcome page names the package's version" \
        equals "$(item_text happy 401 100)" 'Welcome to Zarvel v1.01 Updater.'
    zv_key Return
    wait_for happy '^page 402 item 104 ' 30 || return 1
    zv_screenshot happy_detected
    zv_check "happy: detection finds both variants and both runtime libraries" \
        has_line happy '^detected variants=0x1b runtime=0x3$'
    zv_check "happy: the detection page's caption" has_line happy '^page 402 created caption=Zarvel Updater - End$'
    local item want
    for item in "100=1.01" "101=1.01" "102=$ENGLISH" "103=Full" "104=C:\\ZARVEL" "120=" \
        "140=$HINT_NEXT"; do
        want=${item#*=}
        zv_check "happy: detection page item ${item%%=*} reads '$want'" equals "$(item_text happy 402 "${item%%=*}")" "$want"
    done
    zv_check "happy: Next is enabled" has_line happy '^page 402 item 1 at .* enabled=1 text=&Next >$'
    # After ten of the twenty entries the bar stands at 50 % while the large
    # map is expanded, which can take less than a screenshot: the updater is
    # held from Next on and let run in steps until it names the map.
    local pid
    pid=$(updater_pid) || return 1
    kill -STOP "$pid"
    zv_key Return
    zv_step_until happy "$pid" 'zvupdate: item 101 id=0 text=data\\world.map\n' || { kill -CONT "$pid"; return 1; }
    import -window root -depth 8 "$ZV_ARTIFACTS/happy_transfer_50.ppm"
    kill -CONT "$pid"
    convert "$ZV_ARTIFACTS/happy_transfer_50.ppm" "$ZV_ARTIFACTS/happy_transfer_50.png"
    zv_check "happy: the bar was still at 50 % when the screenshot was taken" lacks_line happy '^percent 55$'
    zv_check "happy: the bar's segments at 50 % on the screen" \
        python3 "$ZV_SCREEN" bar "$ZV_ARTIFACTS/happy_transfer_50.ppm" $(item_rect happy 403 102) 50
    zv_check "happy: the transfer page names the stage" \
        has_line happy '^page 403 created caption=Zarvel Updater - File Transfer$'
    wait_for happy '^page 404 item 101 ' 60 || return 1
    zv_screenshot happy_success
    zv_check "happy: the success page names the version" equals "$(item_text happy 404 101)" "$SUCCESS_TEXT"
    zv_check "happy: the runtime libraries go where the system keeps shared files" \
        in_order happy '^entry 0 pass 1 PLMR\.DLL: write C:\\windows\\system32\\PLMR\.DLL percent=5 result=0$' \
        '^entry 1 pass 1 PLMR32\.DLL: write C:\\windows\\system32\\PLMR32\.DLL percent=10 result=0$'
    zv_check "happy: the product files follow in pass 2, the help file in its new directory" \
        in_order happy '^entry 2 pass 2 zvact\.exe: write C:\\ZARVEL\\zvact\.exe percent=15 result=0$' \
        '^entry 8 pass 2 help\\zvact\.hlp: write C:\\ZARVEL\\help\\zvact\.hlp percent=45 result=0$' \
        '^entry 19 pass 2 data\\map09\.dat: write C:\\ZARVEL\\data\\map09\.dat percent=100 result=0$' \
        '^transfer result=0$' '^page 404 created'
    zv_check "happy: all twenty entries are written" equals "$(count_lines happy '^entry [0-9]+ pass [12] .*: write ')" 20
    zv_check "happy: no question is asked" lacks_line happy '^message '
    finish_run happy 404
    zv_check "happy: every file is new; the carried blocks and the checksum relation are kept" all_files_are new
    zv_check "happy: no new file is left beside its target" no_new_files_left
}

scenario_not_installed() {
    zv_product_install
    rm -f "$(zv_windows_dir)/zvact.ini"
    to_detection noini || return 1
    zv_screenshot not_installed
    zv_check "not installed: nothing detected" has_line noini '^detected variants=0x0 runtime=0x0$'
    zv_check "not installed: page 406 says so" has_line noini "^page 406 item -1 at .* text=$NOT_INSTALLED_TEXT\$"
    zv_check "not installed: the detection page is never shown" lacks_line noini '^page 402'
    # Alt+F4 on the backdrop ends the page with 2; the backdrop stays until
    # the shutdown.
    zv_key alt+F4
    zv_wait_exit noini 30
    zv_check "not installed: Alt+F4 ends page 406 with 2, then the program shuts down" \
        in_order noini '^backdrop close$' '^page 406 result 2$' '^backdrop destroyed$' '^exit 0$'
    zv_check "not installed: the program ends with 0" equals "$ZV_RC" 0
}

# name | preparation | 16-bit | 32-bit | language | installation type | message | how to leave
REFUSALS=$(cat <<EOF
newer|overlay newer|1.01|1.01|$ENGLISH|Normal|This program cannot update your installed version of Zarvel. The version on your hard disk has a higher or equal version number to this updater.|quit
translated|overlay translated|1.01|1.01|$GERMAN|Normal|This program cannot update your translated version of Zarvel.|escape
cdrom|overlay cd|1.01|1.01|$ENGLISH|Minimal|This program cannot update Zarvel on the CD Drive. You must re-install Zarvel using the "Normal" installation before you can update it.|altf4
noruntime32|no-runtime32|1.01|None|$ENGLISH|Minimal|This program cannot update Zarvel on the CD Drive. You must re-install Zarvel using the "Normal" installation before you can update it.|escape
EOF
)

prepare() {
    case $1 in
    overlay) zv_product_overlay "$2" ;;
    # The 32-bit runtime library is gone and of the 16-bit variant only the
    # data file is there: the 32-bit files no longer count, nor any main program.
    no-runtime32) rm -f "$(zv_windows_dir)/system32/PLMR32.DLL" "$(zv_drive_c)/ZARVEL/zvact.exe" ;;
    esac
}

scenario_refusals() {
    local name how v16 v32 language type message leave
    while IFS='|' read -r name how v16 v32 language type message leave; do
        zv_product_install 1
        # shellcheck disable=SC2086 # the preparation is a command with its words
        prepare $how
        to_detection "$name" || return 1
        zv_screenshot "refusal_$name"
        zv_check "$name: the 16-bit line reads $v16" equals "$(item_text "$name" 402 100)" "$v16"
        zv_check "$name: the 32-bit line reads $v32" equals "$(item_text "$name" 402 101)" "$v32"
        zv_check "$name: the language reads $language" equals "$(item_text "$name" 402 102)" "$language"
        zv_check "$name: the installation type reads $type" equals "$(item_text "$name" 402 103)" "$type"
        zv_check "$name: the verdict" equals "$(item_text "$name" 402 120)" "$message"
        zv_check "$name: the hint" equals "$(item_text "$name" 402 140)" "$HINT_QUIT"
        zv_check "$name: Next is disabled" has_line "$name" '^page 402 item 1 at .* enabled=0 text=&Next >$'
        zv_key Return
        sleep 0.5
        zv_check "$name: Enter does not end the page" lacks_line "$name" '^page 402 result'
        case $leave in
        quit) click_item "$name" 402 2 ;;
        escape) zv_key Escape ;;
        altf4) zv_key alt+F4 ;;
        esac
        zv_wait_exit "$name" 30
        zv_check "$name: leaving ($leave) ends the page with 2" has_line "$name" '^page 402 result 2$'
        zv_check "$name: no transfer" lacks_line "$name" '^page 403'
        zv_check "$name: the program ends with 0" equals "$ZV_RC" 0
    done <<<"$REFUSALS"

    zv_product_install 1
    rm -f "$(zv_windows_dir)/system32/PLMR.DLL" "$(zv_windows_dir)/system32/PLMR32.DLL"
    to_detection noruntime || return 1
    zv_check "no runtime library: no variant counts, page 406" has_line noruntime "^page 406 item -1 at .* text=$NOT_INSTALLED_TEXT\$"
    zv_check "no runtime library: variants 0" has_line noruntime '^detected variants=0x0 runtime=0x0$'
    zv_key Escape
    zv_wait_exit noruntime 30
    zv_check "no runtime library: the program ends with 0" equals "$ZV_RC" 0
}

# The halt confirmation as it stands.
check_halt_page() {
    local name=$1
    zv_check "$name: the halt confirmation asks" has_line "$name" \
        '^page 407 item -1 at .* text=Do you really want to halt the update\?$'
    zv_check "$name: the halt confirmation is captioned Install" has_line "$name" '^page 407 created caption=Install$'
}

scenario_halt() {
    zv_product_install
    to_transfer halt || return 1
    click_item halt 403 2
    wait_for halt '^page 407 item 7 ' 30 || return 1
    zv_screenshot halt_confirmation
    check_halt_page halt

    # A second start while the confirmation is up, with another window over
    # it: the second copy ends with 0 and brings the confirmation forward.
    zv_wine notepad >/dev/null 2>&1 &
    zv_wait_window "Untitled - Notepad" 30 >/dev/null || return 1
    xdotool search --name '^Untitled - Notepad$' windowraise >/dev/null 2>&1
    sleep 0.5
    zv_start second "$UPDATER"
    zv_wait_exit second 30
    zv_check "second start: ends with 0" equals "$ZV_RC" 0
    zv_check "second start: says another copy runs and creates nothing" \
        in_order second '^another copy is running$'
    zv_check "second start: creates no window" lacks_line second '^(start|backdrop|page)'
    sleep 0.5
    zv_screenshot halt_brought_to_front
    zv_check "second start: the halt confirmation is in front of the other window" \
        python3 - "$(zv_stacking)" <<'EOF'
import sys
names = [line.split(" ", 1)[1] if " " in line else "" for line in sys.argv[1].splitlines()]
sys.exit(0 if "Install" in names and "Untitled - Notepad" in names
         and names.index("Install") > names.index("Untitled - Notepad") else 1)
EOF
    zv_wine taskkill /im notepad.exe >/dev/null 2>&1
    sleep 0.5

    # No goes on with the next entries.
    click_item halt 407 7
    wait_for halt '^halt answer=7$' 10 || return 1
    local before
    before=$(count_lines halt '^entry [0-9]+ pass 2 .*: write ')
    wait_count halt '^entry [0-9]+ pass 2 .*: write ' $((before + 1)) 30
    zv_check "halt: No lets the transfer go on" in_order halt '^halt answer=7$' '^entry [0-9]+ pass 2 .*: write '

    # Yes halts at the next entry.
    click_item halt 403 2
    wait_count halt '^page 407 created' 2 30 || return 1
    click_item halt 407 6
    wait_for halt '^page 405 item 101 ' 30 || return 1
    zv_screenshot halt_partial
    zv_check "halt: Yes stops the transfer before the next entry; page 405 follows" \
        in_order halt '^halt answer=6$' '^entry [0-9]+ pass [12] .*: stopped percent=[0-9]+ result=-1$' \
        '^transfer result=-1$' '^page 405 created'
    zv_check "halt: page 405's text" equals "$(item_text halt 405 101)" "$PARTIAL_TEXT"
    zv_check "halt: no closing message after a halt" lacks_line halt '^message '
    finish_run halt 405
    zv_check "halt: every installed file is as it was" all_files_are old
    zv_check "halt: no new file is left beside its target" no_new_files_left
}

scenario_escape() {
    zv_product_install
    to_transfer escape || return 1
    zv_key Escape
    wait_for escape '^page 407 item 7 ' 30 || return 1
    check_halt_page escape
    # No is the default button: Enter keeps the transfer going. What is left
    # of the transfer after the confirmation (the nine 1 MB maps) takes less
    # than a second, less than a script needs to see the answer and press the
    # next key. So both keys are pressed while the program is held: it takes
    # Enter in the confirmation and Escape on the page as soon as it goes on.
    local pid
    pid=$(updater_pid) || return 1
    kill -STOP "$pid"
    zv_key Return Escape
    kill -CONT "$pid"
    wait_for escape '^halt answer=7$' 10 || return 1
    wait_count escape '^page 407 created' 2 30 || return 1
    zv_key Escape
    wait_for escape '^page 405 item 101 ' 30 || return 1
    zv_check "escape: Enter on the confirmation goes on, Escape on it halts" \
        in_order escape '^halt answer=7$' '^halt answer=2$' '^entry [0-9]+ pass [12] .*: stopped ' '^transfer result=-1$'
    finish_run escape 405
    zv_check "escape: every installed file is as it was" all_files_are old
    zv_check "escape: no new file is left beside its target" no_new_files_left
}

scenario_close() {
    zv_product_install
    to_transfer close || return 1
    zv_key alt+F4
    wait_for close '^page 405 item 101 ' 30 || return 1
    zv_check "close: Alt+F4 stops the transfer without a confirmation" \
        in_order close '^backdrop close$' '^entry [0-9]+ pass [12] .*: stopped percent=[0-9]+ result=-1$' \
        '^transfer result=-1$' '^page 405 created'
    zv_check "close: no halt confirmation" lacks_line close '^page 407'
    zv_check "close: the backdrop stays until the shutdown" lacks_line close '^backdrop destroyed$'
    finish_run close 405
    zv_check "close: every installed file is as it was" all_files_are old
    zv_check "close: no new file is left beside its target" no_new_files_left
}

scenario_protected() {
    local c
    c=$(zv_drive_c)
    zv_product_install
    chmod a-w "$c/ZARVEL/zvsv32.bin" "$c/ZARVEL/data/map03.dat"
    # Root writes read-only files anyway; without the capabilities that let
    # it, the files are write protected for Wine too.
    if [ "$(id -u)" -eq 0 ]; then
        ZV_WINE_WRAP="setpriv --inh-caps=-dac_override,-dac_read_search --bounding-set=-dac_override,-dac_read_search"
        restart_wineserver
    fi
    to_transfer protected || return 1
    wait_for protected '^message id=36 ' 30 || return 1
    zv_screenshot protected_question
    zv_check "protected: question 36 names the read-only file, Abort/Retry/Ignore" has_line protected \
        '^message id=36 style=0x32 text=C:\\ZARVEL\\zvsv32\.bin: Cannot remove this file because it is write protected\.$'
    chmod u+w "$c/ZARVEL/zvsv32.bin"
    zv_key r
    wait_for protected '^answer id=36 answer=4$' 10 || return 1
    wait_count protected '^message id=36 ' 2 30 || return 1
    zv_check "protected: then question 36 for the other file" has_line protected \
        '^message id=36 style=0x32 text=C:\\ZARVEL\\data\\map03\.dat: Cannot remove this file because it is write protected\.$'
    zv_key i
    wait_for protected '^page 404 item 101 ' 60 || return 1
    zv_check "protected: Retry writes the file once it is writable, Ignore keeps the other; the update counts as done" \
        in_order protected '^answer id=36 answer=4$' '^entry 7 pass 2 zvsv32\.bin: write C:\\ZARVEL\\zvsv32\.bin ' \
        '^answer id=36 answer=5$' '^entry 13 pass 2 data\\map03\.dat: kept: write protected, ignored percent=70 result=0$' \
        '^transfer result=0$' '^page 404 created'
    finish_run protected 404
    zv_check "protected: the file written after Retry is new, with its carried blocks" \
        equals "$(zv_product_state zvsv32.bin)" "zvsv32.bin new"
    zv_check "protected: the ignored file is as it was, and still read-only" \
        equals "$(zv_product_state data/map03.dat) $(stat -c %A "$c/ZARVEL/data/map03.dat")" "data/map03.dat old -r--r--r--"
    chmod u+w "$c/ZARVEL/data/map03.dat"
    zv_check "protected: every other file is new" equals "$(zv_product_state $ZV_PRODUCT_FILES | grep -cv ' new$')" 1
    ZV_WINE_WRAP=
    restart_wineserver
}

# Killed in the middle of the commit, with some installed files moved to
# their backups and some new copies in place: the next start finds the
# journal and puts everything back before it shows its first page. A program
# that holds one of the last files open (as a running program holds its
# files: reading and writing shared, renaming not) stops the commit there with
# question 39, and the updater is killed at that question.
scenario_interrupted() {
    local c pid
    c=$(zv_drive_c)
    zv_product_install
    zv_check "interrupted: another program holds data\\map05.dat" hold_file hold 'C:\ZARVEL\data\map05.dat'
    to_transfer interrupted || return 1
    wait_for interrupted '^message id=39 ' 60 || return 1
    zv_screenshot interrupted_in_use
    zv_check "interrupted: the commit stops at the held file with question 39" in_order interrupted \
        '^transfer stage commit$' \
        '^message id=39 style=0x35 text=C:\\ZARVEL\\data\\map05\.dat in use! Please, close all applications and retry\.$'
    pid=$(updater_pid) || return 1
    kill -KILL "$pid"
    pid=$(zv_windows_pid "$HOLDFILE")
    [ -n "$pid" ] && kill -KILL "$pid"
    restart_wineserver
    zv_check "interrupted: the kill left a half-updated installation and its journal" \
        test "$(zv_product_state $ZV_PRODUCT_FILES 2>&1 | grep -c ' new$')" -gt 0 -a -e "$c/ZARVEL/~zvupd.jnl"

    zv_start interrupted_next "$UPDATER"
    wait_for interrupted_next '^page 401 item 100 ' 60 || return 1
    zv_check "interrupted: the next start rolls back before its first page" \
        in_order interrupted_next '^recovery: the installation was rolled back ' '^page 401 created'
    zv_check "interrupted: every installed file is as it was" all_files_are old
    zv_check "interrupted: no new copy, backup or journal is left" no_new_files_left
    click_item interrupted_next 401 2
    zv_wait_exit interrupted_next 30
    zv_check "interrupted: the next start ends with 0" equals "$ZV_RC" 0

    # A journal that cannot be settled (here: not one at all) stays, and the
    # updater changes nothing while it is there.
    head -c 300 /dev/urandom >"$c/ZARVEL/~zvupd.jnl"
    cp "$c/ZARVEL/~zvupd.jnl" "$ZV_TMP/journal.kept"
    zv_start unsettled "$UPDATER"
    wait_for unsettled '^message id=72 ' 60 || return 1
    zv_screenshot interrupted_unsettled
    zv_check "interrupted: an unsettled journal is told, with the stop sign" has_line unsettled \
        '^message id=72 style=0x10 text=An earlier update of Zarvel was cut short and cannot be undone now\. Please close all applications, then run this program again\.$'
    zv_key Return
    zv_wait_exit unsettled 30
    zv_check "interrupted: then the updater ends without a page" lacks_line unsettled '^page 401'
    zv_check "interrupted: the journal stays as it was" cmp -s "$ZV_TMP/journal.kept" "$c/ZARVEL/~zvupd.jnl"
    zv_check "interrupted: and every installed file too" all_files_are old
    rm -f "$c/ZARVEL/~zvupd.jnl"
}

# A program of the product starts while the update runs, after its file was
# staged: the file can be renamed but not deleted. The update completes, and
# only that file's old copy and the journal that lists it stay. A start while
# the program still runs shows its pages as ever; the first start after it
# ended removes them. (To start the program at that moment, another program
# holds zvsa.bin, the entry before it, and so halts the commit at question
# 39 until it lets go.)
scenario_running() {
    local c pid backup
    c=$(zv_drive_c)
    zv_product_install
    hold_file running_doc 'C:\ZARVEL\zvsa.bin' || { zv_log "  zvsa.bin is not held"; return 1; }
    pid=$(zv_windows_pid "$HOLDFILE")
    [ -n "$pid" ] || { zv_log "  no holdfile process"; return 1; }
    to_transfer running || return 1
    wait_for running '^message id=39 ' 60 || return 1
    zv_check "running: the commit waits at the held zvsa.bin" has_line running \
        '^message id=39 style=0x35 text=C:\\ZARVEL\\zvsa\.bin in use! Please, close all applications and retry\.$'
    zv_check "running: zvact32.exe is mapped as a running program's file" \
        hold_file running_program --image 'C:\ZARVEL\zvact32.exe'
    kill -KILL "$pid"
    sleep 1
    zv_key Return
    wait_for running '^page 404 item 101 ' 60 || return 1
    zv_check "running: Retry goes on, and the update completes without another question" \
        equals "$(count_lines running '^message ')" 1
    finish_run running 404
    zv_check "running: every file is new" all_files_are new
    zv_check "running: the old copy and the journal stay, nothing else" \
        equals "$(cd "$c/ZARVEL" && find . -iname '~zv*' | sed 's/[0-9A-F]\{4\}\.tmp$/XXXX.tmp/' | sort | tr '\n' ' ')" \
        './~zvoXXXX.tmp ./~zvupd.jnl '
    backup=$(find "$c/ZARVEL" -iname '~zvo*.tmp' | head -n 1)
    zv_check "running: the old copy is the installed zvact32.exe" \
        cmp -s "$backup" "$ZV_PRODUCT_DIR/installed/ZARVEL/zvact32.exe"

    zv_start running_held "$UPDATER"
    wait_for running_held '^page 401 item 100 ' 60 || return 1
    zv_check "running: a start while it runs goes on to its welcome page" in_order running_held \
        '^recovery: the update was completed, but a file it left is still in use restored=0 removed=0 failed=1$' \
        '^page 401 created'
    click_item running_held 401 2
    zv_wait_exit running_held 30
    zv_check "running: and leaves the old copy and the journal" test -e "$backup" -a -e "$c/ZARVEL/~zvupd.jnl"

    pid=$(zv_windows_pid "$HOLDFILE")
    [ -n "$pid" ] && kill -KILL "$pid"
    restart_wineserver
    zv_start running_ended "$UPDATER"
    wait_for running_ended '^page 401 item 100 ' 60 || return 1
    zv_check "running: the first start after it ended removes them" in_order running_ended \
        '^recovery: the update was completed restored=0 removed=1 failed=0$' '^page 401 created'
    click_item running_ended 401 2
    zv_wait_exit running_ended 30
    zv_check "running: every file is new" all_files_are new
    zv_check "running: no new copy, backup or journal is left" no_new_files_left
}

# The packer with this build's updater: the package stamped into it lists,
# verifies and extracts to the very bytes of the new product files.
scenario_packer() {
    local quillon=$HOST_BUILD/quillon/quillon package=$ZV_PRODUCT_DIR/zvupdate.exe out=$ZV_TMP/extracted
    local file source differ=0
    zv_check "packer: list shows the stamped updater with its 20 entries" \
        in_order_text "$("$quillon" list "$package")" '^ +entries +20$' '^ +20 +data\\map09\.dat '
    zv_check "packer: verify finds every member sound" \
        equals "$("$quillon" verify "$package" | tail -n 1)" "$package: all 20 members sound"
    rm -rf "$out"
    "$quillon" extract "$package" "$out" >/dev/null || { zv_log "  extract failed"; differ=1; }
    for file in $ZV_PRODUCT_FILES; do
        case $file in
        PLMR*.DLL) source=$ZV_PRODUCT_DIR/new/SYSTEM/$file ;;
        *) source=$ZV_PRODUCT_DIR/new/ZARVEL/$file ;;
        esac
        cmp -s "$source" "$out/$file" || { zv_log "  $file differs from its source"; differ=1; }
    done
    zv_check "packer: extract writes every member as its source" test "$differ" = 0
}

# The package cut into volumes. All of them beside the updater (copied into
# one folder or onto one CD): the update runs through without a disk prompt.
# One volume not there: the prompt comes for it, names its number and the
# drive, and once the volume is put back, OK goes on to a whole update;
# Cancel at it leaves the installation as it was.
scenario_volumes() {
    local quillon=$HOST_BUILD/quillon/quillon dir=$ZV_TMP/volumes c image total size v count
    c=$(zv_drive_c)
    image=$(stat -c %s "$WINDOWS_BUILD/shell/zvupdate.exe")
    total=$(stat -c %s "$ZV_PRODUCT_DIR/zvupdate.exe")
    size=$((image + 4096 + (total - image) / 3))
    rm -rf "$dir"
    mkdir -p "$dir"
    (cd "$ZV_PRODUCT_DIR" && "$quillon" build package.txt --updater "$WINDOWS_BUILD/shell/zvupdate.exe" \
        --output "$dir/zvupdate.exe" --volume-size "$size" >"$dir/build.log") ||
        { cat "$dir/build.log" >&2; return 1; }
    count=$(ls "$dir" | grep -c '^zvupdate[0-9][0-9][0-9]$')
    zv_check "volumes: the package takes at least three volumes" test "$count" -ge 2

    zv_product_install 2
    cp "$dir"/zvupdate* "$c/update/"
    to_transfer volumes_beside || return 1
    wait_for volumes_beside '^page 404 item 101 ' 60 || return 1
    zv_check "volumes: every volume beside the updater is opened without a disk prompt" \
        lacks_line volumes_beside '^message '
    finish_run volumes_beside 404
    zv_check "volumes: every file is new" all_files_are new

    zv_product_install 2
    cp "$dir"/zvupdate* "$c/update/"
    v=$(printf 'zvupdate%03d' $((count + 1)))
    mv "$c/update/$v" "$dir/$v.away"
    to_transfer volumes_missing || return 1
    wait_for volumes_missing '^message id=98 ' 60 || return 1
    zv_screenshot volumes_disk_prompt
    zv_check "volumes: the missing volume is asked for by its number and drive" has_line volumes_missing \
        "^message id=98 style=0x1 text=Insert disk $((count + 1)) in drive C\.\$"
    zv_check "volumes: the volumes that are there were not asked for" \
        equals "$(count_lines volumes_missing '^message ')" 1
    mv "$dir/$v.away" "$c/update/$v"
    zv_key Return
    wait_for volumes_missing '^page 404 item 101 ' 60 || return 1
    finish_run volumes_missing 404
    zv_check "volumes: after OK with the volume back, every file is new" all_files_are new

    # Cancel at the disk prompt: the members read so far are staged, none is
    # put in place.
    zv_product_install 2
    cp "$dir"/zvupdate* "$c/update/"
    mv "$c/update/$v" "$dir/$v.away"
    to_transfer volumes_cancel || return 1
    wait_for volumes_cancel '^message id=98 ' 60 || return 1
    zv_key Escape
    wait_for volumes_cancel '^page 405 item 101 ' 60 || return 1
    zv_check "volumes: Cancel at the disk prompt ends without a closing message" \
        in_order volumes_cancel '^answer id=98 answer=2$' '^transfer result=2$' '^page 405 created'
    finish_run volumes_cancel 405
    zv_check "volumes: after Cancel at the disk prompt every installed file is as it was" all_files_are old
    zv_check "volumes: after Cancel at the disk prompt no new file is left" no_new_files_left
    mv "$dir/$v.away" "$c/update/$v"
    rm -f "$c"/update/zvupdate[0-9][0-9][0-9]
}

# The package signed after stamping: osslsigncode verify accepts volume 1,
# and the signed updater updates as the unsigned one does.
scenario_signed() {
    local quillon=$HOST_BUILD/quillon/quillon dir=$ZV_TMP/signed c
    if ! command -v osslsigncode >/dev/null || ! command -v openssl >/dev/null; then
        zv_log "signed: skipped, osslsigncode or openssl is not installed"
        return 0
    fi
    c=$(zv_drive_c)
    rm -rf "$dir"
    mkdir -p "$dir"
    openssl req -x509 -newkey rsa:2048 -sha256 -days 30 -subj /CN=Zarvel-Test -nodes \
        -addext extendedKeyUsage=codeSigning -keyout "$dir/key.pem" -out "$dir/cert.pem" >/dev/null 2>&1 ||
        { zv_log "  openssl could not make a certificate"; return 1; }
    (cd "$ZV_PRODUCT_DIR" && "$quillon" build package.txt --updater "$WINDOWS_BUILD/shell/zvupdate.exe" \
        --output "$dir/zvupdate.exe" --sign-cert "$dir/cert.pem" --sign-key "$dir/key.pem" >"$dir/build.log") ||
        { cat "$dir/build.log" >&2; return 1; }
    zv_check "signed: osslsigncode verify accepts volume 1" \
        osslsigncode verify -CAfile "$dir/cert.pem" -in "$dir/zvupdate.exe"
    zv_check "signed: quillon verify finds every member sound" \
        equals "$("$quillon" verify "$dir/zvupdate.exe" | tail -n 1)" "$dir/zvupdate.exe: all 20 members sound"
    zv_product_install 2
    cp "$dir/zvupdate.exe" "$c/update/zvupdate.exe"
    to_transfer signed || return 1
    wait_for signed '^page 404 item 101 ' 60 || return 1
    zv_check "signed: no question is asked" lacks_line signed '^message '
    finish_run signed 404
    zv_check "signed: every file is new" all_files_are new
}


# The updater with its package damaged as HOW says, as C:\update\NAME.exe:
#   cut      the file ends where the members' data begins
#   nodata   the first member (PLMR.DLL, the first one written) is four bytes
#            that declare 1,000,010 bytes, its record's size at 65,535 KB
#   table    the header claims 65,535 records
damaged_copy() {
    local name=$1 how=$2
    python3 - "$ZV_PRODUCT_DIR/zvupdate.exe" "$(zv_drive_c)/update/$name.exe" "$how" <<'EOF'
import struct, sys
source, target, how = sys.argv[1:]
data = bytearray(open(source, "rb").read())
at = data.find(struct.pack("<HI", 0x7777, 0x48295467))
table_offset, table_size, data_offset = struct.unpack_from("<III", data, at + 8)
if how == "cut":
    del data[data_offset:]
elif how == "nodata":
    record = table_offset
    flags = struct.unpack_from("<H", data, record + 2)[0]
    struct.pack_into("<H", data, record + 4, 0xFFFF)
    piece = data.index(0, record + 6) + 2 + (8 if flags & 0x16 else 0)
    volume, offset, length = struct.unpack_from("<HII", data, piece)
    struct.pack_into("<I", data, piece + 6, 4)
    struct.pack_into("<I", data, offset, 1000010)
elif how == "table":
    struct.pack_into("<H", data, at + 6, 65535)
elif how == "flip":
    # One bit of the last member's data: the lowest bit set in the expanded
    # size its stream starts with. The stream then decodes cleanly to fewer
    # bytes, which only the member's digest tells from the real ones.
    count = struct.unpack_from("<H", data, at + 6)[0]
    record = table_offset
    for _ in range(count - 1):
        record += struct.unpack_from("<H", data, record)[0]
    flags = struct.unpack_from("<H", data, record + 2)[0]
    piece = data.index(0, record + 6) + 2 + (8 if flags & 0x16 else 0)
    volume, offset, length = struct.unpack_from("<HII", data, piece)
    size = struct.unpack_from("<I", data, offset)[0]
    struct.pack_into("<I", data, offset, size & (size - 1))
open(target, "wb").write(data)
EOF
}

scenario_damaged() {
    local name how style key
    zv_product_install
    # Read errors during the transfer: the question about the program's own
    # file, then the page that says the update is incomplete.
    while read -r name how style key; do
        damaged_copy "$name" "$how" || return 1
        to_detection "$name" "C:\\update\\$name.exe" || return 1
        zv_check "$name: the table is whole, Next is enabled" has_line "$name" '^page 402 item 1 at .* enabled=1 '
        zv_key Return
        wait_for "$name" '^message id=34 ' 60 || return 1
        zv_screenshot "damaged_$name"
        zv_check "$name: read error of the updater's own file, style $style" has_line "$name" \
            "^message id=34 style=$style text=C:\\\\update\\\\$name\\.exe: read error!\$"
        zv_key "$key"
        wait_for "$name" '^page 405 item 101 ' 30 || return 1
        zv_check "$name: no success page" lacks_line "$name" '^page 404'
        zv_check "$name: the transfer ends with 2" has_line "$name" '^transfer result=2$'
        zv_check "$name: nothing is put in place" lacks_line "$name" '^transfer stage commit$'
        finish_run "$name" 405
        zv_check "$name: every installed file is as it was" all_files_are old
        zv_check "$name: no new file is left beside its target" no_new_files_left
    done <<'EOF'
cut cut 0x35 Escape
nodata nodata 0x30 Return
EOF

    # One flipped bit in a member's data that decodes cleanly: the member's
    # digest finds it once it is staged, the update is rolled back, and the
    # message names the member.
    damaged_copy flip flip || return 1
    to_detection flip 'C:\update\flip.exe' || return 1
    zv_key Return
    wait_for flip '^message id=71 ' 60 || return 1
    zv_screenshot damaged_flip
    zv_check "flip: the damaged member is named" has_line flip \
        '^message id=71 style=0x30 text=data\\map09\.dat: the update package is damaged\. Zarvel has been left as it was\. Please get a new copy of this updater\.$'
    zv_key Return
    wait_for flip '^page 405 item 101 ' 30 || return 1
    zv_check "flip: found while staging, rolled back before anything is put in place" in_order flip \
        '^transfer stage stage$' '^transfer stage roll back$' '^transfer result=71$' '^page 405 created'
    zv_check "flip: nothing is put in place" lacks_line flip '^transfer stage commit$'
    finish_run flip 405
    zv_check "flip: every installed file is as it was" all_files_are old
    zv_check "flip: no new file is left beside its target" no_new_files_left

    # A damaged table: the detection page says so and offers no Next.
    damaged_copy table table || return 1
    to_detection table 'C:\update\table.exe' || return 1
    zv_screenshot damaged_table
    zv_check "table: the detection page says the package is damaged" equals "$(item_text table 402 120)" \
        'This program cannot update Zarvel: its update package is damaged. Please get a new copy of this updater.'
    zv_check "table: the hint" equals "$(item_text table 402 140)" "$HINT_QUIT"
    zv_check "table: Next is disabled" has_line table '^page 402 item 1 at .* enabled=0 text=&Next >$'
    click_item table 402 2
    zv_wait_exit table 30
    zv_check "table: no transfer" lacks_line table '^page 403'
    zv_check "table: the program ends with 0" equals "$ZV_RC" 0
    zv_check "table: every installed file is as it was" all_files_are old
}


# A user who may change the product folder plants links where the update
# writes: "help" (a folder the update makes) as a link to the system
# directory, and links at the name of a new copy, one to a system file and
# one dangling. Each is refused before anything is written, with message 76
# naming it; never the success page; the system directory and the
# installation stay as they were, and the planted link is left alone.
links_run() {
    local name=$1 refused=$2
    to_detection "$name" || return 1
    zv_key Return
    wait_for "$name" '^message id=76 ' 60 || return 1
    zv_screenshot "links_$name"
    zv_check "$name: the link is named" has_line "$name" \
        "^message id=76 style=0x30 text=$refused is a link to another place, or is in the way of the update\\. Zarvel has been left as it was\\. Please have it removed, then run this program again\\.\$"
    zv_key Return
    wait_for "$name" '^page 405 item 101 ' 30 || return 1
    zv_check "$name: no success page" lacks_line "$name" '^page 404'
    zv_check "$name: the transfer ends with 76" has_line "$name" '^transfer result=76$'
    zv_check "$name: nothing is put in place" lacks_line "$name" '^transfer stage commit$'
    finish_run "$name" 405
    zv_check "$name: every installed file is as it was" all_files_are old
}
# What changed in the system directory since the last mark_system: files
# made or changed (new copies made and removed again change only the folder).
mark_system() { touch "$ZV_TMP/links.mark"; }
system_state() {
    (cd "$(zv_windows_dir)/system32" && find . -mindepth 1 -newer "$ZV_TMP/links.mark" -print | sort)
}
scenario_links() {
    local c system32
    c=$(zv_drive_c)
    system32=$(zv_windows_dir)/system32
    zv_product_install
    printf 'a system file\r\n' >"$system32/victim2.dll"
    mark_system

    ln -s "$system32" "$c/ZARVEL/help"
    links_run linkhelp 'C:\\ZARVEL\\help' || return 1
    zv_check "linkhelp: nothing is written into the system directory" equals "$(system_state)" ""
    zv_check "linkhelp: no help file there" test ! -e "$system32/zvact.hlp"
    zv_check "linkhelp: the link stays" test -L "$c/ZARVEL/help"
    rm -f "$c/ZARVEL/help"
    zv_check "linkhelp: no new file is left beside its target" no_new_files_left

    zv_product_install
    mark_system
    ln -s "$system32/victim2.dll" "$c/ZARVEL/~zvn0002.tmp"
    links_run linkstaged 'C:\\ZARVEL\\~zvn0002\.tmp' || return 1
    zv_check "linkstaged: the system file is as it was" equals "$(cat "$system32/victim2.dll")" $'a system file\r'
    zv_check "linkstaged: nothing is written into the system directory" equals "$(system_state)" ""
    zv_check "linkstaged: the link stays" test -L "$c/ZARVEL/~zvn0002.tmp"
    rm -f "$c/ZARVEL/~zvn0002.tmp"

    zv_product_install
    mark_system
    ln -s "$system32/planted.dll" "$c/ZARVEL/~zvn0003.tmp"
    links_run linkdangling 'C:\\ZARVEL\\~zvn0003\.tmp' || return 1
    zv_check "linkdangling: no file is made where the link points" test ! -e "$system32/planted.dll"
    zv_check "linkdangling: nothing is written into the system directory" equals "$(system_state)" ""
    rm -f "$c/ZARVEL/~zvn0003.tmp" "$system32/victim2.dll"
    zv_check "links: no new file is left beside its target" no_new_files_left
}

ALL_SCENARIOS="packer volumes signed damaged happy not_installed refusals halt escape close protected interrupted
    running links"
zv_start_xvfb 1024 768
zv_make_prefix
zv_log "prefix made after ${SECONDS} s"
for scenario in ${*:-$ALL_SCENARIOS}; do
    started=$SECONDS
    zv_log "== $scenario"
    if ! "scenario_$scenario"; then
        ZV_FAILURES=$((ZV_FAILURES + 1))
        zv_log "FAILED: scenario $scenario did not get to its end"
        trace "${scenario}" 2>/dev/null | tail -n 30 >&2
        restart_wineserver
    fi
    zv_log "== $scenario: $((SECONDS - started)) s"
done
zv_log "all scenarios in ${SECONDS} s"
zv_finish
