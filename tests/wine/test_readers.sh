#!/usr/bin/env bash
# Compares the portable version-resource and settings readers with the
# system's own (GetFileVersionInfoSizeA, GetFileVersionInfoA, VerQueryValueA,
# GetPrivateProfileStringA, GetPrivateProfileIntA) under Wine, on fixture
# files made by reader_fixtures; then runs the whole product detection
# ("quillon detect") both ways on a few installations in the Wine prefix and
# compares what it found and what the detection page says.
#
#   tests/wine/test_readers.sh HOST_BUILD_DIR WINDOWS_BUILD_DIR
#
# Every answer line of the two probes must be equal, except the differences
# listed in known_reader_differences.txt; a listed difference that no longer
# shows is reported as well. So must the name and the code page of every
# language of the portable table (platform/languages.cpp), except those in
# known_language_differences.txt (Wine names most languages without their
# region, where the system says "English (United States)"); the language line
# of the detection page, which says the same names, is therefore printed for
# information only. Exits 0 when the answers agree, 1 on a mismatch, 2 when
# something is missing.
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
win_probe=$win_dir/tests/wintests/winprobe.exe
host_quillon=$host_dir/quillon/quillon
win_quillon=$win_dir/quillon/quillon.exe
for f in "$fixtures_tool" "$host_probe" "$win_probe" "$host_quillon" "$win_quillon"; do
    if [ ! -x "$f" ] && [ ! -f "$f" ]; then
        echo "test_readers: missing $f (build both presets first)" >&2
        exit 2
    fi
done

. "$here/lib.sh"
zv_use_windows_build "$win_dir"
work=$ZV_TMP
set +e
zv_make_prefix
set -e
windows_dir=$WINEPREFIX/drive_c/windows

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
zv_wine "$win_probe" version $win_args >"$work/win_versions.txt"

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
zv_wine "$win_probe" ini $win_args zvact.ini missing.ini >"$work/win_ini.txt"

# Every language of the portable table, and one that no system knows.
languages=$(sed -n 's/^ *{0x\([0-9A-F]*\), .*/\1/p' "$here/../../platform/languages.cpp" | tr '\n' ' ')
if [ -z "$languages" ]; then
    echo "test_readers: no language found in platform/languages.cpp" >&2
    exit 2
fi
languages="$languages 1234"
{
    echo "== languages"
    # shellcheck disable=SC2086
    "$host_probe" lang $languages
} >"$work/host_lang.txt"
# Wine's length counts the name's terminating zero, which the function's
# documented answer leaves out; the updater does not use it. Taken one less
# here, so that the lengths are compared too.
{
    echo "== languages"
    # shellcheck disable=SC2086
    zv_wine "$win_probe" lang $languages |
        awk '$1 == "lang" && $4 > 0 { n = $4 - 1; sub(/-> [0-9]+/, "-> " n) } { print }'
} >"$work/win_lang.txt"

# Whole detections: the installation of DIR/machine put into the prefix
# (C:\ZARVEL, the settings file in C:\windows, the runtime libraries in the
# system directory), changed a little for each case.
drive_c=$WINEPREFIX/drive_c
system_dir=$windows_dir/system32
machine=$work/fx/machine
install() {
    rm -rf "$drive_c/ZARVEL" "$system_dir/PLMR.DLL" "$system_dir/PLMR32.DLL"
    cp -r "$machine/ZARVEL" "$drive_c/ZARVEL"
    cp "$machine/zvact.ini" "$windows_dir/zvact.ini"
    cp "$machine/SYSTEM/PLMR.DLL" "$machine/SYSTEM/PLMR32.DLL" "$system_dir/"
}
# "quillon COMMAND" on the installation, portable (with the prefix's
# directories) and under Wine (with the system's own). The program path
# differs by its form only.
run_both_ways() {
    command=$1 name=$2
    "$host_quillon" "$command" --drive "C=$drive_c" --windows-dir "$windows_dir" --system-dir "$system_dir" \
        --updater "$machine/zvupdate.exe" | grep -v '^programPath' >"$work/host_${command}_$name.txt"
    zv_wine "$win_quillon" "$command" --updater "$(winpath "$machine/zvupdate.exe")" 2>/dev/null | tr -d '\r' |
        grep -v '^programPath' >"$work/win_${command}_$name.txt"
}
# Compares the two outputs of run_both_ways, the language names (Wine's own)
# taken as alike; NOTE follows the line that says they are equal.
compare_both_ways() {
    command=$1 name=$2 note=$3
    host=$work/host_${command}_$name.txt win=$work/win_${command}_$name.txt
    sed -i 's/\[102\].*/[102] (language name)/' "$host" "$win"
    # The space the new copies need must agree; how each side names the
    # volume, and its free space, are the machine's.
    sed -i -E 's/^  .* +([0-9]+) bytes(, [0-9]+ free)?$/  (volume) \1 bytes/' "$host" "$win"
    # Only the system can say which programs hold the installed files; here
    # none runs, so the Windows plan must say so, and the line is then set
    # aside for the comparison.
    if [ "$command" = plan ] && grep -q '^the progress bar' "$win"; then
        if ! grep -qx 'the system knows of no running program that holds an installed file now' "$win"; then
            echo "$command '$name': the Windows plan does not say that no program holds an installed file"
            detect_failed=1
        fi
        sed -i '/^the system knows of no running program that holds an installed file now$/d' "$win"
    fi
    if diff -u "$win" "$host" >"$work/diff_${command}_$name.txt"; then
        echo "$command '$name': $(wc -l <"$host") lines, equal$note"
    else
        echo "$command '$name': MISMATCH (system first, portable second)"
        cat "$work/diff_${command}_$name.txt"
        detect_failed=1
    fi
}
detect_case() {
    name=$1
    run_both_ways detect "$name"
    win_language=$(grep '\[102\]' "$work/win_detect_$name.txt" | sed 's/.*\[102\] //' || true)
    host_language=$(grep '\[102\]' "$work/host_detect_$name.txt" | sed 's/.*\[102\] //' || true)
    compare_both_ways detect "$name" "${host_language:+ (language line: Wine '$win_language', portable '$host_language')}"
    # And what the transfer would do there, entry by entry.
    run_both_ways plan "$name"
    compare_both_ways plan "$name" ""
    [ "$name" != installed ] || sed 's/^/  /' "$work/host_plan_$name.txt"
}
detect_failed=0
install
detect_case installed
rm "$system_dir/PLMR.DLL"
detect_case no-plmr16
cp "$machine/SYSTEM/PLMR.DLL" "$drive_c/ZARVEL/PLMR.DLL"
detect_case plmr16-in-product-dir
install
printf '[setup]\r\ndrive=c:\r\ndir=ZARVEL\r\ninst=0\r\n' >"$windows_dir/zvact.ini"
detect_case relative-dir
printf '[setup]\r\ndir=\\ZARVEL\r\n' >"$windows_dir/zvact.ini"
detect_case no-drive
rm "$windows_dir/zvact.ini"
detect_case not-installed

status=0
cat "$here/known_reader_differences.txt" "$here/known_language_differences.txt" >"$work/known_differences.txt"
python3 "$here/compare_probes.py" "$work/known_differences.txt" \
    "$work/win_versions.txt" "$work/host_versions.txt" \
    "$work/win_ini.txt" "$work/host_ini.txt" \
    "$work/win_lang.txt" "$work/host_lang.txt" || status=1
if [ "$detect_failed" -ne 0 ]; then
    echo "detection: FAILED"
    status=1
fi
exit $status
