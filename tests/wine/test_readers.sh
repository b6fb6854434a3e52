#!/bin/sh
# Compares the portable version-resource and settings readers with the
# system's own (GetFileVersionInfoSizeA, GetFileVersionInfoA, VerQueryValueA,
# GetPrivateProfileStringA, GetPrivateProfileIntA) under Wine, on fixture
# files made by reader_fixtures.
#
#   tests/wine/test_readers.sh HOST_BUILD_DIR WINDOWS_BUILD_DIR
#
# Every answer line of the two probes must be equal, except the differences
# listed in known_reader_differences.txt; a listed difference that no longer
# shows is reported as well. Language names are printed side by side for
# information only (Wine names languages without their region). Exits 0 when
# the answers agree, 1 on a mismatch, 2 when something is missing.
set -eu

if [ $# -ne 2 ]; then
    echo "usage: $0 HOST_BUILD_DIR WINDOWS_BUILD_DIR" >&2
    exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
host_dir=$(cd "$1" && pwd)
win_dir=$(cd "$2" && pwd)
fixtures_tool=$host_dir/tests/reader_fixtures
host_probe=$host_dir/tests/reader_probe
win_probe=$win_dir/tests/winprobe/winprobe.exe
for f in "$fixtures_tool" "$host_probe" "$win_probe"; do
    if [ ! -x "$f" ] && [ ! -f "$f" ]; then
        echo "test_readers: missing $f (build both presets first)" >&2
        exit 2
    fi
done
if ! command -v wine >/dev/null 2>&1; then
    echo "test_readers: wine is not installed" >&2
    exit 2
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/zv-readers-XXXXXX")
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$work"' EXIT INT TERM

WINEPREFIX=$work/prefix
WINEARCH=win32
WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEPREFIX WINEARCH WINEDEBUG WINEDLLOVERRIDES
wineboot -i >/dev/null 2>&1 || true
windows_dir=$WINEPREFIX/drive_c/windows
if [ ! -d "$windows_dir" ]; then
    echo "test_readers: wine prefix was not created" >&2
    exit 2
fi

"$fixtures_tool" "$work/fx"

# Wine sees the host's root as drive Z:.
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

host_args=""
win_args=""
for f in "$work"/fx/versions/*; do
    host_args="$host_args $f"
    win_args="$win_args $(winpath "$f")"
done
# shellcheck disable=SC2086
"$host_probe" version $host_args >"$work/host_versions.txt"
# shellcheck disable=SC2086
wine "$win_probe" version $win_args >"$work/win_versions.txt"

# A bare settings-file name is looked for in the Windows directory: the
# prefix's for Wine, a copy of it for the host probe.
cp "$work/fx/settings/zvact.ini" "$windows_dir/zvact.ini"
mkdir -p "$work/windows"
cp "$work/fx/settings/zvact.ini" "$work/windows/zvact.ini"
host_args=""
win_args=""
for f in "$work"/fx/settings/*.ini; do
    host_args="$host_args $f"
    win_args="$win_args $(winpath "$f")"
done
# shellcheck disable=SC2086
"$host_probe" --windows-dir "$work/windows" ini $host_args zvact.ini missing.ini >"$work/host_ini.txt"
# shellcheck disable=SC2086
wine "$win_probe" ini $win_args zvact.ini missing.ini >"$work/win_ini.txt"

languages="0 409 407 40C 410 40A C0A 413 809 411 416 804 404 1234"
# shellcheck disable=SC2086
"$host_probe" lang $languages >"$work/host_lang.txt"
# shellcheck disable=SC2086
wine "$win_probe" lang $languages >"$work/win_lang.txt"

echo "language names (information only): Wine | portable"
paste -d'|' "$work/win_lang.txt" "$work/host_lang.txt" | sed 's/^/  /'

python3 "$here/compare_probes.py" "$here/known_reader_differences.txt" \
    "$work/win_versions.txt" "$work/host_versions.txt" \
    "$work/win_ini.txt" "$work/host_ini.txt"
