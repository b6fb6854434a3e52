// quillon build as release engineers run it: two builds into one output at
// once, mistyped command lines, mistakes in the description and the output
// found before anything is packed, volumes left from an earlier build, names
// outside ASCII, and the terminal's progress bar and questions.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "quillon/report/progress.h"
#include "quillon/report/terminal_ui.h"
#include "string_ids.h"
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

ToolRun Quillon(const std::string& args) { return zvtest::RunQuillon(args); }

std::vector<uint8_t> Noise(size_t size, unsigned seed) { return zvtest::SampleNoise(size, seed); }

// An unstamped updater, sources and a description in a fresh directory.
struct Tree {
    zvtest::TempDir dir;
    std::string updater = dir / "zvupdate.exe";
    std::string description = dir / "zarvel.txt";
    std::string out = dir / "out";
    std::string setup = dir / "out/SETUP.EXE";

    Tree() {
        zvtest::MakeDirs(dir / "src");
        zvtest::MakeDirs(out);
        WriteFileBytes(updater, zvtest::BlankUpdaterImage(20000, 4321));
        WriteFileBytes(dir / "src/readme.txt", zvtest::SampleText(30000, 1));
        WriteFileBytes(dir / "src/plmr.dll", Noise(45000, 2));
        WriteFileText(description,
                      "version 1.2.1.31\nlanguage 0x0409\n"
                      "file src/readme.txt readme.txt\n"
                      "file src/plmr.dll plmr.dll shared version=1.2.1.28\n");
    }
    std::string Common() const { return description + " --updater " + updater + " --output " + setup; }
    std::vector<std::string> OutFiles() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(out)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

}  // namespace

// Two CI jobs building into one output at the same time: each puts its whole
// package in place (one after the other) and says so, and what is left is
// wholly one build's package, with no temporary or lock file behind.
TEST(QuillonRelease, TwoConcurrentBuildsIntoOneOutputLeaveOneWholePackage) {
    Tree t;
    // Two descriptions of the same size and different contents, each built
    // alone first as the reference.
    // Thirty volumes each, so that the two builds' writing overlaps.
    WriteFileBytes(t.dir / "src/a.bin", Noise(3000000, 11));
    WriteFileBytes(t.dir / "src/b.bin", Noise(3000000, 12));
    for (const char* which : {"a", "b"}) {
        WriteFileText(t.dir / (std::string(which) + ".txt"),
                      std::string("version 1.2.1.31\nlanguage 0x0409\nfile src/") + which + ".bin data.bin\n");
    }
    const std::string volumeSize = " --volume-size 100000";
    auto volumeName = [](const std::string& dir, size_t v) {
        char name[16];
        std::snprintf(name, sizeof name, "/SETUP%03zu", v);
        return dir + name;
    };
    std::vector<std::vector<uint8_t>> reference[2];
    for (int k = 0; k < 2; ++k) {
        const std::string dir = t.dir / ("ref" + std::to_string(k));
        zvtest::MakeDirs(dir);
        const ToolRun run = Quillon("build " + (t.dir / (k == 0 ? "a.txt" : "b.txt")) + " --updater " + t.updater +
                                    " --output " + dir + "/SETUP.EXE" + volumeSize);
        ASSERT_EQ(run.exitCode, 0) << run.out;
        reference[k].push_back(ReadFileBytes(dir + "/SETUP.EXE"));
        for (size_t v = 2; zvtest::FileExists(volumeName(dir, v)); ++v) {
            reference[k].push_back(ReadFileBytes(volumeName(dir, v)));
        }
        ASSERT_GE(reference[k].size(), 30u);
    }
    ASSERT_EQ(reference[0].size(), reference[1].size());

    for (int attempt = 0; attempt < 12; ++attempt) {
        SCOPED_TRACE("attempt " + std::to_string(attempt));
        std::filesystem::remove_all(t.out);
        zvtest::MakeDirs(t.out);
        const std::string build = zvtest::QuillonPath() + " build %s --updater " + t.updater + " --output " +
                                  t.setup + volumeSize + " --jobs 1 >/dev/null 2>&1; echo $? > %s";
        char a[4096], b[4096];
        std::snprintf(a, sizeof a, build.c_str(), (t.dir / "a.txt").c_str(), (t.dir / "a.rc").c_str());
        std::snprintf(b, sizeof b, build.c_str(), (t.dir / "b.txt").c_str(), (t.dir / "b.rc").c_str());
        const ToolRun both = zvtest::RunTool(std::string("(") + a + ") & (" + b + ") & wait");
        ASSERT_EQ(both.exitCode, 0) << both.out;
        // Both put their package in place; neither failed or said so wrongly.
        EXPECT_EQ(ReadFileBytes(t.dir / "a.rc"), std::vector<uint8_t>({'0', '\n'}));
        EXPECT_EQ(ReadFileBytes(t.dir / "b.rc"), std::vector<uint8_t>({'0', '\n'}));

        std::vector<std::vector<uint8_t>> left;
        left.push_back(ReadFileBytes(t.setup));
        for (size_t v = 2; v <= reference[0].size(); ++v) left.push_back(ReadFileBytes(volumeName(t.out, v)));
        EXPECT_TRUE(left == reference[0] || left == reference[1]) << "the volumes in place are no one build's package";
        EXPECT_EQ(t.OutFiles().size(), reference[0].size()) << "temporary or lock files left behind";
    }
}

TEST(QuillonRelease, AMistypedCommandLineNamesTheArgumentAtFault) {
    Tree t;
    struct Case {
        std::string args;
        const char* says;
    } cases[] = {
        {"build " + t.description + " --updater " + t.updater + " --ouput " + t.setup,
         "unknown option '--ouput'; did you mean --output?"},
        {"build " + t.description + " --updater " + t.updater + " -o " + t.setup,
         "unknown option '-o'; did you mean --output?"},
        {"build " + t.Common() + " --output " + (t.dir / "other.exe"), "--output is given twice"},
        {"build " + t.Common() + " --Jobs 2", "unknown option '--Jobs'; options are written in lower case: --jobs"},
        {"build " + t.Common() + " --jobs", "--jobs needs a value"},
        {"build " + t.Common() + " extra.txt", "unexpected argument 'extra.txt'"},
        {"build " + t.description + " --output " + t.setup, "--updater FILE is missing"},
    };
    for (const Case& c : cases) {
        const ToolRun run = Quillon(c.args);
        EXPECT_EQ(run.exitCode, 2) << c.args << "\n" << run.out;
        EXPECT_NE(run.out.find(c.says), std::string::npos) << c.args << "\n" << run.out;
        EXPECT_EQ(run.out.find("Builds the package that DESCRIPTION"), std::string::npos)
            << "the whole help instead of the fault\n" << run.out;
    }
    // --option=value is the same as --option value.
    const ToolRun run = Quillon("build " + t.description + " --updater=" + t.updater + " --output=" + t.setup +
                                " --volume-size=40000 --jobs=2");
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(zvtest::FileExists(t.out + "/SETUP002"));
}

TEST(QuillonRelease, EveryProblemIsListedBeforeAnythingIsPacked) {
    Tree t;
    WriteFileText(t.description,
                  "version 1.2.1.31\nlanguage 0x0409\n"
                  "file src/readme.txt readme.txt\n"
                  "file src/missing.dll missing.dll\n"
                  "file src/plmr.dll plmr.dll shared version=1.2.1.28\n");
    // No output folder, a volume too small for volume 1, a missing source
    // and a bad updater: all four in one run.
    WriteFileBytes(t.dir / "plain.exe", std::vector<uint8_t>(5000, 0x90));
    ToolRun run = Quillon("build " + t.description + " --updater " + (t.dir / "plain.exe") + " --output " +
                          (t.dir / "nodir/SETUP.EXE") + " --volume-size 4000");
    EXPECT_EQ(run.exitCode, 1) << run.out;
    EXPECT_NE(run.out.find("no package header block"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("zarvel.txt:4: " + (t.dir / "src/missing.dll") + ": no such file"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("nodir does not exist"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("3 problems; nothing written"), std::string::npos) << run.out;

    // With a good updater, the volume size is found too, before packing.
    run = Quillon("build " + t.description + " --updater " + t.updater + " --output " + (t.dir / "nodir/SETUP.EXE") +
                  " --volume-size 20010");
    EXPECT_EQ(run.exitCode, 1) << run.out;
    EXPECT_NE(run.out.find("--volume-size 20010: volume 1 cannot hold the updater (20000 bytes)"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("nodir does not exist"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("no such file"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("3 problems; nothing written"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("quillon-tmp"), std::string::npos) << run.out;
}

TEST(QuillonRelease, NoOutputOrVolumeMayBeAnInput) {
    Tree t;
    zvtest::MakeDirs(t.dir / "rel");
    WriteFileBytes(t.dir / "rel/SETUP003", zvtest::SampleText(1000, 5));
    const std::vector<uint8_t> description = ReadFileBytes(t.description);
    WriteFileText(t.dir / "rel/zarvel.txt",
                  "version 1.2.1.31\nlanguage 0x0409\nfile SETUP003 notes.txt\nfile ../src/readme.txt readme.txt\n");
    struct Case {
        std::string args;
        std::string says;
    } cases[] = {
        {"build " + t.description + " --updater " + t.updater + " --output " + t.description,
         "the output would overwrite " + t.description + ", which the build reads"},
        {"build " + t.description + " --updater " + t.updater + " --output " + (t.dir / "src/readme.txt"),
         "which the build reads"},
        {"build " + (t.dir / "rel/zarvel.txt") + " --updater " + t.updater + " --output " + (t.dir / "rel/SETUP.EXE"),
         "volume 3 (" + (t.dir / "rel/SETUP003") + ") would overwrite"},
    };
    for (const Case& c : cases) {
        const ToolRun run = Quillon(c.args);
        EXPECT_EQ(run.exitCode, 1) << c.args << "\n" << run.out;
        EXPECT_NE(run.out.find(c.says), std::string::npos) << c.args << "\n" << run.out;
    }
    EXPECT_EQ(ReadFileBytes(t.description), description);
    EXPECT_EQ(ReadFileBytes(t.dir / "src/readme.txt"), zvtest::SampleText(30000, 1));
    EXPECT_EQ(ReadFileBytes(t.dir / "rel/SETUP003"), zvtest::SampleText(1000, 5));
}

TEST(QuillonRelease, VolumesLeftFromALongerPackageAreRemovedAndNamed) {
    Tree t;
    WriteFileBytes(t.dir / "src/big.bin", Noise(200000, 7));
    WriteFileText(t.dir / "big.txt", "version 1.2.1.31\nlanguage 0x0409\nfile src/big.bin big.bin\n");
    ToolRun run = Quillon("build " + (t.dir / "big.txt") + " --updater " + t.updater + " --output " + t.setup +
                          " --volume-size 30000");
    ASSERT_EQ(run.exitCode, 0) << run.out;
    ASSERT_TRUE(zvtest::FileExists(t.out + "/SETUP008"));
    ASSERT_FALSE(zvtest::FileExists(t.out + "/SETUP009"));
    // A file of a volume's name that is not a volume is left alone.
    WriteFileText(t.out + "/SETUP009", "not a volume");

    // The release package takes two volumes: 3 to 8 are stale.
    run = Quillon("build " + t.Common() + " --volume-size 40000");
    ASSERT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(zvtest::FileExists(t.out + "/SETUP002"));
    for (int v = 3; v <= 8; ++v) {
        const std::string stale = t.out + "/SETUP00" + std::to_string(v);
        EXPECT_FALSE(zvtest::FileExists(stale)) << stale;
        EXPECT_NE(run.out.find(stale), std::string::npos) << run.out;
    }
    EXPECT_NE(run.out.find("removed 6 volumes left from an earlier, longer package"), std::string::npos) << run.out;
    EXPECT_TRUE(zvtest::FileExists(t.out + "/SETUP009"));
    EXPECT_NE(run.out.find(t.out + "/SETUP009 has the name of a volume of this package but is not one"),
              std::string::npos)
        << run.out;
    const ToolRun verify = Quillon("verify " + t.setup);
    EXPECT_EQ(verify.exitCode, 0) << verify.out;
}

TEST(QuillonRelease, NamesOutsideAsciiAreStoredInTheLanguagesCodePageAndListedInUtf8) {
    Tree t;
    WriteFileText(t.description, "version 1.2.1.31\nlanguage 0x0409\nfile src/readme.txt \"doc\\Caf\xC3\xA9.txt\"\n");
    ToolRun run = Quillon("build " + t.Common());
    ASSERT_EQ(run.exitCode, 0) << run.out;
    const std::vector<uint8_t> setup = ReadFileBytes(t.setup);
    const std::string bytes(setup.begin(), setup.end());
    EXPECT_NE(bytes.find(std::string("doc\\Caf\xE9.txt") + '\0'), std::string::npos) << "not stored in code page 1252";
    EXPECT_EQ(bytes.find("Caf\xC3\xA9"), std::string::npos) << "stored as UTF-8";
    const ToolRun list = Quillon("list " + t.setup);
    EXPECT_NE(list.out.find("doc\\Caf\xC3\xA9.txt"), std::string::npos) << list.out;

    // The same name in a Russian package cannot be written there.
    WriteFileText(t.description, "version 1.2.1.31\nlanguage 0x0419\nfile src/readme.txt \"doc\\Caf\xC3\xA9.txt\"\n");
    run = Quillon("build " + t.Common());
    EXPECT_EQ(run.exitCode, 1) << run.out;
    EXPECT_NE(run.out.find("zarvel.txt:3: the name 'doc\\Caf\xC3\xA9.txt' cannot be used: the character"),
              std::string::npos)
        << run.out;
}

TEST(ProgressLine, FitsEveryTerminalWidth) {
    const std::string longName = "help\\" + std::string(80, 'n') + ".hlp";
    for (int columns = 1; columns <= 130; ++columns) {
        for (const std::string& item : {std::string(), std::string("plmr.dll"), longName}) {
            for (int perMille : {0, 505, 1000}) {
                const std::string line = quillon::ProgressLine("packing", perMille, item, columns);
                ASSERT_LT(line.size(), static_cast<size_t>(columns > 1 ? columns : 2))
                    << columns << " columns: " << line;
            }
        }
    }
    // Wide enough: the whole bar, the percentage and the member.
    EXPECT_EQ(quillon::ProgressLine("packing", 505, "plmr.dll", 80),
              "packing [####################....................]  50.5% plmr.dll");
    // Narrow: the bar shrinks before the percentage goes; the end of a long
    // name is kept.
    const std::string narrow = quillon::ProgressLine("packing", 1000, longName, 40);
    EXPECT_EQ(narrow.compare(0, 20, "packing [##########]"), 0) << narrow;
    EXPECT_NE(narrow.find("100.0%"), std::string::npos) << narrow;
    EXPECT_EQ(narrow.substr(narrow.size() - 6), "nn.hlp") << narrow;
}

// The terminal's answers to the updater's questions: only a button's name or
// letter answers; anything else is asked again, Enter takes the default and
// the end of the input gives up.
TEST(TerminalUi, AsksAgainUntilTheAnswerIsAButton) {
    struct Case {
        const char* typed;
        unsigned style;
        int answer;
        int askedAgain;
    } cases[] = {
        {"yes\nx\nc\n", zv::BOX_OKCANCEL, zv::ANSWER_CANCEL, 2},
        {"Cancel\n", zv::BOX_OKCANCEL, zv::ANSWER_CANCEL, 0},
        {"okay\nOK\n", zv::BOX_OKCANCEL, zv::ANSWER_OK, 1},
        {"\n", zv::BOX_RETRYCANCEL, zv::ANSWER_CANCEL, 0},  // the default of a question
        {"", zv::BOX_RETRYCANCEL, zv::ANSWER_CANCEL, 0},    // no more input
        {"q\nretry\n", zv::BOX_RETRYCANCEL, zv::ANSWER_RETRY, 1},
        {"i\n", zv::BOX_ABORTRETRYIGNORE, zv::ANSWER_IGNORE, 0},
        {"o\n", zv::BOX_ABORTRETRYIGNORE, zv::ANSWER_ABORT, 1},  // o is no button here; then no input
    };
    for (const Case& c : cases) {
        std::FILE* in = std::tmpfile();
        std::FILE* out = std::tmpfile();
        ASSERT_NE(in, nullptr);
        ASSERT_NE(out, nullptr);
        std::fputs(c.typed, in);
        std::rewind(in);
        quillon::TerminalUi ui(in, out);
        const zv::MessageRequest m{0, zv::IDS_READ_ERROR, "zvsa.bin: read error!", "quillon", c.style};
        EXPECT_EQ(ui.ShowMessage(m), c.answer) << c.typed;
        std::rewind(out);
        std::string said;
        char block[512];
        size_t n;
        while ((n = std::fread(block, 1, sizeof block, out)) > 0) said.append(block, n);
        size_t again = 0;
        for (size_t at = said.find("is not an answer"); at != std::string::npos;
             at = said.find("is not an answer", at + 1)) {
            ++again;
        }
        EXPECT_EQ(again, static_cast<size_t>(c.askedAgain)) << c.typed << "\n" << said;
        std::fclose(in);
        std::fclose(out);
    }
}

// Ended in the middle of a member (Ctrl-C, or the end of a CI job): no member
// file is left, whole or in part, nor its temporary. A shell's background job
// ignores SIGINT, so the test sends SIGTERM, which takes the same way.
TEST(QuillonRelease, AnInterruptedExtractLeavesNoPartOfAMember) {
    Tree t;
    const std::vector<uint8_t> big = Noise(8000000, 21);
    WriteFileBytes(t.dir / "src/big.bin", big);
    WriteFileText(t.description, "version 1.2.1.31\nlanguage 0x0409\nfile src/big.bin big.bin\n");
    ASSERT_EQ(Quillon("build " + t.Common()).exitCode, 0);

    // Ended as soon as the member's file, or extract's own new file for it,
    // appears under x.
    const std::string x = t.dir / "x";
    const ToolRun run = zvtest::RunTool(zvtest::QuillonPath() + " extract " + t.setup + " " + x +
                                        " >/dev/null 2>&1 & pid=$!; n=0; "
                                        "until [ -n \"$(ls -A " + x + " 2>/dev/null)\" ] || [ $n -ge 3000 ]; do n=$((n+1)); "
                                        "sleep 0.01; done; kill -TERM $pid; wait $pid; echo \"status $?\"");
    ASSERT_NE(run.out.find("status 143"), std::string::npos) << "the extract was not interrupted: " << run.out;
    std::vector<std::string> left;
    for (const auto& e : std::filesystem::directory_iterator(x)) left.push_back(e.path().filename().string());
    EXPECT_TRUE(left.empty()) << left.front() << " is left behind";
}

// Ended while packing, after some members are packed and kept in the
// scratch file beside the output: nothing is left in the output's folder,
// neither that file nor a volume. The build is ended once the scratch file
// is open and holds bytes (seen through /proc, where it stays visible after
// its name is gone); a build that left it under its name would fail here too.
TEST(QuillonRelease, AnInterruptedBuildLeavesNoTemporaryFile) {
    if (!std::filesystem::exists("/proc/self/fd")) GTEST_SKIP() << "no /proc to watch the build's open files";
    Tree t;
    std::string description = "version 1.2.1.31\nlanguage 0x0409\n";
    for (unsigned i = 0; i < 6; ++i) {
        const std::string name = "m" + std::to_string(i) + ".bin";
        WriteFileBytes(t.dir / ("src/" + name), Noise(i == 0 ? 4000000 : 2000000, 30 + i));
        description += "file src/" + name + " " + name + "\n";
    }
    WriteFileText(t.description, description);

    const ToolRun run = zvtest::RunTool(
        zvtest::QuillonPath() + " build " + t.Common() + " --jobs 1 >/dev/null 2>&1 & pid=$!; n=0; "
        "until (for f in /proc/$pid/fd/*; do case \"$(readlink $f)\" in *quillon-tmp*) "
        "[ \"$(stat -L -c %s $f 2>/dev/null)\" -gt 0 ] 2>/dev/null && exit 0;; esac; done; exit 1); "
        "do [ $n -ge 3000 ] && break; n=$((n+1)); sleep 0.01; done; kill -TERM $pid; wait $pid; echo \"status $?\"");
    ASSERT_NE(run.out.find("status 143"), std::string::npos) << "the build was not interrupted: " << run.out;
    const std::vector<std::string> left = t.OutFiles();
    EXPECT_TRUE(left.empty()) << left.front() << " is left behind";
}

// A normal build tree: sources under other names and folders than the
// members'. --description finds each member's source as the build did.
TEST(QuillonRelease, VerifyWithTheDescriptionComparesEachMemberWithItsSource) {
    Tree t;
    zvtest::MakeDirs(t.dir / "src/bin");
    WriteFileBytes(t.dir / "src/bin/zvact32.exe", Noise(20000, 31));
    WriteFileBytes(t.dir / "src/help.hlp", zvtest::SampleText(9000, 32));
    WriteFileText(t.description,
                  "version 1.2.1.31\nlanguage 0x0409\n"
                  "file src/readme.txt readme.txt\n"
                  "file src/bin/zvact32.exe zvact32.exe update-only version=1.2.1.31\n"
                  "file src/help.hlp \"help\\Zarvel Hilfe.hlp\"\n");
    ASSERT_EQ(Quillon("build " + t.Common()).exitCode, 0);

    ToolRun run = Quillon("verify " + t.setup + " --description " + t.description);
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_NE(run.out.find("ok    help\\Zarvel Hilfe.hlp"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("all 3 members sound"), std::string::npos) << run.out;
    // By member name under src, two of the three are not found.
    run = Quillon("verify " + t.setup + " --source " + (t.dir / "src"));
    EXPECT_EQ(run.exitCode, 1) << run.out;
    EXPECT_NE(run.out.find("2 of 3 members are not sound"), std::string::npos) << run.out;

    // A changed source, and a member the description has and the package
    // has not.
    WriteFileBytes(t.dir / "src/bin/zvact32.exe", Noise(20000, 33));
    WriteFileText(t.dir / "src/new.txt", "new");
    const std::vector<uint8_t> described = ReadFileBytes(t.description);
    WriteFileText(t.description, std::string(described.begin(), described.end()) + "file src/new.txt new.txt\n");
    run = Quillon("verify " + t.setup + " --description " + t.description);
    EXPECT_EQ(run.exitCode, 1) << run.out;
    EXPECT_NE(run.out.find("BAD   zvact32.exe                      differs from its source"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("BAD   new.txt                          in the description, but not in the package"),
              std::string::npos)
        << run.out;
    run = Quillon("verify " + t.setup + " --description " + t.description + " --source " + t.dir.path());
    EXPECT_EQ(run.exitCode, 2) << run.out;
}

// --json gives one JSON object that a script can read.
TEST(QuillonRelease, ListAndVerifySpeakJson) {
    Tree t;
    WriteFileText(t.description,
                  "version 1.2.1.31\nlanguage 0x0407\n"
                  "file src/readme.txt \"Liesmich \xC3\xBC.txt\"\n"
                  "file src/plmr.dll plmr.dll shared version=1.2.1.28\n");
    ASSERT_EQ(Quillon("build " + t.Common() + " --volume-size 40000").exitCode, 0);
    // A small script reads the JSON and prints what a release script would
    // take from it.
    auto read = [&t](const std::string& command, const std::string& expression) {
        WriteFileText(t.dir / "read.py", "import json, sys\nd = json.load(open(sys.argv[1]))\nprint(" + expression + ")\n");
        // The questions and notes on stderr stay out of the JSON on stdout.
        const ToolRun made =
            zvtest::RunTool("(" + zvtest::QuillonPath() + " " + command + " > " + (t.dir / "out.json") + " 2>/dev/null)");
        const ToolRun read = zvtest::RunTool("python3 " + (t.dir / "read.py") + " " + (t.dir / "out.json"));
        return ToolRun{made.exitCode, read.exitCode == 0 ? read.out : made.out + read.out};
    };
    ToolRun run = read("list " + t.setup + " --json",
                       "d['language'], d['languageName'], d['version']['parts'], "
                       "[(e['name'], e['flags'], e['version'] and e['version']['parts'], "
                       "[p['volume'] for p in e['pieces']]) for e in d['entries']]");
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_EQ(run.out,
              "1031 German (Germany) 1.2.1.31 [('plmr.dll', ['shared'], '1.2.1.28', [1, 2]), "
              "('Liesmich \xC3\xBC.txt', [], None, [2])]\n");

    std::remove((t.out + "/SETUP002").c_str());
    run = read("verify " + t.setup + " --json", "d['sound'], d['bad'], [(m['name'], m['ok'], m['problem'] is None) "
                                                "for m in d['members']]");
    EXPECT_EQ(run.exitCode, 1) << run.out;
    EXPECT_EQ(run.out, "False 2 [('plmr.dll', False, False), ('Liesmich \xC3\xBC.txt', False, False)]\n");
}

// On a terminal, verify and extract show a bar with the member being worked
// on, within the terminal's width.
TEST(QuillonRelease, VerifyAndExtractShowProgressWithTheMember) {
    Tree t;
    WriteFileBytes(t.dir / "src/big.bin", zvtest::SampleText(3000000, 41));
    WriteFileText(t.description, "version 1.2.1.31\nlanguage 0x0409\nfile src/big.bin \"data\\big.bin\"\n"
                                 "file src/readme.txt readme.txt\n");
    ASSERT_EQ(Quillon("build " + t.Common()).exitCode, 0);
    for (const std::string& command : {"verify " + t.setup, "extract " + t.setup + " " + (t.dir / "x")}) {
        const ToolRun run = zvtest::RunTool("stty cols 45 2>/dev/null; script -qec \"stty cols 45; " +
                                            zvtest::QuillonPath() + " " + command + "\" /dev/null");
        ASSERT_EQ(run.exitCode, 0) << run.out;
        const std::string label = command.substr(0, command.find(' ')) == "verify" ? "verifying [" : "extracting [";
        EXPECT_NE(run.out.find(label), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("% data\\big.bin"), std::string::npos) << run.out;
        // Every drawing of the bar, between carriage returns, fits 44 columns.
        size_t drawn = 0;
        for (size_t at = run.out.find('\r'); at != std::string::npos;) {
            const size_t next = run.out.find_first_of("\r\n", at + 1);
            const std::string piece = run.out.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1);
            if (piece.find('[') != std::string::npos) {
                ++drawn;
                EXPECT_LT(piece.size(), 45u) << piece;
            }
            at = next == std::string::npos ? next : run.out.find('\r', next);
        }
        EXPECT_GT(drawn, 2u) << run.out;
    }
}

namespace {

bool CanSign() {
    return zvtest::RunTool("osslsigncode --version").exitCode == 0 && zvtest::RunTool("openssl version").exitCode == 0;
}

// A self-signed code-signing certificate and its key.
bool MakeCertificate(const std::string& dir, const std::string& pass) {
    const std::string passArgs = pass.empty() ? " -nodes" : " -passout pass:" + pass;
    return zvtest::RunTool("openssl req -x509 -newkey rsa:2048 -sha256 -days 30 -subj /CN=Zarvel-Test" + passArgs +
                           " -addext extendedKeyUsage=codeSigning -keyout " + dir + "/key.pem -out " + dir +
                           "/cert.pem")
               .exitCode == 0;
}

// An unsigned updater that Windows would load: a PE image with the package
// header block behind its sections.
std::vector<uint8_t> PeUpdater() {
    std::vector<uint8_t> pe = zvtest::BuildVersionedExecutable(
        zvtest::ExeFormat::Pe32, zvtest::ProductVersionInfo(zv::MakeVersion(1, 2, 1, 31), 0x409, "zvupdate.exe"));
    const std::vector<uint8_t> blank = zvtest::BlankUpdaterImage(64, 16);
    pe.insert(pe.end(), blank.begin() + 16, blank.begin() + 48);
    pe.resize(pe.size() + 4000, 0);
    return pe;
}

}  // namespace

TEST(QuillonRelease, SignsVolumeOneWithinTheVolumeSizeAndItStillReadsBack) {
    if (!CanSign()) GTEST_SKIP() << "osslsigncode or openssl is not installed: signing is not tested";
    Tree t;
    ASSERT_TRUE(MakeCertificate(t.dir.path(), "secret"));
    WriteFileBytes(t.updater, PeUpdater());
    const std::string sign = " --sign-cert " + (t.dir / "cert.pem") + " --sign-key " + (t.dir / "key.pem");
    ToolRun run = Quillon("build " + t.Common() + sign + " --sign-pass secret --volume-size 40000");
    ASSERT_EQ(run.exitCode, 0) << run.out;
    EXPECT_NE(run.out.find("volume 1 signed"), std::string::npos) << run.out;
    const std::vector<uint8_t> first = ReadFileBytes(t.setup);
    EXPECT_NE(run.out.find("volume 1: " + t.setup + " (" + std::to_string(first.size()) + " bytes)"), std::string::npos)
        << "the summary gives the signed size: " << run.out;
    EXPECT_LE(first.size(), 40000u);
    EXPECT_GT(first.size(), 30000u) << "volume 1 holds data up to the room kept for the signature";
    const ToolRun verified =
        zvtest::RunTool("osslsigncode verify -CAfile " + (t.dir / "cert.pem") + " -in " + t.setup);
    EXPECT_EQ(verified.exitCode, 0) << verified.out;

    // The package reads back through the updater's own code.
    run = Quillon("verify " + t.setup + " --description " + t.description);
    EXPECT_EQ(run.exitCode, 0) << run.out;
    run = Quillon("extract " + t.setup + " " + (t.dir / "x"));
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_EQ(ReadFileBytes(t.dir / "x/plmr.dll"), ReadFileBytes(t.dir / "src/plmr.dll"));

    // A wrong password: nothing is put in place.
    std::filesystem::remove_all(t.out);
    zvtest::MakeDirs(t.out);
    run = Quillon("build " + t.Common() + sign + " --sign-pass wrong");
    EXPECT_EQ(run.exitCode, 1) << run.out;
    EXPECT_NE(run.out.find("osslsigncode sign failed"), std::string::npos) << run.out;
    EXPECT_TRUE(t.OutFiles().empty());
}

TEST(QuillonRelease, ASignedUpdaterIsRefusedOrItsSignatureTakenOutWhenAsked) {
    if (!CanSign()) GTEST_SKIP() << "osslsigncode or openssl is not installed: signing is not tested";
    Tree t;
    ASSERT_TRUE(MakeCertificate(t.dir.path(), ""));
    const std::vector<uint8_t> unsigned_ = PeUpdater();
    WriteFileBytes(t.dir / "plain.exe", unsigned_);
    std::filesystem::remove(t.updater);  // osslsigncode writes no file over another
    ASSERT_EQ(zvtest::RunTool("osslsigncode sign -certs " + (t.dir / "cert.pem") + " -key " + (t.dir / "key.pem") +
                              " -in " + (t.dir / "plain.exe") + " -out " + t.updater)
                  .exitCode,
              0);
    ToolRun run = Quillon("build " + t.Common());
    EXPECT_EQ(run.exitCode, 1) << run.out;
    EXPECT_NE(run.out.find("it is signed, and stamping the package into it would break the signature"),
              std::string::npos)
        << run.out;
    EXPECT_TRUE(t.OutFiles().empty());

    run = Quillon("build " + t.Common() + " --strip-signature");
    ASSERT_EQ(run.exitCode, 0) << run.out;
    // The updater's image in the output is the unsigned one, stamped.
    const std::vector<uint8_t> out = ReadFileBytes(t.setup);
    ASSERT_GT(out.size(), unsigned_.size());
    size_t differing = 0;
    for (size_t k = 0; k < unsigned_.size(); ++k) differing += out[k] != unsigned_[k];
    EXPECT_LE(differing, 32u) << "more than the header block changed";
    EXPECT_EQ(Quillon("verify " + t.setup).exitCode, 0);
}

TEST(QuillonRelease, SigningProblemsAreFoundBeforePacking) {
    Tree t;
    ToolRun run = Quillon("build " + t.Common() + " --sign-cert " + (t.dir / "none.pem"));
    EXPECT_EQ(run.exitCode, 1) << run.out;
    EXPECT_NE(run.out.find("--sign-cert needs --sign-key"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("none.pem: no such file"), std::string::npos) << run.out;
    // Without the tool, signing cannot be done, and it is said so.
    run = zvtest::RunTool("QUILLON_OSSLSIGNCODE=/nonexistent/osslsigncode " + zvtest::QuillonPath() + " build " +
                          t.Common() + " --sign-cert " + t.description + " --sign-key " + t.description);
    EXPECT_EQ(run.exitCode, 1) << run.out;
    EXPECT_NE(run.out.find("signing needs osslsigncode"), std::string::npos) << run.out;
    run = Quillon("build " + t.Common() + " --timestamp http://ts.example");
    EXPECT_EQ(run.exitCode, 2) << run.out;
    EXPECT_NE(run.out.find("--timestamp is for signing"), std::string::npos) << run.out;
}
