// Writes seed inputs for the fuzz targets: well-formed streams and packages
// that the fuzzers then damage. Usage: make_seeds DIR (writes DIR/lzhuf_decoder
// and DIR/volume_reader, which must exist).
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "package/table_writer.h"
#include "tests/support/lzhuf_test_encoder.h"
#include "tests/support/sample_data.h"

namespace {

std::vector<uint8_t> Text(size_t size, unsigned seed) { return zvtest::SampleText(size, seed); }

bool Write(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

void PutU16(std::vector<uint8_t>* out, uint32_t v) {
    out->push_back(static_cast<uint8_t>(v));
    out->push_back(static_cast<uint8_t>(v >> 8));
}

// A volume_reader_fuzzer input: members cut over volumes as `cuts` says.
struct Member {
    std::vector<uint8_t> stream;
    std::vector<std::pair<uint16_t, uint32_t>> cuts;  // volume, length (last: the rest)
};

std::vector<uint8_t> PackageInput(const std::vector<Member>& members, uint8_t decision) {
    std::vector<std::vector<uint8_t>> volumes(4);
    volumes[0] = {'M', 'Z'};
    volumes[0].resize(32, 0x90);
    for (uint16_t n = 2; n <= 4; ++n) PutU16(&volumes[n - 1], n);
    std::vector<zv::EntryDescription> entries;
    for (size_t m = 0; m < members.size(); ++m) {
        zv::EntryDescription e;
        e.name = "member" + std::to_string(m) + ".bin";
        size_t at = 0;
        for (size_t k = 0; k < members[m].cuts.size(); ++k) {
            const auto& cut = members[m].cuts[k];
            const size_t length = k + 1 == members[m].cuts.size() ? members[m].stream.size() - at : cut.second;
            std::vector<uint8_t>& v = volumes[cut.first - 1];
            e.pieces.push_back(zv::PackagePiece{cut.first, static_cast<uint32_t>(v.size()),
                                                static_cast<uint32_t>(length)});
            v.insert(v.end(), members[m].stream.begin() + static_cast<long>(at),
                     members[m].stream.begin() + static_cast<long>(at + length));
            at += length;
        }
        entries.push_back(e);
    }
    std::vector<uint8_t> table;
    zv::BuildPackageTable(entries, 0, &table);
    std::vector<uint8_t> input;
    input.push_back(static_cast<uint8_t>(entries.size()));
    PutU16(&input, static_cast<uint32_t>(table.size()));
    input.insert(input.end(), 32, decision);
    input.insert(input.end(), table.begin(), table.end());
    for (const auto& v : volumes) {
        PutU16(&input, static_cast<uint32_t>(v.size()));
        input.insert(input.end(), v.begin(), v.end());
    }
    return input;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    bool ok = true;

    std::vector<uint8_t> random(400);
    std::mt19937 rng(5);
    for (auto& b : random) b = static_cast<uint8_t>(rng());
    ok &= Write(dir + "/lzhuf_decoder/text200", zvtest::EncodeLzhufForTest(Text(200, 1)));
    ok &= Write(dir + "/lzhuf_decoder/text3000", zvtest::EncodeLzhufForTest(Text(3000, 2)));
    ok &= Write(dir + "/lzhuf_decoder/random400", zvtest::EncodeLzhufForTest(random, true));
    ok &= Write(dir + "/lzhuf_decoder/zeros8000", zvtest::EncodeLzhufForTest(std::vector<uint8_t>(8000, 0)));
    {
        // Big enough to rebuild the tree; the size's top bit asks the fuzzer
        // for the large limit and still gives 60000 after it.
        std::vector<uint8_t> skewed(60000);
        std::geometric_distribution<int> skew(0.2);
        for (auto& b : skewed) b = static_cast<uint8_t>(skew(rng));
        std::vector<uint8_t> stream = zvtest::EncodeLzhufForTest(skewed, true);
        const uint64_t limit = 65537;
        const uint32_t size = static_cast<uint32_t>(0x80000000u + (60000 + limit - 0x80000000u % limit) % limit);
        for (unsigned k = 0; k < 4; ++k) stream[k] = static_cast<uint8_t>(size >> (8 * k));
        ok &= Write(dir + "/lzhuf_decoder/skewed60000", stream);
    }

    const std::vector<uint8_t> a = zvtest::EncodeLzhufForTest(Text(300, 3));
    const std::vector<uint8_t> b = zvtest::EncodeLzhufForTest(Text(900, 4));
    ok &= Write(dir + "/volume_reader/one_volume", PackageInput({{a, {{1, 0}}}, {b, {{1, 0}}}}, 0x7F));
    ok &= Write(dir + "/volume_reader/three_volumes",
                PackageInput({{a, {{1, 40}, {2, 0}}}, {b, {{2, 100}, {3, 0}}}, {a, {{1, 0}}}}, 0x7F));
    ok &= Write(dir + "/volume_reader/byte_reads", PackageInput({{a, {{1, 50}, {2, 0}}}, {b, {{1, 0}}}}, 0xFF));
    ok &= Write(dir + "/volume_reader/faults",
                PackageInput({{a, {{1, 40}, {2, 0}}}, {b, {{3, 0}}}}, 0x05));
    if (!ok) {
        std::fprintf(stderr, "make_seeds: cannot write into %s\n", dir.c_str());
        return 1;
    }
    return 0;
}
