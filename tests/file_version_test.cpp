// Reading the version of an installed file through the platform: the four
// statuses, what each leaves in the record, and the block always released.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "detect/file_version.h"
#include "platform/posix_platform.h"
#include "platform/version_resource.h"
#include "tests/support/host_layout.h"
#include "tests/support/fault_platform.h"
#include "tests/support/pe_builder.h"
#include "tests/support/temp_dir.h"

using namespace zv;
using namespace zvtest;

namespace {

struct FileVersionTest : ::testing::Test {
    TempDir dir;
    PosixPlatform posix;
    FaultPlatform os{posix};
    void SetUp() override {
        posix.SetLayout(DriveLayout('D', dir.path()));
    }
    void TearDown() override {
        EXPECT_EQ(os.liveBlocks, 0) << "the block is always released";
        EXPECT_EQ(os.OpenFiles(), 0u);
    }
};

}  // namespace

TEST_F(FileVersionTest, StatusesAndWhatTheyLeave) {
    const ProductVersion v = MakeVersion(1, 2, 1, 31);
    WriteFileBytes(dir / "genuine.exe", BuildVersionedExecutable(ExeFormat::Ne, ProductVersionInfo(v, 0x409, "zvact.exe")));
    WriteFileBytes(dir / "capitals.bin", BuildVersionedExecutable(ExeFormat::Pe32, ProductVersionInfo(v, 0x409, "ZVSA32.BIN")));
    WriteFileBytes(dir / "short.bin", BuildVersionedExecutable(ExeFormat::Pe32Plus, ProductVersionInfo(v, 0x409, "zvsa32.bi")));
    WriteFileBytes(dir / "german.exe",
                   BuildVersionedExecutable(ExeFormat::Pe32, ProductVersionInfo(v, 0x407, "zvact32.exe", "040704B0")));
    VersionInfoDescription bare = ProductVersionInfo(v, 0x409, "zvact.exe");
    bare.fixedInfo = false;
    bare.varFileInfo = false;
    WriteFileBytes(dir / "bare.exe", BuildVersionedExecutable(ExeFormat::Ne, bare));
    ExeDescription none;
    WriteFileBytes(dir / "none.exe", BuildExecutable(none));
    WriteFileText(dir / "text.bin", "no executable at all");
    // A copy whose file ends halfway through its version data.
    std::vector<uint8_t> cut = BuildVersionedExecutable(ExeFormat::Pe32, ProductVersionInfo(v, 0x409, "zvact32.exe"));
    VersionResourceSpan span;
    ASSERT_TRUE(FindVersionResource(MemoryFileBytes(cut.data(), cut.size()), kUsEnglish, &span));
    cut.resize(span.offset + span.length / 2);
    WriteFileBytes(dir / "cut.exe", cut);
    struct Case {
        const char* path;
        const char* expected;
        VersionStatus status;
        uint32_t high, low, language;
    } cases[] = {
        {"D:\\genuine.exe", "zvact.exe", Matched, 0x00010002, 0x0001001F, 0x409},
        {"D:\\GENUINE.EXE", "ZVACT.EXE", Matched, 0x00010002, 0x0001001F, 0x409},
        {"D:\\capitals.bin", "zvsa32.bin", Matched, 0x00010002, 0x0001001F, 0x409},
        {"D:\\short.bin", "zvsa32.bin", NameMismatch, 0x00010002, 0x0001001F, 0x409},
        {"D:\\genuine.exe", "zvact.ex", NameMismatch, 0x00010002, 0x0001001F, 0x409},
        {"D:\\german.exe", "zvact32.exe", NameMismatch, 0x00010002, 0x0001001F, 0x407},
        {"D:\\bare.exe", "zvact.exe", Matched, 0, 0, 0},
        {"D:\\none.exe", "zvact.exe", NoVersionInfo, 0, 0, 0},
        {"D:\\text.bin", "zvsa.bin", NoVersionInfo, 0, 0, 0},
        {"D:\\cut.exe", "zvact32.exe", NoVersionInfo, 0, 0, 0},
        {"D:\\absent.exe", "absent.exe", Missing, 0, 0, 0},
        {"E:\\genuine.exe", "zvact.exe", Missing, 0, 0, 0},
    };
    for (const Case& c : cases) {
        FileVersionRecord record;
        record.version = MakeVersion(9, 9, 9, 9);
        record.language = 0x1234;
        EXPECT_EQ(ReadFileVersion(os, c.path, c.expected, &record), c.status) << c.path << " " << c.expected;
        EXPECT_EQ(record.status, c.status);
        EXPECT_EQ(record.version.high, c.high) << c.path;
        EXPECT_EQ(record.version.low, c.low) << c.path;
        EXPECT_EQ(record.language, c.language) << c.path;
    }
}

TEST_F(FileVersionTest, NoMemoryForTheResourceMeansNoVersionInfo) {
    WriteFileBytes(dir / "zvact.exe",
                   BuildVersionedExecutable(ExeFormat::Ne, ProductVersionInfo(MakeVersion(1, 2, 1, 31), 0x409, "zvact.exe")));
    for (FaultOp op : {FaultOp::AllocBlock, FaultOp::LockBlock}) {
        os.Clear();
        os.Add({op});
        FileVersionRecord record;
        EXPECT_EQ(ReadFileVersion(os, "D:\\zvact.exe", "zvact.exe", &record), NoVersionInfo);
        EXPECT_EQ(record.version.high, 0u);
        EXPECT_EQ(os.Struck(0), 1);
    }
    os.Clear();
    os.Add({FaultOp::Open});
    FileVersionRecord record;
    EXPECT_EQ(ReadFileVersion(os, "D:\\zvact.exe", "zvact.exe", &record), Missing) << "unreadable";
}
