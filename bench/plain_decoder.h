// The format decoded the plain way, for comparison only: a 16-bit
// bit buffer refilled a byte at a time, one call per bit, the tree walked one
// bit at a time and updated with a linear scan. Written from the format's
// description; it expands the same streams to the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>

struct PlainDecoder {
    uint16_t freq[628];
    uint16_t son[627];
    uint16_t prnt[941];
    uint8_t window[4155];
    const uint8_t* in;
    const uint8_t* end;
    unsigned buf;
    unsigned len;
};

// Expands the stream at `in` into `out` (room for its size plus 59 bytes);
// returns the bytes produced.
size_t PlainDecode(PlainDecoder* d, const uint8_t* in, size_t inSize, uint8_t* out);
