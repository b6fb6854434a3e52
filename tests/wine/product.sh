# The sample Zarvel installation and package, laid out in a Wine prefix.
# Source after lib.sh, then:
#   zv_product_build HOST_BUILD UPDATER DIR  the fixture files (product_fixture
#                                  make) in DIR and the stamped updater
#                                  DIR/zvupdate.exe (quillon build)
#   zv_product_install [INST]      lays out DIR/installed in the prefix:
#                                  zvact.ini in C:\windows (inst=INST, 2 by
#                                  default), PLMR.DLL and PLMR32.DLL in
#                                  C:\windows\system32 (where the version
#                                  library looks for shared files), the product
#                                  in C:\ZARVEL; and the updater in C:\update
#   zv_product_overlay VARIANT     lays DIR/variants/VARIANT over C:\ZARVEL
#   zv_product_state NAME...       "NAME old|new|missing|other" for product
#                                  files (NAME relative to C:\ZARVEL, "/"
#                                  between directories) and for PLMR.DLL and
#                                  PLMR32.DLL
# ZV_PRODUCT_FILES lists every file that the package brings.

ZV_PRODUCT_DIR=
ZV_PRODUCT_TOOL=
ZV_PRODUCT_FILES="PLMR.DLL PLMR32.DLL zvact.exe zvsa.bin zvsv.bin zvact32.exe zvsa32.bin zvsv32.bin
help/zvact.hlp data/intro.dat data/world.map data/map01.dat data/map02.dat data/map03.dat
data/map04.dat data/map05.dat data/map06.dat data/map07.dat data/map08.dat data/map09.dat"

zv_product_build() {
    local host_build=$1 updater=$2 dir=$3
    ZV_PRODUCT_TOOL=$host_build/tests/product_fixture
    ZV_PRODUCT_DIR=$dir
    local quillon=$host_build/quillon/quillon f
    for f in "$ZV_PRODUCT_TOOL" "$quillon" "$updater"; do
        [ -f "$f" ] || { zv_log "missing $f: build both presets first"; return 2; }
    done
    rm -rf "$dir"
    "$ZV_PRODUCT_TOOL" make "$dir" || return 1
    # The package description names its sources relative to itself.
    (cd "$dir" && "$quillon" build package.txt --updater "$updater" --output zvupdate.exe >build.log) ||
        { cat "$dir/build.log" >&2; return 1; }
}

zv_windows_dir() { printf '%s\n' "$WINEPREFIX/drive_c/windows"; }

zv_product_install() {
    local inst=${1:-2} c windows
    c=$(zv_drive_c)
    windows=$(zv_windows_dir)
    chmod -R u+w "$c/ZARVEL" 2>/dev/null
    rm -rf "$c/ZARVEL"
    cp -r "$ZV_PRODUCT_DIR/installed/ZARVEL" "$c/ZARVEL"
    printf '[setup]\r\ndrive=C:\r\ndir=\\ZARVEL\\\r\ninst=%s\r\n' "$inst" >"$windows/zvact.ini"
    cp "$ZV_PRODUCT_DIR/installed/SYSTEM/PLMR.DLL" "$ZV_PRODUCT_DIR/installed/SYSTEM/PLMR32.DLL" "$windows/system32/"
    if ! cmp -s "$ZV_PRODUCT_DIR/zvupdate.exe" "$c/update/zvupdate.exe"; then
        mkdir -p "$c/update"
        cp "$ZV_PRODUCT_DIR/zvupdate.exe" "$c/update/zvupdate.exe"
    fi
}

zv_product_overlay() {
    cp -r "$ZV_PRODUCT_DIR/variants/$1/ZARVEL/." "$(zv_drive_c)/ZARVEL/"
}

zv_product_state() {
    local name status=0
    for name in "$@"; do
        case $name in
        PLMR.DLL | PLMR32.DLL)
            "$ZV_PRODUCT_TOOL" state "$ZV_PRODUCT_DIR/installed/SYSTEM" "$ZV_PRODUCT_DIR/new/SYSTEM" \
                "$(zv_windows_dir)/system32" "$name" || status=1 ;;
        *)
            "$ZV_PRODUCT_TOOL" state "$ZV_PRODUCT_DIR/installed/ZARVEL" "$ZV_PRODUCT_DIR/new/ZARVEL" \
                "$(zv_drive_c)/ZARVEL" "$name" || status=1 ;;
        esac
    done
    return $status
}
