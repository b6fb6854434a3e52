// quillon version and quillon detect, run as a support engineer runs them.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "detect/stamped_blocks.h"
#include "tests/support/fixture_package.h"
#include "tests/support/pe_builder.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tool_run.h"

using namespace zvtest;

namespace {

using zvtest::ToolRun;


bool Has(const ToolRun& run, const std::string& text) { return run.out.find(text) != std::string::npos; }

std::vector<uint8_t> MainProgram(ExeFormat format, const std::string& name, zv::ProductVersion version, uint16_t word = 0) {
    return BuildVersionedExecutable(format, ProductVersionInfo(version, 0x409, name),
                                    MarkerBlockBytes(zv::KEY_MARKER_WORD, {static_cast<uint8_t>(word), 0}));
}

}  // namespace

TEST(QuillonVersion, PrintsWhatTheUpdaterReads) {
    TempDir dir;
    WriteFileBytes(dir / "zvsa.bin",
                   BuildVersionedExecutable(ExeFormat::Ne, ProductVersionInfo(zv::MakeVersion(1, 2, 1, 31), 0x409, "ZVSA.BIN")));
    WriteFileBytes(dir / "other.dll",
                   BuildVersionedExecutable(ExeFormat::Pe32Plus, ProductVersionInfo(zv::MakeVersion(3, 1, 0, 7), 0x407, "x.dll")));
    WriteFileText(dir / "plain.txt", "text");
    // Version resources in two languages, neither of them neutral.
    ExeDescription twoLanguages;
    for (uint16_t language : {0x0401, 0x0409, 0x0407}) {
        FixtureResource r;
        r.language = language;
        r.data = BuildVersionInfo(
            ProductVersionInfo(zv::MakeVersion(2, language & 0xFF, 0, 0), language, "zvact32.exe"), VersionLayout::Wide);
        twoLanguages.resources.push_back(r);
    }
    WriteFileBytes(dir / "languages.exe", BuildExecutable(twoLanguages));

    ToolRun run = zvtest::RunQuillon("version " + (dir / "zvsa.bin"));
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(Has(run, "status        0 Matched\n")) << run.out;
    EXPECT_TRUE(Has(run, "version       1.2.1.31 (shown as 1.01)\n")) << run.out;
    EXPECT_TRUE(Has(run, "language      0x0409 English (United States)\n")) << run.out;
    EXPECT_TRUE(Has(run, "internal name \"ZVSA.BIN\"\n")) << run.out;

    struct Case {
        std::string args;
        int exitCode;
        const char* says;
    } cases[] = {
        {"version " + (dir / "other.dll"), 0, "status        3 NameMismatch"},
        {"version " + (dir / "other.dll") + " --expect X.DLL", 0, "version       3.1.0.7 (shown as 3.00)"},
        {"version " + (dir / "other.dll") + " --expect x.dl", 1, "language      0x0407 German (Germany)"},
        {"version " + (dir / "plain.txt"), 1, "status        2 NoVersionInfo"},
        {"version " + (dir / "languages.exe"), 0, "version       2.9.0.0 (shown as 2.08)"},
        {"version " + (dir / "languages.exe") + " --language 0407", 0, "language      0x0407 German (Germany)"},
        {"version " + (dir / "languages.exe") + " --language 0x0c0c", 0, "version       2.9.0.0"},
        {"version " + (dir / "languages.exe") + " --language 401", 0, "version       2.1.0.0"},
        {"version " + (dir / "languages.exe") + " --language 10000", 2, "--language wants"},
        {"version " + (dir / "languages.exe") + " --language 0", 2, "--language wants"},
        {"version " + (dir / "missing.exe"), 1, "status        1 Missing"},
        {"version", 2, "usage: quillon version"},
        {"version --help", 0, "usage: quillon version"},
    };
    for (const Case& c : cases) {
        ToolRun r = zvtest::RunQuillon(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.args << "\n" << r.out;
        EXPECT_TRUE(Has(r, c.says)) << c.args << "\n" << r.out;
    }
}

TEST(QuillonDetect, PrintsTheProductAndThePageTexts) {
    TempDir dir;
    const std::string c = dir / "C";
    MakeDirs(c + "/WINDOWS/SYSTEM");
    MakeDirs(c + "/APPS/ZARVEL");
    WriteFileText(c + "/WINDOWS/zvact.ini", "[Setup]\r\nDrive=C:\r\nDir=\\Apps\\Zarvel\\\r\nInst=2\r\n");
    WriteFileBytes(c + "/APPS/ZARVEL/zvact32.exe", MainProgram(ExeFormat::Pe32, "zvact32.exe", zv::MakeVersion(1, 2, 1, 28)));
    WriteFileBytes(c + "/APPS/ZARVEL/zvsa32.bin",
                   BuildVersionedExecutable(ExeFormat::Pe32, ProductVersionInfo(zv::MakeVersion(1, 2, 1, 28), 0x409, "zvsa32.bin")));
    WriteFileText(c + "/WINDOWS/SYSTEM/PLMR32.DLL", "32");
    WriteFileBytes(dir / "zvupdate.exe",
                   StampFixturePackage(BlankUpdaterImage(1024, 64), {{"zvact32.exe", 0x10, zv::MakeVersion(1, 2, 1, 31), {1}}},
                                       zv::MakeVersion(1, 2, 1, 31), 0x409));
    std::string dirs = "detect --windows-dir " + c + "/WINDOWS --system-dir " + c + "/WINDOWS/SYSTEM";

    ToolRun run = zvtest::RunQuillon(dirs + " --updater " + (dir / "zvupdate.exe"));
    ASSERT_EQ(run.exitCode, 0) << run.out;
    const char* lines[] = {
        "settings      C:\\WINDOWS\\zvact.ini\n",
        "dir           \"\\Apps\\Zarvel\"\n",
        "inst          2\n",
        "installDir    \"C:\\Apps\\Zarvel\\\"\n",
        "variants      0x18 Act32 Sa32\n",
        "runtime       0x02 Plmr32Found\n",
        "file table    loaded, 1 entries\n",
        "  [100] None\n",
        "  [101] 1.01\n",
        "  [102] English (United States)\n",  // from zvsa32.bin
        "  [103] Full\n",
        "  [104] C:\\Apps\\Zarvel\n",
        "  [120] \n",
        "  [140] Click &Next to update Zarvel on your hard disk.\n",
        "  Next  enabled\n",
    };
    for (const char* line : lines) EXPECT_TRUE(Has(run, line)) << line << "\n" << run.out;

    run = zvtest::RunQuillon(dirs);
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(Has(run, "give --updater")) << run.out;

    // The language line comes from zvsa32.bin; with resources in Arabic and
    // German only, the user's language picks one, else the first is read.
    ExeDescription twoLanguages;
    for (uint16_t language : {0x0401, 0x0407}) {
        FixtureResource r;
        r.language = language;
        r.data = BuildVersionInfo(ProductVersionInfo(zv::MakeVersion(1, 2, 1, 28), language, "zvsa32.bin"),
                                  VersionLayout::Wide);
        twoLanguages.resources.push_back(r);
    }
    WriteFileBytes(c + "/APPS/ZARVEL/zvsa32.bin", BuildExecutable(twoLanguages));
    const std::string judged = dirs + " --updater " + (dir / "zvupdate.exe");
    run = zvtest::RunQuillon(judged);
    EXPECT_TRUE(Has(run, "  [102] Arabic (Saudi Arabia)\n")) << run.out;
    run = zvtest::RunQuillon(judged + " --language 0407");
    EXPECT_TRUE(Has(run, "  [102] German (Germany)\n")) << run.out;
    EXPECT_EQ(zvtest::RunQuillon(judged + " --language german").exitCode, 2);

    WriteFileText(c + "/WINDOWS/zvact.ini", "[setup]\r\ndir=\r\n");
    run = zvtest::RunQuillon(dirs + " --updater " + (dir / "zvupdate.exe"));
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(Has(run, "Zarvel is not installed")) << run.out;

    EXPECT_EQ(zvtest::RunQuillon("detect --windows-dir " + c).exitCode, 2);
    EXPECT_EQ(zvtest::RunQuillon(dirs + " --drive 1=x").exitCode, 2);
    run = zvtest::RunQuillon(dirs + " --updater " + (dir / "missing.exe"));
    EXPECT_EQ(run.exitCode, 1) << run.out;
}
