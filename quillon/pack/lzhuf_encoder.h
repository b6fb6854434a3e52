// The packer's LZHUF encoder: turns a member's bytes into one stream that the
// updater's decoder expands exactly.
//
// A stream is the expanded size (u32, little-endian) and the coded symbols,
// most significant bit first, the last byte filled up with zero bits. The
// window the decoder starts with counts as history the data may refer to:
// the 4036 bytes just before the first byte are spaces and the 60 before
// those are zeros (zv::lzhuf::FillStartHistory; in the decoder's ring, spaces
// at 0..4035, zeros at 4036..4095, the first write at 4036). Text that starts
// with spaces therefore codes cheaply.
//
// Matches are found with hash chains of 4-byte strings (walks of limited
// length) and a table of the last position of every 3-byte string, and are
// chosen by a lazy, price-driven parse: a match is taken when it codes its
// bytes cheaper than literals would, and put off when one starting a byte or
// two later codes the same bytes cheaper still. Prices are the code lengths
// the decoder's tree will give, estimated from the symbol counts it will hold.
// The symbols themselves are coded exactly as the decoder will read them: the
// code of a symbol is its path from the root of the tree in its state before
// the symbol, and the tree is updated after each one.
//
// With two threads, one parses while the other codes; the stream does not
// depend on the number of threads.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "package/lzhuf_tree.h"

namespace quillon {

// How hard the encoder looks for matches, and with how many threads.
struct LzhufEncoderOptions {
    // Candidates looked at per position along a hash chain.
    unsigned chainLimit = 24;
    // A match at least this long is taken without weighing one that starts
    // a byte later.
    unsigned niceLength = 8;
    // 2: one thread parses while another codes the symbols (used for inputs
    // of some size only). Any other value: one thread.
    unsigned threads = 1;
    // When set, the bytes parsed are added to it as the parse goes on (for
    // a progress display on another thread).
    std::atomic<uint64_t>* progress = nullptr;
};

// Encodes `size` bytes into *stream (replacing what it held). Returns false,
// leaving *stream empty, only when `size` does not fit the 32-bit size field.
bool EncodeLzhuf(const uint8_t* data, size_t size, std::vector<uint8_t>* stream,
                 const LzhufEncoderOptions& options = LzhufEncoderOptions());

// The symbol coder under the encoder, for encoders of other parse strategies
// (the benchmarks' greedy baseline uses it). It owns the adaptive tree and
// the bit output.
struct LzhufWriter {
    zv::LzhufTree tree;
    std::vector<uint8_t>* out = nullptr;
    size_t used = 0;       // bytes of *out written so far
    uint64_t pending = 0;  // bits not yet written, in the low `pendingBits`
    unsigned pendingBits = 0;
};

// Starts a stream of `expandedSize` bytes in *out (cleared first).
void StartLzhufWriter(LzhufWriter* writer, std::vector<uint8_t>* out, uint32_t expandedSize);
// Codes one literal byte.
void PutLzhufLiteral(LzhufWriter* writer, uint8_t byte);
// Codes a match of `length` bytes (3..60) that starts `distance` bytes back
// (1..4096). Neither is checked.
void PutLzhufMatch(LzhufWriter* writer, unsigned length, unsigned distance);
// Writes the last bits, filled up to a byte with zeros, and cuts *out to the
// stream's length.
void FinishLzhufWriter(LzhufWriter* writer);

// The decoder's initial window in front of the data (zv::lzhuf::FillStartHistory).
constexpr unsigned LZHUF_HISTORY = zv::lzhuf::N;

}  // namespace quillon
