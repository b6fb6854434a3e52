#include "package/lzhuf_tree.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace zv {

using namespace lzhuf;

void lzhuf::FillStartHistory(uint8_t history[N]) {
    std::memset(history, 0, N - WINDOW_START);
    std::memset(history + (N - WINDOW_START), ' ', WINDOW_START);
}

void StartTree(LzhufTree* tree) {
    for (unsigned c = 0; c < N_CHAR; ++c) {
        tree->freq[c] = 1;
        tree->son[c] = static_cast<uint16_t>(c + T);
        tree->prnt[c + T] = static_cast<uint16_t>(c);
    }
    unsigned i = 0;
    for (unsigned j = N_CHAR; j <= R; ++j, i += 2) {
        tree->freq[j] = static_cast<uint16_t>(tree->freq[i] + tree->freq[i + 1]);
        tree->son[j] = static_cast<uint16_t>(i);
        tree->prnt[i] = tree->prnt[i + 1] = static_cast<uint16_t>(j);
    }
    tree->freq[T] = 0xFFFF;
    tree->prnt[R] = 0;
}

void RebuildTree(LzhufTree* tree) {
    uint16_t* const freq = tree->freq;
    uint16_t* const son = tree->son;
    uint16_t* const prnt = tree->prnt;

    // The leaves to the front, in their order, with halved frequencies.
    unsigned j = 0;
    for (unsigned i = 0; i < T; ++i) {
        if (son[i] >= T) {
            freq[j] = static_cast<uint16_t>((freq[i] + 1) / 2);
            son[j] = son[i];
            ++j;
        }
    }
    // Join pairs from the front; each new node goes after every node of its
    // frequency or less, which keeps the order.
    unsigned i = 0;
    for (j = N_CHAR; j < T; ++j, i += 2) {
        const uint16_t f = static_cast<uint16_t>(freq[i] + freq[i + 1]);
        // The first of freq[0..j-1] above f: they are in order, so a binary
        // search finds it.
        const unsigned k = static_cast<unsigned>(std::upper_bound(freq, freq + j, f) - freq);
        std::memmove(&freq[k + 1], &freq[k], (j - k) * sizeof(freq[0]));
        std::memmove(&son[k + 1], &son[k], (j - k) * sizeof(son[0]));
        freq[k] = f;
        son[k] = static_cast<uint16_t>(i);
    }
    for (i = 0; i < T; ++i) {
        const unsigned k = son[i];
        if (k >= T) {
            prnt[k] = static_cast<uint16_t>(i);
        } else {
            prnt[k] = prnt[k + 1] = static_cast<uint16_t>(i);
        }
    }
}

namespace {

// The last index whose frequency is less than k, looking from n + 2 on (the
// order of frequencies makes it the end of the run that node n has just left;
// freq[n + 1] is known to be less than k). Four candidates are tested at a
// time, as four 16-bit lanes of one word: a lane's top bit in
// ((x | 0x8000) - k) | x is set exactly when x >= k, and no lane borrows from
// the next, because k is at most 0x7FFF for any node but the root. The guard
// freq[T] ends the scan. The last word may reach up to three lanes past the
// guard, into son[] (read through the tree's bytes, so never outside it): the
// lowest lane that counts is taken, and the guard's comes before them.
constexpr size_t kFreqAt = offsetof(LzhufTree, freq);
static_assert(kFreqAt + 2 * (T + 4) <= sizeof(LzhufTree), "a word read at the guard stays inside the tree");

inline uint64_t FourLanes(const unsigned char* at) {
    uint64_t lanes;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    std::memcpy(&lanes, at, sizeof lanes);  // the four lanes in order, in one load
#else
    uint16_t v[4];
    std::memcpy(v, at, sizeof v);
    lanes = static_cast<uint64_t>(v[0]) | static_cast<uint64_t>(v[1]) << 16 | static_cast<uint64_t>(v[2]) << 32 |
            static_cast<uint64_t>(v[3]) << 48;
#endif
    return lanes;
}

inline unsigned LastBelow(const LzhufTree& tree, unsigned n, unsigned k) {
    constexpr uint64_t kTops = 0x8000800080008000u;
    const unsigned char* const bytes = reinterpret_cast<const unsigned char*>(&tree) + kFreqAt;
    const uint64_t ks = k * 0x0001000100010001u;
    unsigned l = n + 2;
    for (;;) {
        const uint64_t lanes = FourLanes(bytes + 2 * static_cast<size_t>(l));
        const uint64_t atLeast = (((lanes | kTops) - ks) | lanes) & kTops;
        if (atLeast != 0) {
#if defined(__GNUC__)
            return l + static_cast<unsigned>(__builtin_ctzll(atLeast)) / 16 - 1;
#else
            unsigned lane = 0;
            while ((atLeast >> (16 * lane + 15) & 1) == 0) ++lane;
            return l + lane - 1;
#endif
        }
        l += 4;
    }
}

}  // namespace

unsigned ExchangeNode(LzhufTree* tree, unsigned n, unsigned k) {
    uint16_t* const freq = tree->freq;
    uint16_t* const son = tree->son;
    uint16_t* const prnt = tree->prnt;

    const unsigned l = LastBelow(*tree, n, k);
    // Nodes n + 1 to l all count k - 1, as node n did before.
    freq[n] = static_cast<uint16_t>(k - 1);
    freq[l] = static_cast<uint16_t>(k);

    // The children of an internal node, or the symbol of a leaf, get their
    // new parent. For a leaf the second store repeats the first, which spares
    // a branch that the data would decide.
    const unsigned a = son[n];
    const unsigned b = son[l];
    prnt[a] = static_cast<uint16_t>(l);
    prnt[a + (a < T)] = static_cast<uint16_t>(l);
    prnt[b] = static_cast<uint16_t>(n);
    prnt[b + (b < T)] = static_cast<uint16_t>(n);
    son[l] = static_cast<uint16_t>(a);
    son[n] = static_cast<uint16_t>(b);
    return l;
}

}  // namespace zv
