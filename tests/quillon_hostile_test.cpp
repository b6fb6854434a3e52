// quillon list, verify, extract and plan on damaged and hostile packages:
// each says what is wrong in a line the terminal shows as it is, exits with
// 1, never loops, never reads or writes outside its directories and never
// harms a file that was there before.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>

#include "detect/stamped_blocks.h"
#include "platform/bytes.h"
#include "tests/support/fixture_package.h"
#include "tests/support/lzhuf_test_encoder.h"
#include "tests/support/pe_builder.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tool_run.h"

using namespace zvtest;

namespace {

// A run that went wrong by looping is cut off rather than left to hang the
// tests; the cut shows as an exit code of its own (124).
ToolRun Quillon(const std::string& args) {
    return RunTool("timeout 120 " + zvtest::QuillonPath() + " " + args);
}

void RemoveTree(const std::string& path) {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

// The names in a directory, sorted; empty when it is missing.
std::vector<std::string> ListDirectory(const std::string& path) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(path, ec)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string ReadFileText(const std::string& path) {
    const std::vector<uint8_t> bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

bool Has(const ToolRun& run, const std::string& text) { return run.out.find(text) != std::string::npos; }

std::vector<uint8_t> Noise(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(size);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
    return bytes;
}

constexpr size_t kHeaderAt = 100;

FixtureMember Member(const std::string& name, const std::vector<uint8_t>& content) {
    FixtureMember m;
    m.name = name;
    m.data = EncodeLzhufForTest(content, true);
    return m;
}

struct Package {
    std::vector<uint8_t> image;
    // Where the data of member `index` begins in the image.
    uint32_t DataOffset(size_t index) const {
        const uint32_t tableOffset = zv::LoadU32LE(image.data() + kHeaderAt + 8);
        const uint8_t* record = image.data() + tableOffset;
        for (size_t k = 0; k < index; ++k) record += zv::LoadU16LE(record);
        const size_t nameLength = std::strlen(reinterpret_cast<const char*>(record + 6));
        const uint16_t flags = zv::LoadU16LE(record + 2);
        const uint8_t* piece = record + 8 + nameLength + ((flags & zv::ENTRY_HAS_VERSION) ? 8 : 0);
        return zv::LoadU32LE(piece + 2);
    }
    uint8_t* FirstPiece() {
        const uint32_t tableOffset = zv::LoadU32LE(image.data() + kHeaderAt + 8);
        uint8_t* record = image.data() + tableOffset;
        return record + 8 + std::strlen(reinterpret_cast<const char*>(record + 6));
    }
};

Package MakePackage(const std::vector<FixtureMember>& members) {
    return Package{StampFixturePackage(BlankUpdaterImage(1024, kHeaderAt), members, zv::MakeVersion(1, 2, 1, 31), 0x409)};
}

}  // namespace

TEST(QuillonHostile, DamagedMembersAreBadForVerifyAndLeaveNothingForExtract) {
    TempDir dir;
    const std::vector<uint8_t> big = Noise(100000, 1);
    struct Case {
        const char* what;
        std::function<Package()> make;
        const char* says;
    };
    const Case cases[] = {
        {"cut 32,000 bytes into a member's data",
         [&] {
             Package p = MakePackage({Member("zvact.exe", big)});
             p.image.resize(p.DataOffset(0) + 32000);
             return p;
         },
         "zvupdate.exe: read error!"},
        {"cut 64,000 bytes into a member's data",
         [&] {
             Package p = MakePackage({Member("zvact.exe", big)});
             p.image.resize(p.DataOffset(0) + 64000);
             return p;
         },
         "zvupdate.exe: read error!"},
        {"a member with no data declaring 1,000,010 bytes",
         [&] {
             FixtureMember m;
             m.name = "zvact.exe";
             m.data = {0x0A, 0x42, 0x0F, 0x00};
             return MakePackage({m});
         },
         "zvupdate.exe: read error!"},
        {"a member declaring more than its record's size in KB",
         [&] {
             FixtureMember m = Member("zvact.exe", big);
             m.sizeKB = 90;
             return MakePackage({m});
         },
         "declares 100000 bytes, more than the 90 KB of its record"},
        {"a member with no data declaring 4 GiB, its record at 65,535 KB",
         [&] {
             FixtureMember m;
             m.name = "zvact.exe";
             m.data = {0xFF, 0xFF, 0xFF, 0xFF};
             m.sizeKB = 0xFFFF;
             return MakePackage({m});
         },
         "zvupdate.exe: read error!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string out = dir / "out";
        RemoveTree(out);
        MakeDirs(out);
        WriteFileText(out + "/zvact.exe", "the user's own file");
        WriteFileBytes(dir / "zvupdate.exe", c.make().image);

        const ToolRun verify = Quillon("verify " + (dir / "zvupdate.exe"));
        EXPECT_EQ(verify.exitCode, 1) << verify.out;
        EXPECT_TRUE(Has(verify, "BAD")) << verify.out;
        EXPECT_TRUE(Has(verify, c.says)) << verify.out;

        const ToolRun extract = Quillon("extract --force " + (dir / "zvupdate.exe") + " " + out);
        EXPECT_EQ(extract.exitCode, 1) << extract.out;
        EXPECT_TRUE(Has(extract, "zvupdate.exe: read error!")) << extract.out;
        EXPECT_EQ(ReadFileText(out + "/zvact.exe"), "the user's own file") << "a failing member harms nothing";
        EXPECT_EQ(ListDirectory(out), std::vector<std::string>({"zvact.exe"})) << "nothing left behind";
    }
}

TEST(QuillonHostile, RefusedNamesAreNeverJoinedToADirectory) {
    TempDir dir;
    MakeDirs(dir / "src/sub");
    WriteFileText(dir / "secret.txt", "the secret");
    WriteFileText(dir / "src/zvact.exe", "new");
    const char* names[] = {"..\\secret.txt", "zvact.exe.", "CON", "sub\\nul.txt", "~zvnew.tmp", "ZVACT.EXE",
                           "C:\\secret.txt", "sub/../../secret.txt"};
    for (const char* name : names) {
        SCOPED_TRACE(name);
        WriteFileBytes(dir / "zvupdate.exe",
                       MakePackage({Member("zvact.exe", {'n', 'e', 'w'}), Member(name, {'x'})}).image);
        const ToolRun list = Quillon("list " + (dir / "zvupdate.exe"));
        EXPECT_EQ(list.exitCode, 1) << list.out;
        EXPECT_TRUE(Has(list, "the updater refuses this package as damaged")) << list.out;
        EXPECT_TRUE(Has(list, "entry 2 ")) << list.out;

        // verify --source: the name is refused before any file is looked for,
        // so nothing is said about the file outside the source directory.
        const ToolRun verify = Quillon("verify " + (dir / "zvupdate.exe") + " --source " + (dir / "src"));
        EXPECT_EQ(verify.exitCode, 1) << verify.out;
        EXPECT_TRUE(Has(verify, "name refused by the updater")) << verify.out;
        EXPECT_FALSE(Has(verify, "differs")) << verify.out;
        EXPECT_FALSE(Has(verify, "no source file")) << verify.out;

        const std::string out = dir / "out";
        RemoveTree(out);
        const ToolRun extract = Quillon("extract " + (dir / "zvupdate.exe") + " " + out);
        EXPECT_EQ(extract.exitCode, 1) << extract.out;
        EXPECT_TRUE(Has(extract, "name refused")) << extract.out;
        EXPECT_EQ(ListDirectory(out), std::vector<std::string>({"zvact.exe"}));
        EXPECT_EQ(ReadFileText(dir / "secret.txt"), "the secret");
    }
}

TEST(QuillonHostile, ControlCharactersInNamesReachNoTerminal) {
    TempDir dir;
    const std::string name = "a\x1B]0;owned\x07\x1B[2Jb\r.txt";
    WriteFileBytes(dir / "zvupdate.exe", MakePackage({Member(name, {'x'})}).image);
    const ToolRun runs[] = {
        Quillon("list " + (dir / "zvupdate.exe")),
        Quillon("verify " + (dir / "zvupdate.exe")),
        Quillon("extract " + (dir / "zvupdate.exe") + " " + (dir / "out")),
    };
    for (const ToolRun& run : runs) {
        EXPECT_EQ(run.exitCode, 1) << run.out;
        EXPECT_EQ(run.out.find('\x1B'), std::string::npos) << run.out;
        EXPECT_EQ(run.out.find('\x07'), std::string::npos) << run.out;
        EXPECT_EQ(run.out.find('\r'), std::string::npos) << run.out;
        EXPECT_TRUE(Has(run, "a\\x1B]0;owned\\x07\\x1B[2Jb\\x0D.txt")) << run.out;
    }
}

TEST(QuillonHostile, AWrongContinuationVolumeIsAnErrorNamingItWithoutATerminal) {
    TempDir dir;
    struct Case {
        const char* what;
        std::vector<uint8_t> volume;
        const char* says;
    };
    const Case cases[] = {
        {"empty", {}, "zvupdate002 is not it: it is empty"},
        {"one byte", {2}, "zvupdate002 is not it: it is one byte long"},
        {"another number", {3, 0, 1, 2, 3}, "zvupdate002 is not it: it says it is volume 3"},
        {"missing", {}, "zvupdate002 is not there"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Package p = MakePackage({Member("zvact.exe", {'x', 'y'})});
        zv::StoreU16LE(p.FirstPiece(), 2);      // the piece lies on volume 2,
        zv::StoreU32LE(p.FirstPiece() + 2, 2);  // behind its number
        WriteFileBytes(dir / "zvupdate.exe", p.image);
        std::remove((dir / "zvupdate002").c_str());
        if (std::string(c.what) != "missing") WriteFileBytes(dir / "zvupdate002", c.volume);
        for (const std::string command : {"verify ", "extract "}) {
            const ToolRun run =
                Quillon(command + (dir / "zvupdate.exe") + (command == "extract " ? " " + (dir / "out") : ""));
            EXPECT_EQ(run.exitCode, 1) << command << run.out.substr(0, 2000);
            EXPECT_TRUE(Has(run, c.says)) << command << run.out.substr(0, 2000);
            EXPECT_LT(run.out.size(), 2000u) << "asked a few times, not forever";
        }
    }
}

TEST(QuillonHostile, ExtractHarmsNothingThatWasInItsDirectory) {
    TempDir dir;
    const std::string out = dir / "out";
    WriteFileBytes(dir / "zvupdate.exe",
                   MakePackage({Member("zvact.exe", {'n', 'e', 'w'}), Member("sub\\x.txt", {'s', 'u', 'b'})}).image);

    // A file that is there is not overwritten without --force.
    MakeDirs(out);
    WriteFileText(out + "/zvact.exe", "old");
    ToolRun run = Quillon("extract " + (dir / "zvupdate.exe") + " " + out);
    EXPECT_EQ(run.exitCode, 1) << run.out;
    EXPECT_TRUE(Has(run, "is there already (--force to overwrite it)")) << run.out;
    EXPECT_EQ(ReadFileText(out + "/zvact.exe"), "old");
    EXPECT_EQ(ReadFileText(out + "/sub/x.txt"), "sub");
    run = Quillon("extract --force " + (dir / "zvupdate.exe") + " " + out);
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_EQ(ReadFileText(out + "/zvact.exe"), "new");

    // A link inside the directory is never followed, to a directory or to a file.
    RemoveTree(out);
    MakeDirs(out);
    MakeDirs(dir / "elsewhere");
    WriteFileText(dir / "elsewhere/target.txt", "elsewhere");
    ASSERT_EQ(::symlink((dir / "elsewhere").c_str(), (out + "/sub").c_str()), 0);
    ASSERT_EQ(::symlink((dir / "elsewhere/target.txt").c_str(), (out + "/zvact.exe").c_str()), 0);
    run = Quillon("extract " + (dir / "zvupdate.exe") + " " + out);
    EXPECT_EQ(run.exitCode, 1) << run.out;
    EXPECT_TRUE(Has(run, "is a symbolic link, which extract does not follow")) << run.out;
    EXPECT_FALSE(FileExists(dir / "elsewhere/x.txt"));
    EXPECT_EQ(ReadFileText(dir / "elsewhere/target.txt"), "elsewhere");
    // --force replaces the link to a file by the member, and still does not
    // write through the link to a directory.
    run = Quillon("extract --force " + (dir / "zvupdate.exe") + " " + out);
    EXPECT_EQ(run.exitCode, 1) << run.out;
    EXPECT_EQ(ReadFileText(dir / "elsewhere/target.txt"), "elsewhere");
    EXPECT_EQ(ReadFileText(out + "/zvact.exe"), "new");
    struct stat st;
    ASSERT_EQ(::lstat((out + "/zvact.exe").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_FALSE(FileExists(dir / "elsewhere/x.txt"));
}

TEST(QuillonHostile, PlanSaysWhatTheUpdaterWouldShow) {
    TempDir dir;
    const std::string c = dir / "C";
    // An installation in a directory so deep that one member's target path
    // would be longer than Windows allows, though the product's own fit.
    const std::string deep = std::string(100, 'D') + "/" + std::string(100, 'E') + "/" + std::string(30, 'F');
    MakeDirs(c + "/WINDOWS/SYSTEM");
    MakeDirs(c + "/" + deep);
    std::string windowsDeep = deep;
    for (char& ch : windowsDeep) {
        if (ch == '/') ch = '\\';
    }
    WriteFileText(c + "/WINDOWS/zvact.ini", "[setup]\r\ndrive=C\r\ndir=\\" + windowsDeep + "\r\n");
    WriteFileBytes(c + "/" + deep + "/zvact32.exe",
                   BuildVersionedExecutable(ExeFormat::Pe32,
                                            ProductVersionInfo(zv::MakeVersion(1, 2, 1, 28), 0x409, "zvact32.exe"),
                                            MarkerBlockBytes(zv::KEY_MARKER_WORD, {0, 0})));
    WriteFileBytes(c + "/" + deep + "/zvsa32.bin",
                   BuildVersionedExecutable(ExeFormat::Pe32,
                                            ProductVersionInfo(zv::MakeVersion(1, 2, 1, 28), 0x409, "zvsa32.bin")));
    WriteFileText(c + "/WINDOWS/SYSTEM/PLMR32.DLL", "32");
    const std::string machine = "plan --windows-dir " + c + "/WINDOWS --system-dir " + c + "/WINDOWS/SYSTEM --updater ";

    WriteFileBytes(dir / "long.exe", MakePackage({Member("help\\a-member-name-of-some-length.txt", {'x'})}).image);
    ToolRun run = Quillon(machine + (dir / "long.exe"));
    EXPECT_EQ(run.exitCode, 1) << run.out;
    EXPECT_TRUE(Has(run, "the updater stops here: it is longer than a Windows path may be")) << run.out;
    EXPECT_TRUE(Has(run, "show the message \"Invalid directory!\", then the page that says the update is incomplete"))
        << run.out;
    EXPECT_FALSE(Has(run, "result 38")) << run.out;

    Package damaged = MakePackage({Member("zvact32.exe", {'x'})});
    zv::StoreU16LE(damaged.image.data() + kHeaderAt + 6, 65535);  // entryCount past the records
    WriteFileBytes(dir / "damaged.exe", damaged.image);
    run = Quillon(machine + (dir / "damaged.exe"));
    EXPECT_EQ(run.exitCode, 1) << run.out;
    EXPECT_TRUE(Has(run, "Next disabled: This program cannot update Zarvel: its update package is damaged.")) << run.out;
    EXPECT_TRUE(Has(run, "the package cannot be installed: table is damaged (entry 2 ")) << run.out;

    WriteFileBytes(dir / "names.exe", MakePackage({Member("zvact32.exe", {'x'}), Member("zvact32.exe.", {'y'})}).image);
    run = Quillon(machine + (dir / "names.exe"));
    EXPECT_EQ(run.exitCode, 1) << run.out;
    EXPECT_TRUE(Has(run, "Next disabled: This program cannot update Zarvel: its update package is damaged.")) << run.out;
    EXPECT_TRUE(Has(run, "entry 2 'zvact32.exe.': a part of it ends in a dot or a blank")) << run.out;
}

// verify refuses what plan says the updater stops on, whatever the machine:
// a name too long for a path even below a drive's root, and two names that
// Windows' file systems take for one file (by the case rules of the
// package's code page, 1252 here). A sound package passes both.
TEST(QuillonHostile, VerifyRefusesWhatPlanSaysTheUpdaterStopsOn) {
    TempDir dir;
    const std::string c = dir / "C";
    MakeDirs(c + "/WINDOWS/SYSTEM");
    MakeDirs(c + "/ZARVEL");
    WriteFileText(c + "/WINDOWS/zvact.ini", "[setup]\r\ndrive=C\r\ndir=\\ZARVEL\r\n");
    WriteFileBytes(c + "/ZARVEL/zvact32.exe",
                   BuildVersionedExecutable(ExeFormat::Pe32,
                                            ProductVersionInfo(zv::MakeVersion(1, 2, 1, 28), 0x409, "zvact32.exe"),
                                            MarkerBlockBytes(zv::KEY_MARKER_WORD, {0, 0})));
    WriteFileBytes(c + "/ZARVEL/zvsa32.bin",
                   BuildVersionedExecutable(ExeFormat::Pe32,
                                            ProductVersionInfo(zv::MakeVersion(1, 2, 1, 28), 0x409, "zvsa32.bin")));
    WriteFileText(c + "/WINDOWS/SYSTEM/PLMR32.DLL", "32");
    const std::string plan = "plan --windows-dir " + c + "/WINDOWS --system-dir " + c + "/WINDOWS/SYSTEM --updater ";
    struct Case {
        std::vector<std::string> names;
        bool refused;
        const char* planSays;
        const char* verifySays = "";
    } cases[] = {
        {{"zvact32.exe", "readme.txt"}, false, "the progress bar would end at 100%"},
        // Fits below C:\ZARVEL\ but not below every product directory:
        // verify says how long one may be.
        {{"zvact32.exe", std::string(200, 'n')}, false, "the progress bar would end at 100%",
         "only below a directory of at most 59 characters"},
        {{"zvact32.exe", std::string(259, 'n')}, true, "the updater stops here: it is longer than a Windows path"},
        // Short enough for the target, but not for the new copy beside it.
        {{"zvact32.exe", std::string(246, 'd') + "\\x"}, true, "the updater stops here: it is longer than a Windows"},
        {{"zvact32.exe", "\xE9t\xE9.txt", "\xC9T\xC9.TXT"}, true, "its update package is damaged"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(::testing::PrintToString(k.names));
        std::vector<FixtureMember> members;
        for (const std::string& name : k.names) members.push_back(Member(name, {'x'}));
        WriteFileBytes(dir / "zvupdate.exe", MakePackage(members).image);
        const ToolRun planned = Quillon(plan + (dir / "zvupdate.exe"));
        EXPECT_EQ(planned.exitCode, k.refused ? 1 : 0) << planned.out;
        EXPECT_TRUE(Has(planned, k.planSays)) << planned.out;
        const ToolRun verify = Quillon("verify " + (dir / "zvupdate.exe"));
        EXPECT_EQ(verify.exitCode, planned.exitCode) << verify.out;
        EXPECT_EQ(Has(verify, "name refused by the updater"), k.refused) << verify.out;
        EXPECT_TRUE(Has(verify, k.verifySays)) << verify.out;
    }
}
