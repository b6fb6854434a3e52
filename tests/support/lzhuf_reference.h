// A second LZHUF decoder for checking the real one: written separately and
// as plainly as possible, one bit at a time through a 16-bit bit buffer, with
// its own copy of the tree. It takes bytes from a callback in the order and at
// the moments the format's bit reader does, and records how many it took.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace zvtest {

struct ReferenceResult {
    bool ok = false;            // false: a byte read failed, or there was no size
    std::vector<uint8_t> bytes;  // what was produced (all of it, even on failure)
    uint32_t bytesTaken = 0;     // calls of the byte source, failed ones included
};

// `next` returns a byte 0..255, -1 for the end of the data (read as 0 in the
// coded data), or -2 for a failed read.
ReferenceResult ReferenceDecode(const std::function<int()>& next);

// The same over a byte array: -1 after its end, and -2 at index `failAt`.
ReferenceResult ReferenceDecode(const std::vector<uint8_t>& stream, int64_t failAt = -1);

}  // namespace zvtest
