// The settings reader: the profile functions' rules on texts, and the
// portable platform's lookup of a bare name in the Windows directory.
#include <gtest/gtest.h>

#include <string>

#include "platform/ini_file.h"
#include "platform/posix_platform.h"
#include "tests/support/temp_dir.h"

using namespace zv;

namespace {

// The string answer for `key` of section "setup", with a buffer of `size`.
std::string Value(const std::string& text, const char* key, uint32_t size = 256, const char* section = "setup") {
    char buffer[300];
    uint32_t length = IniString(text.data(), text.size(), section, key, "default", buffer, size);
    EXPECT_EQ(length, std::string(buffer).size());
    return buffer;
}

}  // namespace

TEST(IniFile, StringRules) {
    struct Case {
        const char* rule;
        std::string text;
        const char* key;
        const char* value;
    } cases[] = {
        {"plain", "[setup]\ndir=\\ZARVEL\n", "dir", "\\ZARVEL"},
        {"section and key without regard to case", "[SeTuP]\nDiR=x\n", "dir", "x"},
        {"blanks and tabs around line, key and value", " \t[ setup ]\t\n \t dir \t= \t a b \t\n", "dir", "a b"},
        {"vertical tab and form feed count as blanks", "[setup]\ndir=\v\fx\v\n", "dir", "x"},
        {"double quotes dropped", "[setup]\ndir=\"C:\\A B\"\n", "dir", "C:\\A B"},
        {"single quotes dropped", "[setup]\ndir='x'\n", "dir", "x"},
        {"blanks inside quotes kept", "[setup]\ndir=\"  x  \"\n", "dir", "  x  "},
        {"only one pair", "[setup]\ndir=\"\"x\"\"\n", "dir", "\"x\""},
        {"unlike quotes kept", "[setup]\ndir=\"x'\n", "dir", "\"x'"},
        {"a lone quote kept", "[setup]\ndir=\"\n", "dir", "\""},
        {"empty quotes", "[setup]\ndir=\"\"\n", "dir", ""},
        {"no inline comment", "[setup]\ndir=x ; y # z\n", "dir", "x ; y # z"},
        {"a commented line is another key", "[setup]\n;dir=a\ndir=b\n", "dir", "b"},
        {"first key counts", "[setup]\ndir=a\ndir=b\n", "dir", "a"},
        {"first section counts", "[setup]\na=1\n[other]\n[SETUP]\ndir=b\n", "dir", "default"},
        {"key in another section", "[other]\ndir=a\n[setup]\n", "dir", "default"},
        {"key before any section", "dir=a\n[setup]\n", "dir", "default"},
        {"empty value is present", "[setup]\ndir=\n", "dir", ""},
        {"blank value is present", "[setup]\ndir= \t\n", "dir", ""},
        {"a line without = is not the key", "[setup]\ndir\ndir=b\n", "dir", "b"},
        {"everything after the first =", "[setup]\ndir=a=b\n", "dir", "a=b"},
        {"CRLF", "[setup]\r\ndir=crlf\r\n", "dir", "crlf"},
        {"CR alone", "[setup]\rdir=cr\rinst=2\r", "dir", "cr"},
        {"mixed ends", "[setup]\n\r\ndir=mixed\n\r", "dir", "mixed"},
        {"no final newline", "[setup]\ndir=last", "dir", "last"},
        {"a zero ends the line", std::string("[setup]\ndir=ab\0cd\ne=f\n", 20), "dir", "ab"},
        {"text after ] ignored", "[setup]junk\ndir=x\n", "dir", "x"},
        {"[ without ] is no header", "[other]\n[setup\ndir=x\n", "dir", "default"},
        {"UTF-8 mark skipped", "\xEF\xBB\xBF[setup]\ndir=x\n", "dir", "x"},
        {"no file text", "", "dir", "default"},
    };
    for (const Case& c : cases) EXPECT_EQ(Value(c.text, c.key), c.value) << c.rule;
}

TEST(IniFile, ValuesAndDefaultsAreCutToTheBuffer) {
    std::string text = "[setup]\ndrive=C:\\\ndir=\"abcdefgh\"\n";
    EXPECT_EQ(Value(text, "drive", 3), "C:");
    EXPECT_EQ(Value(text, "dir", 4), "abc");
    EXPECT_EQ(Value(text, "dir", 9), "abcdefgh") << "a value that fits exactly is not cut";
    EXPECT_EQ(Value(text, "dir", 1), "");
    char buffer[16];
    EXPECT_EQ(IniString(text.data(), text.size(), "setup", "missing", "dflt  \t", buffer, sizeof buffer), 4u);
    EXPECT_STREQ(buffer, "dflt") << "a default loses its trailing blanks";
    EXPECT_EQ(IniString(text.data(), text.size(), "setup", "missing", "default", buffer, 4), 3u);
    EXPECT_STREQ(buffer, "def");
    EXPECT_EQ(IniString(text.data(), text.size(), "setup", "missing", nullptr, buffer, sizeof buffer), 0u);
    EXPECT_EQ(IniString(text.data(), text.size(), "setup", "dir", "", buffer, 0), 0u) << "no room at all";
}

TEST(IniFile, IntegerRules) {
    struct Case {
        const char* value;
        uint32_t expected;
    } cases[] = {
        {"2", 2},
        {"  2", 2},
        {"+7", 7},
        {"-5", 0xFFFFFFFBu},
        {"0x1F", 31},
        {"0x1f", 31},
        {"-0x10", 0xFFFFFFF0u},
        {"0X10", 0},  // only a small x makes hexadecimal
        {"0b101", 5},
        {"0o17", 15},
        {"12abc", 12},
        {"3.5", 3},
        {"abc", 0},
        {"-", 0},
        {"0x", 0},
        {"4294967297", 1},  // wraps modulo 2^32
        {"0xFFFFFFFF", 0xFFFFFFFFu},
        {"0777", 777},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseIniInteger(c.value, std::string(c.value).size()), c.expected) << c.value;
    }
    std::string text =
        "[setup]\ninst=2\nempty=\nquoted=\" 42\"\nlong=123456789012345678901234567890123\nword=full\n";
    EXPECT_EQ(IniInteger(text.data(), text.size(), "setup", "inst", 1), 2u);
    EXPECT_EQ(IniInteger(text.data(), text.size(), "setup", "missing", 1), 1u);
    EXPECT_EQ(IniInteger(text.data(), text.size(), "setup", "missing", -3), 0xFFFFFFFDu);
    EXPECT_EQ(IniInteger(text.data(), text.size(), "setup", "empty", 1), 1u) << "an empty value gives the default";
    EXPECT_EQ(IniInteger(text.data(), text.size(), "setup", "quoted", 1), 42u);
    EXPECT_EQ(IniInteger(text.data(), text.size(), "setup", "word", 1), 0u);
    // The value is read through a buffer of 30 characters: of the 33 digits
    // only 12345678901234567890123456789 count (mod 2^32: 1849262357; all 33
    // would give 2789360843).
    EXPECT_EQ(IniInteger(text.data(), text.size(), "setup", "long", 1), 1849262357u);
}

TEST(IniFile, PosixPlatformLooksForABareNameInTheWindowsDirectoryOnly) {
    zvtest::TempDir dir;
    zvtest::MakeDirs(dir / "WINDOWS");
    zvtest::MakeDirs(dir / "work");
    zvtest::WriteFileText(dir / "WINDOWS/ZVACT.INI", "[setup]\r\ndir=\\from\\windows\r\ninst=0x2\r\n");
    zvtest::WriteFileText(dir / "work/zvact.ini", "[setup]\r\ndir=\\from\\work\r\n");
    PosixLayout layout;
    layout.drives['C' - 'A'] = dir.path();
    layout.windowsDir = "C:\\WINDOWS";
    PosixPlatform os(layout);
    ASSERT_TRUE(os.EnterDirectory("C:\\work"));
    char buffer[256];
    EXPECT_EQ(os.ProfileString("setup", "dir", "", buffer, sizeof buffer, "zvact.ini"), 13u);
    EXPECT_STREQ(buffer, "\\from\\windows");
    EXPECT_EQ(os.ProfileInt("setup", "inst", 1, "zvact.ini"), 2u);
    os.ProfileString("setup", "dir", "", buffer, sizeof buffer, "C:\\work\\zvact.ini");
    EXPECT_STREQ(buffer, "\\from\\work") << "a path is taken as it is";
    os.ProfileString("setup", "dir", "none", buffer, sizeof buffer, "other.ini");
    EXPECT_STREQ(buffer, "none");
    EXPECT_EQ(os.ProfileInt("setup", "inst", 1, "other.ini"), 1u);

    PosixPlatform noWindows(PosixLayout{});
    noWindows.ProfileString("setup", "dir", "none", buffer, sizeof buffer, "zvact.ini");
    EXPECT_STREQ(buffer, "none") << "without a Windows directory a bare name is nowhere";
}
