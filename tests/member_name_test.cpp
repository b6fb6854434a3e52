// The one check of members' names: every name the updater would write stays
// in its directory, names the file it seems to name, and leaves the updater's
// own working files alone; no two names of a package are equal without
// regard to case.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "package/member_name.h"

using namespace zv;

namespace {

struct NameCase {
    std::string name;
    MemberNameProblem problem;
};

MemberNamesCheck CheckList(const std::vector<std::string>& list) {
    std::vector<const char*> names;
    for (const std::string& n : list) names.push_back(n.c_str());
    std::vector<uint32_t> scratch(list.size());
    return CheckMemberNames(names.data(), static_cast<uint32_t>(names.size()), scratch.data());
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
        // Case folds A to Z only: these are two names.
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
