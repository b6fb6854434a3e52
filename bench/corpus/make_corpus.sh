#!/bin/sh
# Makes the benchmark corpus beside this script, except english.txt, which is
# written by hand:
#   x86.obj     our own sources compiled for 32-bit Windows (-O2) and linked
#               into one relocatable object: x86 machine code as the package's
#               programs hold it, with their data and relocations
#   zeros.bin   64 KB of zero bytes
#   random.bin  64 KB from a fixed seed (xorshift32, seed 2463534242)
# Run from anywhere; needs i686-w64-mingw32-g++ (posix) and python3. The
# committed x86.obj was made from the sources of its time: running this again
# makes a similar file, not the same one.
set -e
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 "$top/resources/gen_strings.py" "$top/resources/strings.txt" "$work/generated"
cd "$top"
for source in package/*.cpp platform/*.cpp detect/*.cpp quillon/*.cpp shell/*.cpp; do
    case "$source" in *_posix.cpp) continue ;; esac
    i686-w64-mingw32-g++-posix -O2 -std=c++17 -DQUILLON_VERSION='"corpus"' -I. -I"$work/generated" \
        -c "$source" -o "$work/$(echo "$source" | tr / _).o"
done
i686-w64-mingw32-ld -r -o "$here/x86.obj" "$work"/*.o

python3 - "$here" <<'PY'
import sys
here = sys.argv[1]
open(here + "/zeros.bin", "wb").write(bytes(65536))
x = 2463534242
out = bytearray()
for _ in range(65536):
    x ^= (x << 13) & 0xFFFFFFFF
    x ^= x >> 17
    x ^= (x << 5) & 0xFFFFFFFF
    out.append(x & 0xFF)
open(here + "/random.bin", "wb").write(bytes(out))
PY
ls -l "$here"
