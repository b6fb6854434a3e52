// Product detection and the detection page's verdict, on small machines
// built as directory trees: drive C is a temporary directory with the Windows
// directory and its settings file, the system directory with the runtime
// libraries, the product directory with its files, and a stamped updater.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "detect/detection.h"
#include "detect/stamped_blocks.h"
#include "package/table_writer.h"
#include "platform/bytes.h"
#include "platform/posix_platform.h"
#include "platform/text.h"
#include "string_ids.h"
#include "tests/support/fixture_package.h"
#include "tests/support/host_layout.h"
#include "tests/support/pe_builder.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/temp_dir.h"
#include "transfer/startup.h"

using namespace zv;
using namespace zvtest;

namespace {

const ProductVersion kPackageVersion = MakeVersion(1, 2, 1, 31);
const ProductVersion kOlder = MakeVersion(1, 2, 1, 28);
const ProductVersion kNewer = MakeVersion(1, 3, 0, 0);

struct ProductFileDescription {
    bool present = true;
    std::string internalName;  // empty: the file's own name
    ProductVersion version = kOlder;
    uint16_t language = 0x409;
    int32_t markerWord = 0;  // main programs; -1: no marker block
};

// What one machine holds. The defaults are a complete, genuine, older
// installation of both variants in C:\ZARVEL.
struct Machine {
    bool settings = true;
    std::string drive = "C";
    std::string dir = "\\ZARVEL";
    std::string inst;  // empty: no "inst" key
    std::string productDir = "ZARVEL";  // host directory under drive C
    ProductFileDescription act16, sa16, act32, sa32;
    bool plmr16 = true, plmr32 = true;
    bool plmr16InUse = false, plmr32InUse = false;
    bool plmr32InProductDir = false;  // instead of the system directory
    bool updater = true;
    std::vector<FixtureMember> members = {{"plmr.dll", 0x16, kOlder, {1, 2, 3}},
                                          {"zvact.exe", 0x10, kPackageVersion, {4, 5}}};
    uint16_t entryCount = 0;  // stamped over the header's when not 0
};

std::vector<uint8_t> ProductFileBytes(const std::string& name, const ProductFileDescription& desc, bool mainProgram,
                                      ExeFormat format) {
    std::vector<uint8_t> data(32, 0);
    if (mainProgram && desc.markerWord >= 0) {
        AppendBytes(&data, MarkerBlockBytes(KEY_MARKER_WORD, {static_cast<uint8_t>(desc.markerWord),
                                                             static_cast<uint8_t>(desc.markerWord >> 8)}));
    }
    return BuildVersionedExecutable(
        format, ProductVersionInfo(desc.version, desc.language, desc.internalName.empty() ? name : desc.internalName),
        data);
}

struct DetectionTest : ::testing::Test {
    std::unique_ptr<TempDir> machine;
    PosixPlatform os;
    ScriptedUi ui;
    RunContext run;
    PackageHeader header{};
    InstalledProduct product;
    PackageTable table;

    void TearDown() override { FreePackageTable(os, &table); }

    // A fresh machine for the next case.
    void Reset() {
        FreePackageTable(os, &table);
        table = PackageTable{};
        machine = std::make_unique<TempDir>();
        ui.messages.clear();
        run = RunContext{};
        product = InstalledProduct{};
    }

    void Build(const Machine& m) {
        if (!machine) Reset();
        const TempDir& root = *machine;
        MakeDirs(root / "WINDOWS/SYSTEM");
        MakeDirs(root / "UPDATE");
        if (!m.productDir.empty()) MakeDirs(root / m.productDir);
        if (m.settings) {
            std::string ini = "[setup]\r\ndrive=" + m.drive + "\r\ndir=" + m.dir + "\r\n";
            if (!m.inst.empty()) ini += "inst=" + m.inst + "\r\n";
            WriteFileText(root / "WINDOWS/zvact.ini", ini);
        }
        std::string product = root.path() + "/" + m.productDir + (m.productDir.empty() ? "" : "/");
        if (m.act16.present) WriteFileBytes(product + "ZVACT.EXE", ProductFileBytes("zvact.exe", m.act16, true, ExeFormat::Ne));
        if (m.sa16.present) WriteFileBytes(product + "zvsa.bin", ProductFileBytes("zvsa.bin", m.sa16, false, ExeFormat::Ne));
        if (m.act32.present) WriteFileBytes(product + "zvact32.exe", ProductFileBytes("zvact32.exe", m.act32, true, ExeFormat::Pe32));
        if (m.sa32.present) WriteFileBytes(product + "zvsa32.bin", ProductFileBytes("zvsa32.bin", m.sa32, false, ExeFormat::Pe32));
        if (m.plmr16) WriteFileText(root / "WINDOWS/SYSTEM/plmr.dll", "16-bit runtime");
        if (m.plmr32) WriteFileText((m.plmr32InProductDir ? product : root / "WINDOWS/SYSTEM/") + "PLMR32.DLL", "32-bit runtime");

        std::vector<uint8_t> image = StampFixturePackage(BlankUpdaterImage(2048, 100), m.members, kPackageVersion, 0x409);
        size_t at = 0;
        ASSERT_EQ(FindPackageHeader(image.data(), image.size(), &at), HeaderSearch::Found);
        if (m.entryCount != 0) StoreU16LE(image.data() + at + 6, m.entryCount);
        header = DecodePackageHeader(image.data() + at);
        if (m.updater) WriteFileBytes(root / "UPDATE/ZVUPDATE.EXE", image);

        os.SetLayout(MachineLayout(root.path(), "ZVUPDATE.EXE"));
        os.SetSharedFileInUse("PLMR.DLL", m.plmr16InUse);
        os.SetSharedFileInUse("plmr32.dll", m.plmr32InUse);
        ASSERT_TRUE(os.EnterDirectory("C:\\"));
        run.os = &os;
        run.ui = &ui;
    }

    void Detect(const Machine& m) {
        Build(m);
        PrepareUpdate(run, header, &product, &table);
        EXPECT_TRUE(ui.messages.empty()) << "detection shows no message";
    }
};

std::string Text(unsigned id) {
    char text[256];
    LoadText(id, text, 255);
    return text;
}

struct Expected {
    uint32_t variants;
    uint32_t runtime;
    const char* version16;
    const char* version32;
    const char* language;
    unsigned installType;
    unsigned message;  // 0: an empty line
    bool canProceed;
};

struct Scenario {
    const char* name;
    std::function<void(Machine&)> change;
    Expected expected;
};

const Expected kInstalled = {0x1B, 0x03, "1.01", "1.01", "English (United States)", IDS_INST_NORMAL, 0, true};

}  // namespace

TEST_F(DetectionTest, Scenarios) {
    const Scenario scenarios[] = {
        {"everything genuine and older", [](Machine&) {}, kInstalled},
        {"only zvsa.bin genuine: minimal installation",
         [](Machine& m) {
             m.act16.internalName = "other.exe";
             m.act32.present = m.sa32.present = false;
         },
         {0x02, 0x03, "1.01", "None", "English (United States)", IDS_INST_MINIMAL, IDS_CD_INSTALL, false}},
        {"zvact.exe marker word bit 2 set, no 32-bit main program",
         [](Machine& m) {
             m.act16.markerWord = 0x0004;
             m.act32.present = false;
         },
         {0x12, 0x03, "1.01", "1.01", "English (United States)", IDS_INST_MINIMAL, IDS_CD_INSTALL, false}},
        {"zvact.exe without a marker block",
         [](Machine& m) { m.act16.markerWord = -1; },
         {0x1A, 0x03, "1.01", "1.01", "English (United States)", IDS_INST_NORMAL, 0, true}},
        {"other marker word bits do not matter",
         [](Machine& m) { m.act16.markerWord = 0xFFFB; }, kInstalled},
        {"PLMR.DLL missing clears the 16-bit flags",
         [](Machine& m) { m.plmr16 = false; },
         {0x18, 0x02, "None", "1.01", "English (United States)", IDS_INST_NORMAL, 0, true}},
        {"PLMR32.DLL in the product directory is found",
         [](Machine& m) { m.plmr32InProductDir = true; }, kInstalled},
        {"no runtime library: no variant",
         [](Machine& m) { m.plmr16 = m.plmr32 = false; },
         {0x00, 0x00, "None", "None", "Unknown", IDS_INST_MINIMAL, IDS_CD_INSTALL, false}},
        {"inst 0 is normal", [](Machine& m) { m.inst = "0"; }, kInstalled},
        {"inst 2 is full",
         [](Machine& m) { m.inst = "2"; },
         {0x1B, 0x03, "1.01", "1.01", "English (United States)", IDS_INST_FULL, 0, true}},
        {"inst 0x2 is full too",
         [](Machine& m) { m.inst = "0x2"; },
         {0x1B, 0x03, "1.01", "1.01", "English (United States)", IDS_INST_FULL, 0, true}},
        {"inst 3 is normal", [](Machine& m) { m.inst = "3"; }, kInstalled},
        {"equal versions pass",
         [](Machine& m) { m.act16.version = m.act32.version = kPackageVersion; }, kInstalled},
        {"one newer and one older main program pass",
         [](Machine& m) { m.act16.version = kNewer; },
         {0x1B, 0x03, "1.02", "1.01", "English (United States)", IDS_INST_NORMAL, 0, true}},
        {"both main programs newer",
         [](Machine& m) { m.act16.version = m.act32.version = MakeVersion(1, 2, 1, 32); },
         {0x1B, 0x03, "1.01", "1.01", "English (United States)", IDS_INST_NORMAL, IDS_VERSION_BLOCKED, false}},
        {"the only flagged main program newer",
         [](Machine& m) {
             m.act16.version = kNewer;
             m.act32.internalName = "zvact.exe";
         },
         {0x13, 0x03, "1.02", "1.01", "English (United States)", IDS_INST_NORMAL, IDS_VERSION_BLOCKED, false}},
        {"language on one main program only passes",
         [](Machine& m) { m.act16.language = 0x407; }, kInstalled},
        {"language on no main program",
         [](Machine& m) { m.act16.language = m.act32.language = 0x407; },
         {0x1B, 0x03, "1.01", "1.01", "English (United States)", IDS_INST_NORMAL, IDS_LANGUAGE_REFUSED, false}},
        {"version decides before language",
         [](Machine& m) {
             m.act16.language = m.act32.language = 0x407;
             m.act16.version = m.act32.version = kNewer;
         },
         {0x1B, 0x03, "1.02", "1.02", "English (United States)", IDS_INST_NORMAL, IDS_VERSION_BLOCKED, false}},
        {"both libraries in use: the 32-bit one is named",
         [](Machine& m) { m.plmr16InUse = m.plmr32InUse = true; },
         {0x1B, 0x0F, "1.01", "1.01", "English (United States)", IDS_INST_NORMAL, IDS_PLMR32_IN_USE, false}},
        {"PLMR.DLL in use",
         [](Machine& m) { m.plmr16InUse = true; },
         {0x1B, 0x07, "1.01", "1.01", "English (United States)", IDS_INST_NORMAL, IDS_PLMR16_IN_USE, false}},
        {"language refused before a library in use",
         [](Machine& m) {
             m.plmr32InUse = true;
             m.act16.language = m.act32.language = 0x40C;
         },
         {0x1B, 0x0B, "1.01", "1.01", "English (United States)", IDS_INST_NORMAL, IDS_LANGUAGE_REFUSED, false}},
        {"language from zvsa.bin, without falling back to zvsa32.bin",
         [](Machine& m) {
             m.sa16.language = 0;
             m.sa32.language = 0x407;
         },
         {0x1B, 0x03, "1.01", "1.01", "Unknown", IDS_INST_NORMAL, 0, true}},
        {"language from zvsa32.bin when zvsa.bin is not genuine",
         [](Machine& m) {
             m.sa16.internalName = "zvsa16.bin";
             m.sa32.language = 0x407;
         },
         {0x19, 0x03, "1.01", "1.01", "German (Germany)", IDS_INST_NORMAL, 0, true}},
        {"16-bit line from zvsa.bin when zvact.exe is not genuine",
         [](Machine& m) {
             m.act16.present = false;
             m.sa16.version = MakeVersion(2, 5, 0, 0);
         },
         {0x1A, 0x03, "2.04", "1.01", "English (United States)", IDS_INST_NORMAL, 0, true}},
        {"an internal name in capitals matches",
         [](Machine& m) { m.act32.internalName = "ZVACT32.EXE"; }, kInstalled},
        // A package whose table does not load whole and sound is damaged,
        // whatever is installed: Next is never offered for it.
        {"a table that claims more records than it holds",
         [](Machine& m) { m.entryCount = 65535; },
         {0x1B, 0x03, "1.01", "1.01", "English (United States)", IDS_INST_NORMAL, IDS_PACKAGE_DAMAGED, false}},
        {"a member whose name Windows would strip",
         [](Machine& m) { m.members[1].name = "zvact.exe."; },
         {0x1B, 0x03, "1.01", "1.01", "English (United States)", IDS_INST_NORMAL, IDS_PACKAGE_DAMAGED, false}},
        {"two members of one name",
         [](Machine& m) { m.members.push_back({"ZVACT.EXE", 0, {0, 0}, {6}}); },
         {0x1B, 0x03, "1.01", "1.01", "English (United States)", IDS_INST_NORMAL, IDS_PACKAGE_DAMAGED, false}},
        {"the updater's own file cannot be read",
         [](Machine& m) { m.updater = false; },
         {0x1B, 0x03, "1.01", "1.01", "English (United States)", IDS_INST_NORMAL, IDS_PACKAGE_DAMAGED, false}},
        {"a damaged package is told before a refusal of the installation",
         [](Machine& m) {
             m.entryCount = 3;
             m.act16.version = m.act32.version = kNewer;
         },
         {0x1B, 0x03, "1.02", "1.02", "English (United States)", IDS_INST_NORMAL, IDS_PACKAGE_DAMAGED, false}},
        {"a damaged package on a CD installation",
         [](Machine& m) {
             m.entryCount = 3;
             m.act16.internalName = "other.exe";
             m.act32.present = m.sa32.present = false;
         },
         {0x02, 0x03, "1.01", "None", "English (United States)", IDS_INST_MINIMAL, IDS_PACKAGE_DAMAGED, false}},
        {"an internal name one letter short does not",
         [](Machine& m) { m.act32.internalName = "zvact32.ex"; },
         {0x13, 0x03, "1.01", "1.01", "English (United States)", IDS_INST_NORMAL, 0, true}},
    };
    for (const Scenario& s : scenarios) {
        SCOPED_TRACE(s.name);
        Reset();
        Machine m;
        s.change(m);
        Detect(m);
        EXPECT_EQ(product.variants, s.expected.variants);
        EXPECT_EQ(product.runtime, s.expected.runtime);
        UpdateVerdict v = EvaluateUpdate(run, product, header, table.status);
        EXPECT_STREQ(v.version16Text, s.expected.version16);
        EXPECT_STREQ(v.version32Text, s.expected.version32);
        EXPECT_STREQ(v.languageText, s.expected.language);
        EXPECT_EQ(v.installTypeText, Text(s.expected.installType));
        EXPECT_STREQ(v.directoryText, "C:\\ZARVEL");
        EXPECT_EQ(v.messageId, s.expected.message);
        EXPECT_EQ(v.message, s.expected.message == 0 ? std::string() : Text(s.expected.message));
        EXPECT_EQ(v.canProceed, s.expected.canProceed);
        EXPECT_EQ(v.hintId, s.expected.canProceed ? IDS_HINT_NEXT : IDS_HINT_QUIT);
        EXPECT_EQ(v.hint, Text(v.hintId));
    }
}

TEST_F(DetectionTest, RecordsKeepWhatWasReadWhateverTheStatus) {
    Machine m;
    m.act16.present = false;
    m.sa16.internalName = "zvsa32.bin";
    m.sa16.version = MakeVersion(1, 2, 0, 40);
    m.sa16.language = 0x407;
    Detect(m);
    EXPECT_EQ(product.act16.status, Missing);
    EXPECT_EQ(product.act16.version.high, 0u);
    EXPECT_EQ(product.sa16.status, NameMismatch);
    EXPECT_EQ(product.sa16.version.low, 0x00000028u);
    EXPECT_EQ(product.sa16.language, 0x407u);
    EXPECT_EQ(product.act32.status, Matched);
    EXPECT_EQ(product.act32.version.low, kOlder.low);
}

TEST_F(DetectionTest, SettingsAndTheInstallationDirectory) {
    struct Case {
        const char* what;
        bool settings;
        std::string drive, dir, productDir;
        const char* installDir;  // nullptr: not installed and nothing else done
        const char* shown;
        uint32_t variants;
    } cases[] = {
        {"no settings file", false, "C", "\\ZARVEL", "ZARVEL", nullptr, "", 0},
        {"empty dir", true, "C", "", "ZARVEL", nullptr, "", 0},
        {"drive with colon, dir with a trailing backslash", true, "C:", "\\ZARVEL\\", "ZARVEL", "C:\\ZARVEL\\",
         "C:\\ZARVEL", 0x1B},
        {"dir without drive", true, "", "ZARVEL", "ZARVEL", "ZARVEL\\", "ZARVEL", 0x1B},
        {"the root keeps its backslash", true, "C", "\\", "", "C:\\", "C:\\", 0x1B},
        {"a drive without a root", true, "c", "ZARVEL", "ZARVEL", "c:ZARVEL\\", "c:ZARVEL", 0x1B},
        {"dir ending with a slash", true, "C", "\\ZARVEL/", "ZARVEL", "C:\\ZARVEL/\\", "C:\\ZARVEL/", 0x1B},
        {"dir too long for its files", true, "C", "\\" + std::string(245, 'D'), "ZARVEL", nullptr, "", 0},
        {"the longest dir that fits", true, "C", "\\" + std::string(244, 'D'), std::string(244, 'D'), "", "", 0x1B},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Reset();
        Machine m;
        m.settings = c.settings;
        m.drive = c.drive;
        m.dir = c.dir;
        m.productDir = c.productDir;
        Detect(m);
        EXPECT_EQ(product.variants, c.variants);
        if (c.installDir == nullptr) {
            EXPECT_STREQ(product.installDir, "");
            EXPECT_EQ(table.status, TableStatus::NotLoaded) << "nothing else is done";
        } else if (*c.installDir != '\0') {
            EXPECT_STREQ(product.installDir, c.installDir);
            UpdateVerdict v = EvaluateUpdate(run, product, header, table.status);
            EXPECT_STREQ(v.directoryText, c.shown);
        } else {
            EXPECT_EQ(std::strlen(product.installDir) + std::strlen("zvact32.exe"), 259u);
        }
    }
}

TEST_F(DetectionTest, ProgramPathsAndTheTableAreSet) {
    Machine m;
    Detect(m);
    EXPECT_STREQ(run.programPath, "C:\\UPDATE\\ZVUPDATE.EXE");
    EXPECT_STREQ(run.programDir, "C:\\UPDATE\\");
    EXPECT_STREQ(product.drive, "C");
    EXPECT_STREQ(product.dir, "\\ZARVEL");
    EXPECT_EQ(product.inst, 1u) << "inst absent gives 1";
    ASSERT_EQ(table.status, TableStatus::Loaded);
    EXPECT_EQ(table.entryCount, 2);
    EXPECT_STREQ(EntryName(FirstPackageEntry(table)), "plmr.dll");
}

TEST_F(DetectionTest, ATableThatCannotBeLoadedIsRecordedAndDetectionGoesOn) {
    Machine m;
    m.updater = false;
    Detect(m);
    EXPECT_EQ(table.status, TableStatus::OpenFailed);
    EXPECT_EQ(table.bytes, nullptr);
    EXPECT_EQ(product.variants, 0x1Bu);
}
