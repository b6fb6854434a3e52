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
#                says that Zarvel was left as it was
#   escape       Escape on the page, Enter (No) on the confirmation, Escape
#                again and Escape on the confirmation halts
#   close        Alt+F4 on the backdrop during the transfer stops it at once
#   protected    read-only installed files: question 36, Retry after making
#                the file writable, Ignore keeps the other
#   interrupted  the updater killed in the middle of its commit, held there
#                by a file another program holds (which quillon.exe plan
#                lists as held beforehand): the next start rolls the update
#                back before it shows a page
#   planted      a journal crafted to delete files outside the product: in
#                the product directory it is nobody's, in the Windows
#                directory it is refused with a message naming it; nothing
#                outside the product changes, and once deleted as the
#                message says the updater goes on
#   running      a product program starts during the commit: its old copy
#                cannot be removed; the update completes, and the first start
#                after the program ended removes the old copy and the journal
#   packer       quillon list, verify and extract on the package stamped into
#                this build's updater
#   volumes      the package cut into volumes: all beside the updater, no
#                disk prompt; one missing, the prompt for it alone
#   signed       the package signed with osslsigncode: it verifies, and updates
#                as the unsigned one does
#   tampered     signed packages changed after signing (a member swapped with
#                its digest fixed up; signed without integrity data, or with a
#                newer kind of it): refused at start, before any page
#   signed_volumes   a signed package in volumes, a member on volume 2 changed:
#                its digest finds it while staging
#   no_trust_service   wintrust.dll disabled: a signed package bound by its
#                digests goes on, an unbound one is refused
#   no_sha256    the system's SHA-256 provider disabled: the update stops
#                before anything is staged, and says why
#   links        links planted in the product folder (help to the system
#                directory, a new copy's name to a system file, a dangling
#                one): refused with message 76, nothing written anywhere
#   damaged      a package cut short, a member without data, a member with a
#                flipped bit (found by its digest) and a table that claims more
#                records than it holds, two names for one file by the case of
#                their accented letters: never the success page, never a
#                changed installed file
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

trace() { zv_trace "$1"; }
has_line() { trace "$1" | grep -qE -- "$2"; }
lacks_line() { ! has_line "$1" "$2"; }
count_lines() { trace "$1" | grep -cE -- "$2"; }
equals() { [ "$1" = "$2" ] || { zv_log "  got '$1', expected '$2'"; return 1; }; }
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
    # New copies, backups and the journal (in the Windows directory) all
    # start with "~zv".
    left=$({ find "$(zv_drive_c)/ZARVEL" "$(zv_windows_dir)/system32" -iname '~zv*'
        find "$(zv_windows_dir)" -maxdepth 1 -iname '~zv*'; } | head -n 5)
    [ -z "$left" ] || { zv_log "  left behind: $left"; return 1; }
}

# The process id of the running updater.
updater_pid() {
    local pid
    pid=$(zv_windows_pid "$UPDATER")
    [ -n "$pid" ] || { zv_log "  no updater process"; return 1; }
    echo "$pid"
}
# Starts the updater (or PROGRAM) and goes on to the detection page; HOLD
# texts, if any, hold the program there (zv_start).
to_detection() {
    local name=$1 program=${2:-$UPDATER}
    shift $(($# < 2 ? $# : 2))
    zv_start "$name" "$program" "$@"
    zv_wait_ready "$name" 'page 401' || return 1
    zv_key Return
    zv_wait_ready "$name" 'page (402|406)'
}
# Starts the updater and goes on to the transfer page.
to_transfer() {
    to_detection "$1" || return 1
    zv_key Return
    zv_wait_ready "$1" 'page 403'
}
# The same, for a key or click on the transfer page: the transfer goes on
# without waiting for the user, faster than a script could act on it, so the
# program is held where the page is ready (its hold 1), with the HOLD texts
# as its later holds.
to_transfer_held() {
    local name=$1
    shift
    to_detection "$name" "$UPDATER" 'page 403 ready' "$@" || return 1
    zv_key Return
    zv_wait_held "$name" 1
}
# Starts holdfile.exe with ARGS (tests/wintests/holdfile.cpp), its output in
# $ZV_TMP/NAME.out, and waits until it holds its file.
hold_file() {
    local name=$1
    shift
    rm -f "$ZV_TMP/$name.out"
    ( zv_wine "$HOLDFILE" "$@" >"$ZV_TMP/$name.out" 2>&1 & )
    zv_wait_until "" "holdfile $* to hold its file" grep -q held "$ZV_TMP/$name.out"
}
# The exit code: Wine hands the host only its low byte (1602 arrives as 66);
# the whole code is in the trace's "exit" line.
rc_is() { equals "$ZV_RC" "$(($1 & 255))"; }
# Leaves the last page with its button and waits for the exit, which must
# be CODE (0 when not given).
finish_run() {
    local name=$1 page=$2 code=${3:-0}
    zv_wait_ready "$name" "page $page" || return 1
    zv_click_item "$name" "$page" 2
    zv_wait_exit "$name"
    zv_check "$name: the program ends with $code" rc_is "$code"
    zv_check "$name: the trace says the exit code" has_line "$name" "^exit $code [A-Za-z]+: "
}
# Takes screenshot SHOT and checks that it shows the bar of NAME's transfer
# page at PERCENT.
bar_on_screen() {
    local name=$1 shot=$2 percent=$3
    zv_screenshot "$shot" &&
        python3 "$ZV_SCREEN" bar "$ZV_ARTIFACTS/$shot.ppm" $(zv_item_rect "$name" 403 102) "$percent" >/dev/null 2>&1
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
LEFT_TEXT='Zarvel has been left as it was: none of its files has been changed.'
NOT_INSTALLED_TEXT='Zarvel is not installed. Please install it before trying to update it.'

scenario_happy() {
    zv_product_install 2
    # After ten of the twenty entries the bar stands at 50 % while the large
    # map is expanded, which can take less than a screenshot: the updater is
    # held where it names the map.
    zv_start happy "$UPDATER" 'item 101 id=0 text=data\world.map'
    zv_wait_ready happy 'page 401' || return 1
    zv_screenshot happy_welcome
    zv_check "happy: the welcome page names the package's version" \
        equals "$(item_text happy 401 100)" 'Welcome to Zarvel v1.01 Updater.'
    zv_key Return
    zv_wait_ready happy 'page 402' || return 1
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
    zv_key Return
    zv_wait_held happy 1 || return 1
    # What the program drew reaches the X server a moment after it: the
    # screen is taken until it shows the state the program stands in.
    zv_check "happy: the bar's segments at 50 % on the screen" \
        zv_wait_until happy "the bar at 50 % on the screen" bar_on_screen happy happy_transfer_50 50
    zv_check "happy: the bar was still at 50 % when the screenshot was taken" lacks_line happy '^percent 55$'
    zv_release happy 1
    zv_check "happy: the transfer page names the stage" \
        has_line happy '^page 403 created caption=Zarvel Updater - File Transfer$'
    zv_wait_ready happy 'page 404' || return 1
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
    zv_check "happy: no question is asked" lacks_line happy '^message id='
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
    zv_wait_exit noini
    zv_check "not installed: Alt+F4 ends page 406 with 2, then the program shuts down" \
        in_order noini '^backdrop close$' '^page 406 result 2$' '^backdrop destroyed$' '^exit 1605 NotInstalled: '
    zv_check "not installed: the program ends with 1605" rc_is 1605
}

# name | preparation | 16-bit | 32-bit | language | installation type | message | how to leave | exit code
REFUSALS=$(cat <<EOF
newer|overlay newer|1.01|1.01|$ENGLISH|Normal|This program cannot update your installed version of Zarvel. The version on your hard disk has a higher or equal version number to this updater.|quit|1638
translated|overlay translated|1.01|1.01|$GERMAN|Normal|This program cannot update your translated version of Zarvel.|escape|1642
cdrom|overlay cd|1.01|1.01|$ENGLISH|Minimal|This program cannot update Zarvel on the CD Drive. You must re-install Zarvel using the "Normal" installation before you can update it.|altf4|1642
noruntime32|no-runtime32|1.01|None|$ENGLISH|Minimal|This program cannot update Zarvel on the CD Drive. You must re-install Zarvel using the "Normal" installation before you can update it.|escape|1642
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
    local name how v16 v32 language type message leave code
    while IFS='|' read -r name how v16 v32 language type message leave code; do
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
        # Enter first: the key that leaves comes after it, so a page that
        # Enter had ended would end with 1.
        zv_key Return
        case $leave in
        quit) zv_click_item "$name" 402 2 ;;
        escape) zv_key Escape ;;
        altf4) zv_key alt+F4 ;;
        esac
        zv_wait_exit "$name"
        zv_check "$name: Enter does not end the page; leaving ($leave) ends it with 2" \
            equals "$(trace "$name" | grep -E '^page 402 result ')" 'page 402 result 2'
        zv_check "$name: no transfer" lacks_line "$name" '^page 403'
        zv_check "$name: the program ends with $code" rc_is "$code"
    done <<<"$REFUSALS"

    zv_product_install 1
    rm -f "$(zv_windows_dir)/system32/PLMR.DLL" "$(zv_windows_dir)/system32/PLMR32.DLL"
    to_detection noruntime || return 1
    zv_check "no runtime library: no variant counts, page 406" has_line noruntime "^page 406 item -1 at .* text=$NOT_INSTALLED_TEXT\$"
    zv_check "no runtime library: variants 0" has_line noruntime '^detected variants=0x0 runtime=0x0$'
    zv_key Escape
    zv_wait_exit noruntime
    zv_check "no runtime library: the program ends with 1605 (not installed)" rc_is 1605
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
    # Cancel is clicked while the program stands where the transfer page is
    # ready, and again where it names map02, so that both clicks come before
    # the transfer ends, however fast the machine.
    to_transfer_held halt 'item 101 id=0 text=data\map02.dat' || return 1
    zv_click_item halt 403 2
    zv_release halt 1
    zv_wait_ready halt 'page 407' || return 1
    zv_screenshot halt_confirmation
    check_halt_page halt

    # A second start while the confirmation is up, with another window over
    # it: the second copy ends with 1618 and brings the confirmation forward.
    zv_wine notepad >/dev/null 2>&1 &
    zv_wait_window "Untitled - Notepad" >/dev/null || return 1
    xdotool search --name '^Untitled - Notepad$' windowraise >/dev/null 2>&1
    zv_wait_above "Untitled - Notepad" Install || return 1
    zv_start second "$UPDATER"
    zv_wait_exit second
    zv_check "second start: ends with 1618" rc_is 1618
    zv_check "second start: says another copy runs and creates nothing" \
        in_order second '^another copy is running$'
    zv_check "second start: creates no window" lacks_line second '^(start|backdrop|page)'
    zv_check "second start: the halt confirmation is in front of the other window" \
        zv_wait_above Install "Untitled - Notepad"
    zv_screenshot halt_brought_to_front
    zv_wine taskkill /im notepad.exe >/dev/null 2>&1
    zv_wait_until "" "Notepad to close" zv_lacks_window "Untitled - Notepad" || return 1

    # No goes on with the next entries.
    zv_click_item halt 407 7
    zv_wait_held halt 2 || return 1
    zv_check "halt: No lets the transfer go on" in_order halt '^halt answer=7$' '^entry [0-9]+ pass 2 .*: write '

    # Yes halts at the next entry.
    zv_click_item halt 403 2
    zv_release halt 2
    zv_wait_ready halt 'page 407' 2 || return 1
    zv_click_item halt 407 6
    zv_wait_ready halt 'page 405' || return 1
    zv_screenshot halt_partial
    zv_check "halt: Yes stops the transfer before the next entry; page 405 follows" \
        in_order halt '^halt answer=6$' '^entry [0-9]+ pass [12] .*: stopped percent=[0-9]+ result=-1$' \
        '^transfer result=-1$' '^page 405 created'
    zv_check "halt: page 405's text" equals "$(item_text halt 405 101)" "$PARTIAL_TEXT"
    zv_check "halt: page 405 says that Zarvel was left as it was, below its text" \
        has_line halt "^page 405 item 102 at .* visible=1 enabled=1 text=$LEFT_TEXT\$"
    zv_check "halt: the whole roll back is traced" in_order halt '^transfer result=-1$' '^installation left as it was=1$'
    zv_check "halt: no closing message after a halt" lacks_line halt '^message id='
    finish_run halt 405 1602
    zv_check "halt: every installed file is as it was" all_files_are old
    zv_check "halt: no new file is left beside its target" no_new_files_left
}

scenario_escape() {
    zv_product_install
    to_transfer_held escape 'page 407 ready' || return 1
    zv_key Escape
    zv_release escape 1
    zv_wait_held escape 2 || return 1
    check_halt_page escape
    # No is the default button: Enter keeps the transfer going. What is left
    # of the transfer after the confirmation (the nine 1 MB maps) can pass
    # before a script sees the answer. So both keys are pressed while the
    # program stands at the confirmation, before it takes either: it takes
    # Enter in the confirmation and Escape on the page as soon as it goes on.
    zv_key Return Escape
    zv_release escape 2
    zv_wait_ready escape 'page 407' 2 || return 1
    zv_key Escape
    zv_wait_ready escape 'page 405' || return 1
    zv_check "escape: Enter on the confirmation goes on, Escape on it halts" \
        in_order escape '^halt answer=7$' '^halt answer=2$' '^entry [0-9]+ pass [12] .*: stopped ' '^transfer result=-1$'
    finish_run escape 405 1602
    zv_check "escape: every installed file is as it was" all_files_are old
    zv_check "escape: no new file is left beside its target" no_new_files_left
}

scenario_close() {
    zv_product_install
    to_transfer_held close || return 1
    zv_key alt+F4
    zv_release close 1
    zv_wait_ready close 'page 405' || return 1
    zv_check "close: Alt+F4 stops the transfer without a confirmation" \
        in_order close '^backdrop close$' '^entry [0-9]+ pass [12] .*: stopped percent=[0-9]+ result=-1$' \
        '^transfer result=-1$' '^page 405 created'
    zv_check "close: no halt confirmation" lacks_line close '^page 407'
    zv_screenshot close_partial
    zv_check "close: page 405 keeps its text and says that Zarvel was left as it was" \
        test "$(item_text close 405 101)|$(item_text close 405 102)" = "$PARTIAL_TEXT|$LEFT_TEXT"
    zv_check "close: the backdrop stays until the shutdown" lacks_line close '^backdrop destroyed$'
    finish_run close 405 1602
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
    zv_wait_ready protected message || return 1
    zv_screenshot protected_question
    zv_check "protected: question 36 names the read-only file, Abort/Retry/Ignore" has_line protected \
        '^message id=36 style=0x32 text=C:\\ZARVEL\\zvsv32\.bin: Cannot remove this file because it is write protected\.$'
    chmod u+w "$c/ZARVEL/zvsv32.bin"
    zv_key r
    zv_wait_trace protected '^answer id=36 answer=4$' || return 1
    zv_wait_ready protected message 2 || return 1
    zv_check "protected: then question 36 for the other file" has_line protected \
        '^message id=36 style=0x32 text=C:\\ZARVEL\\data\\map03\.dat: Cannot remove this file because it is write protected\.$'
    zv_key i
    zv_wait_ready protected 'page 404' || return 1
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
    # quillon plan, run on the machine, says which installed file is held.
    # Wine's Restart Manager is made of stubs that name nobody, so the
    # program is not named here; the file is found held all the same.
    zv_wine "$WINDOWS_BUILD/quillon/quillon.exe" plan --updater "$UPDATER" 2>/dev/null | tr -d '\r' >"$ZV_TMP/plan_held.txt"
    zv_check "interrupted: quillon.exe plan lists the held file, and it alone" equals \
        "$(sed -n '/^installed files that running programs hold now/,/^$/p' "$ZV_TMP/plan_held.txt")" \
        "$(printf '%s\n' 'installed files that running programs hold now (the updater would ask to close them):' \
            '  C:\ZARVEL\data\map05.dat: a program that the system does not name')"
    zv_wine "$WINDOWS_BUILD/quillon/quillon.exe" plan --json --updater "$UPDATER" 2>/dev/null >"$ZV_TMP/plan_held.json"
    zv_check "interrupted: and its JSON marks that entry alone as held" equals "$(python3 -c '
import json, sys
for e in json.load(open(sys.argv[1]))["entries"]:
    if "heldBy" in e: print(e["target"] + "|" + e["heldBy"])
' "$ZV_TMP/plan_held.json")" 'C:\ZARVEL\data\map05.dat|'
    to_transfer interrupted || return 1
    zv_wait_ready interrupted message || return 1
    zv_screenshot interrupted_in_use
    # With no holder named, question 39 asks to close every program.
    zv_check "interrupted: the commit stops at the held file with question 39" in_order interrupted \
        '^transfer stage commit$' \
        '^message id=39 style=0x35 text=C:\\ZARVEL\\data\\map05\.dat in use! Please, close all applications and retry\.$'
    pid=$(updater_pid) || return 1
    kill -KILL "$pid"
    pid=$(zv_windows_pid "$HOLDFILE")
    [ -n "$pid" ] && kill -KILL "$pid"
    restart_wineserver
    zv_check "interrupted: the kill left a half-updated installation and its journal" \
        test "$(zv_product_state $ZV_PRODUCT_FILES 2>&1 | grep -c ' new$')" -gt 0 -a -e "$(zv_windows_dir)/~zvupd.jnl"

    zv_start interrupted_next "$UPDATER"
    zv_wait_ready interrupted_next 'page 401' || return 1
    zv_check "interrupted: the next start rolls back before its first page" \
        in_order interrupted_next '^recovery: the installation was rolled back ' '^page 401 created'
    zv_check "interrupted: every installed file is as it was" all_files_are old
    zv_check "interrupted: no new copy, backup or journal is left" no_new_files_left
    zv_click_item interrupted_next 401 2
    zv_wait_exit interrupted_next
    zv_check "interrupted: the next start ends with 1602 (Quit)" rc_is 1602

    # A journal that is refused (here: not one at all) stays, the updater
    # changes nothing while it is there, and the message names it.
    head -c 300 /dev/urandom >"$(zv_windows_dir)/~zvupd.jnl"
    cp "$(zv_windows_dir)/~zvupd.jnl" "$ZV_TMP/journal.kept"
    zv_start unsettled "$UPDATER"
    zv_wait_ready unsettled message || return 1
    zv_screenshot interrupted_unsettled
    zv_check "interrupted: a refused journal is named, with what to do and the stop sign" has_line unsettled \
        '^message id=120 style=0x10 text=C:\\windows\\~zvupd\.jnl, the record of an earlier update of Zarvel, is damaged\. Nothing has been changed\. If no other copy of this program is running, delete that file, then run this program again\.$'
    zv_key Return
    zv_wait_exit unsettled
    zv_check "interrupted: then the updater ends without a page" lacks_line unsettled '^page 401'
    zv_check "interrupted: and with 1603 (nothing changed)" rc_is 1603
    zv_check "interrupted: the journal stays as it was" cmp -s "$ZV_TMP/journal.kept" "$(zv_windows_dir)/~zvupd.jnl"
    zv_check "interrupted: and every installed file too" all_files_are old
    rm -f "$(zv_windows_dir)/~zvupd.jnl"
}

# Writes to $1 a journal of the product in C:\ZARVEL with a checksum that
# holds, state Committing, and entries "no installed copy, new copy moved in"
# for files outside the product and one of it, each recorded with the file's
# own size and SHA-256 (anyone who can read a file can compute them): settling
# it as it stands would remove every one of them.
plant_journal() {
    local c w
    c=$(zv_drive_c)
    w=$(zv_windows_dir)
    python3 - "$1" \
        'C:\windows\system32\victim.dll' "$w/system32/victim.dll" \
        'C:\windows\win.ini' "$w/win.ini" \
        'C:\Secret\important.txt' "$c/Secret/important.txt" \
        'C:\ZARVEL\zvact.exe' "$c/ZARVEL/zvact.exe" <<'PY'
import hashlib, struct, sys, zlib
def path(p):
    b = p.encode()
    return struct.pack('<H', len(b)) + b
pairs = list(zip(sys.argv[2::2], sys.argv[3::2]))
out = b'ZVJN' + struct.pack('<HBBI', 2, 2, 0, len(pairs)) + path('C:\\ZARVEL')
for index, (target, host) in enumerate(pairs):
    data = open(host, 'rb').read()
    folder = target[:target.rfind('\\') + 1]
    out += struct.pack('<HBI', index, 2, len(data)) + hashlib.sha256(data).digest() + bytes(36)
    out += path(target) + path(folder + '~zvn%04X.tmp' % index) + path(folder + '~zvo%04X.tmp' % index)
out += struct.pack('<I', zlib.crc32(out) & 0xFFFFFFFF)
open(sys.argv[1], 'wb').write(out)
PY
}

# The files the planted journal names, and their digests.
planted_victims() {
    local c w
    c=$(zv_drive_c)
    w=$(zv_windows_dir)
    sha256sum "$w/system32/victim.dll" "$w/win.ini" "$c/Secret/important.txt" "$c/ZARVEL/zvact.exe" 2>&1
}

# A journal crafted to delete files outside the product, as an ordinary user
# could plant it in the product directory, which is often writable by all:
# there it is nobody's journal, read by no one. In the Windows directory,
# where only administrators write (a damaged disk could leave one there too),
# the same journal is refused whole, nothing is touched, and the message names
# the file and what to do; once it is deleted the updater goes on.
scenario_planted() {
    local c w victims
    c=$(zv_drive_c)
    w=$(zv_windows_dir)
    zv_product_install
    mkdir -p "$c/Secret"
    printf 'the secret\r\n' >"$c/Secret/important.txt"
    printf 'a system library' >"$w/system32/victim.dll"
    [ -e "$w/win.ini" ] || printf '[windows]\r\n' >"$w/win.ini"
    victims=$(planted_victims)
    plant_journal "$c/ZARVEL/~zvupd.jnl" || { zv_log "  the journal cannot be made"; return 1; }
    cp "$c/ZARVEL/~zvupd.jnl" "$ZV_TMP/planted.jnl"

    zv_start planted "$UPDATER"
    zv_wait_ready planted 'page 401' || return 1
    zv_check "planted: in the product directory it is nobody's journal: no recovery, the welcome page" \
        lacks_line planted '^recovery: '
    zv_check "planted: every file it names is as it was" equals "$(planted_victims)" "$victims"
    zv_check "planted: the planted file is left alone" cmp -s "$ZV_TMP/planted.jnl" "$c/ZARVEL/~zvupd.jnl"
    zv_click_item planted 401 2
    zv_wait_exit planted
    zv_check "planted: the updater ends with 1602 (Quit)" rc_is 1602

    mv "$c/ZARVEL/~zvupd.jnl" "$w/~zvupd.jnl"
    zv_start planted_windows "$UPDATER"
    zv_wait_ready planted_windows message || return 1
    zv_screenshot planted_refused
    zv_check "planted: in the Windows directory it is refused as damaged" has_line planted_windows \
        '^recovery: the journal is damaged restored=0 removed=0 failed=0 notours=0$'
    zv_check "planted: the message names the file and what to do, with the stop sign" has_line planted_windows \
        '^message id=120 style=0x10 text=C:\\windows\\~zvupd\.jnl, the record of an earlier update of Zarvel, is damaged\. Nothing has been changed\. If no other copy of this program is running, delete that file, then run this program again\.$'
    zv_key Return
    zv_wait_exit planted_windows
    zv_check "planted: then the updater ends with 1603, without a page" \
        test "$ZV_RC" = $((1603 & 255)) -a "$(count_lines planted_windows '^page 401')" = 0
    zv_check "planted: every file it names is still as it was" equals "$(planted_victims)" "$victims"
    zv_check "planted: the journal is left as it was" cmp -s "$ZV_TMP/planted.jnl" "$w/~zvupd.jnl"
    zv_check "planted: and every installed file too" all_files_are old

    rm -f "$w/~zvupd.jnl"
    zv_start planted_deleted "$UPDATER"
    zv_wait_ready planted_deleted 'page 401' || return 1
    zv_check "planted: once it is deleted, the updater shows its welcome page" lacks_line planted_deleted '^recovery: '
    zv_click_item planted_deleted 401 2
    zv_wait_exit planted_deleted
    zv_check "planted: nothing of the update is left anywhere" no_new_files_left
    rm -rf "$c/Secret" "$w/system32/victim.dll"
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
    hold_file running_doc 'C:\ZARVEL\zvsa.bin' "$(zv_wine_path "$ZV_TMP/running_doc.release")" ||
        { zv_log "  zvsa.bin is not held"; return 1; }
    to_transfer running || return 1
    zv_wait_ready running message || return 1
    # Wine's Restart Manager names nobody: question 39, not 160.
    zv_check "running: the commit waits at the held zvsa.bin" has_line running \
        '^message id=39 style=0x35 text=C:\\ZARVEL\\zvsa\.bin in use! Please, close all applications and retry\.$'
    zv_check "running: zvact32.exe is mapped as a running program's file" \
        hold_file running_program --image 'C:\ZARVEL\zvact32.exe'
    : >"$ZV_TMP/running_doc.release"
    zv_wait_until "" "holdfile to let zvsa.bin go" grep -q released "$ZV_TMP/running_doc.out" || return 1
    zv_key Return
    zv_wait_ready running 'page 404' || return 1
    zv_check "running: Retry goes on, and the update completes without another question" \
        equals "$(count_lines running '^message id=')" 1
    finish_run running 404 3010
    zv_check "running: every file is new" all_files_are new
    zv_check "running: the old copy and the journal stay, nothing else" \
        equals "$(cd "$c/ZARVEL" && find . -iname '~zv*' | sed 's/[0-9A-F]\{4\}\.tmp$/XXXX.tmp/' | sort | tr '\n' ' ')" \
        './~zvoXXXX.tmp '
    zv_check "running: the journal is in the Windows directory" test -e "$(zv_windows_dir)/~zvupd.jnl"
    backup=$(find "$c/ZARVEL" -iname '~zvo*.tmp' | head -n 1)
    zv_check "running: the old copy is the installed zvact32.exe" \
        cmp -s "$backup" "$ZV_PRODUCT_DIR/installed/ZARVEL/zvact32.exe"

    zv_start running_held "$UPDATER"
    zv_wait_ready running_held 'page 401' || return 1
    zv_check "running: a start while it runs goes on to its welcome page" in_order running_held \
        '^recovery: the update was completed, but a file it left is still in use restored=0 removed=0 failed=1 notours=0$' \
        '^page 401 created'
    zv_click_item running_held 401 2
    zv_wait_exit running_held
    zv_check "running: and leaves the old copy and the journal" test -e "$backup" -a -e "$(zv_windows_dir)/~zvupd.jnl"

    pid=$(zv_windows_pid "$HOLDFILE")
    [ -n "$pid" ] && kill -KILL "$pid"
    restart_wineserver
    zv_start running_ended "$UPDATER"
    zv_wait_ready running_ended 'page 401' || return 1
    zv_check "running: the first start after it ended removes them" in_order running_ended \
        '^recovery: the update was completed restored=0 removed=1 failed=0 notours=0$' '^page 401 created'
    zv_click_item running_ended 401 2
    zv_wait_exit running_ended
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
    zv_wait_ready volumes_beside 'page 404' || return 1
    zv_check "volumes: every volume beside the updater is opened without a disk prompt" \
        lacks_line volumes_beside '^message id='
    finish_run volumes_beside 404
    zv_check "volumes: every file is new" all_files_are new

    zv_product_install 2
    cp "$dir"/zvupdate* "$c/update/"
    v=$(printf 'zvupdate%03d' $((count + 1)))
    mv "$c/update/$v" "$dir/$v.away"
    to_transfer volumes_missing || return 1
    zv_wait_ready volumes_missing message || return 1
    zv_screenshot volumes_disk_prompt
    zv_check "volumes: the missing volume is asked for by its number and drive" has_line volumes_missing \
        "^message id=98 style=0x1 text=Insert disk $((count + 1)) in drive C\.\$"
    zv_check "volumes: the volumes that are there were not asked for" \
        equals "$(count_lines volumes_missing '^message id=')" 1
    mv "$dir/$v.away" "$c/update/$v"
    zv_key Return
    zv_wait_ready volumes_missing 'page 404' || return 1
    finish_run volumes_missing 404
    zv_check "volumes: after OK with the volume back, every file is new" all_files_are new

    # Cancel at the disk prompt: the members read so far are staged, none is
    # put in place.
    zv_product_install 2
    cp "$dir"/zvupdate* "$c/update/"
    mv "$c/update/$v" "$dir/$v.away"
    to_transfer volumes_cancel || return 1
    zv_wait_ready volumes_cancel message || return 1
    zv_key Escape
    zv_wait_ready volumes_cancel 'page 405' || return 1
    zv_check "volumes: Cancel at the disk prompt ends without a closing message" \
        in_order volumes_cancel '^answer id=98 answer=2$' '^transfer result=2$' '^page 405 created'
    finish_run volumes_cancel 405 1602
    zv_check "volumes: after Cancel at the disk prompt every installed file is as it was" all_files_are old
    zv_check "volumes: after Cancel at the disk prompt no new file is left" no_new_files_left
    mv "$dir/$v.away" "$c/update/$v"
    rm -f "$c"/update/zvupdate[0-9][0-9][0-9]
}

# A self-signed code-signing certificate in DIR, and the package signed
# with it as DIR/zvupdate.exe (further quillon build arguments may follow).
signed_package() {
    local dir=$1
    shift
    rm -rf "$dir"
    mkdir -p "$dir"
    openssl req -x509 -newkey rsa:2048 -sha256 -days 30 -subj /CN=Zarvel-Test -nodes \
        -addext extendedKeyUsage=codeSigning -keyout "$dir/key.pem" -out "$dir/cert.pem" >/dev/null 2>&1 ||
        { zv_log "  openssl could not make a certificate"; return 1; }
    (cd "$ZV_PRODUCT_DIR" && "$HOST_BUILD/quillon/quillon" build package.txt \
        --updater "$WINDOWS_BUILD/shell/zvupdate.exe" --output "$dir/zvupdate.exe" \
        --sign-cert "$dir/cert.pem" --sign-key "$dir/key.pem" "$@" >"$dir/build.log") ||
        { cat "$dir/build.log" >&2; return 1; }
}
can_sign() {
    command -v osslsigncode >/dev/null && command -v openssl >/dev/null && return 0
    zv_log "$1: skipped, osslsigncode or openssl is not installed"
    return 1
}

# The package signed after stamping: osslsigncode verify accepts volume 1,
# and the signed updater updates as the unsigned one does.
scenario_signed() {
    local quillon=$HOST_BUILD/quillon/quillon dir=$ZV_TMP/signed c
    can_sign signed || return 0
    c=$(zv_drive_c)
    signed_package "$dir" || return 1
    zv_check "signed: osslsigncode verify accepts volume 1" \
        osslsigncode verify -CAfile "$dir/cert.pem" -in "$dir/zvupdate.exe"
    zv_check "signed: quillon verify finds every member sound" \
        equals "$("$quillon" verify "$dir/zvupdate.exe" | tail -n 1)" "$dir/zvupdate.exe: all 20 members sound"
    zv_product_install 2
    cp "$dir/zvupdate.exe" "$c/update/zvupdate.exe"
    to_transfer signed || return 1
    zv_wait_ready signed 'page 404' || return 1
    zv_check "signed: no question is asked" lacks_line signed '^message id='
    finish_run signed 404
    zv_check "signed: every file is new" all_files_are new
    zv_check "signed: the system finds the signature sound" has_line signed '^signature sound \(0x[0-9a-f]{8}\): signed, every member bound'
}

# The signed package changed as HOW says, into C:\update\NAME.exe; DIR holds
# the signing certificate and key:
#   swap     the first product file's piece and digest made those of the last
#            member, the integrity block's checksum made right again: every
#            member still matches its digest, only the signature sees it
#   unbound  the unsigned package with its integrity block zeroed, then
#            signed: a sound signature that binds no member
#   newer    the unsigned package with its integrity block marked version 2
#            (checksum made right), then signed
signed_copy() {
    local dir=$1 name=$2 how=$3 source=$1/zvupdate.exe
    case $how in unbound | newer) source=$ZV_PRODUCT_DIR/zvupdate.exe ;; esac
    python3 - "$source" "$dir/$name.exe" "$how" <<'PY' || return 1
import struct, sys, zlib
source, target, how = sys.argv[1:]
data = bytearray(open(source, "rb").read())
at = data.find(struct.pack("<HI", 0x7777, 0x48295467))
count = struct.unpack_from("<H", data, at + 6)[0]
table_offset, table_size = struct.unpack_from("<II", data, at + 8)
records, record = [], table_offset
for _ in range(count):
    records.append(record)
    record += struct.unpack_from("<H", data, record)[0]
block = record
assert data[block:block + 4] == b"ZVIB"
size = struct.unpack_from("<I", data, block + 8)[0]
def piece(r):
    flags = struct.unpack_from("<H", data, r + 2)[0]
    return data.index(0, r + 6) + 2 + (8 if flags & 0x16 else 0)
def reseal():
    struct.pack_into("<I", data, block + size - 4, zlib.crc32(bytes(data[block:block + size - 4])))
if how == "swap":
    first = next(i for i, r in enumerate(records) if struct.unpack_from("<H", data, r + 2)[0] & 0x17 == 0x10)
    last = count - 1
    data[piece(records[first]):piece(records[first]) + 10] = data[piece(records[last]):piece(records[last]) + 10]
    digests = block + 12
    data[digests + 32 * first:digests + 32 * first + 32] = data[digests + 32 * last:digests + 32 * last + 32]
    reseal()
elif how == "unbound":
    data[block:block + size] = bytes(size)
elif how == "newer":
    struct.pack_into("<H", data, block + 4, 2)
    reseal()
open(target, "wb").write(data)
PY
    case $how in
    unbound | newer)
        mv "$dir/$name.exe" "$dir/$name.unsigned.exe"
        osslsigncode sign -certs "$dir/cert.pem" -key "$dir/key.pem" -h sha256 \
            -in "$dir/$name.unsigned.exe" -out "$dir/$name.exe" >/dev/null || return 1
        ;;
    esac
    cp "$dir/$name.exe" "$(zv_drive_c)/update/$name.exe"
}
not_ok() { ! "$@" >/dev/null 2>&1; }

# Signed packages changed after signing: each refused at start, before the
# first page, with a message that says why; quillon verify fails each.
scenario_tampered() {
    local quillon=$HOST_BUILD/quillon/quillon dir=$ZV_TMP/tampered name how id
    can_sign tampered || return 0
    signed_package "$dir" || return 1
    zv_product_install
    while read -r name how id; do
        signed_copy "$dir" "$name" "$how" || return 1
        zv_check "$name: quillon verify fails it" not_ok "$quillon" verify "$dir/$name.exe"
        zv_start "$name" "C:\\update\\$name.exe"
        zv_wait_ready "$name" message || return 1
        zv_screenshot "tampered_$name"
        zv_check "$name: refused with message $id" has_line "$name" "^message id=$id style=0x10 "
        zv_key Return
        zv_wait_exit "$name"
        zv_check "$name: the program ends with 1620 (package refused)" rc_is 1620
        zv_check "$name: no page is shown" lacks_line "$name" '^page '
        zv_check "$name: every installed file is as it was" all_files_are old
    done <<'EOF'
swap swap 128
unbound unbound 129
newer newer 129
EOF
    zv_check "swap: the system finds the signature broken" has_line swap '^signature broken \(0x[0-9a-f]{8}\)'
    zv_check "unbound: the system finds the signature sound" has_line unbound '^signature sound '
}

# The signed package cut into volumes, a member on volume 2 changed (the
# flip of the damaged scenario): volume 2 is not covered by the signature,
# but the member's digest in the signed table finds it while staging.
scenario_signed_volumes() {
    local dir=$ZV_TMP/signed_volumes c image total size
    can_sign signed_volumes || return 0
    c=$(zv_drive_c)
    image=$(stat -c %s "$WINDOWS_BUILD/shell/zvupdate.exe")
    total=$(stat -c %s "$ZV_PRODUCT_DIR/zvupdate.exe")
    size=$((image + 8192 + (total - image) / 3))
    signed_package "$dir" --volume-size "$size" || return 1
    [ -f "$dir/zvupdate002" ] || { zv_log "  no volume 2"; return 1; }
    python3 - "$dir/zvupdate.exe" "$dir/zvupdate002" <<'PY' || return 1
import struct, sys
first, second = sys.argv[1:]
data = open(first, "rb").read()
volume = bytearray(open(second, "rb").read())
at = data.find(struct.pack("<HI", 0x7777, 0x48295467))
count = struct.unpack_from("<H", data, at + 6)[0]
record = struct.unpack_from("<I", data, at + 8)[0]
for _ in range(count):
    flags = struct.unpack_from("<H", data, record + 2)[0]
    piece = data.index(0, record + 6) + 2 + (8 if flags & 0x16 else 0)
    number, offset, length = struct.unpack_from("<HII", data, piece)
    if number == 2 and length >= 4 and not flags & 1:
        size = struct.unpack_from("<I", volume, offset)[0]
        struct.pack_into("<I", volume, offset, size & (size - 1))
        open(second, "wb").write(volume)
        print(data[record + 6:data.index(0, record + 6)].decode("latin-1"))
        sys.exit(0)
    record += struct.unpack_from("<H", data, record)[0]
sys.exit("no member starts on volume 2")
PY
    zv_check "signed_volumes: quillon verify fails the changed member" \
        not_ok "$HOST_BUILD/quillon/quillon" verify "$dir/zvupdate.exe"
    zv_product_install 2
    cp "$dir"/zvupdate.exe "$dir"/zvupdate[0-9][0-9][0-9] "$c/update/"
    to_transfer signed_volumes || return 1
    zv_wait_ready signed_volumes message || return 1
    zv_screenshot signed_volumes
    zv_key Return
    zv_wait_ready signed_volumes 'page 405' || return 1
    zv_check "signed_volumes: the signature is sound" has_line signed_volumes '^signature sound '
    zv_check "signed_volumes: found while staging, rolled back before anything is put in place" \
        in_order signed_volumes '^transfer stage stage$' '^transfer stage roll back$' '^transfer result=71$' \
        '^page 405 created'
    finish_run signed_volumes 405 1603
    zv_check "signed_volumes: every installed file is as it was" all_files_are old
    zv_check "signed_volumes: no new file is left beside its target" no_new_files_left
    rm -f "$c"/update/zvupdate[0-9][0-9][0-9]
}
# No trust service (wintrust.dll disabled for the updater alone): the
# signature cannot be checked. A signed package whose members are bound to it
# goes on, its digests checked while staging; one without integrity data is
# refused all the same.
scenario_no_trust_service() {
    local dir=$ZV_TMP/no_trust saved=$WINEDLLOVERRIDES ok=0
    can_sign no_trust_service || return 0
    signed_package "$dir" || return 1
    zv_product_install
    cp "$dir/zvupdate.exe" "$(zv_drive_c)/update/bound.exe"
    signed_copy "$dir" unbound_untold unbound || return 1
    export WINEDLLOVERRIDES="$saved;wintrust=d"
    zv_start no_trust_bound 'C:\update\bound.exe'
    zv_wait_ready no_trust_bound 'page 401' || ok=1
    if [ "$ok" = 0 ]; then
        zv_click_item no_trust_bound 401 2
        zv_wait_exit no_trust_bound
        zv_start no_trust_unbound 'C:\update\unbound_untold.exe'
        zv_wait_ready no_trust_unbound message || ok=1
    fi
    export WINEDLLOVERRIDES=$saved
    [ "$ok" = 0 ] || return 1
    zv_check "no_trust_service: the signature cannot be told" has_line no_trust_bound \
        '^signature cannot tell \(0x00000000\): signed, the signature cannot be checked, the members bound to it$'
    zv_check "no_trust_service: the bound package goes on to the welcome page" has_line no_trust_bound '^page 401 '
    zv_check "no_trust_service: the unbound one is refused" has_line no_trust_unbound '^message id=129 style=0x10 '
    zv_check "no_trust_service: the unbound one cannot be told either" has_line no_trust_unbound '^signature cannot tell '
    zv_key Return
    zv_wait_exit no_trust_unbound
    zv_check "no_trust_service: no page is shown for the unbound one" lacks_line no_trust_unbound '^page '
    zv_check "no_trust_service: every installed file is as it was" all_files_are old
}


# A system whose CryptoAPI gives no SHA-256 (Wine's AES provider, rsaenh.dll,
# disabled for the updater alone): the package's members carry digests, so
# the update stops before anything is written, and says why.
scenario_no_sha256() {
    local saved=$WINEDLLOVERRIDES started=0
    zv_product_install
    export WINEDLLOVERRIDES="$saved;rsaenh=d"
    to_detection no_sha256 || started=1
    export WINEDLLOVERRIDES=$saved
    [ "$started" = 0 ] || return 1
    zv_key Return
    zv_wait_ready no_sha256 message || return 1
    zv_screenshot no_sha256
    zv_check "no_sha256: the message says the members cannot be checked" has_line no_sha256 \
        '^message id=130 style=0x30 text=The files of the update package cannot be checked: Windows does not provide SHA-256 on this computer\. Zarvel has been left as it was\.$'
    zv_key Return
    zv_wait_ready no_sha256 'page 405' || return 1
    zv_check "no_sha256: the transfer ends with 130 before any member is staged" in_order no_sha256 \
        '^transfer result=130$' '^page 405 created'
    zv_check "no_sha256: nothing is staged" lacks_line no_sha256 '^transfer stage '
    finish_run no_sha256 405 1603
    zv_check "no_sha256: every installed file is as it was" all_files_are old
    zv_check "no_sha256: no new file is left beside its target" no_new_files_left
}


# The updater with its package damaged as HOW says, as C:\update\NAME.exe:
#   cut      the file ends where the members' data begins
#   nodata   the first member (PLMR.DLL, the first one written) is four bytes
#            that declare 1,000,010 bytes, its record's size at 65,535 KB
#   table    the header claims 65,535 records
#   names    two members renamed to names that differ only in the case of
#            their accented letters (code page 1252: été..., ÉTÉ...), which
#            the file system takes for one file
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
elif how == "names":
    count = struct.unpack_from("<H", data, at + 6)[0]
    record, names = table_offset, {}
    for _ in range(count):
        end = data.index(0, record + 6)
        names.setdefault(end - record - 6, []).append(record + 6)
        record += struct.unpack_from("<H", data, record)[0]
    length, (first, second) = next((n, r[-2:]) for n, r in sorted(names.items()) if n >= 8 and len(r) >= 2)
    data[first:first + length] = b"\xe9t\xe9" + b"x" * (length - 7) + b".txt"
    data[second:second + length] = b"\xc9T\xc9" + b"X" * (length - 7) + b".TXT"
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
    local name how style key code
    zv_product_install
    # Read errors during the transfer: the question about the program's own
    # file, then the page that says the update is incomplete.
    while read -r name how style key code; do
        damaged_copy "$name" "$how" || return 1
        to_detection "$name" "C:\\update\\$name.exe" || return 1
        zv_check "$name: the table is whole, Next is enabled" has_line "$name" '^page 402 item 1 at .* enabled=1 '
        zv_key Return
        zv_wait_ready "$name" message || return 1
        zv_screenshot "damaged_$name"
        zv_check "$name: read error of the updater's own file, style $style" has_line "$name" \
            "^message id=34 style=$style text=C:\\\\update\\\\$name\\.exe: read error!\$"
        zv_key "$key"
        zv_wait_ready "$name" 'page 405' || return 1
        zv_check "$name: no success page" lacks_line "$name" '^page 404'
        zv_check "$name: the transfer ends with 2" has_line "$name" '^transfer result=2$'
        zv_check "$name: nothing is put in place" lacks_line "$name" '^transfer stage commit$'
        finish_run "$name" 405 "$code"
        zv_check "$name: every installed file is as it was" all_files_are old
        zv_check "$name: no new file is left beside its target" no_new_files_left
    done <<'EOF'
cut cut 0x35 Escape 1602
nodata nodata 0x30 Return 1603
EOF

    # One flipped bit in a member's data that decodes cleanly: the member's
    # digest finds it once it is staged, the update is rolled back, and the
    # message names the member.
    damaged_copy flip flip || return 1
    to_detection flip 'C:\update\flip.exe' || return 1
    zv_key Return
    zv_wait_ready flip message || return 1
    zv_screenshot damaged_flip
    zv_check "flip: the damaged member is named" has_line flip \
        '^message id=71 style=0x30 text=data\\map09\.dat: the update package is damaged\. Zarvel has been left as it was\. Please get a new copy of this updater\.$'
    zv_key Return
    zv_wait_ready flip 'page 405' || return 1
    zv_check "flip: found while staging, rolled back before anything is put in place" in_order flip \
        '^transfer stage stage$' '^transfer stage roll back$' '^transfer result=71$' '^page 405 created'
    zv_check "flip: nothing is put in place" lacks_line flip '^transfer stage commit$'
    finish_run flip 405 1603
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
    zv_click_item table 402 2
    zv_wait_exit table
    zv_check "table: no transfer" lacks_line table '^page 403'
    zv_check "table: the program ends with 1620 (package damaged)" rc_is 1620
    zv_check "table: every installed file is as it was" all_files_are old

    # Two names for one file: the table load refuses the package as damaged,
    # before a member could be written over another.
    damaged_copy names names || return 1
    to_detection names 'C:\update\names.exe' || return 1
    zv_screenshot damaged_names
    zv_check "names: the detection page says the package is damaged" equals "$(item_text names 402 120)" \
        'This program cannot update Zarvel: its update package is damaged. Please get a new copy of this updater.'
    zv_check "names: Next is disabled" has_line names '^page 402 item 1 at .* enabled=0 text=&Next >$'
    zv_click_item names 402 2
    zv_wait_exit names
    zv_check "names: no transfer" lacks_line names '^page 403'
    zv_check "names: every installed file is as it was" all_files_are old
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
    zv_wait_ready "$name" message || return 1
    zv_screenshot "links_$name"
    zv_check "$name: the link is named" has_line "$name" \
        "^message id=76 style=0x30 text=$refused is a link to another place, or is in the way of the update\\. Zarvel has been left as it was\\. Please have it removed, then run this program again\\.\$"
    zv_key Return
    zv_wait_ready "$name" 'page 405' || return 1
    zv_check "$name: no success page" lacks_line "$name" '^page 404'
    zv_check "$name: the transfer ends with 76" has_line "$name" '^transfer result=76$'
    zv_check "$name: nothing is put in place" lacks_line "$name" '^transfer stage commit$'
    finish_run "$name" 405 1603
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

ALL_SCENARIOS="packer volumes signed tampered signed_volumes no_trust_service no_sha256 damaged happy not_installed refusals halt escape close protected interrupted
    planted running links"
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
