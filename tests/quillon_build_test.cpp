// quillon build, verify, extract and lzhuf, run as the release engineer runs
// them: a package of several members cut into three volumes is built, read
// back through the updater's own volume reader and decoder, and written out
// byte for byte; bad input of every kind is refused with its exit code.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <sstream>
#include <string>

#include "platform/posix_platform.h"
#include "quillon/read/updater_file.h"
#include "tests/support/fixture_package.h"
#include "tests/support/pe_builder.h"
#include "tests/support/sample_data.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tool_run.h"

using zvtest::ReadFileBytes;
using zvtest::ToolRun;
using zvtest::WriteFileBytes;
using zvtest::WriteFileText;

namespace {


std::vector<uint8_t> Noise(size_t size, unsigned seed) { return zvtest::SampleNoise(size, seed); }

std::vector<uint8_t> Text(size_t size, unsigned seed) { return zvtest::SampleText(size, seed); }

constexpr size_t kImageSize = 20000;
constexpr size_t kVolumeSize = 40000;

// A release tree: an unstamped updater, the sources and their description.
// The noise does not compress, so the package takes three volumes of 40000
// bytes: 20000 of updater and table then data, and two of data.
struct Release {
    zvtest::TempDir dir;
    std::string updater = dir / "zvupdate.exe";
    std::string description = dir / "zarvel.txt";
    std::string src = dir / "src";
    std::string out = dir / "out";
    std::string setup = dir / "out/SETUP.EXE";

    Release() {
        zvtest::MakeDirs(src + "/sub");
        zvtest::MakeDirs(out);
        WriteFileBytes(updater, zvtest::BlankUpdaterImage(kImageSize, 4321));
        WriteFileBytes(src + "/readme.txt", Text(30000, 1));
        WriteFileBytes(src + "/plmr.dll", Noise(45000, 2));
        WriteFileBytes(src + "/sub/zvsa.bin", Noise(30000, 3));
        WriteFileBytes(src + "/empty.txt", {});
        WriteFileBytes(src + "/notes.txt", Text(500, 4));
        WriteFileText(description,
                      "# a test release\n"
                      "version 1.2.1.31\n"
                      "language 0x0409\n"
                      "file src/readme.txt   readme.txt\n"
                      "file src/sub/zvsa.bin sub\\zvsa.bin update-only version=0.1.0.0\n"
                      "file src/plmr.dll     plmr.dll     shared version=1.2.1.28\n"
                      "file src/empty.txt    empty.txt\n"
                      "file src/notes.txt    notes.txt    ignored\n");
    }

    ToolRun Build(const std::string& extra = "") {
        return zvtest::RunQuillon("build " + description + " --updater " + updater + " --output " + setup + " --volume-size " +
                       std::to_string(kVolumeSize) + " " + extra);
    }
};

}  // namespace

TEST(QuillonBuild, ThreeVolumePackageReadsBackByteForByte) {
    Release r;
    const ToolRun build = r.Build("--jobs 2");
    ASSERT_EQ(build.exitCode, 0) << build.out;

    // Volume 1 is the output; the others are named as the updater looks for
    // them and start with their numbers.
    ASSERT_TRUE(zvtest::FileExists(r.out + "/SETUP002"));
    ASSERT_TRUE(zvtest::FileExists(r.out + "/SETUP003"));
    EXPECT_FALSE(zvtest::FileExists(r.out + "/SETUP004"));
    EXPECT_EQ(ReadFileBytes(r.setup).size(), kVolumeSize);
    const std::vector<uint8_t> second = ReadFileBytes(r.out + "/SETUP002");
    const std::vector<uint8_t> third = ReadFileBytes(r.out + "/SETUP003");
    EXPECT_EQ(second.size(), kVolumeSize);
    ASSERT_GE(third.size(), 2u);
    EXPECT_EQ(second[0], 2);
    EXPECT_EQ(second[1], 0);
    EXPECT_EQ(third[0], 3);
    EXPECT_EQ(third[1], 0);

    // The table: the shared file first, then the product files in the
    // description's order, the ignored one last; members cut at volume ends.
    zv::PosixPlatform os;
    quillon::UpdaterFile file;
    std::string error;
    ASSERT_EQ(quillon::OpenUpdaterFile(os, r.setup, &file, &error), quillon::UpdaterOpen::Ok) << error;
    EXPECT_EQ(file.header.version.high, 0x00010002u);
    EXPECT_EQ(file.header.language, 0x409u);
    EXPECT_EQ(file.header.tableOffset, kImageSize);
    EXPECT_EQ(file.header.dataOffset, kImageSize + file.header.tableSize);
    const char* names[] = {"plmr.dll", "readme.txt", "sub\\zvsa.bin", "empty.txt", "notes.txt"};
    const uint16_t sizesKB[] = {44, 30, 30, 0, 1};
    ASSERT_EQ(file.table.entryCount, 5u);
    zv::PackageEntry e = zv::FirstPackageEntry(file.table);
    unsigned cut = 0;
    uint16_t lastVolume = 1;
    for (int i = 0; i < 5; ++i, e = zv::NextPackageEntry(e)) {
        EXPECT_STREQ(zv::EntryName(e), names[i]);
        EXPECT_EQ(zv::EntrySizeKB(e), sizesKB[i]) << names[i];
        unsigned pieces = 0;
        for (const uint8_t* p = zv::EntryPieces(e); !zv::IsLastPiece(zv::ReadPackagePiece(p));
             p += zv::PACKAGE_PIECE_SIZE) {
            const uint16_t volume = zv::ReadPackagePiece(p).volume;
            EXPECT_GE(volume, lastVolume) << "pieces go back to an earlier volume";
            lastVolume = volume;
            ++pieces;
        }
        if (pieces > 1) ++cut;
    }
    EXPECT_EQ(lastVolume, 3);
    EXPECT_GE(cut, 2u);
    quillon::CloseUpdaterFile(os, &file);

    const ToolRun verify = zvtest::RunQuillon("verify " + r.setup + " --source " + r.src);
    EXPECT_EQ(verify.exitCode, 0) << verify.out;
    EXPECT_NE(verify.out.find("all 5 members sound"), std::string::npos) << verify.out;
    // All volumes beside volume 1: none is asked for.
    EXPECT_EQ(verify.out.find("volume 2 of the package is needed"), std::string::npos) << verify.out;
    EXPECT_EQ(verify.out.find("[OK/Cancel]"), std::string::npos) << verify.out;

    const ToolRun extract = zvtest::RunQuillon("extract " + r.setup + " " + (r.dir / "x"));
    ASSERT_EQ(extract.exitCode, 0) << extract.out;
    for (const char* path : {"readme.txt", "plmr.dll", "sub/zvsa.bin", "empty.txt", "notes.txt"}) {
        const std::string extracted = (r.dir / "x/") + path;
        ASSERT_TRUE(zvtest::FileExists(extracted)) << path;
        EXPECT_TRUE(ReadFileBytes(extracted) == ReadFileBytes(r.src + "/" + path)) << path;
    }

    // The same description always gives the same package.
    const std::vector<uint8_t> first = ReadFileBytes(r.setup);
    ASSERT_EQ(r.Build("--jobs 1").exitCode, 0);
    EXPECT_TRUE(ReadFileBytes(r.setup) == first);
    EXPECT_TRUE(ReadFileBytes(r.out + "/SETUP003") == third);
}

TEST(QuillonVerify, FindsMissingVolumesAndWrongBytes) {
    Release r;
    ASSERT_EQ(r.Build().exitCode, 0);
    const std::string setup003 = r.out + "/SETUP003";
    const std::vector<uint8_t> third = ReadFileBytes(setup003);

    // Without volume 3 the disk prompt is cancelled and the members on it fail.
    std::filesystem::remove(setup003);
    ToolRun run = zvtest::RunQuillon("verify " + r.setup);
    EXPECT_EQ(run.exitCode, 1) << run.out;
    // The prompt names the missing file, not a drive.
    EXPECT_NE(run.out.find("volume 3 of the package is needed, and " + setup003 + " is not there"), std::string::npos)
        << run.out;
    EXPECT_EQ(run.out.find("in drive"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("-> Cancel"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("BAD"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("ok    plmr.dll"), std::string::npos) << run.out;
    // extract leaves no partial file of a member it could not write.
    run = zvtest::RunQuillon("extract " + r.setup + " " + (r.dir / "x"));
    EXPECT_EQ(run.exitCode, 1) << run.out;
    EXPECT_TRUE(zvtest::FileExists(r.dir / "x/plmr.dll"));
    EXPECT_FALSE(zvtest::FileExists(r.dir / "x/empty.txt"));
    WriteFileBytes(setup003, third);

    // A source that changed since the build.
    std::vector<uint8_t> readme = ReadFileBytes(r.src + "/readme.txt");
    readme[12345] ^= 1;
    WriteFileBytes(r.src + "/readme.txt", readme);
    run = zvtest::RunQuillon("verify " + r.setup + " --source " + r.src);
    EXPECT_EQ(run.exitCode, 1) << run.out;
    EXPECT_NE(run.out.find("readme.txt"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("differs from its source from byte 12345 on"), std::string::npos) << run.out;

    // A source that is missing.
    std::filesystem::remove(r.src + "/notes.txt");
    run = zvtest::RunQuillon("verify " + r.setup + " --source " + r.src);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.out.find("no source file"), std::string::npos) << run.out;
}

TEST(QuillonBuild, RefusesBadInputAndWritesNothing) {
    Release r;
    const std::string common = r.description + " --updater " + r.updater + " --output " + r.setup;

    const std::string bad = r.dir / "bad.txt";
    WriteFileText(bad, "version 1.2.1.31\nlanguage 0x0409\nfile src/readme.txt readme.txt sharde\n");
    const std::string autoVersion = r.dir / "auto.txt";
    WriteFileText(autoVersion, "version 1.2.1.31\nlanguage 0x0409\nfile src/plmr.dll plmr.dll shared version=auto\n");
    const std::string missingSource = r.dir / "missing.txt";
    WriteFileText(missingSource, "version 1.2.1.31\nlanguage 0x0409\nfile src/nothing.dll a.dll\n");
    WriteFileBytes(r.dir / "plain.exe", std::vector<uint8_t>(5000, 0x90));
    std::vector<uint8_t> twice = zvtest::BlankUpdaterImage(5000, 100);
    const std::vector<uint8_t> block(twice.begin() + 100, twice.begin() + 132);
    std::copy(block.begin(), block.end(), twice.begin() + 3000);
    WriteFileBytes(r.dir / "twice.exe", twice);
    WriteFileBytes(r.dir / "stamped.exe",
                   zvtest::StampFixturePackage(zvtest::BlankUpdaterImage(5000, 100), {{"a.dll", 0, {0, 0}, {1, 2, 3, 4}}},
                                               zv::MakeVersion(1, 2, 1, 31), 0x409));

    struct Case {
        std::string args;
        int exitCode;
        const char* says;
    } cases[] = {
        {"build", 2, "usage: quillon build"},
        {"build " + r.description + " --updater " + r.updater, 2, "usage: quillon build"},
        {"build " + common + " --volume-size lots", 2, "--volume-size: 'lots' is not a size"},
        {"build " + common + " --volume-size 0", 2, "is not a size"},
        {"build " + common + " --jobs 0", 2, "--jobs: '0'"},
        {"build " + common + " --frobnicate", 2, "unknown option '--frobnicate'"},
        {"build " + (r.dir / "none.txt") + " --updater " + r.updater + " --output " + r.setup, 1, "cannot read"},
        {"build " + bad + " --updater " + r.updater + " --output " + r.setup, 1, "bad.txt:3: unknown flag 'sharde'"},
        {"build " + autoVersion + " --updater " + r.updater + " --output " + r.setup, 1,
         "has no version resource"},
        {"build " + missingSource + " --updater " + r.updater + " --output " + r.setup, 1, "no such file"},
        {"build " + r.description + " --updater " + (r.dir / "plain.exe") + " --output " + r.setup, 1,
         "no package header block"},
        {"build " + r.description + " --updater " + (r.dir / "twice.exe") + " --output " + r.setup, 1,
         "more than one package header block"},
        {"build " + r.description + " --updater " + (r.dir / "stamped.exe") + " --output " + r.setup, 1,
         "already stamped"},
        {"build " + common + " --volume-size 15000", 1, "volume 1 cannot hold the updater"},
        {"build " + r.description + " --updater " + r.updater + " --output " + r.updater, 1, "would overwrite"},
        {"build " + r.description + " --updater " + r.updater + " --output " + (r.dir / "nodir/SETUP.EXE"), 1,
         "nodir does not exist"},
    };
    for (const Case& c : cases) {
        const ToolRun run = zvtest::RunQuillon(c.args);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.args << "\n" << run.out;
        EXPECT_NE(run.out.find(c.says), std::string::npos) << c.args << "\n" << run.out;
    }
    EXPECT_TRUE(std::filesystem::is_empty(r.out)) << "a refused build left files behind";
    EXPECT_EQ(ReadFileBytes(r.updater), zvtest::BlankUpdaterImage(kImageSize, 4321));
}

TEST(QuillonReadBack, RefusesBadInput) {
    zvtest::TempDir dir;
    WriteFileBytes(dir / "blank.exe", zvtest::BlankUpdaterImage(4096, 100));
    WriteFileBytes(dir / "short.lzh", {1, 0, 0});
    struct Case {
        std::string args;
        int exitCode;
        const char* says;
    } cases[] = {
        {"verify", 2, "usage: quillon verify"},
        {"verify a b", 2, "usage: quillon verify"},
        {"verify " + (dir / "blank.exe") + " --source", 2, "usage: quillon verify"},
        {"verify " + (dir / "none.exe"), 1, "cannot read"},
        {"verify " + (dir / "blank.exe"), 1, "not stamped"},
        {"extract " + (dir / "blank.exe"), 2, "usage: quillon extract"},
        {"extract " + (dir / "blank.exe") + " " + (dir / "x"), 1, "not stamped"},
        {"lzhuf -x a b", 2, "usage: quillon lzhuf"},
        {"lzhuf -c a", 2, "usage: quillon lzhuf"},
        {"lzhuf -c " + (dir / "none") + " " + (dir / "out"), 1, "cannot read"},
        {"lzhuf -d " + (dir / "short.lzh") + " " + (dir / "out"), 1, "shorter than a stream's 4-byte size"},
    };
    for (const Case& c : cases) {
        const ToolRun run = zvtest::RunQuillon(c.args);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.args << "\n" << run.out;
        EXPECT_NE(run.out.find(c.says), std::string::npos) << c.args << "\n" << run.out;
    }
}

TEST(QuillonLzhuf, RawStreamsRoundTrip) {
    zvtest::TempDir dir;
    for (const std::vector<uint8_t>& data : {Text(100000, 9), Noise(70000, 10), std::vector<uint8_t>()}) {
        WriteFileBytes(dir / "in", data);
        const ToolRun packed = zvtest::RunQuillon("lzhuf -c " + (dir / "in") + " " + (dir / "in.lzh"));
        ASSERT_EQ(packed.exitCode, 0) << packed.out;
        const std::vector<uint8_t> stream = ReadFileBytes(dir / "in.lzh");
        ASSERT_GE(stream.size(), 4u);
        EXPECT_EQ(stream[0] | stream[1] << 8 | stream[2] << 16, static_cast<int>(data.size()));
        const ToolRun expanded = zvtest::RunQuillon("lzhuf -d " + (dir / "in.lzh") + " " + (dir / "out"));
        ASSERT_EQ(expanded.exitCode, 0) << expanded.out;
        EXPECT_TRUE(ReadFileBytes(dir / "out") == data);
    }
}

TEST(QuillonCommands, EveryCommandHasHelp) {
    // The commands as quillon --help lists them: the indented lines after
    // "commands:", up to the first blank line.
    const ToolRun all = zvtest::RunQuillon("--help");
    ASSERT_EQ(all.exitCode, 0) << all.out;
    std::vector<std::string> listed;
    std::istringstream lines(all.out.substr(all.out.find("commands:\n") + 10));
    for (std::string line; std::getline(lines, line) && !line.empty();) {
        std::istringstream words(line);
        std::string name;
        words >> name;
        listed.push_back(name);
    }
    const std::vector<std::string> expected = {"build", "list", "verify", "extract", "lzhuf", "version", "detect", "plan"};
    EXPECT_EQ(listed, expected);
    for (const std::string& command : listed) {
        const ToolRun run = zvtest::RunQuillon(command + " --help");
        EXPECT_EQ(run.exitCode, 0) << command;
        EXPECT_EQ(run.out.rfind("usage: quillon " + command + " ", 0), 0u) << run.out;
        // The commands that read version resources say how a language is picked.
        bool readsVersions = command == "build" || command == "version" || command == "detect" || command == "plan";
        EXPECT_EQ(run.out.find("--language ID") != std::string::npos, readsVersions) << run.out;
    }
}

TEST(QuillonBuild, VersionAutoTakesTheSourceFilesVersionResource) {
    Release r;
    zvtest::MakeDirs(r.dir / "auto");
    WriteFileBytes(r.dir / "auto/plmr32.dll",
                   zvtest::BuildVersionedExecutable(zvtest::ExeFormat::Pe32,
                                                    zvtest::ProductVersionInfo(zv::MakeVersion(1, 2, 1, 28), 0x409, "PLMR32.DLL")));
    WriteFileBytes(r.dir / "auto/zvsa.bin",
                   zvtest::BuildVersionedExecutable(zvtest::ExeFormat::Ne,
                                                    zvtest::ProductVersionInfo(zv::MakeVersion(1, 2, 1, 31), 0x409, "zvsa.bin")));
    const std::string description = r.dir / "auto.txt";
    WriteFileText(description, "version 1.2.1.31\nlanguage 0x0409\n"
                               "file auto/plmr32.dll plmr32.dll shared version=auto\n"
                               "file auto/zvsa.bin zvsa.bin update-only version=auto\n");
    ToolRun build = zvtest::RunQuillon("build " + description + " --updater " + r.updater + " --output " + r.setup);
    ASSERT_EQ(build.exitCode, 0) << build.out;
    ToolRun list = zvtest::RunQuillon("list " + r.setup);
    EXPECT_NE(list.out.find("1.01 (1.2.1.28)"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("1.01 (1.2.1.31)"), std::string::npos) << list.out;
}
