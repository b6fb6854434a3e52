#!/usr/bin/env bash
# The Windows build's SHA-256, taken from the system's CryptoAPI, gives the
# digests that another implementation (Python's hashlib) gives: the known
# inputs, two contexts open at once, a whole executable file read in pieces,
# four threads hashing at once from the first use of the provider that the run
# shares, and a digest once that provider has been released.
#   test_sha256.sh HOST_BUILD_DIR WINDOWS_BUILD_DIR
set -u
WIN=$(cd "$2" && pwd)
. "$(dirname "$0")/lib.sh"
zv_use_windows_build "$WIN"

zv_make_prefix
PROBE="$WIN/tests/wintests/sha256_probe.exe"
cp "$PROBE" "$ZV_TMP/probe.exe"
# The file by a name relative to the working folder, which Wine maps.
(cd "$ZV_TMP" && zv_wine ./probe.exe probe.exe 2>/dev/null) | tr -d '\r' >"$ZV_TMP/got.txt"
python3 - "$ZV_TMP/probe.exe" >"$ZV_TMP/expected.txt" <<'PY'
import hashlib, sys
for i in range(4):
    print("thread%d" % i, hashlib.sha256(bytes([ord("k") + i]) * (100000 * (i + 1))).hexdigest())
print("empty", hashlib.sha256(b"").hexdigest())
print("abc", hashlib.sha256(b"abc").hexdigest())
print("million", hashlib.sha256(b"a" * 1000000).hexdigest())
print("both abc", hashlib.sha256(b"abc").hexdigest())
print("both million", hashlib.sha256(b"a" * 1000000).hexdigest())
print("file", hashlib.sha256(open(sys.argv[1], "rb").read()).hexdigest())
print("again abc", hashlib.sha256(b"abc").hexdigest())
PY
zv_check "the CryptoAPI digests equal hashlib's" diff -u "$ZV_TMP/expected.txt" "$ZV_TMP/got.txt"
zv_finish
