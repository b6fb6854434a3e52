#!/usr/bin/env bash
# The updater as it leaves the compiler refuses to run: it shows "Please run
# QUILLON before to use this program!" (stop icon, OK) and exits with 0. A
# copy stamped with a small table does not show it.
#   test_unstamped.sh HOST_BUILD_DIR WINDOWS_BUILD_DIR
set -u
HOST=$(cd "$1" && pwd)
WIN=$(cd "$2" && pwd)
. "$(dirname "$0")/lib.sh"
zv_use_windows_build "$WIN"

EXE="$WIN/shell/zvupdate.exe"
[ -f "$EXE" ] || { zv_log "no $EXE"; exit 2; }
zv_start_xvfb 1024 768
zv_make_prefix
C=$(zv_drive_c)
mkdir -p "$C/update"
cp "$EXE" "$C/update/setup.exe"
"$HOST/tests/stamp_fixture" "$EXE" "$C/update/stamped.exe" || { zv_log "stamping failed"; exit 2; }

zv_start unstamped 'C:\update\setup.exe'
# The box has no caption of its own: Wine gives it "Error".
zv_check "the message box appears" zv_wait_ready unstamped message
zv_check "it is the box captioned Error" zv_has_window Error
zv_screenshot unstamped-message
zv_check "the trace shows the unstamped message with the stop icon and OK" \
    zv_wait_trace unstamped '^message id=0 style=0x10 text=Please run QUILLON before to use this program!$'
zv_key Return
zv_check "the updater ends after OK" zv_wait_exit unstamped
zv_check "exit code 1620, package invalid (got $ZV_RC)" test "$ZV_RC" = $((1620 & 255))
zv_check "OK was the answer" zv_wait_trace unstamped '^answer id=0 answer=1$'

zv_start stamped 'C:\update\stamped.exe'
zv_check "the stamped updater sees its 2 entries" zv_wait_trace stamped '^start entries=2$'
zv_check "the stamped updater shows its welcome page, not the message" zv_wait_ready stamped 'page 401'
if zv_trace stamped | grep -q 'Please run QUILLON'; then zv_check "no unstamped message" false; fi
zv_key Escape
zv_check "the stamped updater ends on Quit" zv_wait_exit stamped
zv_finish
