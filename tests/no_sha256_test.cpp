// The updater on a system that cannot take SHA-256 (this test program is
// linked with support/sha256_unavailable.cpp in place of the platform's
// SHA-256): no update is made unchecked; it stops before anything is written
// and says why, whether or not the package carries digests of its own.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "package/table.h"
#include "platform/posix_platform.h"
#include "platform/sha256.h"
#include "string_ids.h"
#include "tests/support/fault_platform.h"
#include "tests/support/fixture_package.h"
#include "tests/support/host_layout.h"
#include "tests/support/lzhuf_test_encoder.h"
#include "tests/support/sample_data.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/scripted_view.h"
#include "tests/support/temp_dir.h"
#include "tests/support/transfer_number.h"
#include "transfer/package_messages.h"
#include "transfer/stage.h"
#include "transfer/transfer.h"

using namespace zv;

namespace {

class NoHashTest : public ::testing::Test {
public:
    zvtest::TempDir dir;
    PosixPlatform posix;
    zvtest::FaultPlatform os{posix};
    zvtest::ScriptedUi ui;
    zvtest::ScriptedView view;
    RunContext run;
    InstalledProduct product;
    PackageTable table;
    std::vector<uint8_t> installed = zvtest::SampleText(500, 1);
    std::vector<uint8_t> fresh = zvtest::SampleText(9000, 2);

    void SetUp() override {
        posix.SetLayout(zvtest::MachineLayout(dir.path(), "SETUP.EXE"));
        zvtest::MakeDirs(dir / "ZARVEL");
        zvtest::MakeDirs(dir / "UPDATE");
        run.os = &os;
        run.ui = &ui;
        run.transferView = &view;
        std::strcpy(run.programPath, "C:\\UPDATE\\SETUP.EXE");
        std::strcpy(run.programDir, "C:\\UPDATE\\");
        std::strcpy(product.installDir, "C:\\ZARVEL");
        zvtest::WriteFileBytes(dir / "ZARVEL/readme.txt", installed);
    }
    void TearDown() override { FreePackageTable(posix, &table); }

    // readme.txt and notes.txt; with digests, the table holds the integrity
    // block (any digest: nothing here can compute one).
    void Package(bool digests) {
        std::vector<zvtest::FixtureMember> members;
        for (const char* name : {"readme.txt", "notes.txt"}) {
            zvtest::FixtureMember m;
            m.name = name;
            m.data = zvtest::EncodeLzhufForTest(fresh);
            if (digests) m.digest.assign(SHA256_DIGEST_SIZE, 0x5A);
            members.push_back(m);
        }
        const std::vector<uint8_t> image = zvtest::StampFixturePackage(zvtest::BlankUpdaterImage(2048, 512), members,
                                                                       MakeVersion(1, 2, 1, 31), 0x409);
        zvtest::WriteFileBytes(dir / "UPDATE/SETUP.EXE", image);
        const PackageHeader header = DecodePackageHeader(image.data() + 512);
        ASSERT_EQ(LoadPackageTable(posix, run.programPath, header, &table), TableStatus::Loaded);
    }
};

}  // namespace

TEST(NoSha256, TheSystemCannotHash) {
    uint8_t digest[SHA256_DIGEST_SIZE];
    EXPECT_EQ(Sha256Bytes("abc", 3, digest), Sha256Status::Unavailable);
}

TEST_F(NoHashTest, APackageWithDigestsStopsBeforeAnythingIsWritten) {
    Package(true);
    EXPECT_EQ(RunTransfer(run, table, &product), static_cast<int32_t>(IDS_CANNOT_HASH));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].stringId, static_cast<unsigned>(IDS_CANNOT_HASH));
    EXPECT_EQ(zvtest::ReadFileBytes(dir / "ZARVEL/readme.txt"), installed);
    EXPECT_FALSE(zvtest::FileExists(dir / "ZARVEL/notes.txt"));
    EXPECT_EQ(view.created, 0) << "stopped before the transfer page";
    for (const auto& item : std::filesystem::directory_iterator(dir / "ZARVEL")) {
        EXPECT_NE(item.path().filename().string().rfind("~zv", 0), 0u) << item.path();
    }
    EXPECT_EQ(os.OpenFiles(), 0u);
    EXPECT_EQ(os.liveBlocks, 0);
}

// The journal records the digest of every file it may later move, so a
// package without digests of its own cannot be installed unchecked either.
TEST_F(NoHashTest, APackageWithoutIntegrityDataStopsToo) {
    Package(false);
    EXPECT_EQ(RunTransfer(run, table, &product), static_cast<int32_t>(IDS_CANNOT_HASH));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].stringId, static_cast<unsigned>(IDS_CANNOT_HASH));
    EXPECT_EQ(zvtest::ReadFileBytes(dir / "ZARVEL/readme.txt"), installed);
    EXPECT_FALSE(zvtest::FileExists(dir / "ZARVEL/notes.txt"));
}

// Staging itself never takes a member it could not check: the new copy is
// removed and the failure names the target.
TEST_F(NoHashTest, AMemberThatCannotBeCheckedIsNotStaged) {
    Package(true);
    StageSession session;
    session.run = &run;
    MessageReadQuestions questions(run);
    ASSERT_TRUE(StartVolumeReader(&session.reader, &run, &questions, "C:\\UPDATE\\SETUP.EXE", nullptr));
    std::vector<uint8_t> input(INPUT_BUFFER_SIZE);
    session.reader.buffer = input.data();
    LzhufDecoder* decoder = new LzhufDecoder();
    session.decoder = decoder;
    const uint8_t digest[SHA256_DIGEST_SIZE] = {};
    StageRequest request{FirstPackageEntry(table), "C:\\ZARVEL\\", "readme.txt", "C:\\ZARVEL\\readme.txt",
                         "C:\\ZARVEL\\~zvn0000.tmp", "C:\\", true, digest, nullptr};
    WriteResult result;
    EXPECT_EQ(StageMember(session, request, &result), WriteOutcome::Failed);
    EXPECT_EQ(result.messageId, static_cast<unsigned>(IDS_CANNOT_HASH));
    EXPECT_STREQ(result.subject, "C:\\ZARVEL\\readme.txt");
    EXPECT_FALSE(zvtest::FileExists(dir / "ZARVEL/~zvn0000.tmp"));
    EXPECT_EQ(zvtest::ReadFileBytes(dir / "ZARVEL/readme.txt"), installed);
    CloseVolumeReader(&session.reader);
    delete decoder;
}
