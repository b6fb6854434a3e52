// The file table: record layout, the bounds-checked walk, loading from the
// program file, and the writing side used by the packer.
#include <gtest/gtest.h>

#include <cstring>

#include "package/table.h"
#include "package/table_writer.h"
#include "platform/posix_platform.h"
#include "string_ids.h"
#include "tests/support/fault_platform.h"
#include "tests/support/temp_dir.h"
#include "transfer/package_messages.h"

using namespace zv;

namespace {

EntryDescription Entry(const std::string& name, uint16_t flags, std::vector<PackagePiece> pieces,
                       ProductVersion version = {0, 0}) {
    EntryDescription e;
    e.name = name;
    e.flags = flags;
    e.sizeKB = 1;
    e.version = version;
    e.pieces = std::move(pieces);
    return e;
}

std::vector<uint8_t> Build(const std::vector<EntryDescription>& entries, uint32_t region = 0) {
    std::vector<uint8_t> table;
    EXPECT_EQ(BuildPackageTable(entries, region, &table), TableBuildError::None);
    return table;
}

}  // namespace

TEST(PackageTable, FirstShippedRecordDecodes) {
    const uint8_t record[] = {
        36, 0,                                      // recordLength
        0x16, 0,                                    // flags: shared, has version
        130, 0,                                     // sizeKB
        'p', 'l', 'm', 'r', '.', 'd', 'l', 'l', 0,  // name
        0,                                          // reserved
        0x02, 0x00, 0x01, 0x00,                     // version high: 1.2
        0x1C, 0x00, 0x01, 0x00,                     // version low: 1.28
        1, 0, 0x14, 0xD7, 0x01, 0x00, 0xBA, 0x26, 0x01, 0x00,  // volume 1, 0x1D714, 75450
        0, 0,                                       // terminator
    };
    ASSERT_EQ(sizeof record, 36u);
    TableCheck check = CheckPackageTable(record, sizeof record, 1);
    ASSERT_EQ(check.damage, TableDamage::None);
    PackageEntry e{record};
    EXPECT_EQ(EntryRecordLength(e), 36);
    EXPECT_STREQ(EntryName(e), "plmr.dll");
    EXPECT_EQ(EntrySizeKB(e), 130);
    EXPECT_TRUE(EntryHasVersion(e));
    EXPECT_EQ(EntryVersion(e).high, 0x00010002u);
    EXPECT_EQ(EntryVersion(e).low, 0x0001001Cu);
    PackagePiece piece = ReadPackagePiece(EntryPieces(e));
    EXPECT_EQ(piece.volume, 1);
    EXPECT_EQ(piece.offset, 0x1D714u);
    EXPECT_EQ(piece.length, 75450u);
    EXPECT_TRUE(IsLastPiece(ReadPackagePiece(EntryPieces(e) + PACKAGE_PIECE_SIZE)));
    EXPECT_EQ(NextPackageEntry(e).record, record + 36);
}

TEST(PackageTable, RecordLengthsWithAndWithoutVersion) {
    EXPECT_EQ(PackageRecordLength(9, true, 1), 37u);
    EXPECT_EQ(PackageRecordLength(9, false, 1), 29u);
    std::vector<uint8_t> table = Build({Entry("zvact.exe", ENTRY_UPDATE_ONLY, {{1, 100, 10}}, {1, 2}),
                                        Entry("zvact.exe", ENTRY_IGNORED, {{1, 100, 10}})});
    ASSERT_EQ(table.size(), 37u + 29u);
    PackageEntry first{table.data()};
    PackageEntry second = NextPackageEntry(first);
    EXPECT_EQ(EntryRecordLength(first), 37);
    EXPECT_EQ(EntryRecordLength(second), 29);
    // The only difference is the version field: the pieces lie 8 bytes apart.
    EXPECT_EQ(EntryPieces(first) - first.record, EntryPieces(second) - second.record + 8);
    EXPECT_EQ(EntryFlags(second) & ENTRY_IGNORED, ENTRY_IGNORED);
}

TEST(PackageTable, WalkStopsAtEntryCountAndIgnoresTheZeroTail) {
    std::vector<uint8_t> table = Build({Entry("a.dll", 0x16, {{1, 10, 5}}, {1, 0}),
                                        Entry("sub\\b.bin", ENTRY_UPDATE_ONLY, {{1, 15, 7}}, {1, 0})},
                                       200);
    ASSERT_EQ(table.size(), 200u);
    ASSERT_EQ(CheckPackageTable(table.data(), 200, 2).damage, TableDamage::None);
    PackageEntry e{table.data()};
    e = NextPackageEntry(e);
    EXPECT_STREQ(EntryName(e), "sub\\b.bin");
    const uint8_t* end = NextPackageEntry(e).record;
    EXPECT_EQ(static_cast<size_t>(end - table.data()),
              PackageRecordLength(5, true, 1) + PackageRecordLength(9, true, 1));
    // A third record would start in the zero tail: a count that includes it
    // is damage, not a record of length 0 walked forever.
    EXPECT_EQ(CheckPackageTable(table.data(), 200, 3).damage, TableDamage::RecordTooShort);
}

TEST(PackageTable, ZeroLengthPieceEndsTheListBeforeANonZeroVolume) {
    const uint8_t record[] = {
        30, 0, 0, 0, 1, 0,                   // a product file without a version
        'x', 0, 0,
        1, 0, 0x10, 0, 0, 0, 0x20, 0, 0, 0,  // volume 1, offset 16, 32 bytes
        2, 0, 0x02, 0, 0, 0, 0, 0, 0, 0,     // volume 2, length 0: the end
        3,                                   // a byte no one reads
    };
    ASSERT_EQ(CheckPackageTable(record, sizeof record, 1).damage, TableDamage::None);
    const uint8_t* p = EntryPieces(PackageEntry{record});
    EXPECT_FALSE(IsLastPiece(ReadPackagePiece(p)));
    PackagePiece second = ReadPackagePiece(p + PACKAGE_PIECE_SIZE);
    EXPECT_EQ(second.volume, 2);
    EXPECT_TRUE(IsLastPiece(second));
}

struct DamageCase {
    const char* what;
    std::vector<uint8_t> bytes;
    uint32_t count;
    TableDamage damage;
};

TEST(PackageTable, EveryKindOfDamageIsFoundBeforeAWalk) {
    const DamageCase cases[] = {
        {"region too small for the fixed fields", {20, 0, 0, 0}, 1, TableDamage::RecordHeaderPastRegion},
        {"recordLength below the minimum", {9, 0, 0, 0, 0, 0, 'a', 0, 0, 0, 0, 0}, 1,
         TableDamage::RecordTooShort},
        {"recordLength past the region", {40, 0, 0, 0, 0, 0, 'a', 0, 0, 0, 0, 0}, 1,
         TableDamage::RecordPastRegion},
        {"name without its zero", {10, 0, 0, 0, 0, 0, 'a', 'b', 'c', 'd'}, 1, TableDamage::NameUnterminated},
        {"version past the record", {12, 0, 0x16, 0, 0, 0, 'a', 0, 0, 1, 0, 0}, 1,
         TableDamage::VersionPastRecord},
        {"piece list without terminator",
         {19, 0, 0, 0, 0, 0, 'a', 0, 0, 1, 0, 0, 0, 0, 0, 5, 0, 0, 0}, 1, TableDamage::PiecesUnterminated},
        {"terminator cut in half", {10, 0, 0, 0, 0, 0, 'a', 0, 0, 0}, 1, TableDamage::PiecesUnterminated},
        {"second record past the region", {11, 0, 0, 0, 0, 0, 'a', 0, 0, 0, 0, 50, 0, 0, 0, 0, 0}, 2,
         TableDamage::RecordPastRegion},
    };
    for (const DamageCase& c : cases) {
        SCOPED_TRACE(c.what);
        TableCheck check = CheckPackageTable(c.bytes.data(), static_cast<uint32_t>(c.bytes.size()), c.count);
        EXPECT_EQ(check.damage, c.damage);
        EXPECT_EQ(check.entryIndex, c.count - 1);
        EXPECT_STRNE(TableDamageName(check.damage), "unknown damage");
    }
}

TEST(PackageTable, BuildRefusesWhatCouldNotBeReadBack) {
    std::vector<uint8_t> table;
    size_t failed = 99;
    EXPECT_EQ(BuildPackageTable({Entry("a", 0, {})}, 0, &table, &failed), TableBuildError::EmptyPieceList);
    EXPECT_EQ(failed, 0u);
    EXPECT_EQ(BuildPackageTable({Entry("a", 0, {{1, 0, 1}}), Entry("b", 0, {{0, 5, 5}})}, 0, &table, &failed),
              TableBuildError::BadPiece);
    EXPECT_EQ(failed, 1u);
    EXPECT_EQ(BuildPackageTable({Entry("a", 0, {{1, 5, 0}})}, 0, &table), TableBuildError::BadPiece);
    EXPECT_EQ(BuildPackageTable({Entry(std::string("a\0b", 3), 0, {{1, 5, 5}})}, 0, &table),
              TableBuildError::NameHasZero);
    EXPECT_EQ(BuildPackageTable({Entry(std::string(70000, 'n'), 0, {{1, 5, 5}})}, 0, &table),
              TableBuildError::RecordTooLong);
    EXPECT_EQ(BuildPackageTable({Entry("abc", 0, {{1, 5, 5}})}, 10, &table), TableBuildError::RegionTooSmall);
    EXPECT_TRUE(table.empty());
}

TEST(PackageHeaderStamp, FindsExactlyOneBlock) {
    std::vector<uint8_t> image(300, 0x90);
    PackageHeader blank{PACKAGE_MARKER, PACKAGE_KEY, 0, 0, 0, 0, {0, 0}, 0};
    size_t offset = 0;
    EXPECT_EQ(FindPackageHeader(image.data(), image.size(), &offset), HeaderSearch::NotFound);
    EncodePackageHeader(blank, image.data() + 101);  // at an odd offset
    EXPECT_EQ(FindPackageHeader(image.data(), image.size(), &offset), HeaderSearch::Found);
    EXPECT_EQ(offset, 101u);
    EncodePackageHeader(blank, image.data() + 200);
    EXPECT_EQ(FindPackageHeader(image.data(), image.size(), &offset), HeaderSearch::Several);
    PackageHeader stamped = blank;
    stamped.entryCount = 3;
    EXPECT_EQ(StampPackageHeader(&image, stamped), HeaderSearch::Several);
    // A block too close to the end to hold its 32 bytes is not a block.
    std::vector<uint8_t> tail(40, 0);
    EncodePackageHeader(blank, tail.data() + 8);
    EXPECT_EQ(FindPackageHeader(tail.data(), 39, &offset), HeaderSearch::NotFound);
}

TEST(PackageHeaderStamp, RoundTripThroughAFileAndTheLoader) {
    zvtest::TempDir dir;
    std::vector<uint8_t> image(1000, 0xCC);
    PackageHeader blank{PACKAGE_MARKER, PACKAGE_KEY, 0, 0, 0, 0, {0, 0}, 0};
    EncodePackageHeader(blank, image.data() + 333);

    std::vector<EntryDescription> entries = {
        Entry("plmr.dll", 0x16, {{1, 1100, 40}}, MakeVersion(1, 2, 1, 28)),
        Entry("zvact.exe", ENTRY_UPDATE_ONLY, {{1, 1140, 30}, {2, 2, 12}}, MakeVersion(1, 2, 1, 31)),
        Entry("readme.txt", 0, {{2, 14, 9}}),
    };
    std::vector<uint8_t> table = Build(entries, 120);
    PackageHeader header{PACKAGE_MARKER, PACKAGE_KEY, 3, 1000, 120, 1120, MakeVersion(1, 2, 1, 31), 0x409};
    ASSERT_EQ(StampPackageHeader(&image, header), HeaderSearch::Found);
    image.insert(image.end(), table.begin(), table.end());
    image.resize(1170, 0x55);
    zvtest::WriteFileBytes(dir / "setup.exe", image);

    PackageHeader read = DecodePackageHeader(image.data() + 333);
    EXPECT_EQ(std::memcmp(&read, &header, sizeof header), 0);

    PosixPlatform os;
    PackageTable loaded;
    ASSERT_EQ(LoadPackageTable(os, (dir / "setup.exe").c_str(), read, &loaded), TableStatus::Loaded);
    PackageEntry e = FirstPackageEntry(loaded);
    for (const EntryDescription& want : entries) {
        SCOPED_TRACE(want.name);
        EXPECT_EQ(EntryName(e), want.name);
        EXPECT_EQ(EntryFlags(e), want.flags);
        if (EntryHasVersion(e)) {
            EXPECT_EQ(EntryVersion(e).high, want.version.high);
            EXPECT_EQ(EntryVersion(e).low, want.version.low);
        }
        const uint8_t* p = EntryPieces(e);
        for (const PackagePiece& piece : want.pieces) {
            PackagePiece got = ReadPackagePiece(p);
            EXPECT_EQ(got.volume, piece.volume);
            EXPECT_EQ(got.offset, piece.offset);
            EXPECT_EQ(got.length, piece.length);
            p += PACKAGE_PIECE_SIZE;
        }
        EXPECT_TRUE(IsLastPiece(ReadPackagePiece(p)));
        e = NextPackageEntry(e);
    }
    FreePackageTable(os, &loaded);
    EXPECT_EQ(loaded.bytes, nullptr);
}

TEST(PackageTableLoad, FailuresLeaveNothingToWalk) {
    zvtest::TempDir dir;
    std::vector<uint8_t> file(64, 0);
    std::vector<uint8_t> table = Build({Entry("a.dll", 0, {{1, 60, 4}})}, 32);
    std::copy(table.begin(), table.end(), file.begin() + 16);
    zvtest::WriteFileBytes(dir / "setup.exe", file);
    const std::string path = dir / "setup.exe";
    PackageHeader header{PACKAGE_MARKER, PACKAGE_KEY, 1, 16, 32, 48, {0, 0}, 0};

    PosixPlatform posix;
    struct Case {
        const char* what;
        zvtest::Fault fault;
        PackageHeader header;
        TableStatus status;
        unsigned message;
    };
    PackageHeader pastEnd = header;
    pastEnd.tableOffset = 40;  // only 24 of the 32 bytes are there
    PackageHeader tooMany = header;
    tooMany.entryCount = 2;
    const Case cases[] = {
        {"open fails", {zvtest::FaultOp::Open, "setup"}, header, TableStatus::OpenFailed, IDS_READ_ERROR},
        {"no memory", {zvtest::FaultOp::AllocBlock}, header, TableStatus::NoMemory, IDS_NO_MEMORY},
        {"block cannot be locked", {zvtest::FaultOp::LockBlock}, header, TableStatus::NoMemory, IDS_NO_MEMORY},
        {"read error", {zvtest::FaultOp::Read, "setup"}, header, TableStatus::ReadFailed, IDS_READ_ERROR},
        {"seek fails", {zvtest::FaultOp::Seek, "setup"}, header, TableStatus::ReadFailed, IDS_READ_ERROR},
        {"short file", {zvtest::FaultOp::Open, "nothing"}, pastEnd, TableStatus::ReadFailed, IDS_READ_ERROR},
        {"count past the records", {zvtest::FaultOp::Open, "nothing"}, tooMany, TableStatus::Damaged,
         IDS_READ_ERROR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        zvtest::FaultPlatform os(posix);
        os.Add(c.fault);
        PackageTable loaded;
        EXPECT_EQ(LoadPackageTable(os, path.c_str(), c.header, &loaded), c.status);
        EXPECT_EQ(loaded.status, c.status);
        EXPECT_EQ(loaded.bytes, nullptr);
        EXPECT_EQ(loaded.block, 0u);
        EXPECT_EQ(TableStatusMessage(loaded.status), c.message);
        EXPECT_EQ(os.OpenFiles(), 0u) << "the program file is closed on every path";
        EXPECT_EQ(os.liveBlocks, 0);
    }
}

TEST(PackageTableLoad, RefusedNamesAreToldAndTheRecordsCanStillBeShown) {
    zvtest::TempDir dir;
    const std::string path = dir / "setup.exe";
    PosixPlatform posix;
    struct Case {
        std::vector<std::string> names;
        uint32_t index;
        MemberNameProblem problem;
        uint32_t earlier;
        uint32_t language = 0;  // the header's: its code page's case rules find duplicates
    };
    const Case cases[] = {
        {{"a.dll", "b.dll", "..\\secret.txt"}, 2, MemberNameProblem::DotPart, 0},
        {{"zvact.exe", "zvact.exe."}, 1, MemberNameProblem::TrailingDotOrBlank, 0},
        {{"x", "Help\\A.txt", "y", "help\\a.TXT"}, 3, MemberNameProblem::Duplicate, 1},
        {{"NUL.txt"}, 0, MemberNameProblem::DeviceName, 0},
        // été.txt and ÉTÉ.TXT for U.S. English (1252), файл and ФАЙЛ for Russian (1251).
        {{"\xE9t\xE9.txt", "x", "\xC9T\xC9.TXT"}, 2, MemberNameProblem::Duplicate, 0, 0x0409},
        {{"\xF4\xE0\xE9\xEB.txt", "\xD4\xC0\xC9\xCB.TXT"}, 1, MemberNameProblem::Duplicate, 0, 0x0419},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.names));
        std::vector<EntryDescription> entries;
        for (const std::string& name : c.names) entries.push_back(Entry(name, 0, {{1, 0, 4}}));
        std::vector<uint8_t> table = Build(entries);
        std::vector<uint8_t> file(16, 0);
        file.insert(file.end(), table.begin(), table.end());
        zvtest::WriteFileBytes(path, file);
        PackageHeader header{PACKAGE_MARKER, PACKAGE_KEY, static_cast<uint16_t>(entries.size()), 16,
                             static_cast<uint32_t>(table.size()), 0, {0, 0}, c.language};
        zvtest::FaultPlatform os(posix);
        PackageTable loaded;
        EXPECT_EQ(LoadPackageTable(os, path.c_str(), header, &loaded), TableStatus::NamesRefused);
        EXPECT_EQ(loaded.check.damage, TableDamage::MemberName);
        EXPECT_EQ(loaded.check.entryIndex, c.index);
        EXPECT_EQ(loaded.check.nameProblem, c.problem);
        if (c.problem == MemberNameProblem::Duplicate) {
            EXPECT_EQ(loaded.check.earlierIndex, c.earlier);
        }
        // The records are whole: they may be walked to show them.
        ASSERT_TRUE(TableCanBeWalked(loaded.status));
        PackageEntry e = FirstPackageEntry(loaded);
        for (uint32_t i = 0; i < c.index; ++i) e = NextPackageEntry(e);
        EXPECT_EQ(loaded.check.offset, static_cast<uint32_t>(e.record - loaded.bytes));
        EXPECT_EQ(EntryName(e), c.names[c.index]);
        EXPECT_NE(TableStatusMessage(loaded.status), 0u);
        FreePackageTable(os, &loaded);
        EXPECT_EQ(os.liveBlocks, 0) << "the names' scratch and the table are freed";
    }
}
