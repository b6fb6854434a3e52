#!/bin/sh
# Makes the two 1 MiB inputs on which the decoder's instructions per output
# byte are counted, from this repository's history, so that anyone gets the
# same bytes:
#   text.bin    the project's own C++ sources (*.cpp and *.h, in path order)
#               at COMMIT, joined, cut to 1 MiB
#   binary.bin  bench/corpus/x86.obj (x86 machine code with its data and
#               relocations) at COMMIT, repeated and cut to 1 MiB
# and packs each with quillon into text.lzh and binary.lzh.
#
# Usage: bench/make_decoder_inputs.sh QUILLON OUTDIR [COMMIT]
# COMMIT defaults to 90f6a67, the sources the figures in the README were
# taken on.
#
# The count itself, for each of the two:
#   valgrind --tool=callgrind --callgrind-out-file=cg.out QUILLON lzhuf -d OUTDIR/text.lzh out
#   (total Ir in cg.out's "summary:" line) / 1048576
set -e
if [ $# -lt 2 ]; then
    echo "usage: $0 QUILLON OUTDIR [COMMIT]" >&2
    exit 2
fi
quillon=$1
out=$2
commit=${3:-90f6a67}
top=$(cd "$(dirname "$0")/.." && pwd)
size=1048576
mkdir -p "$out"

git -C "$top" ls-tree -r --name-only "$commit" | grep -E '\.(cpp|h)$' | while read -r path; do
    git -C "$top" show "$commit:$path"
done | head -c $size > "$out/text.bin"

git -C "$top" show "$commit:bench/corpus/x86.obj" > "$out/x86.obj"
: > "$out/binary.bin"
while [ "$(wc -c < "$out/binary.bin")" -lt $size ]; do cat "$out/x86.obj" >> "$out/binary.bin"; done
head -c $size "$out/binary.bin" > "$out/binary.cut" && mv "$out/binary.cut" "$out/binary.bin"
rm -f "$out/x86.obj"

"$quillon" lzhuf -c "$out/text.bin" "$out/text.lzh"
"$quillon" lzhuf -c "$out/binary.bin" "$out/binary.lzh"
