#!/usr/bin/env bash
# The wizard's windows under Wine, on the paths that need no installed
# product: the backdrop's gradient and the frame's place on a screenshot,
# Quit and Alt+F4 on the welcome page, the single-instance rule (also while a
# message box is up), and the unstamped program's message.
#
# usage: test_wizard_pages.sh HOST_BUILD_DIR WINDOWS_BUILD_DIR
# Screenshots go to $ZV_ARTIFACTS (default HOST_BUILD_DIR/wine-artifacts/wizard_pages).
set -u
if [ $# -ne 2 ]; then
    echo "usage: $0 HOST_BUILD_DIR WINDOWS_BUILD_DIR" >&2
    exit 2
fi
HOST_BUILD=$(cd "$1" && pwd)
WINDOWS_BUILD=$(cd "$2" && pwd)
ZV_ARTIFACTS=${ZV_ARTIFACTS:-$HOST_BUILD/wine-artifacts/wizard_pages}
rm -rf "$ZV_ARTIFACTS"
. "$(dirname "$0")/lib.sh"
zv_use_windows_build "$WINDOWS_BUILD"

EXE=$WINDOWS_BUILD/shell/zvupdate.exe
STAMP=$HOST_BUILD/tests/stamp_fixture
for f in "$EXE" "$STAMP"; do
    [ -f "$f" ] || { zv_log "missing $f: build both presets first"; exit 2; }
done
STAMPED=$ZV_TMP/zvupdate.exe
UNSTAMPED=$ZV_TMP/unstamped.exe
"$STAMP" "$EXE" "$STAMPED" || { zv_log "stamping failed"; exit 2; }
cp "$EXE" "$UNSTAMPED"

# --- helpers over the trace ---------------------------------------------------

has_line() { zv_trace "$1" | grep -qE -- "$2"; }
lacks_line() { ! has_line "$1" "$2"; }
equals() { [ "$1" = "$2" ] || { zv_log "  got '$1', expected '$2'"; return 1; }; }
# Checks that the lines matching the patterns appear in this order.
in_order() {
    local name=$1 last=0 n pattern
    shift
    for pattern in "$@"; do
        n=$(zv_trace "$name" | grep -nE -- "$pattern" | head -n 1 | cut -d: -f1)
        if [ -z "$n" ] || [ "$n" -le "$last" ]; then
            zv_log "  /$pattern/ missing or out of order"
            return 1
        fi
        last=$n
    done
}
# --- the backdrop with a client area 768 rows high ----------------------------
# The screen is made taller than 768 by the backdrop's caption and borders,
# measured on a first start.

zv_start_xvfb 1024 768
zv_make_prefix

backdrop_geometry() {
    # "client W H at X Y screen SW SH menu M"
    zv_trace "$1" | sed -nE 's/^backdrop client ([0-9]+)x([0-9]+) at (-?[0-9]+),(-?[0-9]+) screen ([0-9]+)x([0-9]+) menu ([0-9]+)$/\1 \2 \3 \4 \5 \6 \7/p' | head -n 1
}

zv_start measure "$STAMPED"
zv_wait_ready measure 'page 401' || exit 1
read -r _ client_h _ _ _ screen_h _ <<<"$(backdrop_geometry measure)"
zv_key Escape
zv_wait_exit measure
want_screen_h=$((screen_h - client_h + 768))
zv_log "backdrop client height $client_h on a screen $screen_h high; next screen $want_screen_h high"

zv_wineserver -k 2>/dev/null; zv_wineserver -w
zv_start_xvfb 1024 "$want_screen_h"

zv_start pixels "$STAMPED"
zv_wait_ready pixels 'page 401' || exit 1
zv_screenshot welcome
read -r cw ch cx cy sw sh menu <<<"$(backdrop_geometry pixels)"
SHOT=$ZV_ARTIFACTS/welcome.ppm

zv_check "the backdrop's client area is 768 rows high" equals "$ch" 768
zv_check "the top row of the backdrop is (0, 0, 255)" equals "$(zv_pixel "$SHOT" $((cx + 10)) "$cy")" "0 0 255"
zv_check "row 384 of 768 is blue 128" equals "$(zv_pixel "$SHOT" $((cx + 10)) $((cy + 384)))" "0 0 128"
zv_check "every row left and right of the frame is 255 - 255 * y / 768 blue" \
    python3 "$ZV_SCREEN" gradient "$SHOT" "$cx" "$cy" "$ch" 0 10 $((cw / 8)) $((cw - 10)) $((cw - 1))

# The frame: centred about (screen width / 2, screen height / 2 - menu height),
# inside the backdrop, at the place the trace gives and the screenshot shows.
read -r fx fy fw fh bw bh <<<"$(zv_trace pixels | sed -nE 's/^frame at (-?[0-9]+),(-?[0-9]+) size ([0-9]+)x([0-9]+) in backdrop ([0-9]+)x([0-9]+) .*/\1 \2 \3 \4 \5 \6/p')"
expect_x=$((sw / 2 - fw / 2)); [ $expect_x -gt $((bw - fw)) ] && expect_x=$((bw - fw)); [ $expect_x -le 0 ] && expect_x=0
expect_y=$((sh / 2 - menu - fh / 2)); [ $expect_y -gt $((bh - fh)) ] && expect_y=$((bh - fh)); [ $expect_y -le 0 ] && expect_y=0
zv_check "the frame is centred about the screen centre less the menu height" equals "$fx,$fy" "$expect_x,$expect_y"
zv_check "the screenshot shows the frame at that place" \
    python3 "$ZV_SCREEN" frame "$SHOT" "$cx" "$cy" "$ch" "$fx" "$fy" "$fw" "$fh"

zv_check "the frame caption names the welcome page" has_line pixels '^page 401 created caption=Zarvel Updater - Welcome$'
zv_check "the welcome text shows the package's version" \
    has_line pixels '^page 401 item 100 at .* text=Welcome to Zarvel v1\.01 Updater\.$'
zv_check "the separator control is hidden" has_line pixels '^page 401 item 500 at .* visible=0 '

# Quit on the welcome page ends the program without detection.
zv_click_item pixels 401 2
zv_wait_exit pixels
zv_check "Quit ends the welcome page with 2" has_line pixels '^page 401 result 2$'
zv_check "detection never runs after Quit" lacks_line pixels '^detected'
zv_check "the program ends with 1602 after Quit" equals "$ZV_RC" $((1602 & 255))

# --- Alt+F4 on the backdrop ----------------------------------------------------

zv_start altf4 "$STAMPED"
zv_wait_ready altf4 'page 401' || exit 1
zv_key alt+F4
zv_wait_exit altf4
zv_check "Alt+F4 ends the page with 2; the backdrop is destroyed only at shutdown" \
    in_order altf4 '^backdrop close$' '^page 401 result 2$' '^backdrop destroyed$' '^exit 1602 UserCancel: '
zv_check "detection never runs after Alt+F4" lacks_line altf4 '^detected'
zv_check "the program ends with 1602 after Alt+F4" equals "$ZV_RC" $((1602 & 255))

# --- a second start brings the first to the front ------------------------------

zv_start first "$STAMPED"
zv_wait_ready first 'page 401' || exit 1
zv_wine notepad >/dev/null 2>&1 &
zv_wait_window "Untitled - Notepad" >/dev/null || exit 1
zv_check "another window covers the backdrop" zv_wait_above "Untitled - Notepad" "Zarvel Udpater"
zv_screenshot covered
zv_start second "$STAMPED"
zv_wait_exit second
zv_check "the second start ends with 1618" equals "$ZV_RC" $((1618 & 255))
zv_check "the second start creates nothing" lacks_line second '^(start|backdrop|page)'
zv_check "the second start says another copy runs" has_line second '^another copy is running$'
zv_check "the first copy's backdrop is in front again" zv_wait_above "Zarvel Udpater" "Untitled - Notepad"
zv_screenshot brought_to_front
zv_check "the first copy is still running" test ! -s "$ZV_TMP/first.rc"
zv_click_item first 401 2
zv_wait_exit first
zv_check "the first copy then ends with 1602 (Quit)" equals "$ZV_RC" $((1602 & 255))

# --- the unstamped program, and a second start while its message is up ----------

zv_start unstamped "$UNSTAMPED"
zv_wait_ready unstamped message || exit 1
xdotool search --name "^Untitled - Notepad\$" windowraise >/dev/null 2>&1
zv_wait_above "Untitled - Notepad" Error || exit 1
zv_screenshot unstamped_covered
zv_start again "$UNSTAMPED"
zv_wait_exit again
zv_check "a second start while the message is up ends with 1618" equals "$ZV_RC" $((1618 & 255))
zv_check "the message box, not only the backdrop, is in front of the other window" \
    zv_wait_above Error "Untitled - Notepad"
zv_screenshot unstamped_message
zv_check "the unstamped program shows only the fixed message, with the stop icon" \
    has_line unstamped '^message id=0 style=0x10 text=Please run QUILLON before to use this program!$'
zv_check "no frame and no page without a stamped package" lacks_line unstamped '^(frame|page)'
zv_key Return
zv_wait_exit unstamped
zv_check "after OK the unstamped program ends with 1620" equals "$ZV_RC" $((1620 & 255))

zv_finish
