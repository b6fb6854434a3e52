// Stamped data blocks: the marker search, the stamp checksum, the marker
// word, and carrying blocks from installed files into new copies with the
// checksum relation kept, the save area shared between files, and no file
// left half written or written from a part.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "detect/stamped_blocks.h"
#include "transfer/carry.h"
#include "platform/bytes.h"
#include "platform/posix_platform.h"
#include "string_ids.h"
#include "tests/support/host_layout.h"
#include "tests/support/fault_platform.h"
#include "tests/support/pe_builder.h"
#include "tests/support/stamped_file.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/temp_dir.h"

using namespace zv;
using zvtest::AppendBytes;
using zvtest::MarkerBlockBytes;

namespace {

std::vector<uint8_t> Filled(size_t n, uint8_t value) { return std::vector<uint8_t>(n, value); }

// The difference that WriteCarriedBlocks keeps, at the word at `at`.
uint16_t ChecksumDifferenceAt(const std::vector<uint8_t>& bytes, uint32_t at) {
    return zv::ChecksumDifference(bytes.data(), static_cast<uint32_t>(bytes.size()), at);
}

// The same at the file's checksum block.
int32_t ChecksumDifference(const std::vector<uint8_t>& bytes) {
    int32_t difference = zvtest::FileChecksumDifference(bytes);
    EXPECT_NE(difference, -1) << "a checksum block";
    return difference;
}

// A product file: filler, the three carried blocks (each present or not) with
// data filled with `fill`, fill + 1, fill + 2, and a checksum word.
std::vector<uint8_t> ProductFile(uint8_t fill, bool withChecksum = true, uint16_t checksum = 0x1234,
                                 bool first = true, bool second = true, bool third = true) {
    std::vector<uint8_t> bytes = Filled(37, 0x11);
    if (first) AppendBytes(&bytes, MarkerBlockBytes(KEY_CARRIED_SHORT, Filled(12, fill)));
    AppendBytes(&bytes, Filled(5, 0x22));
    if (second) AppendBytes(&bytes, MarkerBlockBytes(KEY_CARRIED_FIRST, Filled(88, static_cast<uint8_t>(fill + 1))));
    if (withChecksum) AppendBytes(&bytes, MarkerBlockBytes(KEY_CHECKSUM, {static_cast<uint8_t>(checksum), static_cast<uint8_t>(checksum >> 8)}));
    if (third) AppendBytes(&bytes, MarkerBlockBytes(KEY_CARRIED_SECOND, Filled(88, static_cast<uint8_t>(fill + 2))));
    AppendBytes(&bytes, Filled(9, 0x33));
    return bytes;
}

struct StampedBlocksTest : ::testing::Test {
    zvtest::TempDir dir;
    PosixPlatform posix;
    zvtest::FaultPlatform os{posix};
    zvtest::ScriptedUi ui;
    RunContext run;
    StampedBlockSave save;

    void SetUp() override {
        posix.SetLayout(zvtest::DriveLayout('C', dir.path()));
        zvtest::MakeDirs(dir / "ZV");
        run.os = &os;
        run.ui = &ui;
    }
    void TearDown() override {
        EXPECT_EQ(os.OpenFiles(), 0u) << "every file is closed";
        EXPECT_EQ(os.liveBlocks, 0) << "every block is freed";
    }
    void Put(const std::string& name, const std::vector<uint8_t>& bytes) { zvtest::WriteFileBytes(dir / ("ZV/" + name), bytes); }
    std::vector<uint8_t> Get(const std::string& name) { return zvtest::ReadFileBytes(dir / ("ZV/" + name)); }
    bool Exists(const std::string& name) { return zvtest::FileExists(dir / ("ZV/" + name)); }
};

}  // namespace

TEST(MarkerSearch, FindsTheFirstWholeBlockAtAnyByte) {
    auto key = [](uint32_t k) {
        return std::vector<uint8_t>{static_cast<uint8_t>(k), static_cast<uint8_t>(k >> 8), static_cast<uint8_t>(k >> 16),
                                    static_cast<uint8_t>(k >> 24)};
    };
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        uint32_t dataLength;
        uint32_t expected;
    } cases[] = {
        {"no bytes", {}, 0, kNoMarker},
        {"5 bytes", {0x77, 0x77, 0x87, 0x15, 0x30}, 0, kNoMarker},
        {"exactly a header", MarkerBlockBytes(KEY_MARKER_WORD, {}), 0, 6},
        {"header with its data", MarkerBlockBytes(KEY_MARKER_WORD, {1, 2}), 2, 6},
        {"data one byte short", MarkerBlockBytes(KEY_MARKER_WORD, {1}), 2, kNoMarker},
        {"77 77 77 then the key", [&] {
             std::vector<uint8_t> b = {0x77, 0x77, 0x77};
             AppendBytes(&b, key(KEY_MARKER_WORD));
             b.push_back(9);
             b.push_back(0);
             return b;
         }(), 2, 7},
        {"odd position", [&] {
             std::vector<uint8_t> b = {1, 2, 3};
             AppendBytes(&b, MarkerBlockBytes(KEY_MARKER_WORD, {4, 0}));
             return b;
         }(), 2, 9},
        {"first of two", [&] {
             std::vector<uint8_t> b = MarkerBlockBytes(KEY_MARKER_WORD, {1, 0});
             AppendBytes(&b, MarkerBlockBytes(KEY_MARKER_WORD, {2, 0}));
             return b;
         }(), 2, 6},
        {"another key", MarkerBlockBytes(KEY_CHECKSUM, {1, 2}), 2, kNoMarker},
        {"key bytes without marker", [&] {
             std::vector<uint8_t> b = {0x77, 0x78};
             AppendBytes(&b, key(KEY_MARKER_WORD));
             b.push_back(0);
             b.push_back(0);
             return b;
         }(), 2, kNoMarker},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FindMarker(c.bytes.data(), static_cast<uint32_t>(c.bytes.size()), KEY_MARKER_WORD, c.dataLength),
                  c.expected)
            << c.what;
    }
}

TEST(MarkerSearch, StampChecksumAddsThenRotates) {
    const uint8_t abc[] = {'a', 'b', 'c'};
    EXPECT_EQ(StampChecksum(abc, 0), 0);
    EXPECT_EQ(StampChecksum(abc, 3), 0x0556);
    // Long runs carry past 16 bits and rotate the top bit round.
    std::vector<uint8_t> ramp;
    for (int i = 0; i < 1024; ++i) ramp.push_back(static_cast<uint8_t>(i));
    EXPECT_EQ(StampChecksum(ramp.data(), 1024), 0x68FF);
    std::vector<uint8_t> ones = Filled(40, 0xFF);
    EXPECT_EQ(StampChecksum(ones.data(), 40), 0xFA03);
}

TEST(MarkerSearch, TheChecksumDifferenceTakesTheWordAsZero) {
    // "a", the word 0x1234, "c": the checksum of 61 00 00 63 is 0x06D6.
    const uint8_t bytes[] = {0x61, 0x34, 0x12, 0x63};
    EXPECT_EQ(zv::ChecksumDifference(bytes, 4, 1), 0x1234 - 0x06D6);
    const uint8_t zero[] = {0x61, 0x00, 0x00, 0x63};
    EXPECT_EQ(zv::ChecksumDifference(zero, 4, 1), static_cast<uint16_t>(0 - 0x06D6));
    // The word at either end.
    const uint8_t first[] = {0x34, 0x12, 0x61};  // checksum of 00 00 61: 0x00C2
    EXPECT_EQ(zv::ChecksumDifference(first, 3, 0), 0x1234 - 0x00C2);
    const uint8_t last[] = {0x61, 0x34, 0x12};  // checksum of 61 00 00: 0x0308
    EXPECT_EQ(zv::ChecksumDifference(last, 3, 1), 0x1234 - 0x0308);
}

TEST_F(StampedBlocksTest, MarkerWordOfAMainProgram) {
    std::vector<uint8_t> file = Filled(100, 0);
    AppendBytes(&file, MarkerBlockBytes(KEY_MARKER_WORD, {0x0B, 0x80}));
    AppendBytes(&file, MarkerBlockBytes(KEY_MARKER_WORD, {0x00, 0x00}));
    Put("zvact.exe", file);
    EXPECT_EQ(ReadMarkerWord(os, "C:\\ZV\\zvact.exe", KEY_MARKER_WORD), 0x800B) << "the first block, unsigned";
    EXPECT_EQ(ReadMarkerWord(os, "C:\\ZV\\zvact.exe", KEY_CHECKSUM), -1);
    EXPECT_EQ(ReadMarkerWord(os, "C:\\ZV\\missing.exe", KEY_MARKER_WORD), -1);
    EXPECT_NE(ReadMarkerWord(os, "C:\\ZV\\missing.exe", KEY_MARKER_WORD) & 4, 0) << "-1 has bit 2 set";
    for (size_t n = 1; n <= 5; ++n) {
        std::vector<uint8_t> tiny = MarkerBlockBytes(KEY_MARKER_WORD, {});
        tiny.resize(n);
        Put("tiny.exe", tiny);
        EXPECT_EQ(ReadMarkerWord(os, "C:\\ZV\\tiny.exe", KEY_MARKER_WORD), -1) << n << " bytes";
    }
    Put("cut.exe", MarkerBlockBytes(KEY_MARKER_WORD, {7}));
    EXPECT_EQ(ReadMarkerWord(os, "C:\\ZV\\cut.exe", KEY_MARKER_WORD), -1) << "a word past the end is absent";
    os.Add({zvtest::FaultOp::Read, "zvact", 0, 1, 50});
    EXPECT_EQ(ReadMarkerWord(os, "C:\\ZV\\zvact.exe", KEY_MARKER_WORD), -1) << "a file read in part";
    os.Add({zvtest::FaultOp::AllocBlock});
    EXPECT_EQ(ReadMarkerWord(os, "C:\\ZV\\zvact.exe", KEY_MARKER_WORD), -1);
}

TEST_F(StampedBlocksTest, BlocksAreCarriedAndTheChecksumRelationKept) {
    Put("zvact.exe.old", ProductFile(0xA0));
    std::vector<uint8_t> fresh = ProductFile(0x00, true, 0x4321);
    Put("zvact.exe", fresh);
    uint16_t before = ChecksumDifference(fresh);

    EXPECT_EQ(ReadCarriedBlocks(os, "C:\\ZV\\zvact.exe.old", &save), CarryOutcome::Done);
    EXPECT_EQ(save.shortBlock[0], 0xA0);
    EXPECT_EQ(save.firstBlock[87], 0xA1);
    EXPECT_EQ(save.secondBlock[0], 0xA2);

    EXPECT_EQ(WriteCarriedBlocks(run, "C:\\ZV\\zvact.exe", save, "C:\\ZV\\zvact.exe"), CarryOutcome::Done);
    std::vector<uint8_t> after = Get("zvact.exe");
    ASSERT_EQ(after.size(), fresh.size());
    std::vector<uint8_t> expected = ProductFile(0xA0);
    for (size_t i = 0; i < after.size(); ++i) {
        if (i >= 37 + 6 + 12 + 5 + 6 + 88 + 6 && i < 37 + 6 + 12 + 5 + 6 + 88 + 8) continue;  // the checksum word
        ASSERT_EQ(after[i], expected[i]) << "byte " << i;
    }
    EXPECT_EQ(ChecksumDifference(after), before) << "the new file keeps its difference";
}

TEST_F(StampedBlocksTest, ADifferenceOfZeroStaysZero) {
    std::vector<uint8_t> fresh = ProductFile(0x00, true, 0);
    uint32_t at = FindMarker(fresh.data(), static_cast<uint32_t>(fresh.size()), KEY_CHECKSUM, 2);
    StoreU16LE(fresh.data() + at, StampChecksum(fresh.data(), static_cast<uint32_t>(fresh.size())));
    ASSERT_EQ(ChecksumDifference(fresh), 0);
    Put("zvsa.bin", fresh);
    Put("old.bin", ProductFile(0x5C));
    ASSERT_EQ(ReadCarriedBlocks(os, "C:\\ZV\\old.bin", &save), CarryOutcome::Done);
    ASSERT_EQ(WriteCarriedBlocks(run, "C:\\ZV\\zvsa.bin", save, "C:\\ZV\\zvsa.bin"), CarryOutcome::Done);
    std::vector<uint8_t> after = Get("zvsa.bin");
    EXPECT_NE(after, fresh);
    EXPECT_EQ(ChecksumDifference(after), 0);
}

TEST_F(StampedBlocksTest, TheRelationHoldsWhenACarriedBlockLiesOverTheChecksumWord) {
    // The checksum block stands inside the data of the 88-byte block, so the
    // carried data covers its word; the word written last must be the one
    // that keeps the relation of the file as it ends up.
    std::vector<uint8_t> inner = Filled(88, 0x44);
    std::vector<uint8_t> checksumBlock = MarkerBlockBytes(KEY_CHECKSUM, {0x34, 0x12});
    std::copy(checksumBlock.begin(), checksumBlock.end(), inner.begin() + 20);
    std::vector<uint8_t> fresh = Filled(37, 0x11);
    AppendBytes(&fresh, MarkerBlockBytes(KEY_CARRIED_FIRST, inner));
    AppendBytes(&fresh, Filled(9, 0x33));
    const uint32_t word = FindMarker(fresh.data(), static_cast<uint32_t>(fresh.size()), KEY_CHECKSUM, 2);
    ASSERT_EQ(word, 37u + 6 + 20 + 6);
    Put("zvact.exe", fresh);
    Put("old.exe", ProductFile(0xA0));
    ASSERT_EQ(ReadCarriedBlocks(os, "C:\\ZV\\old.exe", &save), CarryOutcome::Done);
    ASSERT_EQ(WriteCarriedBlocks(run, "C:\\ZV\\zvact.exe", save, "C:\\ZV\\zvact.exe"), CarryOutcome::Done);
    const std::vector<uint8_t> after = Get("zvact.exe");
    ASSERT_EQ(after.size(), fresh.size());
    EXPECT_EQ(after[37 + 6], 0xA1) << "the carried data is written";
    EXPECT_EQ(ChecksumDifferenceAt(after, word), ChecksumDifferenceAt(fresh, word));
}

TEST_F(StampedBlocksTest, ASaveAreaEqualToTheBlocksLeavesTheFileUntouched) {
    std::vector<uint8_t> file = ProductFile(0x30, true, 0xBEEF);
    Put("zvsv.bin", file);
    ASSERT_EQ(ReadCarriedBlocks(os, "C:\\ZV\\zvsv.bin", &save), CarryOutcome::Done);
    // Nothing changes, so nothing is written: a write would fail here.
    os.Add({zvtest::FaultOp::Write, "", 0, -1});
    EXPECT_EQ(WriteCarriedBlocks(run, "C:\\ZV\\zvsv.bin", save, "C:\\ZV\\zvsv.bin"), CarryOutcome::Done);
    EXPECT_EQ(Get("zvsv.bin"), file);
    EXPECT_EQ(os.Struck(0), 0);
}

TEST_F(StampedBlocksTest, TheSaveAreaCarriesOverBetweenFiles) {
    Put("a.bin", ProductFile(0x10));
    Put("b.bin", ProductFile(0x70, true, 0x1234, true, false, false));  // only the 12-byte block
    Put("c.bin", Filled(3, 0x77));                                      // 3 bytes: no blocks
    Put("new.bin", ProductFile(0x00, false));
    ASSERT_EQ(ReadCarriedBlocks(os, "C:\\ZV\\a.bin", &save), CarryOutcome::Done);
    ASSERT_EQ(ReadCarriedBlocks(os, "C:\\ZV\\b.bin", &save), CarryOutcome::Done);
    ASSERT_EQ(ReadCarriedBlocks(os, "C:\\ZV\\c.bin", &save), CarryOutcome::Done);
    EXPECT_EQ(save.shortBlock[11], 0x70);
    EXPECT_EQ(save.firstBlock[0], 0x11) << "kept from a.bin";
    EXPECT_EQ(save.secondBlock[0], 0x12) << "kept from a.bin";
    ASSERT_EQ(WriteCarriedBlocks(run, "C:\\ZV\\new.bin", save, "C:\\ZV\\new.bin"), CarryOutcome::Done);
    std::vector<uint8_t> expected = ProductFile(0x10, false);
    std::fill(expected.begin() + 37 + 6, expected.begin() + 37 + 6 + 12, 0x70);
    EXPECT_EQ(Get("new.bin"), expected) << "a file without a checksum block still gets its blocks";
}

TEST_F(StampedBlocksTest, OnlyTheFirstOfTwoBlocksIsReadAndWritten) {
    std::vector<uint8_t> twice = MarkerBlockBytes(KEY_CARRIED_SHORT, Filled(12, 1));
    AppendBytes(&twice, MarkerBlockBytes(KEY_CARRIED_SHORT, Filled(12, 2)));
    Put("twice.bin", twice);
    ASSERT_EQ(ReadCarriedBlocks(os, "C:\\ZV\\twice.bin", &save), CarryOutcome::Done);
    EXPECT_EQ(save.shortBlock[0], 1);
    save.shortBlock[0] = 9;
    ASSERT_EQ(WriteCarriedBlocks(run, "C:\\ZV\\twice.bin", save, "C:\\ZV\\twice.bin"), CarryOutcome::Done);
    std::vector<uint8_t> after = Get("twice.bin");
    EXPECT_EQ(after[6], 9);
    EXPECT_EQ(after[6 + 12 + 6], 2) << "the second block is left alone";
}

TEST_F(StampedBlocksTest, ABlockRunningPastTheEndIsAbsent) {
    std::vector<uint8_t> cut = MarkerBlockBytes(KEY_CARRIED_FIRST, Filled(87, 0x44));  // one byte short
    Put("cut.bin", cut);
    ASSERT_EQ(ReadCarriedBlocks(os, "C:\\ZV\\cut.bin", &save), CarryOutcome::Done);
    EXPECT_EQ(save.firstBlock[0], 0) << "not read";
    save.firstBlock[0] = 0x99;
    ASSERT_EQ(WriteCarriedBlocks(run, "C:\\ZV\\cut.bin", save, "C:\\ZV\\cut.bin"), CarryOutcome::Done);
    EXPECT_EQ(Get("cut.bin"), cut) << "not written";
}

TEST_F(StampedBlocksTest, FilesOfOneToFiveBytesHaveNoBlocks) {
    save.shortBlock[0] = 0x5A;
    for (size_t n = 1; n <= 5; ++n) {
        std::vector<uint8_t> tiny = {0x77, 0x77, 0x24, 0x68, 0xAC};
        tiny.resize(n);
        Put("tiny.bin", tiny);
        EXPECT_EQ(ReadCarriedBlocks(os, "C:\\ZV\\tiny.bin", &save), CarryOutcome::Done);
        EXPECT_EQ(save.shortBlock[0], 0x5A);
        EXPECT_EQ(WriteCarriedBlocks(run, "C:\\ZV\\tiny.bin", save, "C:\\ZV\\tiny.bin"), CarryOutcome::Done);
        EXPECT_EQ(Get("tiny.bin"), tiny);
    }
}

TEST_F(StampedBlocksTest, FailuresGiveTheirOutcomes) {
    std::vector<uint8_t> file = ProductFile(0x00);
    save.firstBlock[5] = 0xEE;  // so that a write would change the file
    const CarryOutcome done = CarryOutcome::Done, unreadable = CarryOutcome::Unreadable,
                       noMemory = CarryOutcome::NoMemory, unwritable = CarryOutcome::Unwritable,
                       cancelled = CarryOutcome::Cancelled;
    struct Case {
        const char* what;
        zvtest::Fault fault;
        CarryOutcome read;
        CarryOutcome write;
    } cases[] = {
        {"cannot open", {zvtest::FaultOp::Open}, unreadable, unwritable},
        {"no memory", {zvtest::FaultOp::AllocBlock}, noMemory, noMemory},
        {"block cannot be locked", {zvtest::FaultOp::LockBlock}, noMemory, noMemory},
        {"length unknown", {zvtest::FaultOp::Seek}, unreadable, unwritable},
        {"read in part", {zvtest::FaultOp::Read, "", 0, 1, 100}, unreadable, unwritable},
        {"read fails", {zvtest::FaultOp::Read}, unreadable, unwritable},
        // Failed and short writes are asked about; Cancel ends there. The
        // new copy may then be written in part: the transfer removes it.
        {"disk full while writing", {zvtest::FaultOp::Write, "", 0, 1, 60}, done, cancelled},
        {"write fails", {zvtest::FaultOp::Write}, done, cancelled},
        {"flush fails", {zvtest::FaultOp::Flush}, done, cancelled},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Put("zvact32.exe", file);
        StampedBlockSave untouched = save;
        os.Clear();
        os.Add(c.fault);
        EXPECT_EQ(ReadCarriedBlocks(os, "C:\\ZV\\zvact32.exe", &untouched), c.read);
        os.Clear();
        os.Add(c.fault);
        ui.messages.clear();
        EXPECT_EQ(WriteCarriedBlocks(run, "C:\\ZV\\zvact32.exe", save, "C:\\ZV\\shown.exe"), c.write);
        EXPECT_EQ(ui.messages.size(), c.write == cancelled ? 1u : 0u);
        if (c.write != cancelled && c.write != done) {
            EXPECT_EQ(Get("zvact32.exe"), file) << "nothing is written before the file is read whole";
        }
    }
    // A full disk, then Retry: the rest is written and the blocks carried.
    Put("zvact32.exe", file);
    os.Clear();
    os.Add({zvtest::FaultOp::Write, "", 0, 1, 60});
    ui.messages.clear();
    ui.Script({ANSWER_RETRY});
    EXPECT_EQ(WriteCarriedBlocks(run, "C:\\ZV\\zvact32.exe", save, "C:\\ZV\\shown.exe"), done);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].stringId, IDS_DISK_FULL);
    EXPECT_EQ(ui.messages[0].buttons(), BOX_RETRYCANCEL);
    std::vector<uint8_t> carried = Get("zvact32.exe");
    ASSERT_EQ(carried.size(), file.size());
    EXPECT_EQ(carried[FindMarker(carried.data(), static_cast<uint32_t>(carried.size()), KEY_CARRIED_FIRST, 88) + 5], 0xEE);
    // A write error names the path given to be shown; Retry writes it all again.
    Put("zvact32.exe", file);
    os.Clear();
    os.Add({zvtest::FaultOp::Write});
    ui.messages.clear();
    ui.Script({ANSWER_RETRY});
    EXPECT_EQ(WriteCarriedBlocks(run, "C:\\ZV\\zvact32.exe", save, "C:\\ZV\\shown.exe"), done);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "C:\\ZV\\shown.exe: write error!");
    EXPECT_EQ(Get("zvact32.exe"), carried);

    os.Clear();
    zvtest::SetReadOnly(dir / "ZV/zvact32.exe", true);
    EXPECT_EQ(WriteCarriedBlocks(run, "C:\\ZV\\zvact32.exe", save, "C:\\ZV\\zvact32.exe"), unwritable)
        << "a read-only file";
    EXPECT_EQ(ReadCarriedBlocks(os, "C:\\ZV\\missing.exe", &save), unreadable);
}
