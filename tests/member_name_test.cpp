// The one check of members' names: every name the updater would write stays
// in its directory, names the file it seems to name, and leaves the updater's
// own working files alone; no two names of a package name the same file by
// the case rules of the file system in the package's code page.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "package/member_name.h"
#include "platform/code_page.h"

using namespace zv;

namespace {

struct NameCase {
    std::string name;
    MemberNameProblem problem;
};

// Checks a list in code page `codePage` (0: a language without one, so A to
// Z are the only letters with a case).
MemberNamesCheck CheckList(const std::vector<std::string>& list, uint16_t codePage = 0) {
    std::vector<const char*> names;
    for (const std::string& n : list) names.push_back(n.c_str());
    std::vector<uint32_t> scratch(list.size());
    return CheckMemberNames(names.data(), static_cast<uint32_t>(names.size()), codePage, scratch.data());
}

}  // namespace

TEST(MemberName, EachNameIsJudgedAsWindowsWouldOpenIt) {
    using P = MemberNameProblem;
    const NameCase cases[] = {
        {"zvact.exe", P::None},
        {"help\\index.txt", P::None},
        {"maps\\eu\\de.map", P::None},
        {" lead.txt", P::None},               // a leading blank is kept by Windows
        {"a.b.c", P::None},
        {"console.txt", P::None},             // not a device: the base is "console"
        {"com10", P::None},
        {"lpt", P::None},
        {"nul-file", P::None},
        {"zv~new.tmp", P::None},
        {"caf\xE9.txt", P::None},             // a letter of the code page
        {std::string(259, 'n'), P::None},
        {"", P::Empty},
        {std::string(260, 'n'), P::TooLong},
        {"\\evil.txt", P::Absolute},
        {"/evil.txt", P::Absolute},
        {"\\\\server\\share\\x", P::Absolute},
        {"C:\\evil.txt", P::Colon},
        {"C:evil.txt", P::Colon},
        {"file.txt:stream", P::Colon},
        {"a\\\\b", P::EmptyPart},
        {"dir\\", P::EmptyPart},
        {".", P::DotPart},
        {"..\\secret.txt", P::DotPart},
        {"sub\\..\\..\\evil.txt", P::DotPart},
        {".\\x", P::DotPart},
        {"a\\.", P::DotPart},
        {"\x1B]0;title\x07", P::ControlCharacter},
        {"line\nbreak", P::ControlCharacter},
        {"del\x7F", P::ControlCharacter},
        {"tab\there", P::ControlCharacter},
        {"sub/x.txt", P::ForbiddenCharacter},
        {"a<b", P::ForbiddenCharacter},
        {"a>b", P::ForbiddenCharacter},
        {"a\"b", P::ForbiddenCharacter},
        {"a|b", P::ForbiddenCharacter},
        {"what?", P::ForbiddenCharacter},
        {"*.exe", P::ForbiddenCharacter},
        {"zvact.exe.", P::TrailingDotOrBlank},
        {"zvact.exe ", P::TrailingDotOrBlank},
        {"dir.\\x", P::TrailingDotOrBlank},
        {"...", P::TrailingDotOrBlank},
        {"CON", P::DeviceName},
        {"con", P::DeviceName},
        {"Prn.txt", P::DeviceName},
        {"aux.tar.gz", P::DeviceName},
        {"NUL", P::DeviceName},
        {"nul .txt", P::DeviceName},
        {"COM1", P::DeviceName},
        {"com9.log", P::DeviceName},
        {"LPT1", P::DeviceName},
        {"lpt0", P::DeviceName},
        {"com\xB9", P::DeviceName},           // COM with a superscript one
        {"CONIN$", P::DeviceName},
        {"conout$.x", P::DeviceName},
        {"sub\\con\\x.txt", P::DeviceName},
        {"help\\LPT3.hlp", P::DeviceName},
        {"~zvnew.tmp", P::Reserved},
        {"~ZVNEW.TMP", P::Reserved},
        {"~zvnew.$ZV", P::Reserved},
        {"help\\~zvnew.tmp", P::Reserved},
        {"~zv", P::Reserved},
        {"~ZvBackup\\x", P::Reserved},
    };
    for (const NameCase& c : cases) {
        EXPECT_EQ(CheckMemberName(c.name.c_str()), c.problem)
            << "'" << c.name << "': " << MemberNameProblemName(CheckMemberName(c.name.c_str()));
    }
    EXPECT_STRNE(MemberNameProblemName(MemberNameProblem::DeviceName),
                 MemberNameProblemName(MemberNameProblem::Reserved));
}

TEST(MemberName, ListsReportTheFirstProblemAndDuplicatesWithoutRegardToCase) {
    struct ListCase {
        std::vector<std::string> names;
        MemberNameProblem problem;
        uint32_t index;
        uint32_t earlier;
    };
    using P = MemberNameProblem;
    const ListCase cases[] = {
        {{}, P::None, 0, 0},
        {{"a", "b", "help\\a"}, P::None, 0, 0},
        {{"zvact.exe", "readme.txt", "ZVACT.EXE"}, P::Duplicate, 2, 0},
        {{"Help\\Index.txt", "x", "help\\index.TXT"}, P::Duplicate, 2, 0},
        // Three of a kind: the second is the first duplicate.
        {{"q", "a", "A", "a"}, P::Duplicate, 2, 1},
        // Two pairs: the one whose later name comes first is told.
        {{"b", "a", "c", "A", "B"}, P::Duplicate, 3, 1},
        // A bad name before any duplicate is told first, and the other way round.
        {{"x", "..\\y", "X"}, P::DotPart, 1, 0},
        {{"x", "X", "..\\y"}, P::Duplicate, 1, 0},
        // Without a code page only A to Z fold: these are two names.
        {{"caf\xE9", "caf\xC9"}, P::None, 0, 0},
    };
    for (const ListCase& c : cases) {
        const MemberNamesCheck check = CheckList(c.names);
        EXPECT_EQ(check.problem, c.problem) << ::testing::PrintToString(c.names);
        if (c.problem == P::None) continue;
        EXPECT_EQ(check.index, c.index) << ::testing::PrintToString(c.names);
        if (c.problem == P::Duplicate) {
            EXPECT_EQ(check.earlier, c.earlier) << ::testing::PrintToString(c.names);
        }
    }
}

TEST(MemberName, ALongListWithOneDuplicateAtTheEndIsFound) {
    std::vector<std::string> names;
    for (int i = 0; i < 65535; ++i) names.push_back("dir\\file" + std::to_string(i) + ".bin");
    EXPECT_EQ(CheckList(names).problem, MemberNameProblem::None);
    names.back() = "DIR\\FILE12345.BIN";
    const MemberNamesCheck check = CheckList(names);
    EXPECT_EQ(check.problem, MemberNameProblem::Duplicate);
    EXPECT_EQ(check.index, 65534u);
    EXPECT_EQ(check.earlier, 12345u);
}

// Pairs of names: one file for Windows' file systems (which upper-case each
// character by its simple Unicode mapping) or two, in the code page of the
// package's language.
TEST(MemberName, NamesThatDifferOnlyInCaseAreOneFileByTheRulesOfTheirCodePage) {
    struct PairCase {
        uint16_t codePage;
        const char* a;
        const char* b;
        bool sameFile;
    } cases[] = {
        {1252, "zvact.exe", "ZVACT.EXE", true},
        {1252, "\xE9t\xE9.txt", "\xC9T\xC9.TXT", true},  // été, ÉTÉ
        {1252, "help\\\xDC" "bersicht.hlp", "HELP\\\xFC" "bersicht.hlp", true},
        {1252, "\x9A.txt", "\x8A.txt", true},            // š, Š
        {1252, "\xFF.txt", "\x9F.txt", true},            // ÿ, Ÿ: both in 1252
        {1252, "\xDF.txt", "SS.txt", false},            // ß has no one-character upper case
        {1252, "\xDF.txt", "s.txt", false},
        {1252, "\xB5.txt", "M.txt", false},             // µ: its upper case (Greek Mu) is not in 1252
        {1252, "\x83.txt", "F.txt", false},             // ƒ: neither is its upper case
        {1252, "\xE9t\xE9", "\xC9t\xC9.txt", false},    // the same letters, another length
        {0, "\xE9t\xE9.txt", "\xC9T\xC9.TXT", false},    // no code page: only A to Z
        {1250, "\x9A\xB9\xBE.txt", "\x8A\xA5\xBC.txt", true},  // šąľ, ŠĄĽ
        {1250, "\xFF.txt", "\x9F.txt", false},           // ˙ and Ź: not letters of one case pair
        {1251, "\xF4\xE0\xE9\xEB.txt", "\xD4\xC0\xC9\xCB.TXT", true},  // файл, ФАЙЛ
        {1251, "\xB8\x90.txt", "\xA8\x80.txt", true},     // ёђ, ЁЂ
        {1251, "\xB5.txt", "\xCC.txt", false},           // µ, М
        {1253, "\xF2.txt", "\xF3.txt", true},            // final sigma and sigma are both Σ
        {1253, "\xDC.txt", "\xA2.txt", true},            // ά, Ά
        {1253, "\xB5.txt", "\xCC.txt", true},            // µ upper-cases to Greek Mu, which 1253 has
        {1254, "\xFD.txt", "I.txt", true},              // dotless ı upper-cases to I
        {1254, "i.txt", "I.txt", true},
        {1254, "\xDD.txt", "i.txt", false},             // İ is its own upper case
        {1255, "\xE0.txt", "\xC0.txt", false},           // Hebrew has no case
        {1256, "\xE9.txt", "\xC9.txt", false},           // é and an Arabic letter
        {874, "\xE0.txt", "\xC0.txt", false},            // Thai has no case
        {1257, "\xE0.txt", "\xC0.txt", true},            // ą, Ą
        {1258, "\xE0.txt", "\xC0.txt", true},            // à, À
        // Two-byte code pages: a lead byte and its trail are one character,
        // never folded as ASCII; their full-width letters have a case.
        {932, "\x82\x81.txt", "\x82\x60.txt", true},      // ａ, Ａ
        {932, "\x83\x61.txt", "\x83\x41.txt", false},     // two katakana whose trail bytes are a and A
        {932, "A\x83\x61.txt", "a\x83\x61.TXT", true},
        {936, "\xA3\xE1.txt", "\xA3\xC1.txt", true},      // ａ, Ａ
        {949, "\xA3\xE1.txt", "\xA3\xC1.txt", true},
        {950, "\xA2\xE9.txt", "\xA2\xCF.txt", true},
        {932, "x\x82", "X\x82", true},                  // a lead byte at the end stands alone
    };
    for (const PairCase& c : cases) {
        const std::string shown = std::to_string(c.codePage) + ": " + ::testing::PrintToString(c.a) + " and " +
                                  ::testing::PrintToString(c.b);
        EXPECT_EQ(CompareMemberNames(c.a, c.b, c.codePage) == 0, c.sameFile) << shown;
        EXPECT_EQ(CompareMemberNames(c.b, c.a, c.codePage) == 0, c.sameFile) << shown;
        if (!c.sameFile) {
            EXPECT_EQ(CompareMemberNames(c.a, c.b, c.codePage) < 0, CompareMemberNames(c.b, c.a, c.codePage) > 0)
                << shown;
        }
        const MemberNamesCheck check = CheckList({c.a, "other.txt", c.b}, c.codePage);
        EXPECT_EQ(check.problem, c.sameFile ? MemberNameProblem::Duplicate : MemberNameProblem::None) << shown;
        if (c.sameFile) {
            EXPECT_EQ(check.index, 2u) << shown;
            EXPECT_EQ(check.earlier, 0u) << shown;
        }
    }
}

// The code page whose case rules a package's names follow is the ANSI code
// page of a system of the package's language, sublanguages included.
TEST(MemberName, ThePackageLanguageGivesTheCodePage) {
    const struct {
        uint32_t language;
        uint16_t codePage;
    } cases[] = {
        {0x0409, 1252}, {0x0C0C, 1252}, {0x0405, 1250}, {0x0419, 1251}, {0x0408, 1253}, {0x041F, 1254},
        {0x040D, 1255}, {0x0401, 1256}, {0x0427, 1257}, {0x042A, 1258}, {0x041E, 874},  {0x0411, 932},
        {0x0804, 936},  {0x1004, 936},  {0x0412, 949},  {0x0404, 950},  {0x0C04, 950},  {0x081A, 1250},
        {0x0C1A, 1251}, {0x201A, 1251}, {0x042C, 1254}, {0x082C, 1251}, {0x0843, 1251}, {0x0450, 1251},
        {0x0850, 0},    {0x085D, 1252}, {0x045D, 0},    {0x0439, 0},    {0x0000, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LanguageCodePage(c.language), c.codePage) << std::hex << c.language;
    }
}
