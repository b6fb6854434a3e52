#!/usr/bin/env bash
# Builds the host preset (core, quillon, tests, benchmarks) and the Windows
# preset (zvupdate.exe, quillon.exe).
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS=${JOBS:-$(nproc)}
cmake --preset host >/dev/null
cmake --build build/host -j"$JOBS"
cmake --preset windows >/dev/null
cmake --build build/windows -j"$JOBS"
