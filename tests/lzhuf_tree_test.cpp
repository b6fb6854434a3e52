// The shared adaptive Huffman tree and position code of the LZHUF format.
#include <gtest/gtest.h>

#include <random>

#include "package/lzhuf_tree.h"

using namespace zv;
using namespace zv::lzhuf;

namespace {

// Checks everything the coder relies on: frequencies in order, every node's
// frequency the sum of its children's, parent links matching child links, and
// every symbol with exactly one leaf. Returns the first fault, empty if none.
std::string TreeFault(const LzhufTree& t) {
    if (t.freq[T] != 0xFFFF) return "guard";
    if (t.prnt[R] != 0) return "root parent";
    for (unsigned i = 0; i + 1 < T; ++i) {
        if (t.freq[i] > t.freq[i + 1]) return "order at " + std::to_string(i);
    }
    std::vector<int> leafOf(N_CHAR, -1);
    for (unsigned i = 0; i < T; ++i) {
        const unsigned s = t.son[i];
        if (s >= T) {
            if (s - T >= N_CHAR) return "bad symbol at " + std::to_string(i);
            if (leafOf[s - T] != -1) return "two leaves for a symbol";
            leafOf[s - T] = static_cast<int>(i);
            if (t.prnt[s] != i) return "leaf link of " + std::to_string(s - T);
        } else {
            if (s % 2 != 0 || s + 1 >= i) return "children of " + std::to_string(i);
            if (t.prnt[s] != i || t.prnt[s + 1] != i) return "parent of children of " + std::to_string(i);
            if (t.freq[i] != t.freq[s] + t.freq[s + 1]) return "sum at " + std::to_string(i);
        }
    }
    return "";
}

// Walks from the root with the given code; returns the symbol reached.
unsigned WalkCode(const LzhufTree& t, uint32_t bits, unsigned length) {
    unsigned n = t.son[R];
    for (unsigned k = length; k-- > 0;) {
        if (n >= T) return 9999;  // a leaf before the code ended
        n = t.son[n + ((bits >> k) & 1)];
    }
    return n >= T ? n - T : 9999;
}

}  // namespace

TEST(LzhufTree, StartsBalancedWithEveryCodeEightOrNineBits) {
    LzhufTree t;
    StartTree(&t);
    EXPECT_EQ(TreeFault(t), "");
    EXPECT_EQ(t.freq[R], N_CHAR);
    for (unsigned c = 0; c < N_CHAR; ++c) {
        uint32_t bits;
        unsigned length;
        SymbolCode(t, c, &bits, &length);
        EXPECT_TRUE(length == 8 || length == 9) << c;
        EXPECT_EQ(WalkCode(t, bits, length), c);
    }
}

TEST(LzhufTree, StaysConsistentThroughUpdatesAndRebuilds) {
    // Skewed symbols drive the root to MAX_FREQ many times over.
    for (unsigned seed : {1u, 2u, 3u}) {
        std::mt19937 rng(seed);
        std::geometric_distribution<unsigned> skewed(seed == 1 ? 0.5 : 0.02);
        LzhufTree t;
        StartTree(&t);
        unsigned rebuilds = 0;
        unsigned maxLength = 0;
        for (unsigned step = 0; step < 200000; ++step) {
            const unsigned c = skewed(rng) % N_CHAR;
            if (t.freq[R] == MAX_FREQ) ++rebuilds;
            const uint16_t before = t.freq[R];
            UpdateTree(&t, c);
            if (before != MAX_FREQ) {
                ASSERT_EQ(t.freq[R], before + 1);
            }
            if (step % 997 == 0 || before == MAX_FREQ) {
                ASSERT_EQ(TreeFault(t), "") << "seed " << seed << " step " << step;
                for (unsigned s = 0; s < N_CHAR; ++s) {
                    uint32_t bits;
                    unsigned length;
                    SymbolCode(t, s, &bits, &length);
                    ASSERT_LE(length, MAX_CODE_BITS);
                    maxLength = std::max(maxLength, length);
                    ASSERT_EQ(WalkCode(t, bits, length), s) << "seed " << seed << " step " << step;
                }
            }
        }
        EXPECT_GE(rebuilds, 5u) << "seed " << seed;
        EXPECT_LE(maxLength, 22u);
    }
}

TEST(LzhufTree, RebuildHalvesLeavesRoundingUp) {
    LzhufTree t;
    StartTree(&t);
    for (int k = 0; k < 100; ++k) UpdateTree(&t, 'e');  // 'e' counts 101
    for (int k = 0; k < 2; ++k) UpdateTree(&t, 't');    // 't' counts 3
    RebuildTree(&t);
    EXPECT_EQ(TreeFault(t), "");
    EXPECT_EQ(t.freq[t.prnt['e' + T]], 51);
    EXPECT_EQ(t.freq[t.prnt['t' + T]], 2);
    EXPECT_EQ(t.freq[t.prnt['a' + T]], 1);
    EXPECT_EQ(t.freq[R], 51 + 2 + (N_CHAR - 2));
}

TEST(LzhufTree, RebuildComesWhenTheRootReachesMaxFreq) {
    LzhufTree t;
    StartTree(&t);
    const unsigned updates = MAX_FREQ - N_CHAR;
    for (unsigned k = 0; k < updates; ++k) UpdateTree(&t, 0);
    ASSERT_EQ(t.freq[R], MAX_FREQ);  // reached, not yet rebuilt
    UpdateTree(&t, 1);
    // Symbol 0 had 1 + updates, now halved; symbol 1 counted 2 after halving 1.
    EXPECT_EQ(t.freq[t.prnt[0 + T]], (1 + updates + 1) / 2);
    EXPECT_EQ(t.freq[t.prnt[1 + T]], 2);
    EXPECT_EQ(t.freq[R], (1 + updates + 1) / 2 + 2 + (N_CHAR - 2));
    EXPECT_EQ(TreeFault(t), "");
}

TEST(LzhufPositionCode, EncoderCodeReadsBackAsTheSameUpperBits) {
    for (unsigned upper = 0; upper < 64; ++upper) {
        const unsigned len = PositionCodeLength(upper);
        ASSERT_GE(len, 3u);
        ASSERT_LE(len, 8u);
        // Every 8-bit index that begins with the code decodes to `upper`.
        for (unsigned rest = 0; rest < (1u << (8 - len)); ++rest) {
            const unsigned i = PositionCode(upper) << (8 - len) | rest;
            ASSERT_EQ(d_code[i], upper) << i;
            ASSERT_EQ(d_len[i], len) << i;
        }
    }
    // The groups: 32 indexes code 0, 16 each code 1..3, one each 48..63.
    EXPECT_EQ(PositionCode(0), 0u);
    EXPECT_EQ(PositionCodeLength(1), 4u);
    EXPECT_EQ(PositionCode(1), 0x2u);
    EXPECT_EQ(PositionCode(63), 0xFFu);
    EXPECT_EQ(PositionCodeLength(47), 7u);
}
