// reader_fixtures DIR: writes the executables and settings files on which the
// portable readers are compared with the system's (tests/wine/test_readers.sh):
// DIR/versions/ and DIR/settings/; and DIR/machine/, the files of an
// installation (zvact.ini, ZARVEL/ with the product files, SYSTEM/ with the
// runtime libraries) and a stamped updater, zvupdate.exe.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "detect/stamped_blocks.h"
#include "tests/support/fixture_package.h"
#include "tests/support/pe_builder.h"
#include "tests/support/temp_dir.h"

using namespace zvtest;

namespace {

std::vector<uint8_t> Versioned(ExeFormat format, const VersionInfoDescription& info) {
    return BuildVersionedExecutable(format, info);
}

VersionInfoDescription Usual(const std::string& name) {
    return ProductVersionInfo(zv::MakeVersion(1, 2, 1, 31), 0x409, name);
}

std::vector<uint8_t> WithVersionResources(ExeFormat format, std::vector<FixtureResource> resources) {
    ExeDescription desc;
    desc.format = format;
    desc.resources = std::move(resources);
    return BuildExecutable(desc);
}

FixtureResource VersionResource(const VersionInfoDescription& info, VersionLayout layout, uint16_t id = 1,
                                uint16_t language = 0x409) {
    FixtureResource r;
    r.id = id;
    r.language = language;
    r.data = BuildVersionInfo(info, layout);
    return r;
}

void WriteVersions(const std::string& dir) {
    const ExeFormat formats[] = {ExeFormat::Pe32, ExeFormat::Pe32Plus, ExeFormat::Ne};
    for (ExeFormat format : formats) {
        std::string prefix = dir + "/" + ExeFormatName(format) + "_";
        VersionLayout layout = format == ExeFormat::Ne ? VersionLayout::Narrow : VersionLayout::Wide;
        WriteFileBytes(prefix + "basic.exe", Versioned(format, Usual("zvact.exe")));
        WriteFileBytes(prefix + "basic.bin", Versioned(format, Usual("zvsa.bin")));
        WriteFileBytes(prefix + "upper.dll", Versioned(format, Usual("ZVRES32.DLL")));
        WriteFileBytes(prefix + "othertable.exe",
                       Versioned(format, ProductVersionInfo(zv::MakeVersion(3, 1, 0, 7), 0x407, "zvact.exe", "040704B0")));
        VersionInfoDescription two = Usual("zvact.exe");
        two.tables.insert(two.tables.begin(), VersionTextTable{"040704B0", {{"InternalName", "andere.exe"}}});
        WriteFileBytes(prefix + "twotables.exe", Versioned(format, two));
        WriteFileBytes(prefix + "lowertable.exe",
                       Versioned(format, ProductVersionInfo(zv::MakeVersion(1, 0, 0, 1), 0x409, "zvsa32.bin", "040904e4")));
        WriteFileBytes(prefix + "emptyname.exe", Versioned(format, Usual("")));
        VersionInfoDescription noValue = Usual("x");
        noValue.tables[0].texts.back().noValue = true;
        WriteFileBytes(prefix + "novaluelast.exe", Versioned(format, noValue));
        VersionInfoDescription noValueMid = Usual("x");
        noValueMid.tables[0].texts.back().noValue = true;
        noValueMid.tables[0].texts.push_back({"ProductName", "Zarvel"});
        WriteFileBytes(prefix + "novaluemid.exe", Versioned(format, noValueMid));
        VersionInfoDescription noFixed = Usual("zvact.exe");
        noFixed.fixedInfo = false;
        WriteFileBytes(prefix + "nofixed.exe", Versioned(format, noFixed));
        VersionInfoDescription noVars = Usual("zvact.exe");
        noVars.varFileInfo = false;
        WriteFileBytes(prefix + "novars.exe", Versioned(format, noVars));
        VersionInfoDescription emptyTranslation = Usual("zvact.exe");
        emptyTranslation.translations.clear();
        WriteFileBytes(prefix + "emptytranslation.exe", Versioned(format, emptyTranslation));
        VersionInfoDescription twoTranslations = Usual("zvact.exe");
        twoTranslations.translations = {0x407u | (1200u << 16), 0x409u | (1252u << 16)};
        WriteFileBytes(prefix + "twotranslations.exe", Versioned(format, twoTranslations));
        VersionInfoDescription noStrings = Usual("zvact.exe");
        noStrings.stringFileInfo = false;
        WriteFileBytes(prefix + "nostrings.exe", Versioned(format, noStrings));
        WriteFileBytes(prefix + "accents.exe", Versioned(format, Usual("zv\xC3\xA9\xE2\x82\xAC\xC4\x80.exe")));
        VersionInfoDescription big = Usual("zvact32.exe");
        for (int i = 0; i < 40; ++i) {
            big.tables[0].texts.push_back({"Comment" + std::to_string(i), std::string(50 + i, 'a' + i % 26)});
        }
        WriteFileBytes(prefix + "big.exe", Versioned(format, big));

        WriteFileBytes(prefix + "noresources.exe", WithVersionResources(format, {}));
        FixtureResource data;
        data.type = 10;
        data.data = {1, 2, 3, 4};
        WriteFileBytes(prefix + "otherresource.exe", WithVersionResources(format, {data}));
        WriteFileBytes(prefix + "id2.exe",
                       WithVersionResources(format, {VersionResource(Usual("zvact.exe"), layout, 2)}));
        FixtureResource named = VersionResource(Usual("zvact.exe"), layout);
        named.name = "VS_VERSION_INFO";
        WriteFileBytes(prefix + "named.exe", WithVersionResources(format, {named}));
        WriteFileBytes(prefix + "id1and2.exe",
                       WithVersionResources(format, {VersionResource(Usual("one.exe"), layout, 1),
                                                     VersionResource(Usual("two.exe"), layout, 2)}));
        FixtureResource namedType = VersionResource(Usual("zvact.exe"), layout);
        namedType.typeName = "VERSIONS";
        WriteFileBytes(prefix + "namedtype.exe",
                       WithVersionResources(format, {namedType, data, VersionResource(Usual("zvsa.bin"), layout)}));
        // The other layout in this format.
        VersionLayout other = layout == VersionLayout::Wide ? VersionLayout::Narrow : VersionLayout::Wide;
        WriteFileBytes(prefix + "otherlayout.exe",
                       WithVersionResources(format, {VersionResource(Usual("zvact.exe"), other)}));
        // Bytes behind the resource that its own length does not count.
        FixtureResource padded = VersionResource(Usual("zvact.exe"), layout);
        padded.data.resize(padded.data.size() + 24, 0xEE);
        WriteFileBytes(prefix + "padded.exe", WithVersionResources(format, {padded}));
    }
    // Two languages of id 1 (PE only): 0x407 first.
    WriteFileBytes(dir + "/pe32_twolanguages.exe",
                   WithVersionResources(ExeFormat::Pe32, {VersionResource(Usual("deutsch.exe"), VersionLayout::Wide, 1, 0x407),
                                                          VersionResource(Usual("english.exe"), VersionLayout::Wide, 1, 0x409)}));
    WriteFileBytes(dir + "/pe32_language0c0c.exe",
                   WithVersionResources(ExeFormat::Pe32, {VersionResource(Usual("zvact.exe"), VersionLayout::Wide, 1, 0x0C0C)}));
    // NE alignment shifts.
    for (uint16_t shift : {0, 1, 9}) {
        ExeDescription desc;
        desc.format = ExeFormat::Ne;
        desc.neAlignShift = shift;
        desc.resources.push_back(VersionResource(Usual("zvsa.bin"), VersionLayout::Narrow));
        WriteFileBytes(dir + "/ne_shift" + std::to_string(shift) + ".bin", BuildExecutable(desc));
    }
    // An NE file cut inside the padding of its last resource.
    {
        ExeDescription desc;
        desc.format = ExeFormat::Ne;
        desc.neAlignShift = 9;
        desc.resources.push_back(VersionResource(Usual("zvact.exe"), VersionLayout::Narrow));
        std::vector<uint8_t> bytes = BuildExecutable(desc);
        bytes.resize(bytes.size() - 100);
        WriteFileBytes(dir + "/ne_cutpadding.exe", bytes);
    }
    // Resources smaller than a VS_FIXEDFILEINFO: a root without value or
    // children, and one whose length claims more than the resource holds.
    for (ExeFormat format : formats) {
        VersionLayout layout = format == ExeFormat::Ne ? VersionLayout::Narrow : VersionLayout::Wide;
        VersionInfoDescription empty;
        empty.fixedInfo = empty.varFileInfo = empty.stringFileInfo = false;
        FixtureResource tiny = VersionResource(empty, layout);
        WriteFileBytes(dir + "/" + ExeFormatName(format) + "_tiny.exe", WithVersionResources(format, {tiny}));
        FixtureResource claims = VersionResource(Usual("zvact.exe"), layout);
        claims.data.resize(48);
        WriteFileBytes(dir + "/" + ExeFormatName(format) + "_claimsmore.exe", WithVersionResources(format, {claims}));
    }
    WriteFileText(dir + "/text.txt", "hello, this is no executable\r\n");
    std::vector<uint8_t> dos(128, 0);
    dos[0] = 'M';
    dos[1] = 'Z';
    WriteFileBytes(dir + "/dos.exe", dos);
    WriteFileBytes(dir + "/empty.bin", {});
}

void WriteSettings(const std::string& dir) {
    struct Fixture {
        const char* name;
        std::string text;
    } fixtures[] = {
        {"basic.ini", "[setup]\r\ndrive=C:\r\ndir=\\ZARVEL\r\ninst=2\r\n"},
        {"spaces.ini", "  [ Setup ]  \n\t drive \t=\t D: \t\n DIR = \\apps\\zv \n  a  =  two words  \n"},
        {"brackets.ini", "[setup ]\na=1\n[ other]\nb=2\n[setup\nc=3\n[other]trailing\nd=4\n[]\ne=5\n"},
        {"quotes.ini",
         "[setup]\na=\"quoted\"\nb='single'\nc=\"mismatch'\nd=\"\ne=\"\"\nf=\"  inner  \"\ng='\"'\n"
         "h=\"abc\"def\"\ni=\"abcdefgh\"\nj=  \"padded\"  \nk=''\nl=\"abc\nm=abc\"\nn=\"ab\"\no=\"a\"\n"},
        {"comments.ini", "; comment\n[setup]\n;dir=commented\ndir=C:\\x ; not a comment\n# hash=1\na=1 # two\n"},
        {"dupes.ini", "[setup]\na=1\na=2\n[other]\nb=3\n[SETUP]\nb=4\ndir=second\n[setup]\nc=5\n"},
        {"noequals.ini", "[setup]\ndir\ndir=real\nb\nc = \n"},
        {"empty.ini", "[setup]\ndir=\na= \nb=\t\ninst=\n"},
        {"cr.ini", "[setup]\rdir=cr only\rinst=3\r"},
        {"lf.ini", "[setup]\ndir=lf only\ninst=3\n"},
        {"mixed.ini", "[setup]\n\r\ndir=mixed\n\rinst=2\r\n\r\na=1\r\r\nb=2"},
        {"nofinal.ini", "[setup]\ndir=last line"},
        {"ints.ini",
         "[setup]\na=0x1F\nb=-5\nc=+7\nd=  12abc\ne=abc\nf=4294967297\ng=99999999999999999999999999999999999\n"
         "h=0X10\ni=0b101\nj=0o17\nk=-0x10\nl=\" 42\"\nm=\nn=0x\no=-\np=3.5\nq=1e3\nr=0777\ns=2 garbage\n"
         "t=0xFFFFFFFF\nu=-2147483648\nv=0xg\nw=\t9\nx=\"\t-8\"\ny=123456789012345678901234567890123\nz=00012\n"},
        {"long.ini", "[setup]\ndrive=ABCDEF\ndir=" + std::string(300, 'd') + "\na=" + std::string(40, '7') + "\n"},
        {"bom.ini", "\xEF\xBB\xBF[setup]\ndir=after mark\n"},
        {"nosection.ini", "dir=top\n[setup]\ndrive=C\n"},
        {"spacekey.ini", "[setup]\nkey with space = spaced key\nkey  with space=two blanks\n"},
        {"tabs.ini", "[setup]\n\tdir\t=\t\\tabbed\\dir\t\n\t[other]\n\ta=in other\n"},
        {"equals.ini", "[setup]\na=b=c\nb==d\n=nokey\nc =\n"},
        {"control.ini", std::string("[setup]\na=x\x0By\nb=\x0B") + "v\x0B\n" + std::string("c=nul\0after\nd=ok\n", 17)},
        {"zvact.ini", "[setup]\r\ndrive=E\r\ndir=\\FROM\\WINDOWS\\DIR\\\r\ninst=0x2\r\n"},
    };
    for (const Fixture& f : fixtures) WriteFileText(dir + "/" + f.name, f.text);
}

void WriteMachine(const std::string& dir) {
    MakeDirs(dir + "/ZARVEL");
    MakeDirs(dir + "/SYSTEM");
    WriteFileText(dir + "/zvact.ini", "[setup]\r\ndrive=C\r\ndir=\\ZARVEL\\\r\ninst=2\r\n");
    auto marker = [](uint16_t word) {
        return MarkerBlockBytes(zv::KEY_MARKER_WORD, {static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8)});
    };
    WriteFileBytes(dir + "/ZARVEL/zvact.exe",
                   BuildVersionedExecutable(ExeFormat::Ne, ProductVersionInfo(zv::MakeVersion(1, 2, 1, 28), 0x409, "ZVACT.EXE"),
                                            marker(0x0003)));
    WriteFileBytes(dir + "/ZARVEL/zvsa.bin",
                   BuildVersionedExecutable(ExeFormat::Ne, ProductVersionInfo(zv::MakeVersion(1, 2, 1, 28), 0x407, "zvsa.bin")));
    WriteFileBytes(dir + "/ZARVEL/zvact32.exe",
                   BuildVersionedExecutable(ExeFormat::Pe32, ProductVersionInfo(zv::MakeVersion(1, 2, 1, 32), 0x409, "zvact32.exe"),
                                            marker(0x0000)));
    WriteFileBytes(dir + "/ZARVEL/zvsa32.bin",
                   BuildVersionedExecutable(ExeFormat::Pe32, ProductVersionInfo(zv::MakeVersion(1, 2, 1, 32), 0x409, "zvsa32.bin")));
    WriteFileText(dir + "/SYSTEM/PLMR.DLL", "16-bit runtime library");
    WriteFileText(dir + "/SYSTEM/PLMR32.DLL", "32-bit runtime library");
    WriteFileBytes(dir + "/zvupdate.exe",
                   StampFixturePackage(BlankUpdaterImage(4096, 512),
                                       {{"plmr.dll", 0x16, zv::MakeVersion(1, 2, 1, 28), {1, 2, 3}},
                                        {"zvact.exe", 0x10, zv::MakeVersion(1, 2, 1, 31), {4, 5, 6}}},
                                       zv::MakeVersion(1, 2, 1, 31), 0x409));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: reader_fixtures DIR\n");
        return 2;
    }
    try {
        std::string dir = argv[1];
        MakeDirs(dir + "/versions");
        MakeDirs(dir + "/settings");
        WriteVersions(dir + "/versions");
        WriteSettings(dir + "/settings");
        WriteMachine(dir + "/machine");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "reader_fixtures: %s\n", e.what());
        return 1;
    }
    return 0;
}
