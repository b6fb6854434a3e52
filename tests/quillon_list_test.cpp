// quillon list, run as the release engineer runs it.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "package/table_writer.h"
#include "tests/support/fixture_package.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tool_run.h"

namespace {

using zvtest::ToolRun;


}  // namespace

TEST(QuillonList, PrintsHeaderAndEntries) {
    zvtest::TempDir dir;
    std::vector<uint8_t> image = zvtest::BlankUpdaterImage(4096, 1234);
    std::vector<zvtest::FixtureMember> members = {
        {"plmr.dll", 0x16, zv::MakeVersion(1, 2, 1, 28), std::vector<uint8_t>(40, 1), 130},
        {"sub\\zvsa.bin", zv::ENTRY_UPDATE_ONLY, zv::MakeVersion(1, 2, 1, 31), std::vector<uint8_t>(9, 2), 3},
        {"notes.txt", zv::ENTRY_IGNORED | 0x08, {0, 0}, std::vector<uint8_t>(5, 3), 1},
    };
    zvtest::WriteFileBytes(dir / "zvupdate.exe",
                           zvtest::StampFixturePackage(image, members, zv::MakeVersion(1, 2, 1, 31), 0x409));
    ToolRun run = zvtest::RunQuillon("list " + (dir / "zvupdate.exe"));
    ASSERT_EQ(run.exitCode, 0) << run.out;
    EXPECT_NE(run.out.find("entries       3\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("version       1.01 (1.2.1.31)"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("language      0x0409"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("table         offset 0x00001000"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("header at     0x000004D2"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("plmr.dll"), std::string::npos);
    EXPECT_NE(run.out.find("shared"), std::string::npos);
    EXPECT_NE(run.out.find("1.01 (1.2.1.28)"), std::string::npos);
    EXPECT_NE(run.out.find("sub\\zvsa.bin"), std::string::npos);
    EXPECT_NE(run.out.find("update-only"), std::string::npos);
    EXPECT_NE(run.out.find("ignored,0x08"), std::string::npos) << run.out;
    // Table at 0x1000 with 3 records and 30 zero bytes; data right behind it.
    uint32_t tableSize = zv::PackageRecordLength(8, true, 1) + zv::PackageRecordLength(12, true, 1) +
                         zv::PackageRecordLength(9, false, 1) + 30;
    char firstPiece[32];
    std::snprintf(firstPiece, sizeof firstPiece, "1:0x%08X+40", 0x1000 + tableSize);
    EXPECT_NE(run.out.find(firstPiece), std::string::npos) << run.out;
}

TEST(QuillonList, RefusesWhatIsNotAStampedUpdater) {
    zvtest::TempDir dir;
    zvtest::WriteFileBytes(dir / "blank.exe", zvtest::BlankUpdaterImage(4096, 100));
    zvtest::WriteFileBytes(dir / "other.exe", std::vector<uint8_t>(100, 0));
    std::vector<uint8_t> damaged = zvtest::StampFixturePackage(
        zvtest::BlankUpdaterImage(512, 10), {{"a.dll", 0, {0, 0}, {1, 2, 3}}}, {0, 0}, 0);
    damaged[512] = 0xFF;  // recordLength now runs past the table region
    zvtest::WriteFileBytes(dir / "damaged.exe", damaged);

    struct Case {
        std::string args;
        int exitCode;
        const char* says;
    } cases[] = {
        {"list " + (dir / "blank.exe"), 1, "not stamped"},
        {"list " + (dir / "other.exe"), 1, "no package header"},
        {"list " + (dir / "missing.exe"), 1, "cannot read"},
        {"list " + (dir / "damaged.exe"), 1, "record runs past the table region"},
        {"list", 2, "usage: quillon list"},
        {"frobnicate", 2, "unknown command"},
    };
    for (const Case& c : cases) {
        ToolRun run = zvtest::RunQuillon(c.args);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.args << "\n" << run.out;
        EXPECT_NE(run.out.find(c.says), std::string::npos) << c.args << "\n" << run.out;
    }
}

TEST(QuillonList, HelpAndVersion) {
    ToolRun help = zvtest::RunQuillon("--help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("list"), std::string::npos);
    ToolRun listHelp = zvtest::RunQuillon("list --help");
    EXPECT_EQ(listHelp.exitCode, 0);
    EXPECT_NE(listHelp.out.find("usage: quillon list FILE"), std::string::npos);
    ToolRun version = zvtest::RunQuillon("--version");
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out.rfind("quillon ", 0), 0u);
}
