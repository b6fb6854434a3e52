#!/usr/bin/env bash
# Sets up a fresh machine, builds the updater and the packer, and runs the
# updater under Wine on a virtual display, saving screenshots to out/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
mkdir -p out
export ZV_ARTIFACTS="$PWD/out"
set +e
. tests/wine/lib.sh
zv_start_xvfb 1024 768
zv_make_prefix
C=$(zv_drive_c)
mkdir -p "$C/update"
cp build/windows/shell/zvupdate.exe "$C/update/zvupdate.exe"
zv_start main 'C:\update\zvupdate.exe'
zv_wait_window Error >/dev/null
zv_screenshot zvupdate-unstamped
zv_key Return
zv_wait_exit main 30
echo "zvupdate.exe ended with exit code $ZV_RC; screenshot: out/zvupdate-unstamped.png"
