// The LZHUF decoder over streams held in memory: hand-made symbol sequences
// that pin down the window, the position code and the end of the stream, and
// round trips through the test encoder. The file side (output buffer, write
// questions, the volume reader) is in member_read_test.cpp.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <set>
#include <string>

#include "package/lzhuf_decoder.h"
#include "package/lzhuf_tree.h"
#include "tests/support/lzhuf_test_encoder.h"
#include "tests/support/sample_data.h"

using namespace zv;
using zvtest::EncodeLzhufForTest;
using zvtest::LzhufStreamWriter;

namespace {

struct Expanded {
    StreamStatus status;
    std::vector<uint8_t> bytes;
};

// Expands with room for `capacity` bytes (default: the size plus the overrun
// of a last match), behind which a guard byte must stay untouched.
Expanded Expand(const std::vector<uint8_t>& stream, int64_t capacity = -1) {
    static auto decoder = std::make_unique<LzhufDecoder>();
    uint32_t size = 0;
    if (capacity < 0) capacity = LzhufStreamSize(stream.data(), static_cast<uint32_t>(stream.size()), &size)
                                     ? size + LZHUF_MATCH_OVERRUN
                                     : 0;
    std::vector<uint8_t> out(static_cast<size_t>(capacity) + 1, 0xA5);
    uint32_t produced = 0;
    StreamStatus status = DecodeLzhufStream(decoder.get(), stream.data(), static_cast<uint32_t>(stream.size()),
                                            out.data(), static_cast<uint32_t>(capacity), &produced);
    EXPECT_EQ(out[static_cast<size_t>(capacity)], 0xA5) << "wrote past the room given";
    out.resize(produced);
    return Expanded{status, out};
}

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }


}  // namespace

TEST(LzhufDecoder, StreamsTooShortForTheSizeFail) {
    for (size_t length = 0; length < 4; ++length) {
        const std::vector<uint8_t> stream(length, 0);
        EXPECT_EQ(Expand(stream, 16).status, StreamStatus::NoSize) << length;
    }
}

TEST(LzhufDecoder, SizeZeroProducesNothing) {
    const Expanded e = Expand({0, 0, 0, 0, 0xFF, 0xFF}, 16);
    EXPECT_EQ(e.status, StreamStatus::Done);
    EXPECT_TRUE(e.bytes.empty());
}

TEST(LzhufDecoder, MatchesAtTheStartCopyFromTheInitialWindow) {
    // The window starts as 4036 spaces and 60 zeros, writing at 4036.
    LzhufStreamWriter w;
    w.Match(10, 4041);  // from 4090: six zeros, then around to spaces at 0..3
    w.Match(3, 4045);   // from 0 (4046 - 4045 - 1): spaces
    w.Literal('x');
    const Expanded e = Expand(w.Finish(14));
    ASSERT_EQ(e.status, StreamStatus::Done);
    EXPECT_EQ(e.bytes, Bytes(std::string(6, '\0') + std::string(4, ' ') + "   x"));
}

TEST(LzhufDecoder, OverlappingMatchRepeatsTheLastByte) {
    LzhufStreamWriter w;
    w.Literal('A');
    w.Match(60, 0);  // one byte back: 60 copies of it
    w.Literal('B');
    w.Match(3, 61);  // the first 'A', from 62 bytes back
    const Expanded e = Expand(w.Finish(65));
    ASSERT_EQ(e.status, StreamStatus::Done);
    EXPECT_EQ(e.bytes, Bytes(std::string(61, 'A') + "BAAA"));
}

TEST(LzhufDecoder, MatchesShorterThanTheirDistanceBackRepeatThemselves) {
    // Below 8 bytes back the copy goes byte by byte, from 8 on in blocks of 8:
    // both must repeat what the match itself has just written.
    for (unsigned distance : {1u, 2u, 3u, 5u, 7u, 8u, 9u, 12u, 15u, 16u, 17u, 31u, 59u, 60u, 61u}) {
        SCOPED_TRACE("distance " + std::to_string(distance));
        LzhufStreamWriter w;
        std::vector<uint8_t> expected;
        for (unsigned k = 0; k < distance; ++k) {
            expected.push_back(static_cast<uint8_t>('a' + k % 26));
            w.Literal(expected.back());
        }
        for (unsigned length : {60u, 3u, 59u}) {
            w.Match(length, distance - 1);
            for (unsigned k = 0; k < length; ++k) expected.push_back(expected[expected.size() - distance]);
        }
        const Expanded e = Expand(w.Finish(static_cast<uint32_t>(expected.size())));
        ASSERT_EQ(e.status, StreamStatus::Done);
        EXPECT_EQ(e.bytes, expected);
    }
}

TEST(LzhufDecoder, EveryPositionCodeLengthReadsBack) {
    // Positions from each group of the prefix code, up to the farthest (4095:
    // 4096 bytes back), after 4096 distinct-ish bytes.
    std::vector<uint8_t> data(4096);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + i / 256);
    LzhufStreamWriter w;
    for (uint8_t c : data) w.Literal(c);
    std::vector<uint8_t> expected = data;
    for (unsigned position : {0u, 63u, 64u, 255u, 256u, 767u, 768u, 1535u, 1536u, 3071u, 3072u, 4095u}) {
        const unsigned length = 3 + position % 58;
        w.Match(length, position);
        for (unsigned k = 0; k < length; ++k) expected.push_back(expected[expected.size() - position - 1]);
    }
    const Expanded e = Expand(w.Finish(static_cast<uint32_t>(expected.size())));
    ASSERT_EQ(e.status, StreamStatus::Done);
    EXPECT_EQ(e.bytes, expected);
}

TEST(LzhufDecoder, ALastMatchIsCopiedWholePastTheSize) {
    LzhufStreamWriter w;
    w.Literal('z');
    w.Match(60, 0);
    const Expanded e = Expand(w.Finish(2));
    EXPECT_EQ(e.status, StreamStatus::Done);
    EXPECT_EQ(e.bytes, Bytes(std::string(61, 'z')));
    // Without the room for it, the memory expansion says so.
    EXPECT_EQ(Expand(w.Finish(2), 40).status, StreamStatus::OutputFull);
}

TEST(LzhufDecoder, CodesMayUseAtMostTwoBytesPastTheStream) {
    // A well-formed stream needs none of the zero bits behind it.
    const std::vector<uint8_t> data = zvtest::SampleText(3000, 7);
    const std::vector<uint8_t> whole = EncodeLzhufForTest(data);
    const Expanded sound = Expand(whole);
    ASSERT_EQ(sound.status, StreamStatus::Done);
    EXPECT_EQ(sound.bytes, data);

    // Cut anywhere well inside its codes, it is damaged: the decoder stops
    // after a few zero bytes instead of expanding zeros to the size.
    for (size_t keep : {size_t{4}, size_t{5}, whole.size() / 2, whole.size() - 4}) {
        SCOPED_TRACE(keep);
        const std::vector<uint8_t> cut(whole.begin(), whole.begin() + static_cast<long>(keep));
        const Expanded e = Expand(cut);
        EXPECT_EQ(e.status, StreamStatus::Overrun);
        EXPECT_LT(e.bytes.size(), data.size());
    }

    // The bound is counted in bits used. Streams whose last codes are all
    // zero bits, so that cutting zero bytes off changes nothing but how many
    // bits lie past the end: up to 16 used past it pass, 17 or more do not.
    std::set<int32_t> passed, refused;  // bits used past the end
    for (unsigned tail = 1; tail <= 12; ++tail) {
        SCOPED_TRACE("zero-coded symbols at the end: " + std::to_string(tail));
        LzhufTree tree;
        StartTree(&tree);
        LzhufStreamWriter w;
        uint32_t bits = 0;  // code bits written
        auto literal = [&](unsigned c) {
            uint32_t code;
            unsigned length;
            SymbolCode(tree, c, &code, &length);
            w.Literal(static_cast<uint8_t>(c));
            UpdateTree(&tree, c);
            bits += length;
        };
        for (unsigned c : {'z', 'v', 'u', 'p', 'd'}) literal(c);
        std::vector<uint8_t> expected = Bytes("zvupd");
        for (unsigned k = 0; k < tail; ++k) {
            // The symbol at the end of the all-zero path in the tree as it is.
            unsigned n = tree.son[lzhuf::R];
            while (n < lzhuf::T) n = tree.son[n];
            const unsigned symbol = n - lzhuf::T;
            if (symbol < 256) {
                expected.push_back(static_cast<uint8_t>(symbol));
                literal(symbol);
                continue;
            }
            // A match; zero bits make its position 0, one byte back.
            uint32_t code;
            unsigned length;
            SymbolCode(tree, symbol, &code, &length);
            w.Match(lzhuf::MatchLength(symbol), 0);
            UpdateTree(&tree, symbol);
            bits += length + lzhuf::PositionCodeLength(0) + 6;
            for (unsigned k = 0; k < lzhuf::MatchLength(symbol); ++k) expected.push_back(expected.back());
        }
        const std::vector<uint8_t> stream = w.Finish(static_cast<uint32_t>(expected.size()));
        const uint32_t coded = static_cast<uint32_t>(stream.size() - 4);
        for (uint32_t cut = 0; cut <= 4 && stream[stream.size() - 1 - (cut ? cut - 1 : 0)] == 0 && cut < coded; ++cut) {
            const std::vector<uint8_t> shorter(stream.begin(), stream.end() - static_cast<long>(cut));
            const int32_t past = static_cast<int32_t>(bits) - static_cast<int32_t>(8 * (coded - cut));
            const Expanded e = Expand(shorter);
            if (past <= 16) {
                EXPECT_EQ(e.status, StreamStatus::Done) << "cut " << cut << ", bits past " << past;
                EXPECT_EQ(e.bytes, expected);
                passed.insert(past);
            } else {
                EXPECT_EQ(e.status, StreamStatus::Overrun) << "cut " << cut << ", bits past " << past;
                refused.insert(past);
            }
        }
    }
    // The cases reach both sides of the bound, close to it.
    ASSERT_FALSE(passed.empty());
    ASSERT_FALSE(refused.empty());
    EXPECT_GE(*passed.rbegin(), 12);
    EXPECT_LE(*refused.begin(), 20);
    // A 4 GiB size with no codes at all is refused at once.
    const Expanded huge = Expand({0xFF, 0xFF, 0xFF, 0xFF}, 1 << 20);
    EXPECT_EQ(huge.status, StreamStatus::Overrun);
    EXPECT_LT(huge.bytes.size(), 64u);
}

TEST(LzhufDecoder, RoundTripsAcrossSizesThatMatter) {
    const size_t sizes[] = {1, 2, 3, 59, 60, 61, 62, 4035, 4036, 4095, 4096, 4097, 31999, 32000, 32001, 70000};
    for (size_t size : sizes) {
        for (int kind = 0; kind < 3; ++kind) {
            std::vector<uint8_t> data;
            if (kind == 0) data = zvtest::SampleText(size, static_cast<unsigned>(size));
            if (kind == 1) data.assign(size, 0);
            if (kind == 2) data = zvtest::SampleNoise(size, static_cast<unsigned>(size));
            const Expanded e = Expand(EncodeLzhufForTest(data, kind == 2));
            ASSERT_EQ(e.status, StreamStatus::Done) << size << " kind " << kind;
            ASSERT_EQ(e.bytes, data) << size << " kind " << kind;
        }
    }
}

TEST(LzhufDecoder, RoundTripsThroughManyTreeRebuilds) {
    // Skewed bytes: the root reaches 0x8000 every 32000-odd symbols.
    std::mt19937 rng(2024);
    std::geometric_distribution<int> skew(0.3);
    std::vector<uint8_t> data(600000);
    for (auto& b : data) b = static_cast<uint8_t>(skew(rng));
    const Expanded literals = Expand(EncodeLzhufForTest(data, true));
    ASSERT_EQ(literals.status, StreamStatus::Done);
    EXPECT_EQ(literals.bytes, data);
    const Expanded matched = Expand(EncodeLzhufForTest(data));
    ASSERT_EQ(matched.status, StreamStatus::Done);
    EXPECT_EQ(matched.bytes, data);
}
