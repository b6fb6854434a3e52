#!/usr/bin/env bash
# Sets up a fresh machine, builds the updater and the packer, and runs the
# updater under Wine on a virtual display, saving screenshots to out/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
mkdir -p out
export ARTEFACTS="$PWD/out"
. tests/wine/lib.sh
trap wine_teardown EXIT
wine_setup
C=$(wine_c_drive)
mkdir -p "$C/update"
cp build/windows/shell/zvupdate.exe "$C/update/zvupdate.exe"
wine_start 'C:\update\zvupdate.exe'
wine_wait_window '^Error$' || fail "the updater showed nothing"
sleep 0.5
wine_screenshot zvupdate-unstamped.png
xdotool key --window "$WINE_WINDOW" Return
wine_finish
echo "zvupdate.exe ended with exit code $WINE_EXIT; screenshot: out/zvupdate-unstamped.png"
