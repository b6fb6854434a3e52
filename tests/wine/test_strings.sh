#!/usr/bin/env bash
# The string table compiled into the Windows program holds exactly the texts
# of resources/strings.txt, quotes and ampersands included, and formatting
# with the system's formatter cuts to the buffer.
#   test_strings.sh HOST_BUILD_DIR WINDOWS_BUILD_DIR
set -u
WIN=$(cd "$2" && pwd)
SRC=$(cd "$(dirname "$0")/../.." && pwd)
ARTEFACTS=${ARTEFACTS:-$WIN/artefacts}
. "$(dirname "$0")/lib.sh"
trap wine_teardown EXIT

wine_setup
wine "$WIN/tests/wintests/strings_probe.exe" 2>/dev/null | tr -d '\r' >"$WINE_TMP/loaded.txt" ||
    fail "strings_probe failed"
grep -Ev '^(#|$)' "$SRC/resources/strings.txt" |
    sed -E 's/^([0-9]+)[[:space:]]+IDS_[A-Z0-9_]+[[:space:]]+/\1\t/' >"$WINE_TMP/expected.txt"
printf 'cut\tabcdefg\nformat\t002|1.01\n' >>"$WINE_TMP/expected.txt"
diff -u "$WINE_TMP/expected.txt" "$WINE_TMP/loaded.txt" || fail "the compiled string table differs"
log "PASS: $(wc -l <"$WINE_TMP/loaded.txt") lines equal"
