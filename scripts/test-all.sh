#!/usr/bin/env bash
# Sets up a fresh machine and runs every test: the host tests under CTest,
# each fuzz target briefly, and the Windows programs under Wine.
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh || exit 1
bash scripts/build.sh || exit 1

failed=0
(cd build/host && ctest --output-on-failure -j"$(nproc)") || failed=1

# A fixed seed keeps a run repeatable: the same search each time, so a red
# run points at the change, not at luck. FUZZ_SEED=0 searches anew each run.
echo "== fuzz targets (${FUZZ_SECONDS:=20} s each, seed ${FUZZ_SEED:=1})"
if cmake --preset fuzz >/dev/null && cmake --build build/fuzz -j"$(nproc)" >/dev/null; then
  for f in build/fuzz/fuzz/*_fuzzer; do
    corpus=$(mktemp -d)
    if "$f" -seed="$FUZZ_SEED" -max_total_time="$FUZZ_SECONDS" "$corpus" >"$corpus.log" 2>&1; then
      echo "fuzz $(basename "$f"): $(grep -Eo 'Done [0-9]+ runs' "$corpus.log")"
    else
      echo "fuzz $(basename "$f"): FAILED"; tail -40 "$corpus.log"; failed=1
    fi
    rm -rf "$corpus" "$corpus.log"
  done
else
  echo "fuzz targets: build FAILED"; failed=1
fi

echo "== Windows programs under Wine"
# Where this machine runs 32-bit processes, every suite runs on the 32-bit
# build (the updater that ships) and on the 64-bit one; elsewhere on the
# 64-bit build alone (tests/wine/lib.sh says so and why).
passed=0; wfailed=0
if builds=$(bash tests/wine/lib.sh builds); then
  for build in $builds; do
    for t in tests/wine/test_*.sh; do
      if bash "$t" build/host "$build"; then
        passed=$((passed + 1)); echo "wine $(basename "$t") on $build: passed"
      else
        wfailed=$((wfailed + 1)); echo "wine $(basename "$t") on $build: FAILED"
      fi
    done
  done
else
  echo "wine: no build to test"; wfailed=1
fi
[ "$wfailed" -eq 0 ] || failed=1
echo "wine: $passed passed, $wfailed failed (every suite on $(echo $builds | sed 's/ / and /'))"
exit $failed
