#!/usr/bin/env bash
# The import tables of the Windows programs name only libraries that Windows
# takes from the system directory whoever asks. Anything else (the version
# library, the theme library, ...) would be looked for first beside the
# program: in the download folder the elevated updater is started from, where
# any user can leave a library of that name. The updater imports, for its
# start, only KERNEL32, ADVAPI32 and the C runtime: the window libraries are
# delay-loaded, once it has limited the library search to the system directory.
# A program that imports the version library is refused, so the check is seen
# to fail when it should. No Wine needed: the files are read as they are.
#   test_imports.sh HOST_BUILD_DIR WINDOWS_BUILD_DIR
set -u
if [ $# -ne 2 ]; then
    echo "usage: $0 HOST_BUILD_DIR WINDOWS_BUILD_DIR" >&2
    exit 2
fi
WIN=$(cd "$2" && pwd)
CHECK="python3 $(dirname "$0")/check_imports.py"
UPDATER=$WIN/shell/zvupdate.exe
QUILLON=$WIN/quillon/quillon.exe
BAD=$WIN/tests/wintests/version_import.exe
for f in "$UPDATER" "$QUILLON" "$BAD"; do
    [ -f "$f" ] || { echo "missing $f: build the Windows preset first" >&2; exit 2; }
done

failures=0
check() {
    local what=$1
    shift
    if "$@"; then
        echo "ok: $what" >&2
    else
        failures=$((failures + 1))
        echo "FAILED: $what" >&2
    fi
}
refused() {
    $CHECK "$@"
    [ $? -eq 1 ]
}

check "zvupdate.exe imports only known libraries, and for its start only KERNEL32, ADVAPI32 and msvcrt" \
    $CHECK --first-only kernel32.dll,advapi32.dll,msvcrt.dll "$UPDATER"
check "quillon.exe imports only known libraries" $CHECK "$QUILLON"
check "a program that imports VERSION.dll is refused" refused "$BAD"
check "a program that imports USER32 for its start is refused where only KERNEL32 may be" \
    refused --first-only kernel32.dll "$QUILLON"
echo "$failures failed" >&2
[ "$failures" -eq 0 ]
