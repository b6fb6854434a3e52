// The portable reader of version resources: finding the resource in PE32,
// PE32+ and NE files, the block it gives, the three queries in both layouts,
// and safety on damaged bytes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/bytes.h"
#include "platform/version_resource.h"
#include "tests/support/pe_builder.h"

using namespace zv;
using namespace zvtest;

namespace {

// What the three queries of the updater answer for a file's bytes.
struct Answers {
    uint32_t size = 0;
    bool fixed = false;
    ProductVersion version{0, 0};
    bool translation = false;
    uint16_t language = 0;
    bool name = false;
    std::string internalName;  // the answered bytes up to their zero
    uint32_t nameLength = 0;
};

Answers Ask(const std::vector<uint8_t>& file, uint16_t userLanguage = kUsEnglish,
            const char* nameQuery = "\\StringFileInfo\\040904E4\\InternalName") {
    Answers a;
    FileBytes bytes = MemoryFileBytes(file.data(), file.size());
    a.size = VersionBlockSize(bytes, userLanguage);
    if (a.size == 0) return a;
    std::vector<uint8_t> block(a.size, 0xCC);
    if (!ReadVersionBlock(bytes, userLanguage, block.data(), a.size)) return a;
    const void* value;
    uint32_t length;
    if (QueryVersionBlock(block.data(), a.size, "\\", &value, &length) && length >= 16) {
        a.fixed = true;
        a.version.high = LoadU32LE(static_cast<const uint8_t*>(value) + 8);
        a.version.low = LoadU32LE(static_cast<const uint8_t*>(value) + 12);
    }
    if (QueryVersionBlock(block.data(), a.size, "\\VarFileInfo\\Translation", &value, &length) && length >= 2) {
        a.translation = true;
        a.language = LoadU16LE(static_cast<const uint8_t*>(value));
    }
    if (QueryVersionBlock(block.data(), a.size, nameQuery, &value, &length)) {
        a.name = true;
        a.nameLength = length;
        a.internalName.assign(static_cast<const char*>(value), strnlen(static_cast<const char*>(value), length));
    }
    return a;
}

const ExeFormat kFormats[] = {ExeFormat::Pe32, ExeFormat::Pe32Plus, ExeFormat::Ne};

VersionInfoDescription Usual(const std::string& name) { return ProductVersionInfo(MakeVersion(1, 2, 1, 31), 0x409, name); }

}  // namespace

TEST(VersionResource, ExecutableKindsAreToldByTheirHeadersNotTheirNames) {
    EXPECT_EQ(ExecutableKindOf(MemoryFileBytes(BuildVersionedExecutable(ExeFormat::Pe32, Usual("a")).data(), 0)),
              ExecutableKind::Unknown);
    for (ExeFormat format : kFormats) {
        std::vector<uint8_t> file = BuildVersionedExecutable(format, Usual("zvsa.bin"));
        ExecutableKind expected = format == ExeFormat::Pe32       ? ExecutableKind::Pe32
                                  : format == ExeFormat::Pe32Plus ? ExecutableKind::Pe32Plus
                                                                  : ExecutableKind::Ne;
        EXPECT_EQ(ExecutableKindOf(MemoryFileBytes(file.data(), file.size())), expected) << ExeFormatName(format);
    }
    std::vector<uint8_t> text = {'M', 'Z', 'h', 'i'};
    EXPECT_EQ(ExecutableKindOf(MemoryFileBytes(text.data(), text.size())), ExecutableKind::Unknown);
}

TEST(VersionResource, TheThreeValuesComeOutOfEveryFormat) {
    for (ExeFormat format : kFormats) {
        SCOPED_TRACE(ExeFormatName(format));
        Answers a = Ask(BuildVersionedExecutable(format, ProductVersionInfo(MakeVersion(1, 2, 1, 31), 0x407, "zvact.exe")));
        ASSERT_NE(a.size, 0u);
        EXPECT_TRUE(a.fixed);
        EXPECT_EQ(a.version.high, 0x00010002u);
        EXPECT_EQ(a.version.low, 0x0001001Fu);
        EXPECT_EQ(a.language, 0x407);
        EXPECT_EQ(a.internalName, "zvact.exe");
        EXPECT_EQ(a.nameLength, 10u) << "the zero counts";
    }
}

TEST(VersionResource, BlockSizeAndLayoutAreTheSystemsOwn) {
    // 32-bit executables: twice the resource and "FE2X" behind it; 16-bit:
    // room for four times the resource after its fixed information.
    VersionInfoDescription info = Usual("zvact.exe");
    std::vector<uint8_t> wide = BuildVersionInfo(info, VersionLayout::Wide);
    std::vector<uint8_t> narrow = BuildVersionInfo(info, VersionLayout::Narrow);
    std::vector<uint8_t> pe = BuildVersionedExecutable(ExeFormat::Pe32, info);
    FileBytes peBytes = MemoryFileBytes(pe.data(), pe.size());
    ASSERT_EQ(VersionBlockSize(peBytes, kUsEnglish), 2 * wide.size() + 4);
    std::vector<uint8_t> block(VersionBlockSize(peBytes, kUsEnglish), 0xCC);
    ASSERT_TRUE(ReadVersionBlock(peBytes, kUsEnglish, block.data(), static_cast<uint32_t>(block.size())));
    EXPECT_EQ(std::vector<uint8_t>(block.begin(), block.begin() + static_cast<long>(wide.size())), wide);
    EXPECT_EQ(std::memcmp(block.data() + wide.size(), "FE2X", 4), 0);
    EXPECT_EQ(block.back(), 0) << "the rest of the block is cleared";
    EXPECT_FALSE(IsVersionBlock16(block.data(), static_cast<uint32_t>(block.size())));
    EXPECT_FALSE(ReadVersionBlock(peBytes, kUsEnglish, block.data(), static_cast<uint32_t>(wide.size())))
        << "a block without room for the 8-bit copies is refused";

    ExeDescription desc;
    desc.format = ExeFormat::Ne;
    desc.neAlignShift = 4;
    desc.resources.push_back(FixtureResource{16, "", 1, "", 0, narrow});
    std::vector<uint8_t> ne = BuildExecutable(desc);
    FileBytes neBytes = MemoryFileBytes(ne.data(), ne.size());
    uint32_t stored = static_cast<uint32_t>((narrow.size() + 15) / 16 * 16);  // whole alignment units
    ASSERT_EQ(VersionBlockSize(neBytes, kUsEnglish), (stored - 52) * 4);
    block.assign(VersionBlockSize(neBytes, kUsEnglish), 0xCC);
    ASSERT_TRUE(ReadVersionBlock(neBytes, kUsEnglish, block.data(), static_cast<uint32_t>(block.size())));
    EXPECT_EQ(std::vector<uint8_t>(block.begin(), block.begin() + static_cast<long>(narrow.size())), narrow);
    EXPECT_TRUE(IsVersionBlock16(block.data(), static_cast<uint32_t>(block.size())));
    EXPECT_NE(std::memcmp(block.data() + narrow.size(), "FE2X", 4), 0) << "no mark on a 16-bit file's block";

    // A 16-bit resource shorter than the fixed file information gives no
    // block (the system's size for it wraps round).
    desc.resources[0].data.resize(40);
    ne = BuildExecutable(desc);
    EXPECT_EQ(VersionBlockSize(MemoryFileBytes(ne.data(), ne.size()), kUsEnglish), 0u);
}

TEST(VersionResource, OnlyTypeSixteenIdOneCounts) {
    for (ExeFormat format : kFormats) {
        SCOPED_TRACE(ExeFormatName(format));
        VersionLayout layout = format == ExeFormat::Ne ? VersionLayout::Narrow : VersionLayout::Wide;
        auto resource = [&](const std::string& name, uint16_t id, uint16_t language = 0x409) {
            return FixtureResource{16, "", id, "", language, BuildVersionInfo(Usual(name), layout)};
        };
        auto build = [&](std::vector<FixtureResource> resources) {
            ExeDescription desc;
            desc.format = format;
            desc.resources = std::move(resources);
            return BuildExecutable(desc);
        };
        EXPECT_EQ(Ask(build({})).size, 0u) << "no resources";
        EXPECT_EQ(Ask(build({FixtureResource{10, "", 1, "", 0x409, {1, 2, 3}}})).size, 0u) << "another type";
        EXPECT_EQ(Ask(build({resource("two.exe", 2)})).size, 0u) << "id 2 only";
        FixtureResource named = resource("named.exe", 1);
        named.name = "VS_VERSION_INFO";
        EXPECT_EQ(Ask(build({named})).size, 0u) << "a named resource";
        EXPECT_EQ(Ask(build({resource("one.exe", 1), resource("two.exe", 2)})).internalName, "one.exe");
        FixtureResource namedType = resource("typed.exe", 1);
        namedType.typeName = "VERSIONS";
        EXPECT_EQ(Ask(build({namedType, resource("real.exe", 1)})).internalName, "real.exe");
    }
}

TEST(VersionResource, ALanguageIsTakenAsTheSystemsResourceLoaderTakesIt) {
    // The neutral language, then the user's, then U.S. English, then the
    // first listed. Each resource's internal name tells which one was read.
    struct Case {
        std::vector<uint16_t> listed;  // in directory order
        uint16_t user;
        uint16_t taken;
    } cases[] = {
        {{0x0401, 0x0407, 0x0409, 0x0000}, 0x0407, 0x0000},  // neutral, even when listed last
        {{0x0401, 0x0409, 0x0407}, 0x0407, 0x0407},          // the user's before U.S. English
        {{0x0401, 0x0407, 0x0409}, 0x0409, 0x0409},          // not the first listed
        {{0x0401, 0x0407, 0x0409}, 0x040C, 0x0409},          // U.S. English when the user's is absent
        {{0x0401, 0x0407}, 0x0409, 0x0401},                  // the first when none of them is there
        {{0x0C0C}, 0x0409, 0x0C0C},
    };
    for (const Case& c : cases) {
        ExeDescription desc;
        for (uint16_t language : c.listed) {
            char name[16];
            std::snprintf(name, sizeof name, "l%04x.exe", language);
            desc.resources.push_back(
                FixtureResource{16, "", 1, "", language, BuildVersionInfo(Usual(name), VersionLayout::Wide)});
        }
        char taken[16];
        std::snprintf(taken, sizeof taken, "l%04x.exe", c.taken);
        for (ExeFormat format : {ExeFormat::Pe32, ExeFormat::Pe32Plus}) {
            desc.format = format;
            EXPECT_EQ(Ask(BuildExecutable(desc), c.user).internalName, taken)
                << ExeFormatName(format) << ", user's language " << std::hex << c.user;
        }
    }
    // 16-bit resources have no language: the user's does not matter.
    std::vector<uint8_t> ne = BuildVersionedExecutable(ExeFormat::Ne, Usual("zvsa.bin"));
    EXPECT_EQ(Ask(ne, 0x0407).internalName, "zvsa.bin");
}

TEST(VersionResource, NeResourcesAreFoundAtEveryAlignmentShift) {
    for (uint16_t shift : {0, 1, 4, 9, 12}) {
        ExeDescription desc;
        desc.format = ExeFormat::Ne;
        desc.neAlignShift = shift;
        desc.data = std::vector<uint8_t>(700, 0x55);  // puts the resource further out
        desc.resources.push_back(FixtureResource{16, "", 1, "", 0, BuildVersionInfo(Usual("zvsa.bin"), VersionLayout::Narrow)});
        Answers a = Ask(BuildExecutable(desc));
        EXPECT_EQ(a.internalName, "zvsa.bin") << "shift " << shift;
        EXPECT_EQ(a.version.low, 0x0001001Fu) << "shift " << shift;
    }
}

TEST(VersionResource, QueriesWalkKeysWithoutRegardToCase) {
    for (ExeFormat format : kFormats) {
        SCOPED_TRACE(ExeFormatName(format));
        VersionInfoDescription info = Usual("zvact.exe");
        info.tables[0].key = "040904e4";
        std::vector<uint8_t> file = BuildVersionedExecutable(format, info);
        struct Case {
            const char* query;
            const char* answer;  // nullptr: absent
        } cases[] = {
            {"\\StringFileInfo\\040904E4\\InternalName", "zvact.exe"},
            {"\\stringfileinfo\\040904e4\\INTERNALNAME", "zvact.exe"},
            {"StringFileInfo\\040904E4\\InternalName", "zvact.exe"},
            {"\\\\StringFileInfo\\\\040904E4\\InternalName\\", "zvact.exe"},
            {"\\StringFileInfo\\040904E4\\CompanyName", "Fixture Works"},
            {"\\StringFileInfo\\040904E4\\Internal", nullptr},
            {"\\StringFileInfo\\040904E4\\InternalNameX", nullptr},
            {"\\StringFileInfo\\040704B0\\InternalName", nullptr},
            {"\\VarFileInfo\\Missing", nullptr},
        };
        for (const Case& c : cases) {
            Answers a = Ask(file, kUsEnglish, c.query);
            EXPECT_EQ(a.name, c.answer != nullptr) << c.query;
            if (c.answer != nullptr) {
                EXPECT_EQ(a.internalName, c.answer) << c.query;
            }
        }
    }
}

TEST(VersionResource, MissingPartsAnswerNothingAndEmptyTextsArePresent) {
    for (ExeFormat format : kFormats) {
        SCOPED_TRACE(ExeFormatName(format));
        VersionInfoDescription noFixed = Usual("zvact.exe");
        noFixed.fixedInfo = false;
        Answers a = Ask(BuildVersionedExecutable(format, noFixed));
        EXPECT_FALSE(a.fixed);
        EXPECT_EQ(a.internalName, "zvact.exe");

        VersionInfoDescription noVars = Usual("zvact.exe");
        noVars.varFileInfo = false;
        EXPECT_FALSE(Ask(BuildVersionedExecutable(format, noVars)).translation);
        VersionInfoDescription emptyList = Usual("zvact.exe");
        emptyList.translations.clear();
        EXPECT_FALSE(Ask(BuildVersionedExecutable(format, emptyList)).translation);
        VersionInfoDescription two = Usual("zvact.exe");
        two.translations = {0x040C | (1252u << 16), 0x0409 | (1252u << 16)};
        EXPECT_EQ(Ask(BuildVersionedExecutable(format, two)).language, 0x040C) << "the first entry";

        VersionInfoDescription noStrings = Usual("zvact.exe");
        noStrings.stringFileInfo = false;
        EXPECT_FALSE(Ask(BuildVersionedExecutable(format, noStrings)).name);

        Answers empty = Ask(BuildVersionedExecutable(format, Usual("")));
        EXPECT_TRUE(empty.name);
        EXPECT_EQ(empty.internalName, "");
        EXPECT_EQ(empty.nameLength, 1u);
        for (bool last : {true, false}) {
            VersionInfoDescription noValue = Usual("ignored");
            noValue.tables[0].texts.back().noValue = true;
            if (!last) noValue.tables[0].texts.push_back({"ProductName", "Zarvel"});
            Answers none = Ask(BuildVersionedExecutable(format, noValue));
            EXPECT_TRUE(none.name) << "a key with no value is present";
            EXPECT_EQ(none.internalName, "") << (last ? "last" : "followed by another text");
            EXPECT_EQ(none.nameLength, 0u);
        }
    }
}

TEST(VersionResource, WideTextsAreAnsweredInCodePage1252WithTheSystemsBestFit) {
    // e acute and the euro sign are in the code page; A with macron fits as A;
    // a CJK character has no fit.
    Answers a = Ask(BuildVersionedExecutable(ExeFormat::Pe32, Usual("zv\xC3\xA9\xE2\x82\xAC\xC4\x80\xEF\xBC\xA1\xE4\xB8\xAD.exe")));
    EXPECT_EQ(a.internalName, "zv\xE9\x80" "AA?.exe");
    // The 16-bit layout holds 8-bit texts, handed out as they are.
    Answers narrow = Ask(BuildVersionedExecutable(ExeFormat::Ne, Usual("zv\xE9.exe")));
    EXPECT_EQ(narrow.internalName, "zv\xE9.exe");
}

TEST(VersionResource, AFileCutBeforeTheEndOfItsVersionDataHasNone) {
    // As the system's version library refuses such a file. A cut behind the
    // data (in an NE resource's alignment padding, or past the resource)
    // leaves it whole.
    for (ExeFormat format : kFormats) {
        SCOPED_TRACE(ExeFormatName(format));
        VersionLayout layout = format == ExeFormat::Ne ? VersionLayout::Narrow : VersionLayout::Wide;
        const size_t dataLength = BuildVersionInfo(Usual("zvact.exe"), layout).size();
        std::vector<uint8_t> whole = BuildVersionedExecutable(format, Usual("zvact.exe"));
        FileBytes wholeBytes = MemoryFileBytes(whole.data(), whole.size());
        VersionResourceSpan span;
        ASSERT_TRUE(FindVersionResource(wholeBytes, kUsEnglish, &span));
        const size_t dataEnd = span.offset + dataLength;
        ASSERT_LT(dataEnd, whole.size()) << "the fixture has bytes behind the data";
        for (size_t cut = 0; cut < whole.size(); ++cut) {
            Answers a = Ask(std::vector<uint8_t>(whole.begin(), whole.begin() + static_cast<long>(cut)));
            if (cut < dataEnd) {
                EXPECT_EQ(a.size, 0u) << "cut at " << cut << " of data ending at " << dataEnd;
            } else {
                EXPECT_EQ(a.internalName, "zvact.exe") << "cut at " << cut;
                EXPECT_EQ(a.version.low, 0x0001001Fu) << "cut at " << cut;
            }
        }
    }
}

TEST(VersionResource, DamagedTreesStayInsideTheBlock) {
    std::vector<uint8_t> resource = BuildVersionInfo(Usual("zvact.exe"), VersionLayout::Wide);
    struct Case {
        const char* what;
        size_t at;
        uint16_t value;
    } cases[] = {
        {"root longer than the resource", 0, 0xFFFF},
        {"root shorter than its header", 0, 3},
        {"value longer than the root", 2, 0xFFFF},
        {"first child of zero length", 0x5C, 0},
        {"first child too long", 0x5C, 0xFFF0},
        {"wide text flag on the root", 4, 1},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> damaged = resource;
        StoreU16LE(damaged.data() + c.at, c.value);
        uint32_t size = VersionBlockNeed(damaged.data(), static_cast<uint32_t>(damaged.size()));
        if (size < damaged.size()) size = static_cast<uint32_t>(damaged.size());
        // A guard behind the block catches any write past it.
        std::vector<uint8_t> block(size + 16, 0);
        std::memcpy(block.data(), damaged.data(), damaged.size());
        for (const char* query : {"\\", "\\VarFileInfo\\Translation", "\\StringFileInfo\\040904E4\\InternalName"}) {
            const void* value = nullptr;
            uint32_t length = 0;
            if (!QueryVersionBlock(block.data(), size, query, &value, &length) || length == 0) continue;
            const auto* p = static_cast<const uint8_t*>(value);
            EXPECT_TRUE(p >= block.data() && p + length <= block.data() + size) << c.what << ": " << query;
        }
        for (size_t i = size; i < block.size(); ++i) EXPECT_EQ(block[i], 0) << c.what;
    }
}
