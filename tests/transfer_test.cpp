// The transfer: both passes and their decisions, progress, the questions and
// their answers, and, under every fault, installed files that are each either
// as they were or wholly new.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>

#include "detect/product_files.h"
#include "detect/stamped_blocks.h"
#include "package/table.h"
#include "platform/bytes.h"
#include "platform/posix_platform.h"
#include "platform/sha256.h"
#include "platform/text.h"
#include "string_ids.h"
#include "tests/support/host_layout.h"
#include "tests/support/fault_platform.h"
#include "tests/support/fixture_package.h"
#include "tests/support/lzhuf_test_encoder.h"
#include "tests/support/pe_builder.h"
#include "tests/support/stamped_file.h"
#include "tests/support/sample_data.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/scripted_view.h"
#include "tests/support/temp_dir.h"
#include "tests/support/transfer_number.h"
#include "transfer/stage.h"
#include "transfer/journal.h"
#include "transfer/transfer.h"

using namespace zv;
using zvtest::Fault;
using zvtest::FaultOp;

namespace {

const uint32_t kBlockKeys[] = {KEY_CARRIED_SHORT, KEY_CARRIED_FIRST, KEY_CARRIED_SECOND};
const uint32_t kBlockSizes[] = {12, 88, 88};

// Text-like, so the members compress and take several blocks to write.
std::vector<uint8_t> Bytes(uint32_t seed, size_t size) { return zvtest::SampleText(size, seed); }

void PutBlock(std::vector<uint8_t>* file, size_t at, uint32_t key, const std::vector<uint8_t>& data) {
    StoreU16LE(file->data() + at, 0x7777);
    StoreU32LE(file->data() + at + 2, key);
    std::copy(data.begin(), data.end(), file->begin() + static_cast<long>(at) + 6);
}

// A product file that carries the three blocks (filled with `fill`) and a
// checksum word.
std::vector<uint8_t> CarriedFile(uint32_t seed, size_t size, uint8_t fill, uint16_t checksum) {
    std::vector<uint8_t> file = Bytes(seed, size);
    size_t at = 100;
    for (int k = 0; k < 3; ++k) {
        PutBlock(&file, at, kBlockKeys[k], std::vector<uint8_t>(kBlockSizes[k], static_cast<uint8_t>(fill + k)));
        at += 6 + kBlockSizes[k] + 17;
    }
    PutBlock(&file, at, KEY_CHECKSUM, {static_cast<uint8_t>(checksum), static_cast<uint8_t>(checksum >> 8)});
    return file;
}

// What the carried member `packaged` (made by CarriedFile from `seed` and
// `size`) becomes over an installed copy whose blocks were filled with
// `installedFill`: its own bytes with the installed copy's blocks, and a
// checksum word that keeps the packaged file's checksum relation.
std::vector<uint8_t> CarriedResult(uint32_t seed, size_t size, uint8_t installedFill,
                                   const std::vector<uint8_t>& packaged) {
    std::vector<uint8_t> expected = CarriedFile(seed, size, installedFill, 0);
    int32_t difference = zvtest::FileChecksumDifference(packaged);
    EXPECT_NE(difference, -1);
    EXPECT_TRUE(zvtest::SetFileChecksumDifference(&expected, static_cast<uint16_t>(difference)));
    return expected;
}

struct Member {
    std::string name;
    uint16_t flags;
    std::vector<uint8_t> content;
    ProductVersion version{0, 0};
    std::vector<uint8_t> stream = {};  // when not empty: the member's data as it is, for damage
    int32_t sizeKB = -1;               // the record's, when not from the stream
};

class TransferTest : public ::testing::Test {
public:
    zvtest::TempDir dir;
    PosixPlatform posix;
    zvtest::FaultPlatform os{posix};
    zvtest::ScriptedUi ui;
    zvtest::ScriptedView view;
    RunContext run;
    InstalledProduct product;
    PackageHeader header{};
    PackageTable table;
    std::map<std::string, std::vector<uint8_t>> before;  // installed files before the run
    std::map<std::string, std::vector<uint8_t>> packaged;

    void SetUp() override {
        posix.SetLayout(zvtest::MachineLayout(dir.path(), "SETUP.EXE"));
        zvtest::MakeDirs(dir / "ZARVEL");
        zvtest::MakeDirs(dir / "UPDATE");
        run.os = &os;
        run.ui = &ui;
        run.transferView = &view;
        std::strcpy(run.programPath, "C:\\UPDATE\\SETUP.EXE");
        std::strcpy(run.programDir, "C:\\UPDATE\\");
        std::strcpy(product.installDir, "C:\\ZARVEL");
        product.runtime = Plmr16Found | Plmr32Found;
    }
    void TearDown() override { FreePackageTable(posix, &table); }

    // Host path of a file in the installation or the system directory.
    std::string Host(const std::string& relative) { return dir / relative; }

    void Install(const std::string& relative, const std::vector<uint8_t>& bytes) {
        zvtest::WriteFileBytes(Host(relative), bytes);
        before[relative] = bytes;
    }

    // With `digests`, the package carries every member's SHA-256.
    void Package(const std::vector<Member>& members, TableStatus expected = TableStatus::Loaded,
                 bool digests = false) {
        std::vector<zvtest::FixtureMember> fixture;
        for (const Member& m : members) {
            zvtest::FixtureMember f;
            f.name = m.name;
            f.flags = m.flags;
            f.version = m.version;
            f.data = m.stream.empty() ? zvtest::EncodeLzhufForTest(m.content) : m.stream;
            f.sizeKB = m.sizeKB;
            if (digests) {
                f.digest.resize(SHA256_DIGEST_SIZE);
                EXPECT_EQ(Sha256Bytes(m.content.data(), m.content.size(), f.digest.data()), Sha256Status::Ok);
            }
            fixture.push_back(f);
            packaged[m.name] = m.content;
        }
        std::vector<uint8_t> image =
            zvtest::StampFixturePackage(zvtest::BlankUpdaterImage(2048, 512), fixture, MakeVersion(1, 2, 1, 31), 0x409);
        zvtest::WriteFileBytes(Host("UPDATE/SETUP.EXE"), image);
        header = DecodePackageHeader(image.data() + 512);
        ASSERT_EQ(LoadPackageTable(posix, run.programPath, header, &table), expected);
    }

    TransferResult Run(TransferObserver* observer = nullptr) { return RunTransfer(run, table, &product, observer); }

    std::vector<uint8_t> Read(const std::string& relative) { return zvtest::ReadFileBytes(Host(relative)); }

    // The updater's own files (new copies, backups, journals) left anywhere
    // under the machine's directories.
    std::vector<std::string> Leftovers() {
        std::vector<std::string> found;
        for (const auto& item : std::filesystem::recursive_directory_iterator(dir.path())) {
            const std::string name = item.path().filename().string();
            if (name.rfind("~zv", 0) == 0 || name.rfind("~ZV", 0) == 0) found.push_back(item.path().string());
        }
        return found;
    }

    // The file names of Leftovers(), sorted.
    std::vector<std::string> LeftNames() {
        std::vector<std::string> names;
        for (const std::string& path : Leftovers()) names.push_back(std::filesystem::path(path).filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::vector<unsigned> MessageIds() const {
        std::vector<unsigned> ids;
        for (const auto& m : ui.messages) ids.push_back(m.stringId);
        return ids;
    }
};

}  // namespace

TEST_F(TransferTest, BothPassesWriteWhatTheyShouldAndPassTheRestBy) {
    Install("WINDOWS/SYSTEM/PLMR32.DLL", Bytes(1, 3000));
    Install("ZARVEL/zvact32.exe", CarriedFile(2, 5000, 0x40, 0x1234));
    Install("ZARVEL/readme.txt", Bytes(3, 100));
    Member plmr32{"plmr32.dll", 0x16, Bytes(11, 40000), MakeVersion(1, 2, 1, 28)};
    Member plmr16{"plmr.dll", 0x16, Bytes(12, 500), MakeVersion(1, 2, 1, 28)};
    Member act32{"zvact32.exe", ENTRY_UPDATE_ONLY, CarriedFile(13, 70000, 0x90, 0x0000), MakeVersion(1, 2, 1, 31)};
    Member sa16{"zvsa.bin", ENTRY_UPDATE_ONLY, Bytes(14, 300), MakeVersion(1, 2, 1, 31)};
    Member readme{"readme.txt", 0, Bytes(15, 33000)};
    Member sub{"help\\index.txt", 0, Bytes(16, 1000)};
    Member ignored{"ignored.bin", ENTRY_IGNORED, Bytes(17, 10)};
    Package({plmr32, plmr16, act32, sa16, readme, sub, ignored});
    product.runtime = Plmr32Found;  // PLMR.DLL was not found

    ASSERT_EQ(Run(), 0) << ::testing::PrintToString(MessageIds());
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(Read("WINDOWS/SYSTEM/PLMR32.DLL"), plmr32.content);
    EXPECT_FALSE(zvtest::FileExists(Host("WINDOWS/SYSTEM/plmr.dll")));
    EXPECT_FALSE(zvtest::FileExists(Host("ZARVEL/zvsa.bin"))) << "update-only with nothing installed";
    EXPECT_EQ(Read("ZARVEL/readme.txt"), readme.content);
    EXPECT_EQ(Read("ZARVEL/help/index.txt"), sub.content) << "a missing subdirectory is made";
    EXPECT_FALSE(zvtest::FileExists(Host("ZARVEL/ignored.bin")));

    // The carried file: the new content with the installed copy's blocks, and
    // its checksum word keeps the relation the packaged file had with its bytes.
    EXPECT_EQ(Read("ZARVEL/zvact32.exe"), CarriedResult(13, 70000, 0x40, act32.content));
    // 6 of 6 eligible entries handled but PLMR.DLL, passed by without a step: 5 × 100 / 6.
    ASSERT_FALSE(view.percents.empty());
    EXPECT_EQ(view.percents.front(), 0u);
    EXPECT_EQ(view.percents.back(), 83u);
    EXPECT_EQ(view.created, 1);
    EXPECT_EQ(view.destroyed, 1);
    EXPECT_EQ(view.names, (std::vector<std::string>{"plmr32.dll", "zvact32.exe", "readme.txt", "help\\index.txt"}))
        << "the page shows each file as it is staged";
    EXPECT_EQ(os.OpenFiles(), 0u);
    EXPECT_EQ(os.liveBlocks, 0);
}

TEST_F(TransferTest, FreeSpaceIsAskedForWhatEachDriveHoldsAtItsPeak) {
    // What a drive needs: the sum of the new copies staged there, whatever
    // the installed copies they replace (those stay, as backups, until every
    // new copy is in place). Sizes are whole kilobytes, so each entry's size
    // is exact; the needs below are worked out by hand.
    struct File {
        const char* name;
        uint16_t flags;
        uint32_t newKB;
        uint32_t installedKB;  // 0: no installed copy
    };
    struct Case {
        const char* what;
        bool productOnD;  // the product directory on a drive of its own
        std::vector<File> files;
        uint32_t needC, needD;  // KB; 0: nothing written there
    };
    const uint16_t kShared = 0x16, kUpdateOnly = ENTRY_UPDATE_ONLY;
    const Case cases[] = {
        // 10 + 6, though b.txt shrinks.
        {"one drive, one file grows and one shrinks", false,
         {{"a.txt", 0, 10, 4}, {"b.txt", 0, 6, 8}}, 16, 0},
        // 8 + 3: the carried file's blocks are written into its new copy in place.
        {"one drive, a carried file smaller than its installed copy", false,
         {{"zvact32.exe", kUpdateOnly, 8, 20}, {"readme.txt", 0, 3, 0}}, 11, 0},
        // C: 12. D: 7 + 9.
        {"two drives, each with its own sum", true,
         {{"plmr32.dll", kShared, 12, 2}, {"zvsa32.bin", kUpdateOnly, 7, 5}, {"readme.txt", 0, 9, 0}}, 12, 16},
        // C: 3, though 30 are installed. D: 2.
        {"two drives, a shared copy larger than the new one", true,
         {{"plmr32.dll", kShared, 3, 30}, {"readme.txt", 0, 2, 0}}, 3, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PosixLayout layout = zvtest::MachineLayout(dir.path(), "SETUP.EXE");
        layout.drives['D' - 'A'] = dir / "D";
        posix.SetLayout(layout);
        const std::string productDir = c.productOnD ? "D/ZARVEL/" : "ZARVEL/";
        zvtest::MakeDirs(dir / productDir);
        std::strcpy(product.installDir, c.productOnD ? "D:\\ZARVEL" : "C:\\ZARVEL");
        before.clear();
        packaged.clear();
        std::vector<Member> members;
        uint32_t seed = 100;
        for (const File& f : c.files) {
            bool carried = IsCarriedFile(f.name);
            Member m{f.name, f.flags, carried ? CarriedFile(++seed, f.newKB * 1024, 0x20, 0) : Bytes(++seed, f.newKB * 1024),
                     MakeVersion(1, 2, 1, 31)};
            members.push_back(m);
            if (f.installedKB == 0) continue;
            std::string where = (f.flags & ENTRY_SHARED) ? "WINDOWS/SYSTEM/" : productDir;
            Install(where + f.name, carried ? CarriedFile(++seed, f.installedKB * 1024, 0x30, 0)
                                            : Bytes(++seed, f.installedKB * 1024));
        }
        FreePackageTable(posix, &table);
        Package(members);

        const uint32_t needs[2] = {c.needC, c.needD};
        for (int drive = 0; drive < 2; ++drive) {
            if (needs[drive] == 0) continue;
            SCOPED_TRACE(drive == 0 ? "one byte short on C:" : "one byte short on D:");
            os.freeSpaceOnDrive[2] = int64_t{c.needC} * 1024;
            os.freeSpaceOnDrive[3] = int64_t{c.needD} * 1024;
            os.freeSpaceOnDrive[2 + drive] -= 1;
            ui.messages.clear();
            ui.ClearScript();
            ui.Script({ANSWER_CANCEL});
            InstalledProduct fresh = product;
            EXPECT_EQ(RunTransfer(run, table, &fresh), ANSWER_CANCEL);
            EXPECT_EQ(MessageIds(), std::vector<unsigned>{IDS_NO_DISK_SPACE});
            for (const auto& [relative, old] : before) EXPECT_EQ(Read(relative), old) << relative;
        }
        // Exactly what each drive needs is enough.
        os.freeSpaceOnDrive[2] = int64_t{c.needC} * 1024;
        os.freeSpaceOnDrive[3] = int64_t{c.needD} * 1024;
        ui.messages.clear();
        ui.ClearScript();
        InstalledProduct fresh = product;
        EXPECT_EQ(RunTransfer(run, table, &fresh), 0);
        EXPECT_TRUE(ui.messages.empty()) << ::testing::PrintToString(MessageIds());
        for (const File& f : c.files) {
            std::string where = (f.flags & ENTRY_SHARED) ? "WINDOWS/SYSTEM/" : productDir;
            EXPECT_EQ(Read(where + f.name).size(), f.newKB * 1024u) << f.name << " is written";
        }
        for (int64_t& free : os.freeSpaceOnDrive) free = -1;
        std::filesystem::remove_all(dir / "D");
        std::filesystem::remove_all(dir / "ZARVEL");
        zvtest::MakeDirs(dir / "ZARVEL");
        for (const File& f : c.files) std::filesystem::remove(Host("WINDOWS/SYSTEM/" + std::string(f.name)));
    }
}

namespace {

// The installation of the fault scenarios: a shared library in the system
// directory, a carried product file and a plain one, all to be replaced.
class TransferFaultTest : public TransferTest {
public:
    Member plmr32{"plmr32.dll", 0x16, Bytes(21, 20000), MakeVersion(1, 2, 1, 28)};
    Member act32{"zvact32.exe", ENTRY_UPDATE_ONLY, CarriedFile(22, 50000, 0x90, 0x0000), MakeVersion(1, 2, 1, 31)};
    Member readme{"readme.txt", 0, Bytes(23, 70000)};

    void SetUp() override {
        TransferTest::SetUp();
        Install("WINDOWS/SYSTEM/PLMR32.DLL", Bytes(1, 3000));
        Install("ZARVEL/zvact32.exe", CarriedFile(2, 5000, 0x40, 0x1234));
        Install("ZARVEL/readme.txt", Bytes(3, 100));
        Package({plmr32, act32, readme});
    }

    struct KillCase {
        const char* what;
        bool powerCut;                 // the kill loses what was not made durable
        const char* spares = "";       // a folder whose changes the power cut keeps
        bool cancelLastMove = false;   // the commit's last move fails and is cancelled
        bool prefixes = false;         // the cut also keeps each run of the oldest changes
    };
    void KillAtEveryChange(const KillCase& c);
};

struct FaultCase {
    const char* what;
    std::vector<Fault> faults;
    std::vector<int> answers;
    int32_t result;
    std::vector<unsigned> questions;  // string ids of every message shown, in order
    std::vector<std::string> written; // installed files that end up new
};

}  // namespace

TEST_F(TransferFaultTest, EveryFaultLeavesWholeFilesAndTheQuestionsOfItsKind) {
    const std::string pkg = "SETUP.EXE";
    const std::vector<std::string> all = {"PLMR32.DLL", "zvact32.exe", "readme.txt"};
    const std::vector<std::string> none = {};
    Fault moveInUse{FaultOp::Move, "zvact32", 0, -1};
    moveInUse.inUse = true;
    // The new copies are ~zvn0000.tmp (PLMR32.DLL), ~zvn0001.tmp (zvact32.exe)
    // and ~zvn0002.tmp (readme.txt), beside their targets.
    const FaultCase cases[] = {
        {"no fault", {}, {}, 0, {}, all},
        {"write error, Retry", {{FaultOp::Write, "~zvn", 1}}, {ANSWER_RETRY}, 0, {IDS_WRITE_ERROR}, all},
        {"write error, Cancel", {{FaultOp::Write, "ZARVEL\\~zvn", 1}}, {ANSWER_CANCEL}, ANSWER_CANCEL,
         {IDS_WRITE_ERROR}, none},
        {"short write, Retry writes the rest", {{FaultOp::Write, "ZARVEL\\~zvn", 0, 1, 12000}}, {ANSWER_RETRY}, 0,
         {IDS_DISK_FULL}, all},
        {"short write, Cancel", {{FaultOp::Write, "ZARVEL\\~zvn", 2, 1, 12000}}, {ANSWER_CANCEL}, ANSWER_CANCEL,
         {IDS_DISK_FULL}, none},
        {"new copy cannot be created, Cancel", {{FaultOp::Create, "ZARVEL\\~zvn", 0, -1}}, {ANSWER_CANCEL},
         ANSWER_CANCEL, {IDS_WRITE_ERROR}, none},
        {"flush fails, Cancel", {{FaultOp::Flush, "ZARVEL\\~zvn", 0, -1}}, {ANSWER_CANCEL}, ANSWER_CANCEL,
         {IDS_WRITE_ERROR}, none},
        {"a move in the commit fails, Retry", {{FaultOp::Move, "zvact32", 0, 1}}, {ANSWER_RETRY}, 0,
         {IDS_WRITE_ERROR}, all},
        {"a move in the commit fails, Cancel", {{FaultOp::Move, "zvact32", 0, -1}}, {ANSWER_CANCEL}, ANSWER_CANCEL,
         {IDS_WRITE_ERROR}, none},
        {"the last move of the commit fails, Cancel", {{FaultOp::Move, "readme", 1, 1}}, {ANSWER_CANCEL},
         ANSWER_CANCEL, {IDS_WRITE_ERROR}, none},
        {"a file in the commit is held by another program, Cancel", {moveInUse}, {ANSWER_CANCEL}, ANSWER_CANCEL,
         {IDS_FILE_IN_USE}, none},
        // The product folder made durable: first after the staging (skip 0),
        // then after the commit's moves (skip 1). A folder that cannot be is
        // asked about as a move that fails; Cancel rolls the commit back.
        {"the staged copies' folder cannot be made durable, Retry", {{FaultOp::SyncDirectory, "ZARVEL", 0, 1}},
         {ANSWER_RETRY}, 0, {IDS_WRITE_ERROR}, all},
        {"the staged copies' folder cannot be made durable, Cancel", {{FaultOp::SyncDirectory, "ZARVEL", 0, 1}},
         {ANSWER_CANCEL}, ANSWER_CANCEL, {IDS_WRITE_ERROR}, none},
        {"the moves' folder cannot be made durable, Retry", {{FaultOp::SyncDirectory, "ZARVEL", 1, 1}},
         {ANSWER_RETRY}, 0, {IDS_WRITE_ERROR}, all},
        {"the moves' folder cannot be made durable, Cancel", {{FaultOp::SyncDirectory, "SYSTEM", 1, 1}},
         {ANSWER_CANCEL}, ANSWER_CANCEL, {IDS_WRITE_ERROR}, none},
        {"package read error, Cancel", {{FaultOp::Read, pkg, 0, -1}}, {ANSWER_CANCEL}, ANSWER_CANCEL,
         {IDS_READ_ERROR}, none},
        {"package read error, Retry", {{FaultOp::Read, pkg, 1, 1}}, {ANSWER_RETRY}, 0, {IDS_READ_ERROR}, all},
        // The stamped blocks go in through the handle that made the new
        // copy; a new copy that cannot be read back whole for them is a
        // write error.
        {"stamped blocks cannot be written into the new copy", {{FaultOp::Seek, "ZARVEL\\~zvn0001", 0, -1}}, {},
         IDS_WRITE_ERROR, {IDS_WRITE_ERROR}, none},
        // A failed write while the stamped blocks go into the new copy is
        // asked as a member's own writes are. The member's own data takes
        // two writes.
        {"write error writing the stamped blocks, Retry", {{FaultOp::Write, "~zvn0001", 2, 1}}, {ANSWER_RETRY}, 0,
         {IDS_WRITE_ERROR}, all},
        {"write error writing the stamped blocks, Cancel", {{FaultOp::Write, "~zvn0001", 2, -1}}, {ANSWER_CANCEL},
         ANSWER_CANCEL, {IDS_WRITE_ERROR}, none},
        {"no memory for an output buffer", {{FaultOp::AllocBlock, "", 1, 1, -1, 32000}}, {}, IDS_NO_MEMORY,
         {IDS_NO_MEMORY}, none},
        {"stamped blocks cannot be read for lack of memory", {{FaultOp::AllocBlock, "", 0, 1, -1, 5000}}, {},
         IDS_NO_MEMORY, {IDS_NO_MEMORY}, none},
    };
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(c.what);
        // A fresh installation for every case.
        for (const auto& [relative, bytes] : before) {
            zvtest::SetReadOnly(Host(relative), false);
            zvtest::WriteFileBytes(Host(relative), bytes);
        }
        ui.messages.clear();
        ui.unscripted = 0;
        os.Clear();
        for (const Fault& f : c.faults) os.Add(f);
        ui.ClearScript();
        for (int a : c.answers) ui.Script({a});
        InstalledProduct fresh = product;

        bool left = false;
        EXPECT_EQ(RunTransfer(run, table, &fresh, nullptr, &left), c.result);
        // Every failure here is rolled back whole, and the last page says so.
        EXPECT_EQ(left, c.result != 0);
        EXPECT_EQ(MessageIds(), c.questions);
        EXPECT_EQ(ui.unscripted, 0);
        EXPECT_EQ(ui.Unanswered(), 0u);
        for (const auto& [relative, old] : before) {
            std::string name = relative.substr(relative.rfind('/') + 1);
            bool wantNew = std::find(c.written.begin(), c.written.end(), name) != c.written.end();
            std::vector<uint8_t> now = Read(relative);
            if (!wantNew) {
                EXPECT_EQ(now, old) << relative << " should be as it was";
            } else if (name == "zvact32.exe") {
                EXPECT_EQ(now, CarriedResult(22, 50000, 0x40, act32.content)) << relative << " should be new";
            } else {
                EXPECT_EQ(now, packaged[name == "PLMR32.DLL" ? "plmr32.dll" : name]) << relative << " should be new";
            }
        }
        EXPECT_EQ(Leftovers(), std::vector<std::string>{});
        EXPECT_EQ(os.OpenFiles(), 0u);
        EXPECT_EQ(os.liveBlocks, 0);
        EXPECT_EQ(view.created, view.destroyed);
    }
}

TEST_F(TransferFaultTest, StopsAndRefusalsBeforeOrBetweenEntries) {
    struct Case {
        const char* what;
        std::function<void(TransferFaultTest&)> arrange;
        std::vector<int> answers;
        int32_t result;
        std::vector<unsigned> messages;
        std::vector<std::string> written;
    };
    const Case cases[] = {
        {"a stop requested before the second entry", [](TransferFaultTest& t) { t.view.stopAtPoll = 2; }, {}, -1, {},
         {}},
        {"the shared file in use: Cancel ends before anything is written",
         [](TransferFaultTest& t) { t.posix.SetSharedFileInUse("plmr32.dll", true); }, {ANSWER_CANCEL}, ANSWER_CANCEL,
         {IDS_FILE_IN_USE}, {}},
        {"the shared file in use: Retry once it is closed",
         [](TransferFaultTest& t) {
             t.posix.SetSharedFileInUse("plmr32.dll", true);
             t.ui.onShow = [&t](const zvtest::RecordedMessage&) { t.posix.SetSharedFileInUse("plmr32.dll", false); };
         },
         {ANSWER_RETRY}, 0, {IDS_FILE_IN_USE}, {"PLMR32.DLL", "zvact32.exe", "readme.txt"}},
        {"a read-only installed file: Ignore leaves it, the rest goes on",
         [](TransferFaultTest& t) { zvtest::SetReadOnly(t.Host("ZARVEL/zvact32.exe"), true); }, {ANSWER_IGNORE}, 0,
         {IDS_WRITE_PROTECTED}, {"PLMR32.DLL", "readme.txt"}},
        {"a read-only installed file: Retry once it is writable",
         [](TransferFaultTest& t) {
             zvtest::SetReadOnly(t.Host("ZARVEL/zvact32.exe"), true);
             t.ui.onShow = [&t](const zvtest::RecordedMessage&) {
                 zvtest::SetReadOnly(t.Host("ZARVEL/zvact32.exe"), false);
             };
         },
         {ANSWER_RETRY}, 0, {IDS_WRITE_PROTECTED}, {"PLMR32.DLL", "zvact32.exe", "readme.txt"}},
        {"a read-only installed file: Abort",
         [](TransferFaultTest& t) { zvtest::SetReadOnly(t.Host("ZARVEL/zvact32.exe"), true); }, {ANSWER_ABORT}, -1,
         {IDS_WRITE_PROTECTED}, {}},
        {"not enough free space: Cancel writes nothing", [](TransferFaultTest& t) { t.os.freeSpaceOverride = 1000; },
         {ANSWER_CANCEL}, ANSWER_CANCEL, {IDS_NO_DISK_SPACE}, {}},
        {"not enough free space: Retry after some is freed",
         [](TransferFaultTest& t) {
             t.os.freeSpaceOverride = 1000;
             t.ui.onShow = [&t](const zvtest::RecordedMessage&) { t.os.freeSpaceOverride = 10'000'000; };
         },
         {ANSWER_RETRY}, 0, {IDS_NO_DISK_SPACE}, {"PLMR32.DLL", "zvact32.exe", "readme.txt"}},
        {"the transfer page cannot be created", [](TransferFaultTest& t) { t.view.failCreate = true; }, {},
         IDS_WINDOW_PROBLEM, {IDS_WINDOW_PROBLEM}, {}},
        {"a table that was not loaded whole is never walked",
         [](TransferFaultTest& t) { t.table.status = TableStatus::Damaged; }, {}, -1, {IDS_READ_ERROR}, {}},
        {"the program file cannot be opened", [](TransferFaultTest& t) { t.os.Add({FaultOp::Open, "SETUP.EXE", 0, -1}); },
         {}, -1, {IDS_READ_ERROR}, {}},
        {"no memory for the input buffer",
         [](TransferFaultTest& t) { t.os.Add({FaultOp::AllocBlock, "", 0, 1, -1, 32000}); }, {}, -1, {IDS_NO_MEMORY}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const auto& [relative, bytes] : before) {
            zvtest::SetReadOnly(Host(relative), false);
            zvtest::WriteFileBytes(Host(relative), bytes);
        }
        ui.messages.clear();
        ui.onShow = nullptr;
        ui.ClearScript();
        os.Clear();
        os.freeSpaceOverride = -1;
        view = zvtest::ScriptedView();
        posix.SetSharedFileInUse("plmr32.dll", false);
        TableStatus status = table.status;
        c.arrange(*this);
        for (int a : c.answers) ui.Script({a});
        InstalledProduct fresh = product;

        bool left = c.result != 0;  // the opposite of what is expected
        EXPECT_EQ(RunTransfer(run, table, &fresh, nullptr, &left), c.result);
        EXPECT_EQ(left, c.result != 0) << "a stop or refusal leaves Zarvel as it was; a success does not";
        table.status = status;
        EXPECT_EQ(MessageIds(), c.messages);
        EXPECT_EQ(ui.unscripted, 0);
        for (const auto& [relative, old] : before) {
            std::string name = relative.substr(relative.rfind('/') + 1);
            bool wantNew = std::find(c.written.begin(), c.written.end(), name) != c.written.end();
            EXPECT_EQ(Read(relative) != old, wantNew) << relative;
        }
        if (!ui.messages.empty() && ui.messages.back().stringId == IDS_READ_ERROR) {
            EXPECT_EQ(ui.messages.back().text, "C:\\UPDATE\\SETUP.EXE: read error!");
        }
        EXPECT_EQ(Leftovers(), std::vector<std::string>{});
        EXPECT_EQ(view.created, view.destroyed);
        EXPECT_EQ(os.OpenFiles(), 0u);
        EXPECT_EQ(os.liveBlocks, 0);
    }
}

// A journal of an earlier update that is refused stays until the user deals
// with it: another update refuses to begin, names the file and says what to
// do, and leaves it and every file alone. A file of the journal's name in the
// product directory (which ordinary users may write) is nobody's journal: it
// stops nothing and is left as it is.
TEST_F(TransferFaultTest, ARefusedJournalKeepsAnotherUpdateFromStarting) {
    const std::vector<uint8_t> earlier = zvtest::SampleNoise(300, 9);
    zvtest::WriteFileBytes(Host("WINDOWS/~zvupd.jnl"), earlier);
    EXPECT_EQ(Run(), static_cast<int32_t>(IDS_JOURNAL_REFUSED));
    ASSERT_EQ(MessageIds(), std::vector<unsigned>{IDS_JOURNAL_REFUSED});
    EXPECT_EQ(ui.messages[0].text,
              "C:\\WINDOWS\\~zvupd.jnl, the record of an earlier update of Zarvel, is damaged. Nothing has been "
              "changed. If no other copy of this program is running, delete that file, then run this program again.");
    for (const auto& [relative, old] : before) EXPECT_EQ(Read(relative), old) << relative;
    EXPECT_EQ(Read("WINDOWS/~zvupd.jnl"), earlier);
    EXPECT_EQ(Leftovers(), std::vector<std::string>{Host("WINDOWS/~zvupd.jnl")}) << "no new copy was made";
    EXPECT_EQ(view.created, view.destroyed);

    // Planted in the product directory instead: the update runs through.
    std::remove(Host("WINDOWS/~zvupd.jnl").c_str());
    zvtest::WriteFileBytes(Host("ZARVEL/~zvupd.jnl"), earlier);
    ui.messages.clear();
    EXPECT_EQ(Run(), 0) << ::testing::PrintToString(MessageIds());
    EXPECT_EQ(Read("ZARVEL/~zvupd.jnl"), earlier);
    EXPECT_EQ(Leftovers(), std::vector<std::string>{Host("ZARVEL/~zvupd.jnl")});
}

// The journal lists only files in the product directory and the runtime
// libraries where the shared-file lookup puts them, and the next start would
// refuse any other: a shared file of another name that the lookup puts in the
// system directory is refused before anything is written.
TEST_F(TransferFaultTest, ASharedFileOtherThanTheRuntimeLibrariesIsNotJournaled) {
    for (const auto& [relative, bytes] : before) zvtest::WriteFileBytes(Host(relative), bytes);
    Member other{"other.dll", 0x16, Bytes(31, 500), MakeVersion(1, 2, 1, 28)};
    Member notes{"notes.txt", 0, Bytes(32, 700)};
    FreePackageTable(posix, &table);
    Package({other, notes});
    InstalledProduct planned = product;
    EXPECT_EQ(PlanTransfer(run, table, &planned, nullptr), static_cast<int32_t>(IDS_INVALID_DIRECTORY))
        << "the plan foretells it";
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(Run(), static_cast<int32_t>(IDS_INVALID_DIRECTORY));
    EXPECT_EQ(MessageIds(), std::vector<unsigned>{IDS_INVALID_DIRECTORY});
    EXPECT_FALSE(zvtest::FileExists(Host("WINDOWS/SYSTEM/other.dll")));
    EXPECT_FALSE(zvtest::FileExists(Host("ZARVEL/notes.txt")));
    EXPECT_EQ(Leftovers(), std::vector<std::string>{}) << "no new copy and no journal";
    EXPECT_EQ(view.created, view.destroyed);
}

// A roll back that cannot put an old copy back leaves the installation
// changed: the last page must not say that Zarvel was left as it was.
TEST_F(TransferFaultTest, ARollBackThatCannotPutEverythingBackIsNotLeftAsItWas) {
    os.Add(Fault{FaultOp::Move, "readme", 1, 1});            // the last move of the commit
    os.Add(Fault{FaultOp::Move, "tmp|C:\\ZARVEL\\zvact32.exe", 0, -1});  // its old copy cannot go back
    ui.Script({ANSWER_CANCEL});
    InstalledProduct fresh = product;
    bool left = true;
    EXPECT_EQ(RunTransfer(run, table, &fresh, nullptr, &left), ANSWER_CANCEL);
    EXPECT_FALSE(left);
    EXPECT_NE(Read("ZARVEL/zvact32.exe"), before["ZARVEL/zvact32.exe"]) << "the fault did strike";
    os.Clear();
    RecoverInstallation(posix, "C:\\ZARVEL\\", nullptr);
}

// The question about a file in use names the program that holds it when
// the system can tell: at the shared-file lookup, in the commit, when an
// installed copy cannot be read to be recorded, and for the old copy that a
// completed update left held. The file looked up is the one held: the
// target, or the old copy under its backup name.
TEST_F(TransferFaultTest, AFileInUseIsAskedAboutWithTheProgramThatHoldsIt) {
    os.scriptHolders = true;
    os.holders["PLMR32.DLL"] = "zvact32.exe";
    os.holders["zvact32.exe"] = "zvact32.exe, holdfile.exe";
    os.holders["readme.txt"] = "notepad.exe";
    os.holders["~zvo0001.tmp"] = "zvact32.exe";
    Fault moveInUse{FaultOp::Move, "zvact32", 0, 1};
    moveInUse.inUse = true;
    struct Case {
        const char* what;
        std::function<void(TransferFaultTest&)> arrange;
        std::string text;
        std::string asked;  // the file looked up
    } cases[] = {
        {"the shared file in use",
         [](TransferFaultTest& t) {
             t.posix.SetSharedFileInUse("plmr32.dll", true);
             t.ui.onShow = [&t](const zvtest::RecordedMessage&) { t.posix.SetSharedFileInUse("plmr32.dll", false); };
         },
         "plmr32.dll is in use by zvact32.exe. Please close it and retry.", "C:\\WINDOWS\\SYSTEM\\plmr32.dll"},
        {"a file held in the commit", [&](TransferFaultTest& t) { t.os.Add(moveInUse); },
         "C:\\ZARVEL\\zvact32.exe is in use by zvact32.exe, holdfile.exe. Please close it and retry.",
         "C:\\ZARVEL\\zvact32.exe"},
        {"an installed copy that cannot be read to be recorded",
         [](TransferFaultTest& t) { t.os.Add(Fault{FaultOp::Read, "ZARVEL\\readme.txt", 0, 1}); },
         "C:\\ZARVEL\\readme.txt is in use by notepad.exe. Please close it and retry.", "C:\\ZARVEL\\readme.txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const auto& [relative, bytes] : before) zvtest::WriteFileBytes(Host(relative), bytes);
        ui.messages.clear();
        ui.onShow = nullptr;
        ui.ClearScript();
        ui.Script({ANSWER_RETRY});
        os.Clear();
        os.holdersAsked.clear();
        c.arrange(*this);
        InstalledProduct fresh = product;
        EXPECT_EQ(RunTransfer(run, table, &fresh), 0);
        ASSERT_EQ(MessageIds(), std::vector<unsigned>{IDS_FILE_IN_USE_BY});
        EXPECT_EQ(ui.messages[0].text, c.text);
        EXPECT_EQ(ui.messages[0].style, static_cast<unsigned>(BOX_RETRYCANCEL | BOX_ICONEXCLAMATION));
        EXPECT_EQ(os.holdersAsked, std::vector<std::string>{c.asked});
        for (const auto& [relative, old] : before) EXPECT_NE(Read(relative), old) << relative;
        EXPECT_EQ(Leftovers(), std::vector<std::string>{});
    }

    // A shared file found in use elsewhere than where the new copy goes: the
    // copy found is the one looked up.
    for (const auto& [relative, bytes] : before) zvtest::WriteFileBytes(Host(relative), bytes);
    std::rename(Host("WINDOWS/SYSTEM/PLMR32.DLL").c_str(), Host("ZARVEL/PLMR32.DLL").c_str());
    ui.messages.clear();
    ui.ClearScript();
    ui.Script({ANSWER_CANCEL});
    os.Clear();
    os.holdersAsked.clear();
    posix.SetSharedFileInUse("plmr32.dll", true);
    {
        InstalledProduct fresh = product;
        EXPECT_EQ(RunTransfer(run, table, &fresh), ANSWER_CANCEL);
    }
    posix.SetSharedFileInUse("plmr32.dll", false);
    EXPECT_EQ(os.holdersAsked, std::vector<std::string>{"C:\\ZARVEL\\plmr32.dll"});
    ASSERT_EQ(MessageIds(), std::vector<unsigned>{IDS_FILE_IN_USE_BY});
    EXPECT_EQ(ui.messages[0].text, "plmr32.dll is in use by zvact32.exe. Please close it and retry.");
    std::rename(Host("ZARVEL/PLMR32.DLL").c_str(), Host("WINDOWS/SYSTEM/PLMR32.DLL").c_str());

    // A completed update whose old zvact32.exe stays held: the next update
    // names the program, asking about the old copy under its backup name.
    for (const auto& [relative, bytes] : before) zvtest::WriteFileBytes(Host(relative), bytes);
    ui.messages.clear();
    ui.onShow = nullptr;
    ui.ClearScript();
    os.Clear();
    os.Add(Fault{FaultOp::Remove, "~zvo0001", 0, -1});
    InstalledProduct fresh = product;
    ASSERT_EQ(RunTransfer(run, table, &fresh), 0);
    os.holdersAsked.clear();
    ui.Script({ANSWER_CANCEL});
    fresh = product;
    EXPECT_EQ(RunTransfer(run, table, &fresh), ANSWER_CANCEL);
    ASSERT_EQ(MessageIds(), std::vector<unsigned>{IDS_FILE_IN_USE_BY});
    EXPECT_EQ(ui.messages[0].text, "C:\\ZARVEL\\zvact32.exe is in use by zvact32.exe. Please close it and retry.");
    EXPECT_EQ(os.holdersAsked, std::vector<std::string>{"C:\\ZARVEL\\~zvo0001.tmp"});
    os.Clear();
    RecoverInstallation(posix, "C:\\ZARVEL\\", nullptr);
}

// Before the commit the installed copies are read to be recorded: one that
// cannot be read is asked about as a file in use. Cancel leaves everything
// as it was; Retry, once it can be read, goes on to a whole update.
TEST_F(TransferFaultTest, AnInstalledCopyThatCannotBeRecordedIsAskedAbout) {
    for (const int answer : {ANSWER_CANCEL, ANSWER_RETRY}) {
        SCOPED_TRACE(answer);
        for (const auto& [relative, bytes] : before) zvtest::WriteFileBytes(Host(relative), bytes);
        ui.messages.clear();
        ui.ClearScript();
        ui.Script({answer});
        os.Clear();
        os.Add(Fault{FaultOp::Read, "ZARVEL\\readme.txt", 0, 1});
        InstalledProduct fresh = product;
        const TransferResult result = RunTransfer(run, table, &fresh);
        ASSERT_FALSE(MessageIds().empty());
        EXPECT_EQ(MessageIds()[0], static_cast<unsigned>(IDS_FILE_IN_USE));
        EXPECT_EQ(ui.messages[0].text, "C:\\ZARVEL\\readme.txt in use! Please, close all applications and retry.");
        if (answer == ANSWER_CANCEL) {
            EXPECT_EQ(result, ANSWER_CANCEL);
            for (const auto& [relative, old] : before) EXPECT_EQ(Read(relative), old) << relative;
        } else {
            EXPECT_EQ(result, 0);
            for (const auto& [relative, old] : before) EXPECT_NE(Read(relative), old) << relative;
        }
        EXPECT_EQ(Leftovers(), std::vector<std::string>{});
        EXPECT_EQ(os.OpenFiles(), 0u);
    }
}

// Windows renames a running program's file but does not delete it: an update
// made while the product runs completes, and only the old copy and the
// journal that lists it stay. The next update removes them first, asking the
// user to close the program while the old copy is still held.
TEST_F(TransferFaultTest, AnOldCopyStillHeldAfterTheCommitLeavesTheUpdateComplete) {
    const std::vector<std::string> left = {Host("WINDOWS/~zvupd.jnl"), Host("ZARVEL/~zvo0001.tmp")};
    const auto leftSorted = [this] {
        std::vector<std::string> found = Leftovers();
        std::sort(found.begin(), found.end());
        return found;
    };
    os.Add(Fault{FaultOp::Remove, "~zvo0001", 0, -1});  // the old zvact32.exe
    InstalledProduct fresh = product;
    ASSERT_EQ(RunTransfer(run, table, &fresh), 0) << ::testing::PrintToString(MessageIds());
    EXPECT_TRUE(ui.messages.empty());
    for (const auto& [relative, old] : before) EXPECT_NE(Read(relative), old) << relative;
    EXPECT_EQ(Read("ZARVEL/readme.txt"), readme.content);
    EXPECT_EQ(Read("ZARVEL/~zvo0001.tmp"), before["ZARVEL/zvact32.exe"]);
    EXPECT_EQ(leftSorted(), left);
    std::map<std::string, std::vector<uint8_t>> updated;
    for (const auto& [relative, old] : before) updated[relative] = Read(relative);

    // Still held: the next update asks (39, naming the program's file), and
    // Cancel leaves everything as the first update left it.
    ui.messages.clear();
    ui.Script({ANSWER_CANCEL});
    fresh = product;
    EXPECT_EQ(RunTransfer(run, table, &fresh), ANSWER_CANCEL);
    ASSERT_EQ(MessageIds(), std::vector<unsigned>{IDS_FILE_IN_USE});
    EXPECT_EQ(ui.messages[0].text, "C:\\ZARVEL\\zvact32.exe in use! Please, close all applications and retry.");
    for (const auto& [relative, bytes] : updated) EXPECT_EQ(Read(relative), bytes) << relative;
    EXPECT_EQ(leftSorted(), left);

    // Let go after the question: Retry removes the old copy and the journal,
    // and the update runs through.
    os.Clear();
    os.Add(Fault{FaultOp::Remove, "~zvo0001"});
    ui.messages.clear();
    ui.ClearScript();
    ui.Script({ANSWER_RETRY});
    fresh = product;
    EXPECT_EQ(RunTransfer(run, table, &fresh), 0);
    EXPECT_EQ(MessageIds(), std::vector<unsigned>{IDS_FILE_IN_USE});
    for (const auto& [relative, bytes] : updated) EXPECT_EQ(Read(relative), bytes) << relative;
    EXPECT_EQ(Leftovers(), std::vector<std::string>{});
    EXPECT_EQ(os.OpenFiles(), 0u);
    EXPECT_EQ(os.liveBlocks, 0);
}

// Packages damaged in ways only reading their members can tell: the transfer
// never ends in success, the member's installed file stays as it was, and no
// new file is left behind.
TEST_F(TransferTest, DamagedMembersEndWithoutSuccessAndChangeNoInstalledFile) {
    const std::vector<uint8_t> noise = [] {
        std::mt19937 random(77);
        std::vector<uint8_t> bytes(100000);
        for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
        return bytes;
    }();
    struct Case {
        const char* what;
        Member member;
        uint32_t cutInto;  // when not 0: the package file ends this far into the member's data
        std::vector<int> answers;
        unsigned buttons;  // of the one message
    };
    const Case cases[] = {
        {"package cut 32,000 bytes into the member", {"readme.txt", 0, noise}, 32000, {ANSWER_CANCEL},
         BOX_RETRYCANCEL},
        {"package cut 64,000 bytes into the member, Retry in vain", {"readme.txt", 0, noise}, 64000,
         {ANSWER_RETRY, ANSWER_CANCEL}, BOX_RETRYCANCEL},
        {"a 4-byte member declaring 1,000,010 bytes", {"readme.txt", 0, {}, {0, 0}, {0x0A, 0x42, 0x0F, 0x00}}, 0, {},
         BOX_OK},
        {"a 4-byte member declaring 4 GiB, its record at 65,535 KB",
         {"readme.txt", 0, {}, {0, 0}, {0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFF}, 0, {}, BOX_OK},
        {"a member declaring more than its record's KB", {"readme.txt", 0, Bytes(9, 5000), {0, 0}, {}, 3}, 0, {},
         BOX_OK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FreePackageTable(posix, &table);
        before.clear();
        Install("ZARVEL/readme.txt", Bytes(3, 100));
        ui.messages.clear();
        ui.ClearScript();
        for (int a : c.answers) ui.Script({a});
        Package({c.member});
        if (c.cutInto != 0) {
            const uint32_t at = ReadPackagePiece(EntryPieces(FirstPackageEntry(table))).offset + c.cutInto;
            std::vector<uint8_t> image = Read("UPDATE/SETUP.EXE");
            ASSERT_LT(at, image.size());
            image.resize(at);
            zvtest::WriteFileBytes(Host("UPDATE/SETUP.EXE"), image);
        }
        EXPECT_EQ(Run(), ANSWER_CANCEL);
        ASSERT_EQ(ui.messages.size(), c.answers.empty() ? 1u : c.answers.size());
        for (const auto& m : ui.messages) {
            EXPECT_EQ(m.text, "C:\\UPDATE\\SETUP.EXE: read error!");
            EXPECT_EQ(m.buttons(), c.buttons);
        }
        EXPECT_EQ(ui.Unanswered(), 0u);
        EXPECT_EQ(Read("ZARVEL/readme.txt"), before["ZARVEL/readme.txt"]);
        EXPECT_EQ(Leftovers(), std::vector<std::string>{});
        EXPECT_EQ(os.OpenFiles(), 0u);
    }
}

// With integrity data, a member whose expanded bytes are not the ones the
// package was built from is damage, told by name, found before anything
// installed changes: one flipped bit anywhere in its data.
TEST_F(TransferFaultTest, AFlippedBitInAMemberIsRefusedBeforeAnythingChanges) {
    FreePackageTable(posix, &table);
    Package({plmr32, act32, readme}, TableStatus::Loaded, true);
    const PackagePiece piece = ReadPackagePiece(EntryPieces(NextPackageEntry(NextPackageEntry(FirstPackageEntry(table)))));
    const std::vector<uint8_t> sound = Read("UPDATE/SETUP.EXE");
    ASSERT_EQ(Run(), 0) << "the sound package installs";
    int toldByName = 0;
    std::mt19937 random(zvtest::TestSeed());
    for (int flip = 0; flip < 16; ++flip) {
        // A bit of readme.txt's coded data, past its 4-byte size.
        const uint32_t at = piece.offset + 4 + random() % (piece.length - 4);
        const uint8_t bit = static_cast<uint8_t>(1u << (random() % 8));
        SCOPED_TRACE(::testing::Message() << "byte " << at - piece.offset << " bit " << int(bit));
        std::vector<uint8_t> damaged = sound;
        damaged[at] ^= bit;
        zvtest::WriteFileBytes(Host("UPDATE/SETUP.EXE"), damaged);
        for (const auto& [relative, bytes] : before) zvtest::WriteFileBytes(Host(relative), bytes);
        ui.messages.clear();
        ui.ClearScript();
        ui.Script({ANSWER_CANCEL});  // should the damage stop the decoding itself

        EXPECT_NE(Run(), 0);
        for (const auto& [relative, old] : before) EXPECT_EQ(Read(relative), old) << relative;
        EXPECT_EQ(Leftovers(), std::vector<std::string>{});
        // Either the codes run wrong (the member is damaged, a read error of
        // the package) or they decode to other bytes, which only the digest finds.
        ASSERT_FALSE(ui.messages.empty());
        EXPECT_TRUE(ui.messages.back().stringId == IDS_MEMBER_DAMAGED || ui.messages.back().stringId == IDS_READ_ERROR)
            << ui.messages.back().text;
        if (ui.messages.back().stringId == IDS_MEMBER_DAMAGED) {
            EXPECT_EQ(ui.messages.back().text,
                      "readme.txt: the update package is damaged. Zarvel has been left as it was. Please get a new "
                      "copy of this updater.");
            ++toldByName;
        }
    }
    EXPECT_GT(toldByName, 0) << "some flipped bits decode to other bytes, which only the digest finds";
    zvtest::WriteFileBytes(Host("UPDATE/SETUP.EXE"), sound);
}

// The new copies are checked from their bytes as they are written, not read
// back: with every read of the plain new copies failing, an update with
// digests still installs without a question, and the journal records them
// without reading them either. A write that reports more bytes than reached
// the file is still found: the copy is damage, told by name, before anything
// installed changes.
TEST_F(TransferFaultTest, NewCopiesAreCheckedAsWrittenAndAWriteThatLiesIsFound) {
    for (const bool digests : {true, false}) {
        SCOPED_TRACE(digests ? "with digests" : "without digests");
        FreePackageTable(posix, &table);
        Package({plmr32, act32, readme}, TableStatus::Loaded, digests);
        for (const auto& [relative, bytes] : before) zvtest::WriteFileBytes(Host(relative), bytes);
        ui.messages.clear();
        os.Clear();
        // ~zvn0000 is PLMR32.DLL's new copy, ~zvn0002 readme.txt's (the
        // carried zvact32.exe is read for its blocks, as it must be).
        os.Add(Fault{FaultOp::Read, "~zvn0000", 0, -1});
        os.Add(Fault{FaultOp::Read, "~zvn0002", 0, -1});
        ASSERT_EQ(Run(), 0) << ::testing::PrintToString(MessageIds());
        EXPECT_EQ(MessageIds(), std::vector<unsigned>{});
        EXPECT_EQ(os.Struck(0), 0) << "PLMR32.DLL's new copy was read back";
        EXPECT_EQ(os.Struck(1), 0) << "readme.txt's new copy was read back";
        EXPECT_EQ(Read("WINDOWS/SYSTEM/PLMR32.DLL"), plmr32.content);
        EXPECT_EQ(Read("ZARVEL/readme.txt"), readme.content);
        EXPECT_EQ(Leftovers(), std::vector<std::string>{});

        if (!digests) continue;

        // The second of readme.txt's writes reports 32000 bytes, of which
        // 1000 reached the file.
        for (const auto& [relative, bytes] : before) zvtest::WriteFileBytes(Host(relative), bytes);
        ui.messages.clear();
        ui.ClearScript();
        ui.Script({ANSWER_CANCEL});  // a question the damage should not ask
        os.Clear();
        Fault lie{FaultOp::Write, "~zvn0002", 1, 1, 1000};
        lie.silent = true;
        os.Add(lie);
        EXPECT_EQ(Run(), static_cast<int32_t>(IDS_MEMBER_DAMAGED));
        EXPECT_EQ(os.Struck(0), 1);
        for (const auto& [relative, old] : before) EXPECT_EQ(Read(relative), old) << relative;
        EXPECT_EQ(Leftovers(), std::vector<std::string>{});
        EXPECT_EQ(os.OpenFiles(), 0u);
        ASSERT_EQ(MessageIds(), std::vector<unsigned>{IDS_MEMBER_DAMAGED});
        EXPECT_EQ(ui.messages[0].text,
                  "readme.txt: the update package is damaged. Zarvel has been left as it was. Please get a new "
                  "copy of this updater.");
    }
}

// Free space is asked of each file system the targets are on, a folder where
// another one is mounted included, not of one directory per drive letter.
TEST_F(TransferTest, FreeSpaceIsAskedOfEveryVolumeTheTargetsAreOn) {
    std::mt19937 random(5);
    std::vector<uint8_t> maps(3'000'000);
    for (uint8_t& b : maps) b = static_cast<uint8_t>(random());
    Install("ZARVEL/readme.txt", Bytes(3, 100));
    Package({{"readme.txt", 0, Bytes(4, 2000)}, {"maps\\europe.dat", 0, maps}});
    struct Case {
        uint64_t mapsFree;
        std::vector<unsigned> messages;
        int32_t result;
    };
    const Case cases[] = {
        {1'000'000, {IDS_NO_DISK_SPACE}, ANSWER_CANCEL},  // the maps' own volume is short
        {50'000'000, {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mapsFree);
        os.volumes = {{"C:\\ZARVEL\\MAPS\\", c.mapsFree}, {"C:\\", 1'000'000'000}};
        os.freeSpaceAsked.clear();
        ui.messages.clear();
        ui.ClearScript();
        ui.Script({ANSWER_CANCEL});
        EXPECT_EQ(Run(), c.result);
        EXPECT_EQ(MessageIds(), c.messages);
        EXPECT_NE(std::find(os.freeSpaceAsked.begin(), os.freeSpaceAsked.end(), "C:\\ZARVEL\\MAPS\\"),
                  os.freeSpaceAsked.end());
        EXPECT_NE(std::find(os.freeSpaceAsked.begin(), os.freeSpaceAsked.end(), "C:\\"), os.freeSpaceAsked.end());
        EXPECT_EQ(zvtest::FileExists(Host("ZARVEL/maps/europe.dat")), c.result == 0);
    }
}

TEST(PosixVolumes, EachDirectoryIsOnTheVolumeOfItsMountPoint) {
    zvtest::TempDir dir;
    zvtest::MakeDirs(dir / "a/b");
    PosixLayout layout;
    layout.drives['C' - 'A'] = dir.path();
    PosixPlatform os(layout);
    char a[kMaxPath], missing[kMaxPath], proc[kMaxPath];
    ASSERT_TRUE(os.VolumeOf("C:\\A\\B\\", a, sizeof a));
    ASSERT_TRUE(os.VolumeOf("C:\\a\\not\\made\\yet\\", missing, sizeof missing));
    EXPECT_STREQ(a, missing) << "a directory still to be made is on the volume above it";
    uint64_t free = 0;
    EXPECT_TRUE(os.FreeSpace(a, &free)) << a;
    EXPECT_GT(free, 0u);
    // /proc is a file system of its own wherever the temporary directory is.
    ASSERT_TRUE(os.VolumeOf("\\proc\\self\\", proc, sizeof proc));
    EXPECT_STREQ(proc, "\\proc\\");
    EXPECT_STRNE(a, proc);
}

TEST_F(TransferTest, UnsafeNamesAreRefusedAndNothingOutsideIsTouched) {
    Install("ZARVEL/zvact.exe", Bytes(4, 100));
    const char* names[] = {"..\\evil.txt", "sub\\..\\..\\evil.txt", "C:\\evil.txt", "\\evil.txt", "a:b", ".\\x",
                           "", "dir\\", "zvact.exe.", "CON", "~zvnew.tmp", "ZVACT.EXE"};
    for (const char* name : names) {
        SCOPED_TRACE(name);
        FreePackageTable(posix, &table);
        ui.messages.clear();
        // Loading the table refuses the name; the transfer never walks it.
        Package({{"zvact.exe", 0, Bytes(5, 100)}, {name, 0, Bytes(6, 100)}}, TableStatus::NamesRefused);
        EXPECT_EQ(table.check.entryIndex, 1u);
        EXPECT_EQ(Run(), -1);
        ASSERT_EQ(ui.messages.size(), 1u);
        EXPECT_EQ(ui.messages[0].stringId, IDS_READ_ERROR);
        EXPECT_FALSE(zvtest::FileExists(Host("evil.txt")));
        EXPECT_EQ(Leftovers(), std::vector<std::string>{});
        EXPECT_EQ(Read("ZARVEL/zvact.exe"), before["ZARVEL/zvact.exe"]);
    }
    // Member extraction applies the same check, and the length of the whole
    // target path besides.
    char target[kMaxPath];
    std::string longName(250, 'n');
    EXPECT_EQ(ComposeTargetPath("C:\\ZARVEL\\", longName.c_str(), target), MemberNameProblem::TooLong);
    EXPECT_EQ(ComposeTargetPath("C:\\ZARVEL\\", "help\\index.txt", target), MemberNameProblem::None);
    EXPECT_STREQ(target, "C:\\ZARVEL\\help\\index.txt");
    EXPECT_EQ(ComposeTargetPath("C:\\ZARVEL\\", "..\\x", target), MemberNameProblem::DotPart);
    EXPECT_STREQ(target, "");
}

// A target must leave room in its directory for its new copy's and backup's
// names: a directory too long for them is refused when the plan is made,
// before any question and before anything is written, even where the target
// path itself would fit. The plan foretells it, as the run meets it.
TEST_F(TransferTest, ADirectoryTooLongForTheWorkFilesIsRefusedByThePlan) {
    // "a.txt" fits below a directory of up to MEMBER_NAME_MAX - 5 characters,
    // its work files below one of up to LONGEST_TRANSACTION_DIRECTORY.
    // A directory of `length` characters, its closing backslash counted.
    const auto directoryOf = [](size_t length) {
        std::string directory = "C:";
        while (directory.size() < length - 1) directory += (directory.size() % 40 == 2 ? '\\' : 'd');
        return directory + "\\";
    };
    const std::string directory = directoryOf(LONGEST_TRANSACTION_DIRECTORY + 1);
    ASSERT_EQ(directory.size(), LONGEST_TRANSACTION_DIRECTORY + 1);
    ASSERT_LE(directory.size() + std::strlen("a.txt"), MEMBER_NAME_MAX) << "the target path alone would fit";
    Package({{"a.txt", 0, Bytes(7, 100)}});

    struct Recorder : TransferObserver {
        std::vector<EntryOutcome> outcomes;
        std::vector<MemberNameProblem> problems;
        void EntryDone(const EntryReport& r) override {
            if (r.decision.pass != 2) return;
            outcomes.push_back(r.decision.outcome);
            problems.push_back(r.decision.nameProblem);
        }
    } recorder;
    InstalledProduct planned = product;
    std::strcpy(planned.installDir, directory.c_str());
    EXPECT_EQ(PlanTransfer(run, table, &planned, &recorder), static_cast<int32_t>(IDS_INVALID_DIRECTORY));
    EXPECT_EQ(recorder.outcomes, std::vector<EntryOutcome>{EntryOutcome::Failed});
    EXPECT_EQ(recorder.problems, std::vector<MemberNameProblem>{MemberNameProblem::TooLong});
    EXPECT_TRUE(ui.messages.empty());

    // One directory character less and the same member is written there.
    InstalledProduct shorter = product;
    std::strcpy(shorter.installDir, directoryOf(LONGEST_TRANSACTION_DIRECTORY).c_str());
    Recorder fits;
    EXPECT_EQ(PlanTransfer(run, table, &shorter, &fits), 0);
    EXPECT_EQ(fits.outcomes, std::vector<EntryOutcome>{EntryOutcome::Write});

    InstalledProduct running = planned;
    EXPECT_EQ(RunTransfer(run, table, &running), static_cast<int32_t>(IDS_INVALID_DIRECTORY));
    EXPECT_EQ(MessageIds(), std::vector<unsigned>{IDS_INVALID_DIRECTORY});
    EXPECT_EQ(Leftovers(), std::vector<std::string>{}) << "nothing was written";
}

TEST_F(TransferTest, VersionRuleWritesEqualAndOlderAndKeepsOnlyNewer) {
    using zvtest::BuildVersionedExecutable;
    using zvtest::ExeFormat;
    using zvtest::ProductVersionInfo;
    const ProductVersion entry = MakeVersion(1, 2, 1, 31);
    struct Case {
        const char* name;
        std::vector<uint8_t> installed;
        bool written;
    } cases[] = {
        {"equal.dll", BuildVersionedExecutable(ExeFormat::Pe32, ProductVersionInfo(entry, 0x409, "equal.dll")), true},
        {"older.dll",
         BuildVersionedExecutable(ExeFormat::Ne, ProductVersionInfo(MakeVersion(1, 2, 0, 40), 0x409, "older.dll")),
         true},
        {"newer-ms.dll",  // a higher first word wins even with a lower second word
         BuildVersionedExecutable(ExeFormat::Pe32, ProductVersionInfo(MakeVersion(1, 3, 0, 0), 0x409, "x")), false},
        {"newer-ls.dll",
         BuildVersionedExecutable(ExeFormat::Ne, ProductVersionInfo(MakeVersion(1, 2, 1, 32), 0x409, "x")), false},
        {"plain.dll", Bytes(30, 500), true},  // no version information: always overwritten
    };
    std::vector<Member> members;
    for (const Case& c : cases) {
        Install(std::string("ZARVEL/") + c.name, c.installed);
        members.push_back({c.name, ENTRY_UPDATE_ONLY, Bytes(31, 700), entry});
    }
    Package(members);
    ASSERT_EQ(Run(), 0);
    for (const Case& c : cases) {
        EXPECT_EQ(Read(std::string("ZARVEL/") + c.name) == packaged[c.name], c.written) << c.name;
    }
    EXPECT_EQ(view.percents.back(), 100u) << "entries passed by for a newer copy count as done";
}

TEST_F(TransferTest, NothingEligibleShowsNoPage) {
    Package({{"a.txt", ENTRY_IGNORED, Bytes(9, 10)}, {"b.txt", ENTRY_IGNORED, Bytes(10, 10)}});
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(view.created, 0);
    EXPECT_FALSE(zvtest::FileExists(Host("ZARVEL/a.txt")));
}

// The child is killed (SIGKILL) right before its k-th change to the disk,
// for every k until a run gets through. What the next start does first
// (RecoverInstallation) then leaves the installation wholly as it was or,
// once every new copy was in place, wholly new, and none of the updater's
// own files anywhere. With `powerCut`, the kill also loses every change
// whose folder was not made durable since, as a power cut would. With
// `cancelLastMove` the run rolls back, and ends with the installation as it
// was.
void TransferFaultTest::KillAtEveryChange(const KillCase& c) {
    SCOPED_TRACE(c.what);
    const std::vector<uint8_t> carriedResult = CarriedResult(22, 50000, 0x40, act32.content);
    int k = 1, asItWas = 0, finishedByTheNextStart = 0;
    for (bool ended = false; !ended; ++k) {
        ASSERT_LT(k, 500) << "the transfer never completed";
        // With `prefixes`, the power cut keeps the oldest `keep` changes not
        // yet durable and loses the rest, for every `keep` until it keeps all.
        for (int keep = 0;; ++keep) {
            for (const auto& [relative, bytes] : before) zvtest::WriteFileBytes(Host(relative), bytes);
            std::fflush(nullptr);
            pid_t child = ::fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                os.killAtChange = k;
                os.powerCut = c.powerCut;
                os.powerCutSpares = c.spares;
                os.powerCutKeeps = keep;
                if (c.cancelLastMove) {
                    os.Add(Fault{FaultOp::Move, "readme", 1, 1});
                    ui.Script({ANSWER_CANCEL});
                }
                InstalledProduct fresh = product;
                TransferResult result = RunTransfer(run, table, &fresh);
                if (result != (c.cancelLastMove ? ANSWER_CANCEL : 0)) ::_exit(3);
                // The power may fail after the run, too.
                if (c.powerCut) os.CutPowerAndExit(true);
                ::_exit(0);
            }
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            const bool cut = code >= zvtest::FaultPlatform::kPowerCutExit &&
                             code <= zvtest::FaultPlatform::kPowerCutExit + 3;
            const bool completed = WIFEXITED(status) && !cut;
            const bool keptAll = cut && (code - zvtest::FaultPlatform::kPowerCutExit) & 1;
            ended = completed || (cut && (code - zvtest::FaultPlatform::kPowerCutExit) & 2);
            if (completed) {
                EXPECT_EQ(code, 0);
            } else {
                ASSERT_TRUE(cut || (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)) << "k=" << k;
                RecoveryReport report;
                const RecoveryOutcome settled = RecoverInstallation(posix, "C:\\ZARVEL\\", &report);
                EXPECT_NE(settled, RecoveryOutcome::Incomplete) << "k=" << k << " keep=" << keep;
                EXPECT_NE(settled, RecoveryOutcome::Damaged) << "k=" << k << " keep=" << keep;
                EXPECT_NE(settled, RecoveryOutcome::BackupLost) << "k=" << k << " keep=" << keep;
            }
            bool allOld = true, allNew = true;
            for (const auto& [relative, old] : before) {
                std::vector<uint8_t> now = Read(relative);
                std::string name = relative.substr(relative.rfind('/') + 1);
                const bool isNew = name == "zvact32.exe" ? now == carriedResult
                                                         : now == packaged[name == "PLMR32.DLL" ? "plmr32.dll" : name];
                allOld = allOld && now == old;
                allNew = allNew && isNew;
            }
            EXPECT_TRUE(allOld || allNew) << "a mixed installation after a kill at change " << k << " keep=" << keep;
            EXPECT_EQ(Leftovers(), std::vector<std::string>{}) << "after a kill at change " << k << " keep=" << keep;
            if (ended && keep == 0) {
                EXPECT_TRUE(c.cancelLastMove ? allOld : allNew);
            }
            if (ended && !cut) break;
            if (keep == 0 && allOld) ++asItWas;
            if (keep == 0 && allNew) ++finishedByTheNextStart;
            if (k % 7 == 0 && keep == 0) {
                // What a killed run leaves behind does not stand in the way of the next.
                InstalledProduct fresh = product;
                EXPECT_EQ(RunTransfer(run, table, &fresh), 0) << "after a kill at change " << k;
            }
            if (!c.prefixes || keptAll) break;
        }
    }
    if (!c.powerCut && !c.cancelLastMove) RecordProperty("kill_points", k);
    EXPECT_GT(asItWas, 10) << "the kill points cover the writes of every member and the commit";
    if (!c.cancelLastMove) {
        EXPECT_GT(finishedByTheNextStart, 0) << "kills while the backups are removed are finished";
    }
}

TEST_F(TransferFaultTest, AKillAtAnyPointIsSettledByTheNextStart) { KillAtEveryChange({"kill", false}); }

TEST_F(TransferFaultTest, APowerCutAtAnyPointIsSettledByTheNextStart) {
    // The journal lives in the Windows folder, the files in the system and
    // product folders: a disk may keep the journal's last change and lose
    // theirs, or lose everything since each folder was last made durable.
    const KillCase cases[] = {
        {"everything not durable lost", true},
        {"the journal's folder kept", true, "C:\\WINDOWS"},
        {"a roll back cut short", true, "", true},
        {"a roll back cut short, the journal's folder kept", true, "C:\\WINDOWS", true},
        // The disk may have written some of what its cache held: the oldest
        // changes of a folder kept, the later ones lost.
        {"the oldest changes kept", true, "", false, true},
        {"a roll back cut short, the oldest changes kept", true, "", true, true},
    };
    for (const KillCase& c : cases) KillAtEveryChange(c);
}

namespace {

// The folder of a path in the change log, in lower case, without its last "\".
std::string LoggedFolder(const std::string& path) { return LowerAz(path.substr(0, path.find_last_of('\\'))); }

// Whether a logged change is one of the journal's own file (the journal is
// put in place by Replace, which is durable by itself).
bool IsJournalChange(const std::string& line) { return line.find("~zvupd.") != std::string::npos; }

// Checks the change log of a run: between two writes (or the removal) of the
// journal, every folder in which a file was created, moved or removed is
// made durable exactly once, after the last such change in it and before
// the journal's next state; no folder is made durable twice (unless
// `retried`: a failed sync asked about and tried again starts over).
void ExpectFoldersDurableOncePerState(const std::vector<std::string>& log, bool retried) {
    size_t segmentStart = 0;
    int journalStates = 0;
    for (size_t i = 0; i <= log.size(); ++i) {
        const bool journalWritten = i < log.size() && IsJournalChange(log[i]) &&
                                    (log[i].rfind("replace ", 0) == 0 || log[i].rfind("remove ", 0) == 0);
        if (i < log.size() && !journalWritten) continue;
        // The changes since the last journal state, and the folders made durable.
        std::map<std::string, size_t> lastChange;  // folder: index of its last change
        std::map<std::string, std::vector<size_t>> syncs;
        for (size_t k = segmentStart; k < i; ++k) {
            const std::string& line = log[k];
            if (line.rfind("sync ", 0) == 0) {
                std::string folder = LowerAz(line.substr(5));
                syncs[folder].push_back(k);
                continue;
            }
            if (IsJournalChange(line)) continue;
            const size_t arrow = line.find(" > ");
            const std::string path = arrow != std::string::npos ? line.substr(arrow + 3) : line.substr(line.find(' ') + 1);
            if (line.rfind("mkdir ", 0) == 0) continue;
            lastChange[LoggedFolder(path)] = k;
        }
        for (const auto& [folder, at] : syncs) {
            if (retried) {
                EXPECT_LE(at.size(), 2u) << folder << " made durable more than twice before line " << i;
            } else {
                EXPECT_EQ(at.size(), 1u) << folder << " made durable more than once before line " << i;
            }
        }
        // Before the journal's first state nothing was created yet, and
        // after its removal nothing is left to make durable.
        if (journalStates > 0 && i < log.size()) {
            for (const auto& [folder, at] : lastChange) {
                ASSERT_EQ(syncs.count(folder), 1u) << folder << " changed at line " << at
                                                   << " is not made durable before line " << i;
                EXPECT_GT(syncs[folder].front(), at) << folder << " made durable before its last change";
            }
        }
        if (i < log.size()) ++journalStates;
        segmentStart = i + 1;
    }
    EXPECT_GE(journalStates, 2) << "the journal was written and removed";
}

struct OrderCase {
    const char* what;
    std::vector<Fault> faults;
    std::vector<int> answers;
    int32_t result;
    size_t syncs;  // folders made durable in all (two folders, once per state)
    bool retried = false;
};

}  // namespace

TEST_F(TransferFaultTest, EachFolderIsMadeDurableOnceBeforeTheJournalsNextState) {
    // Two folders: the system directory (PLMR32.DLL) and the product folder
    // (two files). Each is made durable once after the staging, once after
    // the commit's moves and once after the backups are removed, or, in a
    // roll back, once after the moves are undone and once after the new
    // copies are removed.
    const OrderCase cases[] = {
        {"completed", {}, {}, 0, 6},
        {"a move of the commit fails, Cancel", {{FaultOp::Move, "readme", 1, 1}}, {ANSWER_CANCEL}, ANSWER_CANCEL, 6},
        {"staging fails, Cancel", {{FaultOp::Write, "ZARVEL\\~zvn0002", 0, -1}}, {ANSWER_CANCEL}, ANSWER_CANCEL, 2},
        {"a folder cannot be made durable, Retry", {{FaultOp::SyncDirectory, "ZARVEL", 1, 1}}, {ANSWER_RETRY}, 0, 7, true},
    };
    for (const OrderCase& c : cases) {
        SCOPED_TRACE(c.what);
        for (const auto& [relative, bytes] : before) zvtest::WriteFileBytes(Host(relative), bytes);
        ui.messages.clear();
        os.Clear();
        for (const Fault& f : c.faults) os.Add(f);
        ui.ClearScript();
        for (int a : c.answers) ui.Script({a});
        os.changeLog.clear();
        os.recordChanges = true;
        InstalledProduct fresh = product;
        EXPECT_EQ(RunTransfer(run, table, &fresh), c.result);
        os.recordChanges = false;
        ExpectFoldersDurableOncePerState(os.changeLog, c.retried);
        const size_t syncs = static_cast<size_t>(std::count_if(os.changeLog.begin(), os.changeLog.end(),
                                                  [](const std::string& line) { return line.rfind("sync ", 0) == 0; }));
        EXPECT_EQ(syncs, c.syncs);
        EXPECT_EQ(Leftovers(), std::vector<std::string>{});
    }
}

namespace {

// An installation with a file in a subfolder, and a folder outside it whose
// files a link could point at.
class TransferLinkTest : public TransferTest {
public:
    Member plmr32{"plmr32.dll", 0x16, Bytes(31, 9000), MakeVersion(1, 2, 1, 28)};
    Member readme{"readme.txt", 0, Bytes(32, 7000)};
    Member help{"help\\zvact.hlp", 0, Bytes(33, 5000)};

    void SetUp() override {
        TransferTest::SetUp();
        zvtest::MakeDirs(dir / "ZARVEL/help");
        zvtest::MakeDirs(dir / "OUTSIDE");
        Install("WINDOWS/SYSTEM/PLMR32.DLL", Bytes(1, 3000));
        Install("ZARVEL/readme.txt", Bytes(2, 100));
        Install("ZARVEL/help/zvact.hlp", Bytes(3, 200));
        zvtest::WriteFileBytes(Host("OUTSIDE/victim.dll"), Bytes(4, 300));
        zvtest::WriteFileBytes(Host("OUTSIDE/zvact.hlp"), Bytes(5, 400));
        // The new copies: ~zvn0000.tmp in the system directory, ~zvn0001.tmp
        // in the product directory, ~zvn0002.tmp in help.
        Package({plmr32, readme, help});
    }

    // Every entry under `relative`, links not followed, with its bytes or
    // what it points at.
    std::map<std::string, std::string> Tree(const std::string& relative) {
        std::map<std::string, std::string> tree;
        namespace fs = std::filesystem;
        for (const auto& item : fs::recursive_directory_iterator(Host(relative))) {
            const std::string name = item.path().string().substr(dir.path().size());
            if (item.is_symlink()) {
                tree[name] = "-> " + fs::read_symlink(item.path()).string();
            } else if (item.is_regular_file()) {
                const std::vector<uint8_t> bytes = zvtest::ReadFileBytes(item.path().string());
                tree[name] = std::string(bytes.begin(), bytes.end());
            } else {
                tree[name] = "<dir>";
            }
        }
        return tree;
    }
};

}  // namespace

// A link or junction on the way to a target, at a target, or at a name the
// update creates is refused before anything is written: the installation,
// the folder outside and the planted link stay as they were.
TEST_F(TransferLinkTest, LinksOnTheWayAreRefusedBeforeAnythingIsWritten) {
    namespace fs = std::filesystem;
    struct Case {
        const char* what;
        std::function<void()> plant;
        const char* refused;  // the path the message names
    };
    const Case cases[] = {
        {"help is a link to a folder outside",
         [&] {
             fs::rename(Host("ZARVEL/help"), Host("help.moved"));
             fs::create_directory_symlink(Host("OUTSIDE"), Host("ZARVEL/help"));
         },
         "C:\\ZARVEL\\help"},
        {"the product directory itself is a link",
         [&] {
             fs::rename(Host("ZARVEL"), Host("ZARVEL.real"));
             fs::create_directory_symlink(Host("ZARVEL.real"), Host("ZARVEL"));
         },
         "C:\\ZARVEL"},
        {"an installed file is a link to a file outside",
         [&] {
             fs::remove(Host("ZARVEL/readme.txt"));
             fs::create_symlink(Host("OUTSIDE/victim.dll"), Host("ZARVEL/readme.txt"));
         },
         "C:\\ZARVEL\\readme.txt"},
        {"a link at a new copy's name points at a file outside",
         [&] { fs::create_symlink(Host("OUTSIDE/victim.dll"), Host("ZARVEL/~zvn0001.tmp")); },
         "C:\\ZARVEL\\~zvn0001.tmp"},
        {"a dangling link at a new copy's name",
         [&] { fs::create_symlink(Host("OUTSIDE/new.dll"), Host("ZARVEL/help/~zvn0002.tmp")); },
         "C:\\ZARVEL\\help\\~zvn0002.tmp"},
        {"a link at a backup's name",
         [&] { fs::create_symlink(Host("OUTSIDE/victim.dll"), Host("ZARVEL/~zvo0001.tmp")); },
         "C:\\ZARVEL\\~zvo0001.tmp"},
        {"a file of someone else's at a new copy's name",
         [&] { zvtest::WriteFileBytes(Host("ZARVEL/~zvn0001.tmp"), Bytes(6, 50)); },
         "C:\\ZARVEL\\~zvn0001.tmp"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const auto& [relative, bytes] : before) zvtest::WriteFileBytes(Host(relative), bytes);
        c.plant();
        const auto outside = Tree("OUTSIDE");
        const auto system = Tree("WINDOWS");
        const auto installation = Tree("ZARVEL");
        ui.messages.clear();
        InstalledProduct fresh = product;

        EXPECT_EQ(RunTransfer(run, table, &fresh), static_cast<int32_t>(IDS_LINK_REFUSED));
        ASSERT_EQ(MessageIds(), std::vector<unsigned>{IDS_LINK_REFUSED});
        EXPECT_NE(ui.messages[0].text.find(c.refused), std::string::npos) << ui.messages[0].text;
        EXPECT_EQ(Tree("OUTSIDE"), outside);
        EXPECT_EQ(Tree("WINDOWS"), system) << "nothing was written before the refusal";
        EXPECT_EQ(Tree("ZARVEL"), installation) << "the planted entry is left alone too";
        EXPECT_EQ(os.OpenFiles(), 0u);

        // Back to the plain installation.
        fs::remove_all(Host("ZARVEL"));
        fs::remove_all(Host("ZARVEL.real"));
        fs::remove_all(Host("help.moved"));
        zvtest::MakeDirs(dir / "ZARVEL/help");
    }
    // The plain installation updates.
    for (const auto& [relative, bytes] : before) zvtest::WriteFileBytes(Host(relative), bytes);
    ui.messages.clear();
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(Read("ZARVEL/help/zvact.hlp"), help.content);
}

// The system directory, and the folders above the product directory, are
// the administrator's: a link there is the system's own arrangement.
TEST_F(TransferLinkTest, ALinkAboveTheProductDirectoryOrAtTheSystemDirectoryIsTheSystems) {
    namespace fs = std::filesystem;
    fs::rename(Host("WINDOWS/SYSTEM"), Host("SYSTEM.real"));
    fs::create_directory_symlink(Host("SYSTEM.real"), Host("WINDOWS/SYSTEM"));
    PosixLayout layout = zvtest::MachineLayout(dir.path(), "SETUP.EXE");
    fs::create_directory(Host("APPS.real"));
    fs::rename(Host("ZARVEL"), Host("APPS.real/ZARVEL"));
    fs::create_directory_symlink(Host("APPS.real"), Host("APPS"));
    posix.SetLayout(layout);
    std::strcpy(product.installDir, "C:\\APPS\\ZARVEL");

    EXPECT_EQ(Run(), 0) << ::testing::PrintToString(MessageIds());
    EXPECT_EQ(Read("SYSTEM.real/PLMR32.DLL"), plmr32.content);
    EXPECT_EQ(Read("APPS.real/ZARVEL/help/zvact.hlp"), help.content);
    EXPECT_EQ(Leftovers(), std::vector<std::string>{});
}

// A folder on the way that becomes a link after the checks (a race with the
// update) is caught by the check of the new copy's handle: the file made
// through it is removed, nothing else is written, and the update is undone.
namespace {

// The same attack with every member staged on the step's thread (0) and
// with workers, which create the new copies themselves.
class TransferLinkWorkersTest : public TransferLinkTest, public ::testing::WithParamInterface<unsigned> {};

}  // namespace

TEST_P(TransferLinkWorkersTest, AFolderTurnedIntoALinkWhileStagingIsCaughtByTheHandleCheck) {
    run.stageWorkers = GetParam();
    namespace fs = std::filesystem;
    struct SwapHelp : TransferObserver {
        TransferLinkTest* test;
        void EntryDone(const EntryReport&) override {}
        void StageBegins(TransferStage stage) override {
            if (stage != TransferStage::Stage) return;
            fs::rename(test->Host("ZARVEL/help"), test->Host("help.moved"));
            fs::create_directory_symlink(test->Host("OUTSIDE"), test->Host("ZARVEL/help"));
        }
    } swap;
    swap.test = this;
    const auto outside = Tree("OUTSIDE");

    EXPECT_EQ(Run(&swap), static_cast<int32_t>(IDS_LINK_REFUSED));
    ASSERT_EQ(MessageIds(), std::vector<unsigned>{IDS_LINK_REFUSED});
    EXPECT_NE(ui.messages[0].text.find("C:\\ZARVEL\\help\\~zvn0002.tmp"), std::string::npos) << ui.messages[0].text;
    EXPECT_EQ(Tree("OUTSIDE"), outside) << "the new file made through the link is gone";
    EXPECT_EQ(Read("WINDOWS/SYSTEM/PLMR32.DLL"), before["WINDOWS/SYSTEM/PLMR32.DLL"]);
    EXPECT_EQ(Read("ZARVEL/readme.txt"), before["ZARVEL/readme.txt"]);
    EXPECT_EQ(Read("help.moved/zvact.hlp"), before["ZARVEL/help/zvact.hlp"]);
    EXPECT_EQ(Leftovers(), std::vector<std::string>{}) << "rolled back";
    EXPECT_EQ(os.OpenFiles(), 0u);
}

INSTANTIATE_TEST_SUITE_P(OneThreadAndWorkers, TransferLinkWorkersTest, ::testing::Values(0u, 4u));

// Whatever the platform, a handle that is not where it was meant to be stops
// the update before a byte goes into it, and the update is undone.
TEST_F(TransferLinkTest, ANewCopyThatIsNotWhereItWasMeantToBeIsRolledBack) {
    os.Add(Fault{FaultOp::IsFileAt, "~zvn0001", 0, -1});
    EXPECT_EQ(Run(), static_cast<int32_t>(IDS_LINK_REFUSED));
    ASSERT_EQ(MessageIds(), std::vector<unsigned>{IDS_LINK_REFUSED});
    EXPECT_EQ(os.Struck(0), 1);
    for (const auto& [relative, old] : before) EXPECT_EQ(Read(relative), old) << relative;
    EXPECT_EQ(Leftovers(), std::vector<std::string>{});
}

// A folder on the way that cannot be looked at is not taken on trust.
TEST_F(TransferLinkTest, AFolderOnTheWayThatCannotBeToldIsRefused) {
    os.Add(Fault{FaultOp::Examine, "ZARVEL\\help", 0, -1});
    const auto installation = Tree("ZARVEL");
    EXPECT_EQ(Run(), static_cast<int32_t>(IDS_LINK_REFUSED));
    ASSERT_EQ(MessageIds(), std::vector<unsigned>{IDS_LINK_REFUSED});
    EXPECT_NE(ui.messages[0].text.find("C:\\ZARVEL\\help"), std::string::npos) << ui.messages[0].text;
    EXPECT_EQ(Tree("ZARVEL"), installation);
    EXPECT_EQ(Read("WINDOWS/SYSTEM/PLMR32.DLL"), before["WINDOWS/SYSTEM/PLMR32.DLL"]);
}

namespace {

// Runs with the members expanded on worker threads against the same run on
// the stage step's own thread. What the user sees (every message with its
// answer, the file names and progress steps around it), what the observer is
// told, the result and the files left must be the same.
class TransferWorkersTest : public TransferTest {
public:
    struct Scenario {
        const char* what;
        std::function<void(TransferWorkersTest&)> change;   // changes the members before they are packaged
        std::function<void(TransferWorkersTest&)> arrange;  // then the machine and the answers
        int32_t result;
        std::vector<unsigned> messages;  // the string ids shown, in order
        std::vector<std::string> left = {};  // the update's own files it leaves, by name
        std::string finished = {};           // how the end is told (Finished), when it comes
        std::function<void(TransferWorkersTest&)> beforeFinish = {};  // once the commit is done
    };

    static std::string Finished(RecoveryOutcome outcome, const char* leftPath) {
        return std::string("finished ") + RecoveryOutcomeName(outcome) + " " + leftPath;
    }

    // One run, told as lines: the events in the order they came, then every
    // file under the machine's folders with its size and first bytes' sum.
    std::vector<std::string> Observe(const Scenario& s, unsigned workers) {
        std::filesystem::remove_all(dir / "ZARVEL");
        std::filesystem::remove_all(dir / "WINDOWS");
        zvtest::MakeDirs(dir / "ZARVEL");
        zvtest::MakeDirs(dir / "WINDOWS/SYSTEM");
        FreePackageTable(posix, &table);
        before.clear();
        ui = zvtest::ScriptedUi();
        view = zvtest::ScriptedView();
        os.Clear();
        MakeMembers();
        InstallSome();
        if (s.change) s.change(*this);
        Package(members, TableStatus::Loaded, true);
        if (s.arrange) s.arrange(*this);
        std::vector<std::string> lines;
        ui.onShow = [&](const zvtest::RecordedMessage& m) {
            lines.push_back("message " + std::to_string(m.stringId) + " " + m.text + " after " +
                            std::to_string(view.names.size()) + " names and " + std::to_string(view.percents.size()) +
                            " steps");
        };
        struct Reports : TransferObserver {
            std::vector<std::string>* lines;
            void EntryDone(const EntryReport& r) override {
                lines->push_back("entry " + std::string(r.decision.name) + " " +
                                 EntryOutcomeName(r.decision.outcome) + " " + std::to_string(r.percent) + "% " +
                                 std::to_string(TransferResultNumber(r.result)));
            }
            void StageBegins(TransferStage stage) override {
                lines->push_back(std::string("stage ") + TransferStageName(stage));
                if (stage == TransferStage::Finish && scenario->beforeFinish) scenario->beforeFinish(*test);
            }
            void Finished(RecoveryOutcome outcome, const char* leftPath) override {
                lines->push_back(TransferWorkersTest::Finished(outcome, leftPath));
            }
            const Scenario* scenario;
            TransferWorkersTest* test;
        } reports;
        reports.lines = &lines;
        reports.scenario = &s;
        reports.test = this;
        run.stageWorkers = workers;
        const int32_t result = TransferResultNumber(RunTransfer(run, table, &product, &reports));
        run.stageWorkers = 0;
        lines.push_back("result " + std::to_string(result));
        for (size_t k = 0; k < view.names.size(); ++k) lines.push_back("name " + view.names[k]);
        for (unsigned p : view.percents) lines.push_back("step " + std::to_string(p));
        std::vector<std::string> files;  // in the order of their names, which the walk does not keep
        for (const auto& item : std::filesystem::recursive_directory_iterator(dir.path())) {
            if (!item.is_regular_file() || item.path().filename() == "SETUP.EXE") continue;
            const std::vector<uint8_t> bytes = zvtest::ReadFileBytes(item.path().string());
            uint8_t digest[SHA256_DIGEST_SIZE] = {};
            EXPECT_EQ(Sha256Bytes(bytes.data(), bytes.size(), digest), Sha256Status::Ok);
            files.push_back("file " + std::filesystem::relative(item.path(), dir.path()).string() + " " +
                            std::to_string(bytes.size()) + " " + std::to_string(LoadU32LE(digest)));
        }
        std::sort(files.begin(), files.end());
        lines.insert(lines.end(), files.begin(), files.end());
        EXPECT_EQ(os.OpenFiles(), 0u);
        EXPECT_EQ(os.liveBlocks, 0);
        return lines;
    }

    // Many members of all sizes, some into folders still to be made, one
    // whose stamped blocks are carried, with every member's digest.
    std::vector<Member> members;
    void MakeMembers() {
        members.clear();
        members.push_back({"plmr32.dll", 0x16, Bytes(40, 30000), MakeVersion(1, 2, 1, 28)});
        for (uint32_t k = 0; k < 24; ++k) {
            const size_t size = k % 5 == 0 ? 0 : (k * 7919u) % 90000u;
            const std::string folder = k % 3 == 0 ? "new\\deeper\\" : k % 3 == 1 ? "" : "new\\";
            members.push_back({folder + "file" + std::to_string(k) + ".txt", 0, Bytes(100 + k, size)});
            if (k == 9) {
                members.push_back({"zvact32.exe", ENTRY_UPDATE_ONLY, CarriedFile(22, 50000, 0x90, 0x0000),
                                   MakeVersion(1, 2, 1, 31)});
            }
        }
    }
    void InstallSome() {
        Install("WINDOWS/SYSTEM/PLMR32.DLL", Bytes(1, 3000));
        Install("ZARVEL/zvact32.exe", CarriedFile(2, 5000, 0x40, 0x1234));
        for (uint32_t k = 1; k < 24; k += 3) Install("ZARVEL/file" + std::to_string(k) + ".txt", Bytes(k, 200));
    }
};

}  // namespace

TEST_F(TransferWorkersTest, WorkersChangeNothingTheUserSeesOrTheRunLeaves) {
    const Scenario scenarios[] = {
        {"every member written", nullptr, nullptr, 0, {}, {}, Finished(RecoveryOutcome::RolledForward, "")},
        {"a member whose bytes are not its digest's, told in its turn",
         [](TransferWorkersTest& t) {
             t.members[14].stream = zvtest::EncodeLzhufForTest(t.members[14].content);
             t.members[14].content.push_back('!');  // the digest is of other bytes
         },
         nullptr, IDS_MEMBER_DAMAGED, {IDS_MEMBER_DAMAGED}},
        {"a member whose stream is cut short",
         [](TransferWorkersTest& t) {
             t.members[18].stream = zvtest::EncodeLzhufForTest(t.members[18].content);
             t.members[18].stream.resize(t.members[18].stream.size() / 2);
         },
         nullptr, ANSWER_CANCEL, {IDS_READ_ERROR}},
        {"a write-protected file in the middle: Ignore, the rest goes on", nullptr,
         [](TransferWorkersTest& t) {
             zvtest::SetReadOnly(t.Host("ZARVEL/file13.txt"), true);
             t.ui.Script({ANSWER_IGNORE});
         },
         0, {IDS_WRITE_PROTECTED}},
        {"a write-protected file in the middle: Abort, and the later new copies go", nullptr,
         [](TransferWorkersTest& t) {
             zvtest::SetReadOnly(t.Host("ZARVEL/file10.txt"), true);
             t.ui.Script({ANSWER_ABORT});
         },
         -1, {IDS_WRITE_PROTECTED}},
        {"every write of one new copy fails: Retry, then Cancel", nullptr,
         [](TransferWorkersTest& t) {
             t.os.Add(Fault{FaultOp::Write, "~zvn0008", 0, -1});
             t.ui.Script({ANSWER_RETRY, ANSWER_CANCEL});
         },
         ANSWER_CANCEL, {IDS_WRITE_ERROR, IDS_WRITE_ERROR}},
        {"one new copy's flush fails every time: Retry, then Cancel", nullptr,
         [](TransferWorkersTest& t) {
             t.os.Add(Fault{FaultOp::Flush, "~zvn0014", 0, -1});
             t.ui.Script({ANSWER_RETRY, ANSWER_CANCEL});
         },
         ANSWER_CANCEL, {IDS_WRITE_ERROR, IDS_WRITE_ERROR}},
        {"the package's file ends inside a member: Cancel", nullptr,
         [](TransferWorkersTest& t) {
             PackageEntry cut = FirstPackageEntry(t.table);
             for (int k = 0; k < 20; ++k) cut = NextPackageEntry(cut);
             std::vector<uint8_t> image = t.Read("UPDATE/SETUP.EXE");
             image.resize(ReadPackagePiece(EntryPieces(cut)).offset + 3);
             zvtest::WriteFileBytes(t.Host("UPDATE/SETUP.EXE"), image);
             t.ui.Script({ANSWER_CANCEL});
         },
         ANSWER_CANCEL, {IDS_READ_ERROR}},
        // The n-th read of the package fails: with no member staged out of
        // turn (no carried blocks), the reads come in the same order.
        {"the package cannot be read from the middle on: Retry, then Cancel",
         [](TransferWorkersTest& t) { t.members.erase(t.members.begin() + 11); },
         [](TransferWorkersTest& t) {
             t.os.Add(Fault{FaultOp::Read, "SETUP.EXE", 12, -1});
             t.ui.Script({ANSWER_RETRY, ANSWER_CANCEL});
         },
         ANSWER_CANCEL, {IDS_READ_ERROR, IDS_READ_ERROR}},
        {"stopped in the middle", nullptr, [](TransferWorkersTest& t) { t.view.stopAtPoll = 12; }, -1, {}},
        // The installed copies are hashed for the journal, and the backups
        // checked and removed at the end, on the workers too.
        {"an installed copy that cannot be read once when the journal records it: Retry", nullptr,
         [](TransferWorkersTest& t) {
             t.os.Add(Fault{FaultOp::Read, "ZARVEL\\file13.txt", 0, 1});
             t.ui.Script({ANSWER_RETRY});
         },
         0, {IDS_FILE_IN_USE}},
        {"an installed copy that cannot be read at all: Retry, then Cancel, and every new copy goes", nullptr,
         [](TransferWorkersTest& t) {
             t.os.Add(Fault{FaultOp::Read, "ZARVEL\\file7.txt", 0, -1});
             t.ui.Script({ANSWER_RETRY, ANSWER_CANCEL});
         },
         ANSWER_CANCEL, {IDS_FILE_IN_USE, IDS_FILE_IN_USE}},
        {"two backups that stay at the end: the update stands, the first is named", nullptr,
         [](TransferWorkersTest& t) {
             t.os.Add(Fault{FaultOp::Remove, "~zvo0005", 0, -1});
             t.os.Add(Fault{FaultOp::Remove, "~zvo000C", 0, -1});
         },
         0, {}, {"~zvo0005.tmp", "~zvo000C.tmp", "~zvupd.jnl"},
         Finished(RecoveryOutcome::LeftOver, "C:\\ZARVEL\\file4.txt")},
        {"a backup that cannot be read at the end is not removed unchecked", nullptr,
         [](TransferWorkersTest& t) { t.os.Add(Fault{FaultOp::Read, "~zvo0012", 0, -1}); },
         0, {}, {"~zvo0012.tmp", "~zvupd.jnl"}, Finished(RecoveryOutcome::LeftOver, "C:\\ZARVEL\\~zvo0012.tmp")},
        // Between the commit and the end someone puts another file at one
        // backup's name and a link to a file outside at another's: neither is
        // the installed copy moved aside, so neither is removed, and the file
        // outside is not touched.
        {"backups swapped for someone else's file and a link before the end: both left alone", nullptr, nullptr, 0,
         {}, {"~zvo0005.tmp", "~zvo000C.tmp"}, Finished(RecoveryOutcome::NotOurs, ""),
         [](TransferWorkersTest& t) {
             namespace fs = std::filesystem;
             zvtest::MakeDirs(t.dir / "OUTSIDE");
             zvtest::WriteFileBytes(t.Host("OUTSIDE/victim.dll"), Bytes(77, 900));
             zvtest::WriteFileBytes(t.Host("ZARVEL/~zvo0005.tmp"), Bytes(78, 900));
             for (const auto& item : fs::recursive_directory_iterator(t.Host("ZARVEL"))) {
                 if (item.path().filename() != "~zvo000C.tmp") continue;
                 const fs::path backup = item.path();
                 fs::remove(backup);
                 fs::create_symlink(t.Host("OUTSIDE/victim.dll"), backup);
                 break;
             }
         }},
    };
    for (const Scenario& s : scenarios) {
        SCOPED_TRACE(s.what);
        const std::vector<std::string> alone = Observe(s, 0);
        EXPECT_EQ(LeftNames(), s.left);
        EXPECT_EQ(MessageIds(), s.messages) << [&] {
            std::string all;
            for (const std::string& l : alone) all += l + "\n";
            return all;
        }();
        EXPECT_NE(std::find(alone.begin(), alone.end(), "result " + std::to_string(s.result)), alone.end());
        if (!s.finished.empty()) {
            EXPECT_NE(std::find(alone.begin(), alone.end(), s.finished), alone.end()) << [&] {
                std::string told;
                for (const std::string& l : alone) told += l.rfind("finished", 0) == 0 ? l + "\n" : "";
                return told;
            }();
        }
        if (s.beforeFinish) {
            EXPECT_EQ(Read("OUTSIDE/victim.dll"), Bytes(77, 900));
        }
        for (unsigned workers : {1u, 4u}) {
            SCOPED_TRACE(workers);
            const std::vector<std::string> seen = Observe(s, workers);
            EXPECT_EQ(seen, alone) << [&] {
                std::string diff;
                for (size_t k = 0; k < std::max(seen.size(), alone.size()); ++k) {
                    const std::string a = k < alone.size() ? alone[k] : "-", b = k < seen.size() ? seen[k] : "-";
                    if (a != b) diff += a + " | " + b + "\n";
                }
                return diff;
            }();
            EXPECT_EQ(LeftNames(), s.left);
        }
    }
}

// A failure a worker meets is not asked about by the worker: the stage step
// stages that member again itself, and asks only when the failure comes
// again. One that does not (a write that failed once) leaves no question.
TEST_F(TransferWorkersTest, AFailureThatDoesNotComeAgainIsNotAskedAbout) {
    MakeMembers();
    InstallSome();
    Package(members, TableStatus::Loaded, true);
    os.Add(Fault{FaultOp::Write, "~zvn0008", 0, 1});
    run.stageWorkers = 4;
    EXPECT_EQ(TransferResultNumber(Run()), 0);
    EXPECT_EQ(os.Struck(0), 1);
    EXPECT_EQ(MessageIds(), std::vector<unsigned>{});
    EXPECT_EQ(Read("ZARVEL/file7.txt"), packaged["file7.txt"]) << "the member the failed write was for";
    for (const auto& [name, content] : packaged) {
        if (name.find('\\') == std::string::npos && name != "plmr32.dll" && name != "zvact32.exe") {
            EXPECT_EQ(Read("ZARVEL/" + name), content) << name;
        }
    }
    EXPECT_EQ(Leftovers(), std::vector<std::string>{});
}
