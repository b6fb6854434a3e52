#!/usr/bin/env bash
# Builds the host preset (core, quillon, tests, benchmarks) and both Windows
# presets (zvupdate.exe, quillon.exe and the Windows test programs): windows,
# 32-bit, the updater that ships, and windows64.
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS=${JOBS:-$(nproc)}
cmake --preset host >/dev/null
cmake --build build/host -j"$JOBS"
for preset in windows windows64; do
  cmake --preset "$preset" >/dev/null
  cmake --build "build/$preset" -j"$JOBS"
done
