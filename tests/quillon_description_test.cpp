// The package description of quillon build, and the layout of a package over
// its table region and volumes.
#include <gtest/gtest.h>

#include <string>

#include "package/integrity.h"
#include "quillon/pack/description.h"
#include "quillon/pack/package_layout.h"

using quillon::DescriptionError;
using quillon::PackageDescription;
using quillon::ParseDescription;

namespace {

const char kHead[] = "version 1.2.1.31\nlanguage 0x0409\n";

}  // namespace

TEST(PackageDescription, ReadsEveryPart) {
    const std::string text =
        "# the update\r\n"
        "version  1.2.1.31   # the product\r\n"
        "language 1033\r\n"
        "\r\n"
        "file bin/plmr.dll   plmr.dll  shared version=1.2.1.28\r\n"
        "file \"my docs/read me.txt\"  \"doc\\read me.txt\"\r\n"
        "file\tbin/zvsa.bin\tsub\\zvsa.bin\tignored update-only\tversion=auto\r\n";
    PackageDescription d;
    std::vector<DescriptionError> errors;
    ASSERT_TRUE(ParseDescription(text, &d, &errors)) << errors[0].line << ": " << errors[0].message;
    EXPECT_EQ(d.version.high, 0x00010002u);
    EXPECT_EQ(d.version.low, 0x0001001Fu);
    EXPECT_EQ(d.language, 0x0409u);
    ASSERT_EQ(d.members.size(), 3u);
    EXPECT_EQ(d.members[0].source, "bin/plmr.dll");
    EXPECT_EQ(d.members[0].name, "plmr.dll");
    EXPECT_EQ(d.members[0].flags, zv::ENTRY_SHARED);
    EXPECT_EQ(d.members[0].versionSource, quillon::VersionSource::Given);
    EXPECT_EQ(d.members[0].version.low, 0x0001001Cu);
    EXPECT_EQ(d.members[0].line, 5u);
    EXPECT_EQ(d.members[1].source, "my docs/read me.txt");
    EXPECT_EQ(d.members[1].name, "doc\\read me.txt");
    EXPECT_EQ(d.members[1].flags, 0);
    EXPECT_EQ(d.members[1].versionSource, quillon::VersionSource::None);
    EXPECT_EQ(d.members[2].name, "sub\\zvsa.bin");
    EXPECT_EQ(d.members[2].flags, zv::ENTRY_IGNORED | zv::ENTRY_UPDATE_ONLY);
    EXPECT_EQ(d.members[2].versionSource, quillon::VersionSource::Auto);
}

TEST(PackageDescription, ReportsEveryProblemWithItsLine) {
    struct Case {
        std::string text;
        unsigned line;  // of the first problem; 0: the file as a whole
        const char* says;
    } cases[] = {
        {"language 0x409\nfile a a\n", 0, "package version is missing"},
        {"version 1.2.1.31\nfile a a\n", 0, "package language is missing"},
        {kHead, 0, "lists no files"},
        {std::string(kHead) + "fiel a a\n", 3, "unknown keyword 'fiel'"},
        {"version 1.2.3\nlanguage 1\nfile a a\n", 1, "'1.2.3' is not a version"},
        {"version 1.2.3.65536\nlanguage 1\nfile a a\n", 1, "is not a version"},
        {"version 1.2.-3.4\nlanguage 1\nfile a a\n", 1, "is not a version"},
        {"version 0.0.0.0\nlanguage 1\nfile a a\n", 1, "0.0.0.0 is not allowed"},
        {"version 1.2.3.4\nversion 1.2.3.4\nlanguage 1\nfile a a\n", 2, "given twice"},
        {"version 1.2.3.4\nlanguage 0x10000\nfile a a\n", 2, "not a language id"},
        {"version 1.2.3.4\nlanguage english\nfile a a\n", 2, "not a language id"},
        {"version 1.2.3.4\nlanguage 1 2\nfile a a\n", 2, "expected: language"},
        {std::string(kHead) + "file a\n", 3, "expected: file SOURCE NAME"},
        {std::string(kHead) + "file a b sharde\n", 3, "unknown flag 'sharde'"},
        {std::string(kHead) + "file a b ignored ignored\n", 3, "ignored is given twice"},
        {std::string(kHead) + "file a b shared\n", 3, "needs a version"},
        {std::string(kHead) + "file a b update-only\n", 3, "needs a version"},
        {std::string(kHead) + "file a b version=1.2.3.4\n", 3, "has no room for it"},
        {std::string(kHead) + "file a b shared version=1.2\n", 3, "'1.2' is not a version a.b.c.d or auto"},
        {std::string(kHead) + "file a b shared version=auto version=auto\n", 3, "version is given twice"},
        {std::string(kHead) + "file a Plmr.dll\nfile b PLMR.DLL\n", 4, "used twice"},
        {std::string(kHead) + "file a sub/b.txt\n", 3, "separated by \\ in the package"},
        {std::string(kHead) + "file a \\b.txt\n", 3, "leading \\"},
        {std::string(kHead) + "file a C:b.txt\n", 3, "a drive letter or a colon"},
        {std::string(kHead) + "file a ..\\b.txt\n", 3, "a . or .. part"},
        {std::string(kHead) + "file a sub\\\\b.txt\n", 3, "an empty part"},
        {std::string(kHead) + "file a sub\\\n", 3, "an empty part"},
        {std::string(kHead) + "file a b?.txt\n", 3, "a character Windows names cannot hold"},
        {std::string(kHead) + "file a CON\n", 3, "a Windows device name"},
        {std::string(kHead) + "file a help\\aux.txt\n", 3, "a Windows device name"},
        {std::string(kHead) + "file a \"COM1 .log\"\n", 3, "a Windows device name"},
        {std::string(kHead) + "file a ~zvnew.exe\n", 3, "kept for the updater's own files"},
        {std::string(kHead) + "file a \"b.txt \"\n", 3, "ends in a dot or a blank"},
        {std::string(kHead) + "file a \"b.txt\n", 3, "quoted word is not closed"},
        {std::string(kHead) + "file \"\" b.txt\n", 3, "source file name is empty"},
    };
    for (const Case& c : cases) {
        PackageDescription d;
        std::vector<DescriptionError> errors;
        EXPECT_FALSE(ParseDescription(c.text, &d, &errors)) << c.text;
        ASSERT_FALSE(errors.empty()) << c.text;
        EXPECT_EQ(errors[0].line, c.line) << c.text;
        EXPECT_NE(errors[0].message.find(c.says), std::string::npos) << c.text << "\n" << errors[0].message;
    }
}

TEST(PackageDescription, ListsEveryProblemNotJustTheFirst) {
    PackageDescription d;
    std::vector<DescriptionError> errors;
    EXPECT_FALSE(ParseDescription("version x\nfile a b bad\nfile c d shared\n", &d, &errors));
    // The version, the flag, the missing version of a member, then (for the
    // file as a whole) the missing language; the wrong version is not also
    // reported as missing.
    ASSERT_EQ(errors.size(), 4u);
    EXPECT_EQ(errors[0].line, 1u);
    EXPECT_EQ(errors[1].line, 2u);
    EXPECT_EQ(errors[2].line, 3u);
    EXPECT_EQ(errors[3].line, 0u);
    EXPECT_NE(errors[3].message.find("language is missing"), std::string::npos);
}

TEST(PackageLayout, TableListsMembersInTheOrderTheUpdaterReadsThem) {
    const uint16_t kShared = zv::ENTRY_SHARED;
    const uint16_t kUpdate = zv::ENTRY_UPDATE_ONLY;
    const uint16_t kIgnored = zv::ENTRY_IGNORED;
    const std::vector<uint16_t> flags = {kUpdate, kIgnored | kShared, 0, kShared, kIgnored, 0x04, kUpdate};
    const std::vector<size_t> expected = {3, 5, 0, 2, 6, 1, 4};
    EXPECT_EQ(quillon::ReadingOrder(flags), expected);
}

TEST(PackageLayout, SizeFieldIsKilobytesRoundedUpAndHeldAtItsLargestValue) {
    struct Case {
        uint64_t bytes;
        uint64_t kb;
        uint16_t field;
    };
    const Case cases[] = {
        {0, 0, 0},
        {1, 1, 1},
        {1023, 1, 1},
        {1024, 1, 1},
        {1025, 2, 2},
        {65535ull * 1024, 65535, 65535},
        {65535ull * 1024 + 1, 65536, 65535},
        {0xFFFFFFFFull, 4194304, 65535},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(quillon::SizeInKB(c.bytes), c.kb) << c.bytes;
        EXPECT_EQ(quillon::TableSizeKB(c.bytes), c.field) << c.bytes;
    }
}

namespace {

zv::EntryDescription Entry(const std::string& name, uint16_t flags) {
    zv::EntryDescription e;
    e.name = name;
    e.flags = flags;
    return e;
}

// The pieces of every entry, checked to follow one another without gaps from
// the data offset on, over volumes of `volumeSize` bytes.
void ExpectContiguous(const std::vector<zv::EntryDescription>& entries, const std::vector<uint32_t>& sizes,
                      const quillon::PackageLayout& layout, uint64_t volumeSize) {
    uint32_t volume = 1;
    uint64_t pos = layout.dataOffset;
    for (size_t i = 0; i < entries.size(); ++i) {
        uint64_t total = 0;
        for (const zv::PackagePiece& p : entries[i].pieces) {
            if (p.volume != volume) {
                EXPECT_EQ(pos, volumeSize) << "a volume is left before it is full";
                EXPECT_EQ(p.volume, volume + 1u);
                volume = p.volume;
                pos = quillon::kVolumeNumberSize;
            }
            EXPECT_EQ(p.offset, pos);
            EXPECT_GT(p.length, 0u);
            pos += p.length;
            if (volumeSize != 0) {
                EXPECT_LE(pos, volumeSize);
            }
            total += p.length;
        }
        EXPECT_EQ(total, sizes[i]) << entries[i].name;
    }
    EXPECT_EQ(layout.volumeCount, volume);
    EXPECT_EQ(layout.volumeSizes.back(), pos);
}

}  // namespace

TEST(PackageLayout, OneVolumeHoldsEverythingBehindTheTable) {
    std::vector<zv::EntryDescription> entries = {Entry("plmr.dll", 0x16), Entry("a.txt", 0)};
    const std::vector<uint32_t> sizes = {75450, 9};
    quillon::PackageLayout layout;
    std::string error;
    ASSERT_TRUE(quillon::LayOutPackage(0x1D000, sizes, 0, &entries, &layout, &error)) << error;
    // The records, the integrity block, and 10 zero bytes per entry, as the
    // updater's own packages.
    const uint32_t records = zv::PackageRecordLength(8, true, 1) + zv::PackageRecordLength(5, false, 1);
    const uint32_t region = records + zv::IntegrityBlockSize(2) + 20;
    EXPECT_EQ(layout.tableOffset, 0x1D000u);
    EXPECT_EQ(layout.tableSize, region);
    EXPECT_EQ(layout.dataOffset, 0x1D000u + region);
    ExpectContiguous(entries, sizes, layout, 0);
    EXPECT_EQ(layout.volumeCount, 1u);
}

TEST(PackageLayout, VolumesCutMembersIntoPiecesThatGoForward) {
    std::vector<zv::EntryDescription> entries = {Entry("a.dll", 0x06), Entry("b.exe", 0x10), Entry("c.bin", 0),
                                                 Entry("d.txt", 0)};
    const std::vector<uint32_t> sizes = {3000, 2500, 7000, 4};
    const uint64_t volumeSize = 2000;
    quillon::PackageLayout layout;
    std::string error;
    ASSERT_TRUE(quillon::LayOutPackage(1000, sizes, volumeSize, &entries, &layout, &error)) << error;
    ExpectContiguous(entries, sizes, layout, volumeSize);
    EXPECT_GE(layout.volumeCount, 7u);
    // The table region holds the records with all their pieces.
    uint64_t records = 0;
    for (const zv::EntryDescription& e : entries) {
        records += zv::PackageRecordLength(static_cast<uint32_t>(e.name.size()), (e.flags & 0x16) != 0,
                                           static_cast<uint32_t>(e.pieces.size()));
    }
    EXPECT_GE(layout.tableSize, records);
}

TEST(PackageLayout, RefusesVolumesTooSmall) {
    struct Case {
        uint64_t image;
        uint64_t volumeSize;
        const char* says;
    } cases[] = {
        {5000, 4000, "volume 1 cannot hold the updater"},
        {100, 2, "room for data"},
        {100, uint64_t{1} << 32, "larger than"},
    };
    for (const Case& c : cases) {
        std::vector<zv::EntryDescription> entries = {Entry("a", 0)};
        quillon::PackageLayout layout;
        std::string error;
        EXPECT_FALSE(quillon::LayOutPackage(c.image, {100}, c.volumeSize, &entries, &layout, &error));
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
    }
}

TEST(PackageDescription, AcceptsAUtf8MarkAndNamesUtf16Once) {
    PackageDescription d;
    std::vector<DescriptionError> errors;
    EXPECT_TRUE(ParseDescription("\xEF\xBB\xBF" + std::string(kHead) + "file a b\n", &d, &errors))
        << errors[0].message;
    EXPECT_EQ(d.language, 0x0409u);

    // The same text in UTF-16, little- and big-endian, with and without the mark.
    const std::string text = std::string(kHead) + "file a b\n";
    for (bool little : {true, false}) {
        for (bool mark : {true, false}) {
            std::string wide = mark ? (little ? "\xFF\xFE" : "\xFE\xFF") : "";
            for (char c : text) {
                wide += little ? std::string{c, '\0'} : std::string{'\0', c};
            }
            EXPECT_FALSE(ParseDescription(wide, &d, &errors));
            ASSERT_EQ(errors.size(), 1u) << little << mark;
            EXPECT_EQ(errors[0].line, 0u);
            EXPECT_NE(errors[0].message.find("UTF-16; save it as UTF-8"), std::string::npos) << errors[0].message;
        }
    }
}

TEST(PackageDescription, RefusesNamesTheUpdaterCannotWrite) {
    const std::string part256(256, 'p');
    const std::string name257 = std::string(100, 'd') + "\\" + std::string(100, 'e') + "\\" + std::string(55, 'f');
    struct Case {
        std::string files;
        unsigned line;
        const char* says;
    } cases[] = {
        // A file and a directory of the same name, either way round and in any case.
        {"file a help\nfile b help\\zv.hlp\n", 3, "also a directory of a name on line 4"},
        {"file b HELP\\zv.hlp\nfile a Help\n", 4, "also a directory of a name on line 3"},
        {"file b doc\\help\\zv.hlp\nfile a doc\\help\n", 4, "cannot be a file and a directory"},
        {"file a " + part256 + "\n", 3, "a part of it is 256 characters long"},
        {"file a " + name257 + "\n", 3, "no path under a directory can hold it"},
        // The duplicate's message names the line of the first.
        {"file a zvsa.bin\nfile b ZVSA.BIN\n", 4, "used twice, first on line 3"},
        // Case beyond A to Z, as the file systems fold it in the code page:
        // été.txt and ÉTÉ.TXT, and a name that is a directory of another.
        {"file a \xC3\xA9t\xC3\xA9.txt\nfile b \xC3\x89T\xC3\x89.TXT\n", 4, "used twice, first on line 3"},
        {"file a \xC3\xA9t\xC3\xA9\nfile b \xC3\x89T\xC3\x89\\x.txt\n", 3, "also a directory of a name on line 4"},
    };
    for (const Case& c : cases) {
        PackageDescription d;
        std::vector<DescriptionError> errors;
        EXPECT_FALSE(ParseDescription(std::string(kHead) + c.files, &d, &errors)) << c.files;
        ASSERT_EQ(errors.size(), 1u) << c.files;
        EXPECT_EQ(errors[0].line, c.line) << c.files;
        EXPECT_NE(errors[0].message.find(c.says), std::string::npos) << c.files << "\n" << errors[0].message;
    }
}

TEST(PackageDescription, WarnsOfANameTooLongForATypicalProductDirectory) {
    // 195 characters fit below a product directory of 64 with its
    // backslash; 196 do not.
    const size_t longest = quillon::kMaxWindowsPath - quillon::kTypicalProductDirectory;
    for (size_t length : {longest, longest + 1, size_t{254}}) {
        const std::string name = "sub\\" + std::string(length - 4, 'n');
        PackageDescription d;
        std::vector<DescriptionError> errors;
        ASSERT_TRUE(ParseDescription(std::string(kHead) + "file a " + name + "\n", &d, &errors))
            << length << ": " << errors[0].message;
        if (length <= longest) {
            EXPECT_TRUE(d.warnings.empty()) << length;
        } else {
            ASSERT_EQ(d.warnings.size(), 1u) << length;
            EXPECT_EQ(d.warnings[0].line, 3u);
            EXPECT_NE(d.warnings[0].message.find("is " + std::to_string(length) + " characters long"),
                      std::string::npos)
                << d.warnings[0].message;
        }
    }
}

TEST(PackageDescription, NamesGoIntoTheCodePageOfThePackageLanguage) {
    struct Case {
        const char* language;
        const char* name;  // UTF-8
        const char* stored;
    } cases[] = {
        {"0x0409", "Caf\xC3\xA9.txt", "Caf\xE9.txt"},
        {"0x0407", "hilfe\\\xC3\x9C" "bersicht.hlp", "hilfe\\\xDC" "bersicht.hlp"},
        {"0x0419", "\xD1\x84\xD0\xB0\xD0\xB9\xD0\xBB.txt", "\xF4\xE0\xE9\xEB.txt"},  // a Russian word, code page 1251
        {"0x0411", "\xE3\x83\x98\xE3\x83\xAB\xE3\x83\x97.txt", "\x83\x77\x83\x8B\x83\x76.txt"},  // Japanese, 932
        {"0x0419", "plain.txt", "plain.txt"},
    };
    for (const Case& c : cases) {
        PackageDescription d;
        std::vector<DescriptionError> errors;
        const std::string text =
            std::string("version 1.2.1.31\nlanguage ") + c.language + "\nfile a \"" + c.name + "\"\n";
        ASSERT_TRUE(ParseDescription(text, &d, &errors)) << c.name << ": " << errors[0].message;
        EXPECT_EQ(d.members[0].name, c.name);
        EXPECT_EQ(d.members[0].storedName, c.stored) << c.name;
    }

    // A character the code page cannot hold is refused, and named.
    struct Refused {
        const char* language;
        const char* name;
        const char* says;
    } refused[] = {
        {"0x0419", "Caf\xC3\xA9.txt", "the character '\xC3\xA9' cannot be written in code page 1251"},
        {"0x0409", "\xE2\x82\xAC\xE2\x98\x83.txt", "the character '\xE2\x98\x83' cannot be written in code page 1252"},
        {"0x0439", "\xC3\xA9.txt", "has no ANSI code page"},
        {"0x0409", "bad\xC3.txt", "is not UTF-8"},
        // COM with a superscript one is a device once it is in code page 1252.
        {"0x0409", "COM\xC2\xB9.txt", "a Windows device name"},
    };
    for (const Refused& c : refused) {
        PackageDescription d;
        std::vector<DescriptionError> errors;
        const std::string text =
            std::string("version 1.2.1.31\nlanguage ") + c.language + "\nfile a \"" + c.name + "\"\n";
        EXPECT_FALSE(ParseDescription(text, &d, &errors)) << c.name;
        ASSERT_EQ(errors.size(), 1u) << c.name;
        EXPECT_EQ(errors[0].line, 3u);
        EXPECT_NE(errors[0].message.find(c.says), std::string::npos) << errors[0].message;
    }
}

TEST(PackageDescription, RefusesALanguageIdThatNamesNoLanguage) {
    struct Case {
        const char* language;
        const char* says;  // nullptr: accepted
    } cases[] = {
        {"409", "0x0199 names no Windows language; did you mean 0x0409 (English (United States))?"},
        {"407", "did you mean 0x0407 (German (Germany))?"},
        {"414", "did you mean 0x0414 (Norwegian Bokm\xC3\xA5l)?"},  // the name in UTF-8
        {"0x0199", "0x0199 names no Windows language"},
        {"0x0009", "0x0009 names no Windows language"},
        {"0x0409", nullptr},
        {"1033", nullptr},
        {"0x0c0c", nullptr},
        {"0x0804", nullptr},
    };
    for (const Case& c : cases) {
        PackageDescription d;
        std::vector<DescriptionError> errors;
        const bool ok =
            ParseDescription(std::string("version 1.2.1.31\nlanguage ") + c.language + "\nfile a b\n", &d, &errors);
        if (c.says == nullptr) {
            EXPECT_TRUE(ok) << c.language << ": " << errors[0].message;
            continue;
        }
        EXPECT_FALSE(ok) << c.language;
        ASSERT_EQ(errors.size(), 1u) << c.language;
        EXPECT_EQ(errors[0].line, 2u);
        EXPECT_NE(errors[0].message.find(c.says), std::string::npos) << errors[0].message;
    }
    // A hint only where the digits read in hex name a language.
    PackageDescription d;
    std::vector<DescriptionError> errors;
    EXPECT_FALSE(ParseDescription("version 1.2.1.31\nlanguage 9999\nfile a b\n", &d, &errors));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].message.find("did you mean"), std::string::npos) << errors[0].message;
}

TEST(PackageDescription, SaysThatKeywordsAndFlagsAreLowerCase) {
    struct Case {
        std::string text;
        const char* says;
    } cases[] = {
        {"Version 1.2.1.31\nlanguage 0x0409\nfile a b\n", "keywords are written in lower case ('version')"},
        {std::string(kHead) + "FILE a b\n", "keywords are written in lower case ('file')"},
        {std::string(kHead) + "file a b Shared version=1.2.3.4\n", "flags are written in lower case ('shared')"},
        {std::string(kHead) + "file a b shared Version=1.2.3.4\n", "version= is written in lower case"},
    };
    for (const Case& c : cases) {
        PackageDescription d;
        std::vector<DescriptionError> errors;
        EXPECT_FALSE(ParseDescription(c.text, &d, &errors));
        ASSERT_FALSE(errors.empty());
        EXPECT_NE(errors[0].message.find(c.says), std::string::npos) << c.text << "\n" << errors[0].message;
    }
}
