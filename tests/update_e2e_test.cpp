// A whole update on a fixture installation: detection, the verdict, the
// transfer, and every file checked afterwards; and quillon plan, which must
// foretell exactly what the transfer then does.
#include <gtest/gtest.h>

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <sstream>

#include "detect/detection.h"
#include "detect/stamped_blocks.h"
#include "platform/bytes.h"
#include "platform/posix_platform.h"
#include "platform/sha256.h"
#include "platform/text.h"
#include "tests/support/fixture_package.h"
#include "tests/support/host_layout.h"
#include "tests/support/lzhuf_test_encoder.h"
#include "tests/support/pe_builder.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/scripted_view.h"
#include "tests/support/stamped_file.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tool_run.h"
#include "tests/support/transfer_number.h"
#include "transfer/journal.h"
#include "transfer/startup.h"
#include "transfer/transfer.h"

using namespace zv;
using namespace zvtest;

namespace {

struct ProductFile {
    const char* name;
    ExeFormat format;
    bool mainProgram;
    bool carried;
};

const ProductFile kFiles[] = {
    {"zvact.exe", ExeFormat::Ne, true, true},     {"zvsa.bin", ExeFormat::Ne, false, true},
    {"zvsv.bin", ExeFormat::Ne, false, true},     {"zvact32.exe", ExeFormat::Pe32, true, true},
    {"zvsa32.bin", ExeFormat::Pe32, false, true}, {"zvsv32.bin", ExeFormat::Pe32, false, true},
    {"zvres.dll", ExeFormat::Pe32, false, false},
};

// A product file: its version resource, the marker word of a main program,
// the three carried blocks filled with `fill` and a checksum word, and some
// bytes of its own.
std::vector<uint8_t> MakeFile(const ProductFile& f, ProductVersion version, uint8_t fill, uint16_t checksum) {
    std::vector<uint8_t> data;
    if (f.mainProgram) AppendBytes(&data, MarkerBlockBytes(KEY_MARKER_WORD, {0, 0}));
    if (f.carried) {
        AppendBytes(&data, MarkerBlockBytes(KEY_CARRIED_SHORT, std::vector<uint8_t>(12, fill)));
        AppendBytes(&data, MarkerBlockBytes(KEY_CARRIED_FIRST, std::vector<uint8_t>(88, fill + 1)));
        AppendBytes(&data, MarkerBlockBytes(KEY_CARRIED_SECOND, std::vector<uint8_t>(88, fill + 2)));
        AppendBytes(&data, MarkerBlockBytes(KEY_CHECKSUM, {static_cast<uint8_t>(checksum), static_cast<uint8_t>(checksum >> 8)}));
    }
    for (int i = 0; i < 3000; ++i) data.push_back(static_cast<uint8_t>((i * 7 + fill) % 251));
    return BuildVersionedExecutable(f.format, ProductVersionInfo(version, 0x409, f.name), data);
}

std::vector<uint8_t> Block(const std::vector<uint8_t>& file, uint32_t key, uint32_t length) {
    uint32_t at = FindMarker(file.data(), static_cast<uint32_t>(file.size()), key, length);
    if (at == kNoMarker) return {};
    return std::vector<uint8_t>(file.begin() + at, file.begin() + at + length);
}

// What carrying the blocks must keep; the file has a checksum block.
int32_t ChecksumDifference(const std::vector<uint8_t>& file) {
    int32_t difference = zvtest::FileChecksumDifference(file);
    EXPECT_NE(difference, -1) << "a checksum block";
    return difference;
}

class UpdateTest : public ::testing::Test {
protected:
    TempDir dir;
    std::map<std::string, std::vector<uint8_t>> installed;  // name -> bytes before the update
    std::map<std::string, std::vector<uint8_t>> packaged;   // name -> bytes in the package

    void SetUp() override {
        MakeDirs(dir / "WINDOWS/SYSTEM");
        MakeDirs(dir / "ZARVEL");
        MakeDirs(dir / "UPDATE");
        WriteFileText(dir / "WINDOWS/zvact.ini", "[setup]\r\ndrive=C:\r\ndir=\\ZARVEL\\\r\ninst=2\r\n");
        const ProductVersion old = MakeVersion(1, 2, 1, 20);
        const ProductVersion next = MakeVersion(1, 2, 1, 31);
        std::vector<FixtureMember> members;
        for (const char* lib : {"PLMR.DLL", "PLMR32.DLL"}) {
            ProductFile f{lib, ExeFormat::Pe32, false, false};
            WriteFileBytes(dir / ("WINDOWS/SYSTEM/" + std::string(lib)), MakeFile(f, old, 1, 0));
            std::string lower = lib == std::string("PLMR.DLL") ? "plmr.dll" : "plmr32.dll";
            packaged[lower] = MakeFile(f, next, 2, 0);
            members.push_back({lower, 0x16, next, EncodeLzhufForTest(packaged[lower])});
        }
        uint8_t fill = 0x10;
        for (const ProductFile& f : kFiles) {
            if (std::strcmp(f.name, "zvres.dll") != 0) {  // the one file not installed
                installed[f.name] = MakeFile(f, old, fill, static_cast<uint16_t>(0x1111 * fill));
                WriteFileBytes(dir / ("ZARVEL/" + std::string(f.name)), installed[f.name]);
            }
            packaged[f.name] = MakeFile(f, next, static_cast<uint8_t>(fill + 0x40), 0xBEEF);
            members.push_back({f.name, ENTRY_UPDATE_ONLY, next, EncodeLzhufForTest(packaged[f.name])});
            fill = static_cast<uint8_t>(fill + 0x10);
        }
        // A newer installed copy than the package brings is kept.
        installed["zvnewer.bin"] = MakeFile({"zvnewer.bin", ExeFormat::Pe32, false, false}, MakeVersion(1, 3, 0, 0), 3, 0);
        WriteFileBytes(dir / "ZARVEL/zvnewer.bin", installed["zvnewer.bin"]);
        packaged["zvnewer.bin"] = MakeFile({"zvnewer.bin", ExeFormat::Pe32, false, false}, next, 4, 0);
        members.push_back({"zvnewer.bin", ENTRY_UPDATE_ONLY, next, EncodeLzhufForTest(packaged["zvnewer.bin"])});
        WriteFileBytes(dir / "UPDATE/SETUP.EXE",
                       StampFixturePackage(BlankUpdaterImage(4096, 1000), members, next, 0x409));
    }
};

class Recorder : public TransferObserver {
public:
    std::set<std::string> written;
    void EntryDone(const EntryReport& r) override {
        if (r.decision.outcome == EntryOutcome::Write) written.insert(r.decision.target);
    }
};

}  // namespace

TEST_F(UpdateTest, DetectionVerdictTransferAndEveryFileAfterwards) {
    // What quillon plan foretells, before anything is written.
    const ToolRun planRun = zvtest::RunQuillon("plan --updater " + (dir / "UPDATE/SETUP.EXE") + " --windows-dir " +
                                                (dir / "WINDOWS") + " --system-dir " + (dir / "WINDOWS/SYSTEM"));
    const std::string& plan = planRun.out;
    ASSERT_EQ(planRun.exitCode, 0) << plan;
    std::set<std::string> planned;
    std::istringstream lines(plan);
    for (std::string line; std::getline(lines, line);) {
        size_t at = line.find(" write ");
        if (at != std::string::npos) planned.insert(line.substr(line.find("C:\\", at)));
    }
    // The same plan as JSON names the same targets, and the verdict.
    WriteFileText(dir / "read.py",
                  "import json, sys\nd = json.load(open(sys.argv[1]))\n"
                  "print(d['installed'], d['canProceed'], d['finalPercent'], d['result'])\n"
                  "e = d['entries']\n"
                  "print(sum(v['needed'] for v in d['volumes']), sum(x['carried'] for x in e), "
                  "sum(x['step'] for x in e) == len(e))\n"
                  "for e in d['entries']:\n    print(e['target'] if e['decision'] == 'write' else '-')\n");
    const ToolRun json = RunTool("(" + zvtest::QuillonPath() + " plan --json --updater " + (dir / "UPDATE/SETUP.EXE") +
                                 " --windows-dir " + (dir / "WINDOWS") + " --system-dir " + (dir / "WINDOWS/SYSTEM") +
                                 " > " + (dir / "plan.json") + ") && python3 " + (dir / "read.py") + " " +
                                 (dir / "plan.json"));
    ASSERT_EQ(json.exitCode, 0) << json.out;
    std::istringstream jsonLines(json.out);
    std::string first;
    std::getline(jsonLines, first);
    EXPECT_EQ(first, "True True 100 0");
    // The space the new copies need is the sum of the written members' whole
    // kilobytes; every carried file is installed, and every entry is a step.
    std::string second;
    std::getline(jsonLines, second);
    uint64_t needed = 0;
    for (const std::string& target : planned) {
        std::string name = target.substr(std::string("C:\\ZARVEL\\").size());
        if (target.find("\\SYSTEM\\") != std::string::npos) name = LowerAz(target.substr(target.rfind('\\') + 1));
        ASSERT_EQ(packaged.count(name), 1u) << name;
        needed += (packaged[name].size() + 1023) / 1024 * 1024;
    }
    size_t carried = 0;
    for (const ProductFile& f : kFiles) carried += f.carried ? 1 : 0;
    EXPECT_EQ(second, std::to_string(needed) + " " + std::to_string(carried) + " True");
    EXPECT_NE(plan.find("  3. commit: the journal C:\\WINDOWS\\~zvupd.jnl, with the size and SHA-256"),
              std::string::npos)
        << plan;
    EXPECT_NE(plan.find("space the new copies need:"), std::string::npos) << plan;
    const auto planNow = [&] {
        return zvtest::RunQuillon("plan --updater " + (dir / "UPDATE/SETUP.EXE") + " --windows-dir " +
                                  (dir / "WINDOWS") + " --system-dir " + (dir / "WINDOWS/SYSTEM"));
    };
    // A file of the journal's name in the product directory, which ordinary
    // users may write, is nobody's journal: the plan does not mention it.
    WriteFileText(dir / "ZARVEL/~zvupd.jnl", "not a journal");
    const ToolRun planted = planNow();
    EXPECT_EQ(planted.exitCode, 0) << planted.out;
    EXPECT_EQ(planted.out.find("journal here"), std::string::npos) << planted.out;
    EXPECT_EQ(planted.out.find("refuses"), std::string::npos) << planted.out;
    std::remove((dir / "ZARVEL/~zvupd.jnl").c_str());
    // A damaged one in the Windows directory is refused, and the plan says
    // what the updater shows and that it changes nothing.
    WriteFileText(dir / "WINDOWS/~zvupd.jnl", "not a journal");
    const ToolRun refused = planNow();
    EXPECT_NE(refused.exitCode, 0);
    EXPECT_NE(refused.out.find("an earlier update left a journal, C:\\WINDOWS\\~zvupd.jnl, that the updater refuses "
                               "(the journal is damaged):\nit changes nothing, shows \"C:\\WINDOWS\\~zvupd.jnl, the "
                               "record of an earlier update of Zarvel, is damaged."),
              std::string::npos)
        << refused.out;
    // One of a completed update, kept while a file it replaced was in use, is
    // told apart, with every change settling it would make: the old copy
    // removed, and a file at a staged name that is not the update's left.
    {
        PosixPlatform layout(MachineLayout(dir.path(), "SETUP.EXE"));
        WriteFileText(dir / "ZARVEL/~zvo0000.tmp", "the old program");
        WriteFileText(dir / "ZARVEL/~zvn0000.tmp", "planted");
        Journal committed;
        ASSERT_TRUE(AllocJournal(layout, &committed, "C:\\ZARVEL", 1));
        JournalEntry& entry = committed.entries[0];
        std::strcpy(entry.target, "C:\\ZARVEL\\ZVACT32.EXE");
        entry.existed = true;
        entry.recorded = true;
        entry.installed.size = 15;
        ASSERT_EQ(Sha256Bytes("the old program", 15, entry.installed.digest), Sha256Status::Ok);
        entry.fresh.size = 11;
        ASSERT_EQ(Sha256Bytes("new program", 11, entry.fresh.digest), Sha256Status::Ok);
        committed.state = JournalState::Committed;
        EXPECT_EQ(WriteJournal(layout, committed), JournalResult::Ok);
        FreeJournal(layout, &committed);
    }
    const std::string completed = planNow().out;
    EXPECT_NE(completed.find("a completed update left its journal here (committed, 1 file) while a file it replaced"),
              std::string::npos)
        << completed;
    EXPECT_NE(completed.find("settling C:\\WINDOWS\\~zvupd.jnl would:\n"
                             "  C:\\ZARVEL\\ZVACT32.EXE: remove the backup C:\\ZARVEL\\~zvo0000.tmp\n"
                             "  C:\\ZARVEL\\ZVACT32.EXE: leave C:\\ZARVEL\\~zvn0000.tmp alone: it is not the update's "
                             "new copy\n"),
              std::string::npos)
        << completed;
    // Nothing of it was acted on.
    EXPECT_TRUE(FileExists(dir / "ZARVEL/~zvo0000.tmp"));
    EXPECT_TRUE(FileExists(dir / "ZARVEL/~zvn0000.tmp"));
    std::remove((dir / "WINDOWS/~zvupd.jnl").c_str());
    std::remove((dir / "ZARVEL/~zvo0000.tmp").c_str());
    std::remove((dir / "ZARVEL/~zvn0000.tmp").c_str());
    std::set<std::string> plannedInJson;
    for (std::string line; std::getline(jsonLines, line);) {
        if (line != "-") plannedInJson.insert(line);
    }
    EXPECT_EQ(plannedInJson, planned);
    EXPECT_FALSE(planned.empty());

    PosixPlatform os(MachineLayout(dir.path(), "SETUP.EXE"));
    ScriptedUi ui;
    ScriptedView view;
    RunContext run;
    run.os = &os;
    run.ui = &ui;
    run.transferView = &view;
    std::vector<uint8_t> image = ReadFileBytes(dir / "UPDATE/SETUP.EXE");
    PackageHeader header = DecodePackageHeader(image.data() + 1000);

    InstalledProduct product;
    PackageTable table;
    PrepareUpdate(run, header, &product, &table);
    EXPECT_EQ(product.variants, static_cast<uint32_t>(Act16 | Sa16 | Act32 | Sa32));
    EXPECT_EQ(product.runtime, static_cast<uint32_t>(Plmr16Found | Plmr32Found));
    EXPECT_STREQ(product.installDir, "C:\\ZARVEL\\");
    UpdateVerdict verdict = EvaluateUpdate(run, product, header, table.status);
    EXPECT_TRUE(verdict.canProceed) << verdict.message;
    EXPECT_STREQ(verdict.installTypeText, "Full");
    EXPECT_STREQ(verdict.version16Text, "1.01");

    Recorder recorder;
    ASSERT_EQ(RunTransfer(run, table, &product, &recorder), 0);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(recorder.written, planned) << plan;
    EXPECT_EQ(view.percents.back(), 100u);
    EXPECT_NE(plan.find("would end at 100%"), std::string::npos) << plan;
    FreePackageTable(os, &table);

    EXPECT_EQ(ReadFileBytes(dir / "WINDOWS/SYSTEM/PLMR.DLL"), packaged["plmr.dll"]);
    EXPECT_EQ(ReadFileBytes(dir / "WINDOWS/SYSTEM/PLMR32.DLL"), packaged["plmr32.dll"]);
    EXPECT_FALSE(FileExists(dir / "ZARVEL/zvres.dll")) << "update-only, and not installed";
    EXPECT_EQ(ReadFileBytes(dir / "ZARVEL/zvnewer.bin"), installed["zvnewer.bin"]) << "the installed copy is newer";
    for (const ProductFile& f : kFiles) {
        if (!f.carried) continue;
        SCOPED_TRACE(f.name);
        std::vector<uint8_t> now = ReadFileBytes(dir / ("ZARVEL/" + std::string(f.name)));
        const std::vector<uint8_t>& was = installed[f.name];
        const std::vector<uint8_t>& pkg = packaged[f.name];
        ASSERT_EQ(now.size(), pkg.size());
        for (const CarriedBlock& b : kCarriedBlocks) {
            EXPECT_EQ(Block(now, b.key, b.length), Block(was, b.key, b.length)) << "carried from the installed copy";
        }
        EXPECT_EQ(ChecksumDifference(now), ChecksumDifference(pkg)) << "the checksum relation is kept";
        // Everything else is the new file's.
        std::vector<uint8_t> rest = now;
        std::vector<uint8_t> expected = pkg;
        const std::pair<uint32_t, uint32_t> blocks[] = {
            {KEY_CARRIED_SHORT, 12}, {KEY_CARRIED_FIRST, 88}, {KEY_CARRIED_SECOND, 88}, {KEY_CHECKSUM, 2}};
        std::vector<std::pair<uint32_t, uint32_t>> spans;
        for (const auto& [key, length] : blocks) {
            uint32_t at = FindMarker(expected.data(), static_cast<uint32_t>(expected.size()), key, length);
            ASSERT_NE(at, kNoMarker);
            spans.push_back({at, length});
        }
        for (const auto& [at, length] : spans) {
            std::fill(rest.begin() + at, rest.begin() + at + length, 0);
            std::fill(expected.begin() + at, expected.begin() + at + length, 0);
        }
        EXPECT_EQ(rest, expected);
    }
}
