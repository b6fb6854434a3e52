// The packer's LZHUF encoder: every stream it writes must expand to exactly
// its input with the updater's decoder, and with the separately written
// reference decoder too. Random inputs come from the tests' seed (fixed
// unless ZV_TEST_SEED says otherwise) and print it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>

#include "package/lzhuf_decoder.h"
#include "platform/bytes.h"
#include "quillon/pack/lzhuf_encoder.h"
#include "tests/support/lzhuf_reference.h"
#include "tests/support/lzhuf_test_encoder.h"
#include "tests/support/sample_data.h"

using quillon::EncodeLzhuf;
using quillon::LzhufEncoderOptions;

namespace {

std::vector<uint8_t> Encode(const std::vector<uint8_t>& data, unsigned threads = 1) {
    LzhufEncoderOptions options;
    options.threads = threads;
    std::vector<uint8_t> stream;
    EXPECT_TRUE(EncodeLzhuf(data.data(), data.size(), &stream, options));
    return stream;
}

// Expands `stream` with the updater's decoder into room for exactly `size`
// bytes (a last match running past the size would not fit), with a guard
// byte behind it.
std::vector<uint8_t> Expand(const std::vector<uint8_t>& stream, size_t size) {
    static auto decoder = std::make_unique<zv::LzhufDecoder>();
    std::vector<uint8_t> out(size + 1, 0x5A);
    uint32_t produced = 0;
    const zv::StreamStatus status =
        zv::DecodeLzhufStream(decoder.get(), stream.data(), static_cast<uint32_t>(stream.size()), out.data(),
                              static_cast<uint32_t>(size), &produced);
    EXPECT_EQ(status, zv::StreamStatus::Done);
    EXPECT_EQ(out[size], 0x5A) << "written past the room";
    out.resize(produced);
    return out;
}

// Checks the stream both ways: the decoders agree with the input, and the
// reference decoder needs every byte of the stream (none is padding only)
// and no more than the two its bit reader may ask for past the end.
void ExpectRoundTrip(const std::vector<uint8_t>& data, const std::vector<uint8_t>& stream) {
    ASSERT_GE(stream.size(), 4u);
    EXPECT_EQ(zv::LoadU32LE(stream.data()), data.size());
    EXPECT_TRUE(Expand(stream, data.size()) == data) << "the updater's decoder disagrees";
    const zvtest::ReferenceResult reference = zvtest::ReferenceDecode(stream);
    EXPECT_TRUE(reference.ok);
    EXPECT_TRUE(reference.bytes == data) << "the reference decoder disagrees";
    if (!data.empty()) {
        EXPECT_GE(reference.bytesTaken, stream.size());
        EXPECT_LE(reference.bytesTaken, stream.size() + 2);
    }
}

// Inputs of several kinds, `size` bytes each.
std::vector<uint8_t> Text(size_t size, std::mt19937& rng) { return zvtest::SampleText(size, rng()); }

std::vector<uint8_t> Noise(size_t size, std::mt19937& rng) { return zvtest::SampleNoise(size, rng()); }

// Runs of one byte, of random lengths up to twice the longest match.
std::vector<uint8_t> Runs(size_t size, std::mt19937& rng) {
    std::vector<uint8_t> data;
    while (data.size() < size) data.insert(data.end(), 1 + rng() % 120, static_cast<uint8_t>(rng() % 4));
    data.resize(size);
    return data;
}

// Text that starts with spaces and zero bytes, which the initial window holds.
std::vector<uint8_t> Indented(size_t size, std::mt19937& rng) {
    std::vector<uint8_t> data(std::min<size_t>(size, 70), ' ');
    for (size_t i = 0; i < data.size() && i < 9; ++i) data[i] = 0;
    const std::vector<uint8_t> rest = Text(size - data.size(), rng);
    data.insert(data.end(), rest.begin(), rest.end());
    return data;
}

// Bytes drawn with very uneven weights, with copies of earlier stretches at
// every distance of the window: many symbols, so the tree rebuilds often.
std::vector<uint8_t> Skewed(size_t size, std::mt19937& rng) {
    std::geometric_distribution<int> byte(0.08);
    std::vector<uint8_t> data;
    data.reserve(size);
    while (data.size() < size) {
        if (data.size() > 100 && rng() % 8 == 0) {
            const size_t distance = 1 + rng() % std::min<size_t>(data.size(), 4096);
            const size_t length = 3 + rng() % 70;
            for (size_t k = 0; k < length; ++k) data.push_back(data[data.size() - distance]);
        } else {
            data.push_back(static_cast<uint8_t>(byte(rng) % 256));
        }
    }
    data.resize(size);
    return data;
}

}  // namespace

TEST(LzhufEncoder, RoundTripsAtTheSizesThatMatter) {
    // Around the longest match, the window, and the decoder's output block.
    const size_t sizes[] = {0, 1, 2, 3, 59, 60, 61, 62, 4095, 4096, 4097, 31999, 32000, 32001};
    struct Kind {
        const char* name;
        std::vector<uint8_t> (*make)(size_t, std::mt19937&);
    } kinds[] = {{"text", Text}, {"noise", Noise}, {"runs", Runs}, {"indented", Indented}, {"skewed", Skewed}};
    const uint32_t seed = zvtest::TestSeed();
    std::printf("seed %u\n", seed);
    for (const Kind& kind : kinds) {
        for (size_t size : sizes) {
            SCOPED_TRACE(std::string(kind.name) + " of " + std::to_string(size) + " bytes, seed " +
                         std::to_string(seed));
            std::mt19937 rng(seed + static_cast<uint32_t>(size));
            const std::vector<uint8_t> data = kind.make(size, rng);
            ExpectRoundTrip(data, Encode(data));
        }
    }
}

TEST(LzhufEncoder, RoundTripsBigSkewedInputsThroughManyTreeRebuilds) {
    // 3 MB of mostly literal symbols: the root reaches 0x8000 every 16384
    // symbols or so after the first time, so well over a hundred rebuilds.
    const uint32_t seed = zvtest::TestSeed();
    std::printf("seed %u\n", seed);
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    const std::vector<uint8_t> skewed = Skewed(3u << 20, rng);
    ExpectRoundTrip(skewed, Encode(skewed));
    const std::vector<uint8_t> noise = Noise(1u << 20, rng);
    ExpectRoundTrip(noise, Encode(noise));
}

TEST(LzhufEncoder, TwoThreadsWriteTheSameStreamAsOne) {
    const uint32_t seed = zvtest::TestSeed();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    std::vector<uint8_t> data = Text(700000, rng);
    const std::vector<uint8_t> skewed = Skewed(500000, rng);
    data.insert(data.end(), skewed.begin(), skewed.end());
    const std::vector<uint8_t> one = Encode(data, 1);
    EXPECT_TRUE(Encode(data, 2) == one);
    ExpectRoundTrip(data, one);
}

TEST(LzhufEncoder, EmptyInputIsTheSizeAlone) {
    EXPECT_EQ(Encode({}), std::vector<uint8_t>(4, 0));
}

TEST(LzhufEncoder, MatchesIntoTheDecodersInitialWindow) {
    // 60 spaces are one match one byte back: one match symbol (9 bits in the
    // fresh tree) and a position of 9 bits after the 4-byte size. 60 zero
    // bytes lie 4037 to 4096 bytes back, in a few matches. As literals either
    // would take some 60 bytes.
    struct Case {
        uint8_t byte;
        size_t most;
    } cases[] = {{' ', 4 + 3}, {0, 4 + 12}};
    for (const Case& c : cases) {
        const std::vector<uint8_t> data(60, c.byte);
        const std::vector<uint8_t> stream = Encode(data);
        EXPECT_LE(stream.size(), c.most) << int(c.byte);
        ExpectRoundTrip(data, stream);
    }
}

TEST(LzhufEncoder, CompressesBetterThanGreedyParsing) {
    const uint32_t seed = zvtest::TestSeed();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    for (const std::vector<uint8_t>& data : {Text(200000, rng), Skewed(200000, rng)}) {
        const std::vector<uint8_t> ours = Encode(data);
        const std::vector<uint8_t> greedy = zvtest::EncodeLzhufForTest(data);
        EXPECT_LT(ours.size(), greedy.size());
        ExpectRoundTrip(data, ours);
    }
}

TEST(LzhufWriter, CodesLongerThanSixteenBitsReadBack) {
    // Literal counts (found by search) that, taken in turn one of each while
    // any is left, make the tree 17 levels deep: the 300 symbols never seen
    // then have codes of 17 bits.
    const unsigned counts[] = {445, 235, 738, 11909, 11, 245, 814, 344, 1064, 1263, 2426, 258, 3449, 8256};
    size_t total = 0;
    for (unsigned n : counts) total += n;
    std::vector<uint8_t> data;
    for (unsigned round = 0; data.size() < total; ++round) {
        for (size_t k = 0; k < sizeof counts / sizeof counts[0]; ++k) {
            if (round < counts[k]) data.push_back(static_cast<uint8_t>('A' + k));
        }
    }
    // A few of the rarest symbols after that.
    for (uint8_t c : {0x00, 0x7F, 0xFF}) data.push_back(c);

    quillon::LzhufWriter writer;
    std::vector<uint8_t> stream;
    quillon::StartLzhufWriter(&writer, &stream, static_cast<uint32_t>(data.size()));
    unsigned longest = 0;
    for (uint8_t c : data) {
        uint32_t bits = 0;
        unsigned length = 0;
        zv::SymbolCode(writer.tree, c, &bits, &length);
        longest = std::max(longest, length);
        quillon::PutLzhufLiteral(&writer, c);
    }
    quillon::FinishLzhufWriter(&writer);
    EXPECT_GT(longest, 16u);
    ExpectRoundTrip(data, stream);
}

TEST(LzhufWriter, MatchesOfEveryLengthAndPositionCodeLength) {
    // Distances that take each length of the position code, with the
    // shortest and the longest match.
    std::mt19937 rng(7);
    std::vector<uint8_t> data = Noise(4096, rng);
    quillon::LzhufWriter writer;
    std::vector<uint8_t> stream;
    std::vector<uint8_t> expected = data;
    const unsigned distances[] = {1, 64, 65, 256, 257, 768, 769, 1536, 1537, 3072, 3073, 4096};
    struct Symbol {
        unsigned length, distance;
    };
    std::vector<Symbol> symbols;
    for (unsigned d : distances) {
        for (unsigned length : {3u, 60u}) {
            symbols.push_back({length, d});
            for (unsigned k = 0; k < length; ++k) expected.push_back(expected[expected.size() - d]);
        }
    }
    quillon::StartLzhufWriter(&writer, &stream, static_cast<uint32_t>(expected.size()));
    for (uint8_t c : data) quillon::PutLzhufLiteral(&writer, c);
    for (const Symbol& s : symbols) quillon::PutLzhufMatch(&writer, s.length, s.distance);
    quillon::FinishLzhufWriter(&writer);
    ExpectRoundTrip(expected, stream);
}
