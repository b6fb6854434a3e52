// A small LZHUF encoder for tests and benchmarks of the decoder: it writes
// exactly the symbols it is told (literals, and matches by length and
// position), or parses data greedily. It shares the tree and position code
// with the decoder and nothing else, so streams it writes check the decoder's
// reading of the format. It makes no attempt at good compression.
#pragma once

#include <cstdint>
#include <vector>

#include "package/lzhuf_tree.h"

namespace zvtest {

class LzhufStreamWriter {
public:
    LzhufStreamWriter();

    // One literal byte.
    void Literal(uint8_t c);
    // A match of `length` bytes (3..60) starting `position` + 1 bytes back.
    void Match(unsigned length, unsigned position);
    // Raw bits, most significant first (for hand-made damage).
    void Bits(uint32_t value, unsigned count);

    // The stream: `expandedSize` (little-endian), then the bits written, the
    // last byte filled up with zeros.
    std::vector<uint8_t> Finish(uint32_t expandedSize);

private:
    void Symbol(unsigned symbol);

    zv::LzhufTree tree_;
    std::vector<uint8_t> bytes_;
    uint32_t pending_ = 0;     // bits not yet in bytes_, right-aligned
    unsigned pendingCount_ = 0;
};

// Encodes `data` greedily: at each point the longest match among recent
// candidates within the data already written (never the initial window), a
// literal when none is 3 bytes long. literalsOnly writes literals only.
std::vector<uint8_t> EncodeLzhufForTest(const std::vector<uint8_t>& data, bool literalsOnly = false);

}  // namespace zvtest
