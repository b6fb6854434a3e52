// The package's integrity data: SHA-256 from the system's library, the block
// behind the file table's records (written, read, and refused when damaged),
// and quillon building, listing and verifying packages with it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "package/integrity.h"
#include "package/table.h"
#include "package/table_writer.h"
#include "platform/bytes.h"
#include "platform/posix_platform.h"
#include "platform/sha256.h"
#include "quillon/read/updater_file.h"
#include "string_ids.h"
#include "tests/support/fixture_package.h"
#include "tests/support/sample_data.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tool_run.h"
#include "transfer/package_messages.h"

using namespace zv;

namespace {

std::string Hex(const uint8_t* digest) {
    char hex[SHA256_HEX_SIZE];
    Sha256Hex(digest, hex);
    return hex;
}

std::string Sha256Hex(const std::vector<uint8_t>& bytes) {
    uint8_t digest[SHA256_DIGEST_SIZE];
    EXPECT_EQ(Sha256Bytes(bytes.data(), bytes.size(), digest), Sha256Status::Ok);
    return Hex(digest);
}

EntryDescription Entry(const std::string& name, uint16_t flags, uint32_t offset) {
    EntryDescription e;
    e.name = name;
    e.flags = flags;
    e.sizeKB = 1;
    e.version = MakeVersion(1, 2, 3, 4);
    e.pieces = {{1, offset, 10}};
    return e;
}

// Three records (one of them ignored) and distinct digests for them.
struct TableFixture {
    std::vector<EntryDescription> entries = {Entry("plmr.dll", 0x16, 100), Entry("zvact.exe", 0x10, 110),
                                             Entry("notes.txt", ENTRY_IGNORED, 120)};
    std::vector<uint8_t> digests;
    uint32_t recordsEnd = 0;
    std::vector<uint8_t> region;

    explicit TableFixture(uint32_t padding = 30) {
        for (uint32_t i = 0; i < entries.size() * INTEGRITY_DIGEST_SIZE; ++i) {
            digests.push_back(static_cast<uint8_t>(i * 7 + 1));
        }
        std::vector<uint8_t> records;
        EXPECT_EQ(BuildPackageTable(entries, 0, &records), TableBuildError::None);
        recordsEnd = static_cast<uint32_t>(records.size());
        const uint32_t size = recordsEnd + IntegrityBlockSize(3) + padding;
        EXPECT_EQ(BuildPackageTable(entries, size, &region, nullptr, digests.data()), TableBuildError::None);
    }
    uint8_t* block() { return region.data() + recordsEnd; }
    // Sets the block's checksum to that of its bytes, as a packer would have.
    void Reseal() {
        const uint32_t size = LoadU32LE(block() + 8);
        StoreU32LE(block() + size - 4, IntegrityChecksum(block(), size - 4));
    }
};

}  // namespace

// Known digests (FIPS 180-2 examples); the long one fed in pieces of odd
// sizes so that the library's buffering across updates is exercised.
TEST(Sha256, GivesTheKnownDigests) {
    uint8_t digest[SHA256_DIGEST_SIZE];
    ASSERT_EQ(Sha256Bytes("", 0, digest), Sha256Status::Ok);
    EXPECT_EQ(Hex(digest), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    ASSERT_EQ(Sha256Bytes("abc", 3, digest), Sha256Status::Ok);
    EXPECT_EQ(Hex(digest), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

    const std::vector<char> million(1000000, 'a');
    const size_t steps[] = {1, 63, 64, 65, 997, 4093};
    Sha256Context context;
    ASSERT_EQ(Sha256Begin(&context), Sha256Status::Ok);
    size_t done = 0;
    for (size_t k = 0; done < million.size(); ++k) {
        const size_t n = std::min(steps[k % 6], million.size() - done);
        ASSERT_EQ(Sha256Update(&context, million.data() + done, n), Sha256Status::Ok);
        done += n;
    }
    ASSERT_EQ(Sha256Finish(&context, digest), Sha256Status::Ok);
    EXPECT_EQ(Hex(digest), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256, AFinishedOrNeverBegunContextIsRefused) {
    uint8_t digest[SHA256_DIGEST_SIZE];
    Sha256Context context;
    EXPECT_EQ(Sha256Update(&context, "x", 1), Sha256Status::NotBegun);
    EXPECT_EQ(Sha256Finish(&context, digest), Sha256Status::NotBegun);
    ASSERT_EQ(Sha256Begin(&context), Sha256Status::Ok);
    ASSERT_EQ(Sha256Finish(&context, digest), Sha256Status::Ok);
    EXPECT_EQ(context.state, nullptr);
    EXPECT_EQ(Sha256Update(&context, "x", 1), Sha256Status::NotBegun);
    ASSERT_EQ(Sha256Begin(&context), Sha256Status::Ok);
    Sha256Abandon(&context);
    Sha256Abandon(&context);
    EXPECT_EQ(Sha256Finish(&context, digest), Sha256Status::NotBegun);
}

TEST(IntegrityBlock, WrittenBehindTheRecordsAndReadBack) {
    TableFixture t;
    // The records come first, untouched by the block, and walk as before.
    ASSERT_EQ(CheckPackageTable(t.region.data(), static_cast<uint32_t>(t.region.size()), 3).damage,
              TableDamage::None);
    EXPECT_EQ(LoadU32LE(t.block()), INTEGRITY_MAGIC);
    EXPECT_EQ(std::memcmp(t.block(), "ZVIB", 4), 0);
    PackageIntegrity integrity;
    ASSERT_EQ(ReadIntegrityBlock(t.region.data(), static_cast<uint32_t>(t.region.size()), 3, &integrity),
              IntegrityStatus::Present);
    EXPECT_EQ(integrity.offset, t.recordsEnd);
    EXPECT_EQ(integrity.version, INTEGRITY_VERSION);
    for (uint32_t i = 0; i < 3; ++i) {
        ASSERT_NE(MemberDigest(integrity, i), nullptr);
        EXPECT_EQ(std::memcmp(MemberDigest(integrity, i), t.digests.data() + i * 32, 32), 0) << i;
    }
    EXPECT_EQ(MemberDigest(integrity, 3), nullptr);
    // The zero padding behind the block stays zero.
    for (size_t i = t.recordsEnd + IntegrityBlockSize(3); i < t.region.size(); ++i) EXPECT_EQ(t.region[i], 0);
}

TEST(IntegrityBlock, TellsAbsentFromDamaged) {
    struct Case {
        const char* what;
        void (*edit)(TableFixture&);
        IntegrityStatus status;
        IntegrityDamage damage;
    };
    const Case cases[] = {
        {"zero bytes behind the records, as older packers wrote",
         [](TableFixture& t) { std::memset(t.block(), 0, IntegrityBlockSize(3)); }, IntegrityStatus::Absent,
         IntegrityDamage::None},
        {"a region that ends with the records",
         [](TableFixture& t) { t.region.resize(t.recordsEnd); }, IntegrityStatus::Absent, IntegrityDamage::None},
        {"a bit flipped in a digest", [](TableFixture& t) { t.block()[12 + 40] ^= 0x10; }, IntegrityStatus::Damaged,
         IntegrityDamage::ChecksumWrong},
        {"a bit flipped in the checksum", [](TableFixture& t) { t.block()[IntegrityBlockSize(3) - 1] ^= 1; },
         IntegrityStatus::Damaged, IntegrityDamage::ChecksumWrong},
        {"the count differs from the table",
         [](TableFixture& t) {
             StoreU16LE(t.block() + 6, 2);
             t.Reseal();
         },
         IntegrityStatus::Damaged, IntegrityDamage::CountWrong},
        {"the size is not what the count gives",
         [](TableFixture& t) {
             StoreU32LE(t.block() + 8, IntegrityBlockSize(3) + 4);
             t.Reseal();
         },
         IntegrityStatus::Damaged, IntegrityDamage::SizeWrong},
        {"a size too small for a checksum", [](TableFixture& t) { StoreU32LE(t.block() + 8, 8); },
         IntegrityStatus::Damaged, IntegrityDamage::SizeWrong},
        {"version 0",
         [](TableFixture& t) {
             StoreU16LE(t.block() + 4, 0);
             t.Reseal();
         },
         IntegrityStatus::Damaged, IntegrityDamage::VersionUnknown},
        {"a newer packer's sound block",
         [](TableFixture& t) {
             StoreU16LE(t.block() + 4, 2);
             t.Reseal();
         },
         IntegrityStatus::Absent, IntegrityDamage::None},
        {"a newer version whose checksum is wrong", [](TableFixture& t) { StoreU16LE(t.block() + 4, 2); },
         IntegrityStatus::Damaged, IntegrityDamage::ChecksumWrong},
        {"the block cut by the region's end",
         [](TableFixture& t) { t.region.resize(t.recordsEnd + IntegrityBlockSize(3) - 1); },
         IntegrityStatus::Damaged, IntegrityDamage::PastRegion},
        {"only the magic fits the region", [](TableFixture& t) { t.region.resize(t.recordsEnd + 6); },
         IntegrityStatus::Damaged, IntegrityDamage::PastRegion},
        {"a size far past the region", [](TableFixture& t) { StoreU32LE(t.block() + 8, 0xFFFFFFF0u); },
         IntegrityStatus::Damaged, IntegrityDamage::PastRegion},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TableFixture t;
        c.edit(t);
        PackageIntegrity integrity;
        EXPECT_EQ(ReadIntegrityBlock(t.region.data(), static_cast<uint32_t>(t.region.size()), 3, &integrity),
                  c.status);
        EXPECT_EQ(integrity.damage, c.damage);
        EXPECT_EQ(integrity.offset, t.recordsEnd);
        EXPECT_EQ(MemberDigest(integrity, 0), nullptr) << "no digest unless the block is present";
    }
    // A newer block keeps its version, so tools can say what it is.
    TableFixture t;
    StoreU16LE(t.block() + 4, 7);
    t.Reseal();
    PackageIntegrity integrity;
    ReadIntegrityBlock(t.region.data(), static_cast<uint32_t>(t.region.size()), 3, &integrity);
    EXPECT_EQ(integrity.version, 7);
}

TEST(IntegrityBlock, RecordsThatRunPastTheRegionAreNotReadPast) {
    TableFixture t;
    PackageIntegrity integrity;
    // More records claimed than the region holds.
    EXPECT_EQ(ReadIntegrityBlock(t.region.data(), t.recordsEnd, 4, &integrity), IntegrityStatus::Damaged);
    EXPECT_EQ(integrity.damage, IntegrityDamage::RecordsPastRegion);
    StoreU16LE(t.region.data(), 0xFFFF);
    EXPECT_EQ(ReadIntegrityBlock(t.region.data(), static_cast<uint32_t>(t.region.size()), 1, &integrity),
              IntegrityStatus::Damaged);
    EXPECT_EQ(ReadIntegrityBlock(t.region.data(), 1, 1, &integrity), IntegrityStatus::Damaged);
}

// The updater loads a table with a damaged block as a damaged table, and
// refuses the package for it; one with no block loads as it always did.
TEST(IntegrityBlock, ADamagedBlockMakesTheTableLoadDamaged) {
    zvtest::TempDir dir;
    const std::string path = dir / "setup.exe";
    PosixPlatform os;
    struct Case {
        const char* what;
        void (*edit)(TableFixture&);
        TableStatus status;
    };
    const Case cases[] = {
        {"sound", [](TableFixture&) {}, TableStatus::Loaded},
        {"zeroed", [](TableFixture& t) { std::memset(t.block(), 0, IntegrityBlockSize(3)); }, TableStatus::Loaded},
        {"a digest flipped", [](TableFixture& t) { t.block()[20] ^= 0x80; }, TableStatus::Damaged},
        {"a count of 2",
         [](TableFixture& t) {
             StoreU16LE(t.block() + 6, 2);
             t.Reseal();
         },
         TableStatus::Damaged},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TableFixture t;
        c.edit(t);
        std::vector<uint8_t> file(16 + t.region.size(), 0);
        std::copy(t.region.begin(), t.region.end(), file.begin() + 16);
        zvtest::WriteFileBytes(path, file);
        const uint32_t size = static_cast<uint32_t>(t.region.size());
        const PackageHeader header{PACKAGE_MARKER, PACKAGE_KEY, 3, 16, size, 16 + size, {0, 0}, 0};
        PackageTable table;
        EXPECT_EQ(LoadPackageTable(os, path.c_str(), header, &table), c.status);
        if (c.status == TableStatus::Damaged) {
            EXPECT_EQ(table.check.damage, TableDamage::IntegrityBlock);
            EXPECT_EQ(table.check.offset, t.recordsEnd);
            EXPECT_EQ(table.bytes, nullptr);
            EXPECT_EQ(TableStatusMessage(table.status), static_cast<unsigned>(IDS_READ_ERROR));
        } else {
            ASSERT_NE(table.bytes, nullptr);
            EXPECT_EQ(table.entryCount, 3);
        }
        FreePackageTable(os, &table);
    }
}

// quillon build, list and verify with the integrity data, as the release
// engineer runs them.
namespace {

struct IntegrityRelease {
    zvtest::TempDir dir;
    std::string updater = dir / "zvupdate.exe";
    std::string description = dir / "zarvel.txt";
    std::string setup = dir / "SETUP.EXE";
    std::vector<std::vector<uint8_t>> sources;  // in the table's order: shared, product, ignored

    IntegrityRelease() {
        zvtest::MakeDirs(dir / "src");
        zvtest::WriteFileBytes(updater, zvtest::BlankUpdaterImage(8192, 1000));
        sources = {zvtest::SampleNoise(20000, 5), zvtest::SampleText(30000, 6), {}, zvtest::SampleText(700, 7)};
        zvtest::WriteFileBytes(dir / "src/plmr.dll", sources[0]);
        zvtest::WriteFileBytes(dir / "src/readme.txt", sources[1]);
        zvtest::WriteFileBytes(dir / "src/empty.txt", sources[2]);
        zvtest::WriteFileBytes(dir / "src/notes.txt", sources[3]);
        zvtest::WriteFileText(description,
                              "version 1.2.1.31\n"
                              "language 0x0409\n"
                              "file src/readme.txt readme.txt\n"
                              "file src/notes.txt  notes.txt ignored\n"
                              "file src/plmr.dll   plmr.dll  shared version=1.2.1.28\n"
                              "file src/empty.txt  empty.txt\n");
    }

    zvtest::ToolRun Build() {
        return zvtest::RunQuillon("build " + description + " --updater " + updater + " --output " + setup +
                                  " --jobs 1");
    }
};

bool Has(const zvtest::ToolRun& run, const std::string& text) { return run.out.find(text) != std::string::npos; }

// Where member `index` lies in the built file, and where the integrity
// block is.
struct BuiltPackage {
    uint32_t tableOffset = 0;
    uint32_t blockOffset = 0;  // in the file
    std::vector<PackagePiece> pieces;
};

BuiltPackage Inspect(const std::string& path) {
    BuiltPackage b;
    PosixPlatform os;
    quillon::UpdaterFile file;
    std::string error;
    EXPECT_EQ(quillon::OpenUpdaterFile(os, path, &file, &error), quillon::UpdaterOpen::Ok) << error;
    b.tableOffset = file.header.tableOffset;
    b.blockOffset = file.header.tableOffset + file.integrity.offset;
    PackageEntry e = FirstPackageEntry(file.table);
    for (unsigned i = 0; i < file.table.entryCount; ++i, e = NextPackageEntry(e)) {
        b.pieces.push_back(ReadPackagePiece(EntryPieces(e)));
    }
    quillon::CloseUpdaterFile(os, &file);
    return b;
}

}  // namespace

TEST(QuillonIntegrity, BuildStoresTheSha256OfEverySource) {
    IntegrityRelease r;
    const zvtest::ToolRun build = r.Build();
    ASSERT_EQ(build.exitCode, 0) << build.out;

    PosixPlatform os;
    quillon::UpdaterFile file;
    std::string error;
    ASSERT_EQ(quillon::OpenUpdaterFile(os, r.setup, &file, &error), quillon::UpdaterOpen::Ok) << error;
    ASSERT_EQ(file.integrity.status, IntegrityStatus::Present);
    ASSERT_EQ(file.table.entryCount, 4);
    // Table order: the shared file, the product files, the ignored one.
    const char* names[] = {"plmr.dll", "readme.txt", "empty.txt", "notes.txt"};
    PackageEntry e = FirstPackageEntry(file.table);
    for (uint32_t i = 0; i < 4; ++i, e = NextPackageEntry(e)) {
        EXPECT_STREQ(EntryName(e), names[i]);
        ASSERT_NE(MemberDigest(file.integrity, i), nullptr);
        EXPECT_EQ(Hex(MemberDigest(file.integrity, i)), Sha256Hex(r.sources[i])) << names[i];
    }
    // The region holds the block, and the data starts behind the region.
    EXPECT_EQ(file.header.dataOffset, file.header.tableOffset + file.header.tableSize);
    EXPECT_GE(file.header.tableSize, file.integrity.offset + IntegrityBlockSize(4));
    quillon::CloseUpdaterFile(os, &file);

    const zvtest::ToolRun list = zvtest::RunQuillon("list " + r.setup);
    EXPECT_EQ(list.exitCode, 0) << list.out;
    EXPECT_TRUE(Has(list, "integrity     SHA-256 of every member")) << list.out;
    const zvtest::ToolRun json = zvtest::RunQuillon("list --json " + r.setup);
    EXPECT_EQ(json.exitCode, 0) << json.out;
    EXPECT_TRUE(Has(json, "\"integrity\":\"present\"")) << json.out;
    for (const std::vector<uint8_t>& source : r.sources) {
        EXPECT_TRUE(Has(json, "\"sha256\":\"" + Sha256Hex(source) + "\"")) << json.out;
    }

    const zvtest::ToolRun verify = zvtest::RunQuillon("verify " + r.setup);
    EXPECT_EQ(verify.exitCode, 0) << verify.out;
    EXPECT_TRUE(Has(verify, "integrity data: every member's SHA-256 checked")) << verify.out;
    EXPECT_TRUE(Has(verify, "plmr.dll")) << verify.out;
    EXPECT_TRUE(Has(verify, "SHA-256 matches")) << verify.out;
}

// One flipped bit anywhere in a member's data fails verify without
// --source, naming that member; before, most of these passed.
TEST(QuillonIntegrity, AFlippedBitInMemberDataFailsVerify) {
    IntegrityRelease r;
    ASSERT_EQ(r.Build().exitCode, 0);
    const std::vector<uint8_t> built = zvtest::ReadFileBytes(r.setup);
    const BuiltPackage b = Inspect(r.setup);
    ASSERT_EQ(b.pieces.size(), 4u);
    const PackagePiece readme = b.pieces[1];
    ASSERT_GT(readme.length, 1000u);
    struct Flip {
        uint32_t at;  // into readme.txt's stream
        uint8_t bit;
    };
    // Positions across the stream: early, middle and in the last bytes.
    const Flip flips[] = {{200, 0x01}, {readme.length / 2, 0x20}, {readme.length * 3 / 4, 0x80},
                          {readme.length - 3, 0x04}};
    unsigned caughtByDigest = 0;
    for (const Flip& f : flips) {
        SCOPED_TRACE("byte " + std::to_string(f.at));
        std::vector<uint8_t> damaged = built;
        damaged[readme.offset + f.at] ^= f.bit;
        zvtest::WriteFileBytes(r.setup, damaged);
        const zvtest::ToolRun verify = zvtest::RunQuillon("verify " + r.setup);
        EXPECT_EQ(verify.exitCode, 1) << verify.out;
        EXPECT_TRUE(Has(verify, "BAD   readme.txt")) << verify.out;
        EXPECT_TRUE(Has(verify, "1 of 4 members are not sound")) << verify.out;
        if (Has(verify, "do not have the SHA-256")) ++caughtByDigest;
        // extract writes the sound members and refuses the damaged one.
        const std::string out = r.dir / ("out" + std::to_string(f.at));
        const zvtest::ToolRun extract = zvtest::RunQuillon("extract " + r.setup + " " + out);
        EXPECT_EQ(extract.exitCode, 1) << extract.out;
        EXPECT_TRUE(Has(extract, "BAD   readme.txt")) << extract.out;
        EXPECT_FALSE(zvtest::FileExists(out + "/readme.txt")) << extract.out;
    }
    // Most flips still expand to the right size: only the digest sees them.
    EXPECT_GE(caughtByDigest, 2u);
}

// A digest that does not fit the member's bytes (the block itself sound, as
// if the package had been built from a changed file) is caught by verify for
// exactly that member; --source still compares with the sources as before.
TEST(QuillonIntegrity, AWrongDigestNamesItsMemberOnly) {
    IntegrityRelease r;
    ASSERT_EQ(r.Build().exitCode, 0);
    std::vector<uint8_t> file = zvtest::ReadFileBytes(r.setup);
    const BuiltPackage b = Inspect(r.setup);
    uint8_t* block = file.data() + b.blockOffset;
    block[INTEGRITY_FIXED_SIZE + 2 * INTEGRITY_DIGEST_SIZE + 5] ^= 0xFF;  // empty.txt's digest
    const uint32_t size = IntegrityBlockSize(4);
    StoreU32LE(block + size - 4, IntegrityChecksum(block, size - 4));
    zvtest::WriteFileBytes(r.setup, file);

    const zvtest::ToolRun verify = zvtest::RunQuillon("verify --json " + r.setup);
    EXPECT_EQ(verify.exitCode, 1) << verify.out;
    EXPECT_TRUE(Has(verify, "{\"name\":\"empty.txt\",\"ok\":false")) << verify.out;
    EXPECT_TRUE(Has(verify, "{\"name\":\"plmr.dll\",\"ok\":true")) << verify.out;
    EXPECT_TRUE(Has(verify, "\"bad\":1")) << verify.out;

    const zvtest::ToolRun withSource = zvtest::RunQuillon("verify " + r.setup + " --description " + r.description);
    EXPECT_EQ(withSource.exitCode, 1) << withSource.out;
    EXPECT_TRUE(Has(withSource, "BAD   empty.txt")) << withSource.out;
    EXPECT_TRUE(Has(withSource, "equal to its source")) << withSource.out;
}

// A package whose block was zeroed, as older packers left the region, lists
// as having no integrity data and verifies as it always did; a damaged block
// fails list and verify as a damaged table.
TEST(QuillonIntegrity, ZeroedAndDamagedBlocks) {
    IntegrityRelease r;
    ASSERT_EQ(r.Build().exitCode, 0);
    const std::vector<uint8_t> built = zvtest::ReadFileBytes(r.setup);
    const BuiltPackage b = Inspect(r.setup);

    std::vector<uint8_t> zeroed = built;
    std::fill(zeroed.begin() + b.blockOffset, zeroed.begin() + b.blockOffset + IntegrityBlockSize(4), 0);
    zvtest::WriteFileBytes(r.setup, zeroed);
    const zvtest::ToolRun list = zvtest::RunQuillon("list " + r.setup);
    EXPECT_EQ(list.exitCode, 0) << list.out;
    EXPECT_TRUE(Has(list, "integrity     no integrity data")) << list.out;
    const zvtest::ToolRun json = zvtest::RunQuillon("list --json " + r.setup);
    EXPECT_TRUE(Has(json, "\"integrity\":\"absent\"")) << json.out;
    EXPECT_TRUE(Has(json, "\"sha256\":null")) << json.out;
    const zvtest::ToolRun verify = zvtest::RunQuillon("verify " + r.setup);
    EXPECT_EQ(verify.exitCode, 0) << verify.out;
    EXPECT_TRUE(Has(verify, "all 4 members sound")) << verify.out;
    EXPECT_TRUE(Has(verify, "no integrity data; members checked for sound expansion only")) << verify.out;
    const zvtest::ToolRun withSource = zvtest::RunQuillon("verify " + r.setup + " --description " + r.description);
    EXPECT_EQ(withSource.exitCode, 0) << withSource.out;
    EXPECT_TRUE(Has(withSource, "equal to its source")) << withSource.out;

    std::vector<uint8_t> damaged = built;
    damaged[b.blockOffset + INTEGRITY_FIXED_SIZE + 3] ^= 0x08;
    zvtest::WriteFileBytes(r.setup, damaged);
    for (const char* command : {"list ", "verify "}) {
        const zvtest::ToolRun run = zvtest::RunQuillon(command + r.setup);
        EXPECT_EQ(run.exitCode, 1) << run.out;
        EXPECT_TRUE(Has(run, "table is damaged (integrity data at table offset")) << run.out;
        EXPECT_TRUE(Has(run, "checksum wrong")) << run.out;
    }
}
