// The transfer: both passes and their decisions, progress, the questions and
// their answers, and, under every fault, installed files that are each either
// as they were or wholly new.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <map>
#include <random>

#include "detect/stamped_blocks.h"
#include "package/table.h"
#include "platform/bytes.h"
#include "platform/posix_platform.h"
#include "string_ids.h"
#include "tests/support/fault_platform.h"
#include "tests/support/fixture_package.h"
#include "tests/support/lzhuf_test_encoder.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/scripted_view.h"
#include "tests/support/temp_dir.h"
#include "transfer/extract.h"
#include "transfer/transfer.h"

using namespace zv;
using zvtest::Fault;
using zvtest::FaultOp;

namespace {

const uint32_t kBlockKeys[] = {KEY_CARRIED_SHORT, KEY_CARRIED_FIRST, KEY_CARRIED_SECOND};
const uint32_t kBlockSizes[] = {12, 88, 88};

std::vector<uint8_t> Bytes(uint32_t seed, size_t size) {
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(size);
    // Text-like, so the members compress and take several blocks to write.
    for (uint8_t& b : bytes) b = static_cast<uint8_t>("abcdefgh ij\n"[random() % 12]);
    return bytes;
}

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

struct Member {
    std::string name;
    uint16_t flags;
    std::vector<uint8_t> content;
    ProductVersion version{0, 0};
};

class TransferTest : public ::testing::Test {
protected:
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
        PosixLayout layout;
        layout.drives['C' - 'A'] = dir.path();
        layout.windowsDir = "C:\\WINDOWS";
        layout.systemDir = "C:\\WINDOWS\\SYSTEM";
        layout.modulePath = "C:\\UPDATE\\SETUP.EXE";
        posix.SetLayout(layout);
        zvtest::MakeDirs(dir / "WINDOWS/SYSTEM");
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

    void Package(const std::vector<Member>& members) {
        std::vector<zvtest::FixtureMember> fixture;
        for (const Member& m : members) {
            zvtest::FixtureMember f;
            f.name = m.name;
            f.flags = m.flags;
            f.version = m.version;
            f.data = zvtest::EncodeLzhufForTest(m.content);
            f.sizeKB = static_cast<uint16_t>((m.content.size() + 1023) / 1024);
            fixture.push_back(f);
            packaged[m.name] = m.content;
        }
        std::vector<uint8_t> image =
            zvtest::StampFixturePackage(zvtest::BlankUpdaterImage(2048, 512), fixture, MakeVersion(1, 2, 1, 31), 0x409);
        zvtest::WriteFileBytes(Host("UPDATE/SETUP.EXE"), image);
        header = DecodePackageHeader(image.data() + 512);
        ASSERT_EQ(LoadPackageTable(posix, run.programPath, header, &table), TableStatus::Loaded);
    }

    TransferResult Run(const TransferOptions& options = TransferOptions()) {
        return RunTransfer(run, header, table, &product, options);
    }

    std::vector<uint8_t> Read(const std::string& relative) { return zvtest::ReadFileBytes(Host(relative)); }

    // Every installed file is either as it was or wholly the packaged one, and
    // no new file is left behind.
    void ExpectWholeFiles() {
        for (const auto& [relative, old] : before) {
            std::vector<uint8_t> now = Read(relative);
            std::string name = relative.substr(relative.find('/') + 1);
            bool isOld = now == old;
            bool isNew = packaged.count(name) && now == packaged[name];
            EXPECT_TRUE(isOld || isNew) << relative << " is neither the old nor the new file";
        }
        EXPECT_FALSE(zvtest::FileExists(Host("ZARVEL/~zvnew.tmp")));
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
    std::vector<uint8_t> act = Read("ZARVEL/zvact32.exe");
    std::vector<uint8_t> expected = CarriedFile(13, 70000, 0x40, 0);
    ASSERT_EQ(act.size(), expected.size());
    uint32_t word = FindMarker(act.data(), static_cast<uint32_t>(act.size()), KEY_CHECKSUM, 2);
    ASSERT_NE(word, kNoMarker);
    uint16_t stored = LoadU16LE(act.data() + word);
    act[word] = act[word + 1] = 0;
    EXPECT_EQ(act, expected) << "new bytes with the old blocks";
    EXPECT_EQ(static_cast<uint16_t>(stored - StampChecksum(act.data(), static_cast<uint32_t>(act.size()))),
              static_cast<uint16_t>(0 - StampChecksum(act32.content.data(), static_cast<uint32_t>(act32.content.size()))))
        << "the checksum relation of the packaged file";
    // 6 of 6 eligible entries handled but PLMR.DLL, passed by without a step: 5 × 100 / 6.
    ASSERT_FALSE(view.percents.empty());
    EXPECT_EQ(view.percents.front(), 0u);
    EXPECT_EQ(view.percents.back(), 83u);
    EXPECT_EQ(view.created, 1);
    EXPECT_EQ(view.destroyed, 1);
    EXPECT_EQ(os.OpenFiles(), 0u);
    EXPECT_EQ(os.liveBlocks, 0);
}
