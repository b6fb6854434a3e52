#!/usr/bin/env bash
# Libraries planted beside the updater, or in the current directory, are never
# loaded. The updater runs as administrator, usually from a download folder
# that any user can write: a copy of planted_dll.dll is left there, and in the
# current directory, under the name of each library the updater or the system
# libraries it uses might load (the version library, which it once imported,
# and the input-method, theme, common-control, ... libraries the windows bring
# in), with Wine told to prefer such copies to its own. A copy that is loaded
# writes NAME.loaded beside itself. The updater shows its welcome page and
# quits; no marker may be left, and Wine's loader may have loaded nothing from
# either folder but the updater itself.
#
# First, so that the check is seen to be able to fail: a program that imports
# the version library, started from the same folder, loads the planted copy.
#   test_planted_dlls.sh HOST_BUILD_DIR WINDOWS_BUILD_DIR
set -u
if [ $# -ne 2 ]; then
    echo "usage: $0 HOST_BUILD_DIR WINDOWS_BUILD_DIR" >&2
    exit 2
fi
HOST=$(cd "$1" && pwd)
WIN=$(cd "$2" && pwd)
. "$(dirname "$0")/lib.sh"
zv_use_windows_build "$WIN"

EXE=$WIN/shell/zvupdate.exe
PLANTED=$WIN/tests/wintests/planted_dll.dll
IMPORTER=$WIN/tests/wintests/version_import.exe
STAMP=$HOST/tests/stamp_fixture
for f in "$EXE" "$PLANTED" "$IMPORTER" "$STAMP"; do
    [ -f "$f" ] || { zv_log "missing $f: build both presets first"; exit 2; }
done
# The version library, which the updater once imported; the input-method and
# theme libraries, which the windows bring in; the common-control, window
# manager and drawing libraries window programs load; the cryptographic
# provider and trust libraries hashing and signature checks load. None is one
# of the libraries Windows always takes from the system directory (KnownDLLs)
# but imm32, which Wine's USER32 loads. Other known ones (ole32, combase,
# rpcrt4) are left out: Wine's builtin imm32 delay-loads ole32 through its own
# search path, program folder first, whatever the program asked for, where
# Windows takes the known library from the system directory.
NAMES="version imm32 uxtheme comctl32 dwmapi msimg32 rsaenh wintrust crypt32"

zv_start_xvfb 1024 768
zv_make_prefix
C=$(zv_drive_c)
mkdir -p "$C/update" "$C/cwd"
"$STAMP" "$EXE" "$C/update/zvupdate.exe" || { zv_log "stamping failed"; exit 2; }
cp "$IMPORTER" "$C/update/version_import.exe"
for name in $NAMES; do
    cp "$PLANTED" "$C/update/$name.dll"
    cp "$PLANTED" "$C/cwd/$name.dll"
done
# Native libraries first for every planted name: the copies beside the program
# win wherever the search order lets them.
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;$(echo $NAMES | tr ' ' ',')=n,b"

markers() { find "$C/update" "$C/cwd" -iname '*.loaded' -printf '%f\n' | sort; }
# The marker is named as the loader asked for the library (VERSION.dll.loaded).
has_marker() { [ -n "$(find "$C/update" -maxdepth 1 -iname "$1.dll.loaded")" ]; }
no_markers() {
    local left
    left=$(markers)
    [ -z "$left" ] || { zv_log "  loaded: $(echo $left)"; return 1; }
}
# Libraries Wine's loader took from the two folders, but for the program itself.
loaded_from_folders() {
    grep -a 'Loaded L"C:\\\\\(update\|cwd\)\\\\' "$ZV_TMP/$1.wine" | grep -avi 'zvupdate\.exe"' || true
}
none_loaded_from_folders() {
    local found
    found=$(loaded_from_folders "$1")
    [ -z "$found" ] || { zv_log "  $found"; return 1; }
}

# --- the planted copy does get loaded by a program that imports it -------------
(cd "$C/update" && zv_wine 'C:\update\version_import.exe' 'C:\update\zvupdate.exe' >/dev/null 2>&1)
zv_check "a program importing VERSION.dll loads the planted copy beside it" \
    has_marker version
find "$C/update" -iname version.dll.loaded -delete
zv_wineserver -w

# --- the updater loads none of them ---------------------------------------------
# Started with the planted folder as its current directory, and with Wine's
# loader tracing each library it loads.
cd "$C/cwd" || exit 2
ZV_WINE_WRAP="env WINEDEBUG=-all,warn+debugstr,+loaddll${ZV_EXTRA_DEBUG:-}" zv_start planted 'C:\update\zvupdate.exe'
zv_check "the welcome page appears" zv_wait_ready planted 'page 401'
zv_check "the library search was limited to the system directory first" \
    zv_wait_trace planted '^library search: system directory$'
zv_key Escape
zv_check "the updater ends on Quit" zv_wait_exit planted
zv_check "exit code 1602 after Quit (got $ZV_RC)" test "$ZV_RC" = $((1602 & 255))
cd / || exit 2
zv_check "no planted library was loaded (no marker)" no_markers
zv_check "Wine's loader took nothing from the updater's folder or the current directory" \
    none_loaded_from_folders planted
zv_check "Wine's loader traced the run (the updater itself was seen loaded)" \
    grep -aq 'Loaded L"C:\\\\update\\\\zvupdate.exe"' "$ZV_TMP/planted.wine"
zv_finish
