#!/usr/bin/env bash
# The updater as it leaves the compiler refuses to run: it shows "Please run
# QUILLON before to use this program!" (stop icon, OK) and exits with 0. A
# copy stamped with a small table does not show it.
#   test_unstamped.sh HOST_BUILD_DIR WINDOWS_BUILD_DIR
set -u
HOST=$(cd "$1" && pwd)
WIN=$(cd "$2" && pwd)
ARTEFACTS=${ARTEFACTS:-$WIN/artefacts}
. "$(dirname "$0")/lib.sh"
trap wine_teardown EXIT

EXE="$WIN/shell/zvupdate.exe"
[ -f "$EXE" ] || fail "no $EXE"
wine_setup
C=$(wine_c_drive)
mkdir -p "$C/update"
cp "$EXE" "$C/update/setup.exe"
"$HOST/tests/stamp_fixture" "$EXE" "$C/update/stamped.exe" || fail "stamping failed"

log "unstamped: the message box must appear"
wine_start 'C:\update\setup.exe'
# The box has no caption of its own: Wine gives it "Error".
wine_wait_window '^Error$' || fail "no message box appeared"
sleep 0.5
wine_screenshot unstamped-message.png
wine_trace_has 'zvupdate: message id=0 style=0x10 text=Please run QUILLON before to use this program!' ||
    fail "trace does not show the unstamped message"
xdotool key --window "$WINE_WINDOW" Return
wine_finish || fail "the updater did not end after OK"
[ "$WINE_EXIT" = 0 ] || fail "exit code $WINE_EXIT, expected 0"
wine_trace_has 'zvupdate: answer id=0 answer=1' || fail "OK was not the answer"
log "unstamped: message shown, OK, exit 0"

log "stamped: must not show the message"
wine_start 'C:\update\stamped.exe'
wine_finish || fail "the stamped updater did not end"
[ "$WINE_EXIT" = 0 ] || fail "stamped: exit code $WINE_EXIT, expected 0"
wine_trace_has 'zvupdate: start entries=2' || fail "the stamped updater did not see its 2 entries"
if wine_trace_has 'zvupdate: message '; then fail "the stamped updater showed a message"; fi
log "stamped: no message"
log "PASS"
