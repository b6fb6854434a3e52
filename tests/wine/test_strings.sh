#!/usr/bin/env bash
# The string table compiled into the Windows program holds exactly the texts
# of resources/strings.txt, quotes and ampersands included, and formatting
# with the system's formatter cuts to the buffer.
#   test_strings.sh HOST_BUILD_DIR WINDOWS_BUILD_DIR
set -u
WIN=$(cd "$2" && pwd)
SRC=$(cd "$(dirname "$0")/../.." && pwd)
. "$(dirname "$0")/lib.sh"
zv_use_windows_build "$WIN"

zv_make_prefix
zv_wine "$WIN/tests/wintests/strings_probe.exe" 2>/dev/null | tr -d '\r' >"$ZV_TMP/loaded.txt"
grep -Ev '^(#|$)' "$SRC/resources/strings.txt" |
    sed -E 's/^([0-9]+)[[:space:]]+IDS_[A-Z0-9_]+[[:space:]]+/\1\t/' >"$ZV_TMP/expected.txt"
printf 'cut\tabcdefg\nformat\t002|1.01\n' >>"$ZV_TMP/expected.txt"
zv_check "the compiled string table and formatting equal their source" \
    diff -u "$ZV_TMP/expected.txt" "$ZV_TMP/loaded.txt"
zv_finish
