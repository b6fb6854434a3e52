// Writes the generated seeds of four fuzz targets: well-formed LZHUF streams
// (lzhuf_decoder), packages cut over volumes (volume_reader, package) and
// journals in every state beside the files a kill leaves (journal), each
// input with the decision bytes its target reads (some of them failing the
// platform's calls). Usage: make_seeds DIR (writes into DIR/lzhuf_decoder,
// DIR/volume_reader, DIR/package and DIR/journal, which must exist). The
// other targets' seeds in fuzz/corpus are written by hand.
#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "package/table_writer.h"
#include "platform/platform.h"
#include "platform/sha256.h"
#include "transfer/journal.h"
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

// The record's size in KB of a stream, as the packer writes it.
uint16_t SizeKB(const std::vector<uint8_t>& stream) {
    if (stream.size() < 4) return 0xFFFF;
    const uint64_t size = stream[0] | stream[1] << 8 | stream[2] << 16 | static_cast<uint64_t>(stream[3]) << 24;
    return static_cast<uint16_t>(std::min<uint64_t>((size + 1023) / 1024, 0xFFFF));
}

// A package_fuzzer input: members on the program file after the table, or
// on volume 2 when `onVolume2`; decision bytes all `decision`.
std::vector<uint8_t> WholePackageInput(const std::vector<std::vector<uint8_t>>& streams, bool onVolume2,
                                       uint8_t decision) {
    // The program file's data starts at 64 + the table's size; work the
    // table out twice, the second time with the offsets it gives.
    std::vector<zv::EntryDescription> entries;
    for (size_t m = 0; m < streams.size(); ++m) {
        zv::EntryDescription e;
        e.name = m == 0 ? "zvact.exe" : "help\\member" + std::to_string(m) + ".txt";
        e.sizeKB = SizeKB(streams[m]);
        e.pieces.push_back(zv::PackagePiece{static_cast<uint16_t>(onVolume2 ? 2 : 1), 0,
                                            static_cast<uint32_t>(streams[m].size())});
        entries.push_back(e);
    }
    std::vector<uint8_t> table;
    zv::BuildPackageTable(entries, 0, &table);
    uint32_t at = onVolume2 ? 2 : 64 + static_cast<uint32_t>(table.size());
    for (zv::EntryDescription& e : entries) {
        e.pieces[0].offset = at;
        at += e.pieces[0].length;
    }
    zv::BuildPackageTable(entries, 0, &table);
    std::vector<uint8_t> data;
    for (const auto& s : streams) data.insert(data.end(), s.begin(), s.end());
    std::vector<uint8_t> input;
    input.push_back(static_cast<uint8_t>(entries.size() - 1));
    PutU16(&input, static_cast<uint32_t>(table.size()));
    input.insert(input.end(), 16, decision);
    input.insert(input.end(), table.begin(), table.end());
    PutU16(&input, onVolume2 ? 0 : static_cast<uint32_t>(data.size()));
    if (!onVolume2) input.insert(input.end(), data.begin(), data.end());
    PutU16(&input, onVolume2 ? static_cast<uint32_t>(data.size()) : 0);
    if (onVolume2) input.insert(input.end(), data.begin(), data.end());
    PutU16(&input, 0);
    return input;
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
        e.sizeKB = SizeKB(members[m].stream);
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

// A journal_fuzzer input: the mode (bit 0: the checksum is made to hold),
// the disk's decisions, the layout of the listed files (4 bits an entry:
// target, new copy, backup, target holding the new copy's bytes), then a
// journal of the product in C:\ZARVEL whose records are of the bytes the
// fuzzer puts in the files ("new" for new copies, "old" for backups).
std::vector<uint8_t> JournalInput(zv::JournalState state, bool recorded, uint8_t decision, uint32_t layout) {
    struct Target {
        const char* path;
        bool existed;
    } targets[] = {
        {"C:\\ZARVEL\\ZARVEL.EXE", true},
        {"C:\\ZARVEL\\DATA\\NEW.DAT", false},
        {"C:\\WINDOWS\\SYSTEM\\PLMR32.DLL", true},
        {"C:\\ZARVEL\\README.TXT", true},
    };
    zv::Journal journal;
    std::vector<zv::JournalEntry> entries(sizeof targets / sizeof targets[0]);
    std::snprintf(journal.productDir, sizeof journal.productDir, "C:\\ZARVEL");
    journal.state = state;
    journal.count = static_cast<uint32_t>(entries.size());
    journal.entries = entries.data();
    for (size_t i = 0; i < entries.size(); ++i) {
        zv::JournalEntry& e = entries[i];
        e = zv::JournalEntry();
        std::snprintf(e.target, sizeof e.target, "%s", targets[i].path);
        e.index = static_cast<uint16_t>(3 * i + 1);
        e.existed = targets[i].existed;
        e.recorded = recorded;
        if (recorded) {
            e.fresh.size = 3;
            zv::Sha256Bytes("new", 3, e.fresh.digest);
            if (e.existed) {
                e.installed.size = 3;
                zv::Sha256Bytes("old", 3, e.installed.digest);
            }
        }
    }
    std::vector<uint8_t> bytes(zv::JournalSize(journal));
    zv::EncodeJournal(journal, bytes.data());
    std::vector<uint8_t> input = {0xFF};
    input.insert(input.end(), 8, decision);
    for (int i = 0; i < 4; ++i) input.push_back(static_cast<uint8_t>(layout >> (8 * i)));
    input.insert(input.end(), bytes.begin(), bytes.end());
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
    ok &= Write(dir + "/lzhuf_decoder/text1000", zvtest::EncodeLzhufForTest(Text(1000, 2)));
    ok &= Write(dir + "/lzhuf_decoder/random400", zvtest::EncodeLzhufForTest(random, true));
    ok &= Write(dir + "/lzhuf_decoder/zeros1000", zvtest::EncodeLzhufForTest(std::vector<uint8_t>(1000, 0)));

    const std::vector<uint8_t> a = zvtest::EncodeLzhufForTest(Text(300, 3));
    const std::vector<uint8_t> b = zvtest::EncodeLzhufForTest(Text(900, 4));
    ok &= Write(dir + "/volume_reader/one_volume", PackageInput({{a, {{1, 0}}}, {b, {{1, 0}}}}, 0x7F));
    ok &= Write(dir + "/volume_reader/three_volumes",
                PackageInput({{a, {{1, 40}, {2, 0}}}, {b, {{2, 100}, {3, 0}}}, {a, {{1, 0}}}}, 0x7F));
    ok &= Write(dir + "/volume_reader/byte_reads", PackageInput({{a, {{1, 50}, {2, 0}}}, {b, {{1, 0}}}}, 0xFF));
    ok &= Write(dir + "/volume_reader/faults",
                PackageInput({{a, {{1, 40}, {2, 0}}}, {b, {{3, 0}}}}, 0x05));
    ok &= Write(dir + "/package/program_file", WholePackageInput({a, b}, false, 0xFF));
    ok &= Write(dir + "/package/volume2", WholePackageInput({b, a}, true, 0xFF));
    ok &= Write(dir + "/package/faults", WholePackageInput({a, b}, false, 0x09));
    // Journals in every state, with the files of a kill at different points.
    using zv::JournalState;
    ok &= Write(dir + "/journal/staging", JournalInput(JournalState::Staging, false, 0xFF, 0x3323));
    ok &= Write(dir + "/journal/staging_faults", JournalInput(JournalState::Staging, false, 0x05, 0x3323));
    ok &= Write(dir + "/journal/staging_recorded", JournalInput(JournalState::Staging, true, 0xFF, 0x3323));
    // The first entry moved in, the second moved in (no installed copy), the
    // third moved aside only, the fourth not started.
    ok &= Write(dir + "/journal/committing", JournalInput(JournalState::Committing, true, 0xFF, 0x369D));
    ok &= Write(dir + "/journal/committing_not_ours", JournalInput(JournalState::Committing, true, 0xFF, 0x3615));
    ok &= Write(dir + "/journal/committing_failing_moves",
                JournalInput(JournalState::Committing, true, 0x09, 0x369D));
    ok &= Write(dir + "/journal/committed", JournalInput(JournalState::Committed, true, 0xFF, 0xDFDD));
    if (!ok) {
        std::fprintf(stderr, "make_seeds: cannot write into %s\n", dir.c_str());
        return 1;
    }
    return 0;
}
