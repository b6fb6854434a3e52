#!/usr/bin/env bash
# Sets up a fresh machine, builds the updater and the packer, makes a sample
# Zarvel installation and a sample package with quillon build, and runs the
# whole update under Wine: on the user's display when there is one, otherwise
# on a virtual one. It clicks through every page (welcome, detection,
# transfer, success) and saves a screenshot of each to out/: the whole screen
# (NN-page.png) and the wizard's frame alone (NN-page-frame.png).
# It shows the 32-bit updater, the one that ships, where this machine runs
# 32-bit processes, and the 64-bit one elsewhere (ZV_WINE_BUILDS=64 forces it).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh

OUT=$PWD/out
mkdir -p "$OUT"
rm -f "$OUT"/*.png "$OUT"/*.ppm
export ZV_ARTIFACTS=$OUT
set +e
. tests/wine/lib.sh
. tests/wine/product.sh

# The first build the Wine tests would run here.
read -r bits _ <<<"$(zv_wine_builds)"
WINDOWS_BUILD=$PWD/$(zv_windows_build_dir "$bits") || exit 1
zv_use_windows_build "$WINDOWS_BUILD"
echo "main job: showing the $bits-bit updater ($(zv_windows_build_dir "$bits")/shell/zvupdate.exe) under $ZV_WINE"
zv_product_build "$PWD/build/host" "$WINDOWS_BUILD/shell/zvupdate.exe" "$ZV_TMP/product" || exit 1
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    echo "main job: the wizard runs on your display $DISPLAY; keep your hands off mouse and keyboard"
else
    zv_start_xvfb 1024 768
fi
zv_make_prefix
zv_product_install 2

failed=0
step() {
    local what=$1
    shift
    if ! "$@"; then
        echo "main job: $what did not happen" >&2
        failed=1
    fi
}

# Where the frame stands on the screen: "W H X Y", from the program's trace.
frame_geometry() {
    local client frame
    client=$(zv_trace main | sed -nE 's/^backdrop client [0-9]+x[0-9]+ at (-?[0-9]+),(-?[0-9]+) .*/\1 \2/p' | head -n 1)
    frame=$(zv_trace main | sed -nE 's/^frame at (-?[0-9]+),(-?[0-9]+) size ([0-9]+)x([0-9]+) .*/\1 \2 \3 \4/p' | head -n 1)
    read -r cx cy <<<"$client"
    read -r fx fy fw fh <<<"$frame"
    echo "$fw $fh $((cx + fx)) $((cy + fy))"
}

shoot() {
    local name=$1 w h x y
    import -window root "$OUT/$name.png"
    read -r w h x y <<<"$(frame_geometry)"
    [ -n "$y" ] && convert "$OUT/$name.png" -crop "${w}x${h}+${x}+${y}" +repage "$OUT/$name-frame.png"
    echo "main job: out/$name.png"
}

# The bar at 50 %, while the large map is written: on a fast machine the
# whole transfer takes about a second, less than the script needs to see it
# and take a screenshot. So the updater runs under holdtrace.exe, which holds
# it exactly where its trace names the map, until the screen is photographed;
# no speed of this machine changes where it stands.
zv_start main 'C:\update\zvupdate.exe' 'item 101 id=0 text=data\world.map'
step "the welcome page" zv_wait_ready main 'page 401'
shoot 01-welcome
zv_key Return
step "the detection page" zv_wait_ready main 'page 402'
shoot 02-detection
zv_key Return
step "the transfer at 50 %" zv_wait_held main 1
# What the program drew reaches the X server a moment after it: the screen is
# looked at until it shows the bar at 50 %, then photographed.
bar_at_half() {
    import -window root -depth 8 "$ZV_TMP/transfer.ppm" &&
        python3 "$ZV_SCREEN" bar "$ZV_TMP/transfer.ppm" $(zv_item_rect main 403 102) 50 >/dev/null 2>&1
}
step "the bar at 50 % on the screen" zv_wait_until main "the bar at 50 % on the screen" bar_at_half
shoot 03-transfer
zv_release main 1
step "the success page" zv_wait_ready main 'page 404'
shoot 04-success
zv_key Return
zv_wait_exit main
echo "main job: zvupdate.exe ended with exit code $ZV_RC"
echo "main job: the update wrote, file by file:"
zv_trace main | grep -E '^entry [0-9]+ pass [12] .*: write ' | sed 's/^/  /'
echo "main job: $(zv_trace main | grep -E '^transfer result=')"
echo "main job: the files now (old, or new with the installed registration blocks carried over):"
zv_product_state $ZV_PRODUCT_FILES | sed 's/^/  /'
[ "$ZV_RC" = 0 ] || failed=1
exit $failed
