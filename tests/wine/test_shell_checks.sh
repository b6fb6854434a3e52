#!/usr/bin/env bash
# Runs the checks of the wizard's windows (zvshell_checks.exe) under Wine on a
# virtual screen: page loops, partial repaint of the gradient, frame centring,
# the picture's palette, page dress, the pages and the progress bar.
#
# usage: test_shell_checks.sh HOST_BUILD_DIR WINDOWS_BUILD_DIR
set -u
if [ $# -ne 2 ]; then
    echo "usage: $0 HOST_BUILD_DIR WINDOWS_BUILD_DIR" >&2
    exit 2
fi
WINDOWS_BUILD=$(cd "$2" && pwd)
. "$(dirname "$0")/lib.sh"
zv_use_windows_build "$WINDOWS_BUILD"

CHECKS=$WINDOWS_BUILD/shell/zvshell_checks.exe
[ -f "$CHECKS" ] || { zv_log "missing $CHECKS: build the windows preset first"; exit 2; }

zv_start_xvfb 1024 768
zv_make_prefix
timeout 300 "$ZV_WINE" "$CHECKS" 2>"$ZV_TMP/checks.wine" | tr -d '\r' | tee "$ZV_TMP/checks.out"
status=${PIPESTATUS[0]}
grep -q '^0 failed$' "$ZV_TMP/checks.out" || status=1
exit "$status"
