// The LZHUF stream format, shared by the decoder and the packer's encoder.
//
// A member is LZSS over a 4096-byte window. Literals (0..255) and match
// lengths (3..60, as symbols 256..313) share one adaptive Huffman code, kept in
// an LzhufTree that encoder and decoder update identically after every symbol.
// A match position (distance back minus one, 0..4095) is coded as its upper 6
// bits with a fixed prefix code of 3 to 8 bits, followed by its lower 6 bits
// plain. Bits go most significant first, with no alignment between codes.
//
// A member stream is the expanded size (u32, little-endian) followed by the
// coded data; its last byte is filled up with bits of no meaning.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zv {
namespace lzhuf {

constexpr unsigned N = 4096;          // window size; positions are taken & 0xFFF
constexpr unsigned F = 60;            // longest match
constexpr unsigned THRESHOLD = 2;     // a match is at least THRESHOLD + 1 bytes
constexpr unsigned N_CHAR = 256 - THRESHOLD + F;  // 314 symbols
constexpr unsigned T = 2 * N_CHAR - 1;            // 627 nodes
constexpr unsigned R = T - 1;                     // the root, 626
constexpr uint16_t MAX_FREQ = 0x8000;  // root frequency that makes the tree rebuild
constexpr unsigned WINDOW_START = N - F;  // 4036: first write position of a member
constexpr unsigned WINDOW_MASK = N - 1;
constexpr unsigned MIN_MATCH = THRESHOLD + 1;  // 3

// Symbol of a match of `length` bytes (3..60) and back.
constexpr unsigned MatchSymbol(unsigned length) { return length + 256 - MIN_MATCH; }
constexpr unsigned MatchLength(unsigned symbol) { return symbol - 256 + MIN_MATCH; }

// The deepest leaf the tree can hold. The tree always has the sibling property
// (it is a Huffman tree for its frequencies), every leaf counts at least 1 and
// the root at most MAX_FREQ, so no code is longer than 22 bits; 32 leaves room.
constexpr unsigned MAX_CODE_BITS = 32;

// The window a stream starts with, seen as the N bytes in front of the first
// byte: 60 zeros (window positions 4036..4095, furthest back), then 4036
// spaces, the last of them one byte back.
void FillStartHistory(uint8_t history[N]);

// The position code. A position (0..4095) is its upper 6 bits coded with a
// prefix code that gives short codes to the near positions, then its lower 6
// bits plain: upper value 0 takes 3 bits, 1 to 3 take 4, 4 to 11 take 5,
// 12 to 23 take 6, 24 to 47 take 7 and 48 to 63 take 8.
//
// The decoder reads 8 bits i first: d_code[i] is the upper value and d_len[i]
// the length of its prefix code (3..8), so d_len[i] - 2 more bits complete the
// position. The encoder writes upperCode[u] (right-aligned, upperLen[u] bits)
// and then the 6 lower bits.
struct PositionTables {
    uint8_t code[256] = {};
    uint8_t len[256] = {};
    uint8_t upperCode[64] = {};
    uint8_t upperLen[64] = {};
};

constexpr PositionTables MakePositionTables() {
    struct Group {
        unsigned firstUpper, count, len;
    };
    constexpr Group groups[] = {{0, 1, 3}, {1, 3, 4}, {4, 8, 5}, {12, 12, 6}, {24, 24, 7}, {48, 16, 8}};
    PositionTables t;
    unsigned index = 0;
    for (const Group& group : groups) {
        const unsigned span = 1u << (8 - group.len);  // indexes that start with one code
        for (unsigned u = group.firstUpper; u < group.firstUpper + group.count; ++u) {
            t.upperCode[u] = static_cast<uint8_t>(index >> (8 - group.len));
            t.upperLen[u] = static_cast<uint8_t>(group.len);
            for (unsigned k = 0; k < span; ++k, ++index) {
                t.code[index] = static_cast<uint8_t>(u);
                t.len[index] = static_cast<uint8_t>(group.len);
            }
        }
    }
    return t;
}

inline constexpr PositionTables kPositionTables = MakePositionTables();
inline constexpr const uint8_t (&d_code)[256] = kPositionTables.code;
inline constexpr const uint8_t (&d_len)[256] = kPositionTables.len;

static_assert(d_code[0x1F] == 0 && d_code[0x20] == 1 && d_code[0x4F] == 3 && d_code[0x50] == 4 &&
                  d_code[0x8F] == 11 && d_code[0x90] == 12 && d_code[0xBF] == 23 &&
                  d_code[0xC0] == 24 && d_code[0xEF] == 47 && d_code[0xF0] == 48 &&
                  d_code[0xFF] == 63,
              "upper values take 32, 16, 8, 4, 2 and 1 indexes by group");
static_assert(d_len[0x1F] == 3 && d_len[0x20] == 4 && d_len[0x4F] == 4 && d_len[0x50] == 5 &&
                  d_len[0x8F] == 5 && d_len[0x90] == 6 && d_len[0xBF] == 6 && d_len[0xC0] == 7 &&
                  d_len[0xEF] == 7 && d_len[0xF0] == 8,
              "prefix codes grow from 3 to 8 bits");

// The encoder's view: the prefix code of upper value `upper` (0..63),
// right-aligned, and its length in bits.
inline unsigned PositionCode(unsigned upper) { return kPositionTables.upperCode[upper]; }
inline unsigned PositionCodeLength(unsigned upper) { return kPositionTables.upperLen[upper]; }

}  // namespace lzhuf

// The adaptive Huffman tree, the same on both sides of the stream.
//
// Nodes are kept in non-decreasing order of frequency; the two children of an
// internal node are adjacent, the first (bit 0) at an even index and the second
// (bit 1) just after it.
//   freq[i]      frequency of node i; freq[T] is a guard of 0xFFFF
//   son[i]       first child of an internal node, or symbol + T for a leaf
//   prnt[i]      parent of node i (i < T); prnt[R] is 0
//   prnt[T + c]  the leaf of symbol c
struct LzhufTree {
    uint16_t freq[lzhuf::T + 1];
    uint16_t son[lzhuf::T];
    uint16_t prnt[lzhuf::T + lzhuf::N_CHAR];
};

// Sets up the tree of a new stream: every symbol counts 1.
void StartTree(LzhufTree* tree);

// Rebuilds the tree with every leaf's frequency halved (rounded up). UpdateTree
// calls it when the root has reached MAX_FREQ; exposed for tests.
void RebuildTree(LzhufTree* tree);

// Node n has just been counted up to k and now counts more than the node
// after it: exchanges it, subtree and all, with the last node that counts less
// than k, and returns the position it has moved to. Part of UpdateTree; out of
// line, since most steps up the tree need no exchange.
unsigned ExchangeNode(LzhufTree* tree, unsigned n, unsigned k);

// Counts one more occurrence of `symbol` (0..N_CHAR-1): rebuilds the tree first
// when the root's frequency is MAX_FREQ, then raises the frequencies on the
// way from the symbol's leaf to the root, moving nodes so that the order of
// frequencies holds. `symbol` is not checked. Inline: it runs once per symbol
// on both sides.
inline void UpdateTree(LzhufTree* tree, unsigned symbol) {
    uint16_t* const freq = tree->freq;
    const uint16_t* const prnt = tree->prnt;

    if (freq[lzhuf::R] == lzhuf::MAX_FREQ) RebuildTree(tree);

    // Indexes are machine words, which spares a widening on every step. The
    // root, always the last node on the way, is counted apart, without the
    // test for an exchange: it counts more than any other node, so it never
    // moves, and an exchange lower down never reaches it.
    size_t n = prnt[symbol + lzhuf::T];
    do {
        const unsigned k = ++freq[n];
        if (k > freq[n + 1]) n = ExchangeNode(tree, static_cast<unsigned>(n), k);
        n = prnt[n];
    } while (n != lzhuf::R);
    ++freq[lzhuf::R];
}

// The current code of `symbol`: its bits right-aligned in *bits, first bit
// most significant, and their number in *length (1..MAX_CODE_BITS). The tree
// is not changed.
inline void SymbolCode(const LzhufTree& tree, unsigned symbol, uint32_t* bits, unsigned* length) {
    uint32_t code = 0;
    unsigned count = 0;
    unsigned node = tree.prnt[symbol + lzhuf::T];
    do {
        code |= static_cast<uint32_t>(node & 1) << count;  // the second child codes 1
        ++count;
        node = tree.prnt[node];
    } while (node != lzhuf::R);
    *bits = code;
    *length = count;
}

}  // namespace zv
