// The update journal: its names, its file (whole or refused), and recovery
// from a kill at every point of an update, which must leave the installation
// exactly as it was, or wholly new once the update was committed.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "package/member_name.h"
#include "platform/bytes.h"
#include "platform/sha256.h"
#include "platform/posix_platform.h"
#include "platform/text.h"
#include "tests/support/fault_platform.h"
#include "tests/support/host_layout.h"
#include "tests/support/temp_dir.h"
#include "string_ids.h"
#include "transfer/commit.h"
#include "transfer/journal.h"
#include "transfer/startup.h"

using namespace zv;
using zvtest::Fault;
using zvtest::FaultOp;

namespace {

// Names and bytes of every file below a directory.
using Tree = std::map<std::string, std::vector<uint8_t>>;

Tree Snapshot(const std::string& root) {
    Tree tree;
    for (const auto& item : std::filesystem::recursive_directory_iterator(root)) {
        if (!item.is_regular_file()) continue;
        tree[std::filesystem::relative(item.path(), root).string()] = zvtest::ReadFileBytes(item.path().string());
    }
    return tree;
}

std::vector<uint8_t> Text(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

// One member of the sample update.
struct Member {
    const char* target;
    uint16_t index;
    const char* installed;  // nullptr: not installed
    const char* fresh;      // the new contents
};

// Installed and new files of a product directory and the system directory,
// one of them new to the installation, in a subdirectory.
const Member kMembers[] = {
    {"C:\\ZARVEL\\ZARVEL.EXE", 3, "old program", "new program, somewhat longer"},
    {"C:\\ZARVEL\\DATA\\NEW.DAT", 7, nullptr, "data the old version lacked"},
    {"C:\\WINDOWS\\SYSTEM\\PLMR32.DLL", 0, "old library", "new library"},
    {"C:\\ZARVEL\\README.TXT", 0x1F, "old notes", ""},
};
constexpr uint32_t kMemberCount = sizeof kMembers / sizeof kMembers[0];
const char kProductDir[] = "C:\\ZARVEL";

class JournalTest : public ::testing::Test {
protected:
    JournalTest() : os(zvtest::MachineLayout(dir.path())) {
        Install();
        before = Snapshot(dir.path());
        after = before;
        for (const Member& m : kMembers) after[Relative(m.target)] = Text(m.fresh);
    }
    // The installation before the update, on a clean disk.
    void Install() {
        FreeJournal(os, &journal);
        std::filesystem::remove_all(dir / "ZARVEL");
        std::filesystem::remove_all(dir / "WINDOWS");
        zvtest::MakeDirs(dir / "ZARVEL/DATA");
        zvtest::MakeDirs(dir / "WINDOWS/SYSTEM");
        for (const Member& m : kMembers) {
            if (m.installed != nullptr) zvtest::WriteFileText(Host(m.target), m.installed);
        }
        // The user's own files, one of them with a name like ours but no
        // entry of the journal.
        zvtest::WriteFileText(dir / "ZARVEL/USER.DOC", "the user's letter");
        zvtest::WriteFileText(dir / "ZARVEL/~zvn0063.tmp", "not the updater's");
    }
    ~JournalTest() override { FreeJournal(os, &journal); }

    std::string Host(const char* path) { return os.HostPath(path); }
    std::string Relative(const char* path) {
        return std::filesystem::relative(Host(path), dir.path()).string();
    }
    std::string Staged(const Member& m) {
        char staged[kMaxPath], backup[kMaxPath];
        EXPECT_TRUE(ComposeTransactionPaths(m.target, m.index, staged, backup));
        return staged;
    }
    std::string Backup(const Member& m) {
        char staged[kMaxPath], backup[kMaxPath];
        EXPECT_TRUE(ComposeTransactionPaths(m.target, m.index, staged, backup));
        return backup;
    }

    void Plan(Platform& p) {
        ASSERT_TRUE(AllocJournal(p, &journal, kProductDir, kMemberCount));
        for (uint32_t i = 0; i < kMemberCount; ++i) {
            std::strcpy(journal.entries[i].target, kMembers[i].target);
            journal.entries[i].index = kMembers[i].index;
            journal.entries[i].existed = kMembers[i].installed != nullptr;
        }
    }
    // Writes a new copy through the platform, as the transfer does.
    static bool Stage(Platform& p, const std::string& staged, const char* contents) {
        const FileHandle file = p.Create(staged.c_str());
        if (file == kNoFile) return false;
        const uint32_t size = static_cast<uint32_t>(std::strlen(contents));
        const bool ok = p.Write(file, contents, size) == static_cast<int32_t>(size) && p.Flush(file);
        p.Close(file);
        return ok;
    }
    // A whole update through `p`: true when it ran to its end.
    bool Update(Platform& p) {
        Plan(p);
        if (BeginTransaction(p, journal) != JournalResult::Ok) return false;
        for (const Member& m : kMembers) {
            if (!Stage(p, Staged(m), m.fresh)) return false;
        }
        if (!SyncJournalFolders(p, journal, JournalFolders::AndParents, nullptr)) return false;
        if (MarkCommitting(p, journal) != JournalResult::Ok) return false;
        for (uint32_t i = 0; i < kMemberCount; ++i) {
            if (CommitEntry(p, journal.entries[i]) != CommitStep::Done) return false;
        }
        if (!SyncJournalFolders(p, journal, JournalFolders::Targets, nullptr)) return false;
        if (MarkCommitted(p, journal) != JournalResult::Ok) return false;
        return FinishTransaction(p, journal, nullptr) == RecoveryOutcome::RolledForward;
    }
    // Plans and stages every member, then marks the journal Committing.
    void StageAll() {
        Plan(os);
        ASSERT_EQ(BeginTransaction(os, journal), JournalResult::Ok);
        for (const Member& m : kMembers) ASSERT_TRUE(Stage(os, Staged(m), m.fresh));
        ASSERT_EQ(MarkCommitting(os, journal), JournalResult::Ok);
    }
    // The journal lives in the Windows directory.
    std::string JournalHostPath() { return dir / "WINDOWS/~zvupd.jnl"; }
    // Stages every member's new copy.
    void StageCopies() {
        for (const Member& m : kMembers) ASSERT_TRUE(Stage(os, Staged(m), m.fresh));
    }

    zvtest::TempDir dir;
    PosixPlatform os;
    Journal journal;
    Tree before;
    Tree after;
};

// ---- Names -----------------------------------------------------------------

TEST(JournalNames, ComposedBesideTheTargetFromTheIndex) {
    const std::string deep = "C:\\" + std::string(243, 'D') + "\\";  // 247 characters
    const std::string refused = "-";
    struct Case {
        std::string target;
        uint32_t index;
        std::string staged;  // "-": refused
        std::string backup;
    } cases[] = {
        {"C:\\ZARVEL\\ZARVEL.EXE", 0x2A, "C:\\ZARVEL\\~zvn002A.tmp", "C:\\ZARVEL\\~zvo002A.tmp"},
        {"C:\\ZARVEL\\SUB\\A.DLL", 0, "C:\\ZARVEL\\SUB\\~zvn0000.tmp", "C:\\ZARVEL\\SUB\\~zvo0000.tmp"},
        {"C:\\A", 0xFFFF, "C:\\~zvnFFFF.tmp", "C:\\~zvoFFFF.tmp"},
        {"C:\\A", 0x10000, refused, refused},
        {"ZARVEL.EXE", 1, refused, refused},
        // 247 + 12 = 259 characters fit; one more does not.
        {deep + "X", 0xBEEF, deep + "~zvnBEEF.tmp", deep + "~zvoBEEF.tmp"},
        {deep.substr(0, deep.size() - 1) + "E\\X", 1, refused, refused},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        char staged[kMaxPath] = "x", backup[kMaxPath] = "x";
        const bool ok = ComposeTransactionPaths(c.target.c_str(), c.index, staged, backup);
        if (c.staged == refused) {
            EXPECT_FALSE(ok);
            EXPECT_STREQ(staged, "");
            EXPECT_STREQ(backup, "");
            continue;
        }
        ASSERT_TRUE(ok);
        EXPECT_EQ(staged, c.staged);
        EXPECT_EQ(backup, c.backup);
        EXPECT_LE(std::strlen(staged), MEMBER_NAME_MAX);
        EXPECT_TRUE(IsStagedCopyName(std::strrchr(staged, '\\') + 1));
        EXPECT_TRUE(IsBackupName(std::strrchr(backup, '\\') + 1));
    }
}

TEST(JournalNames, OursOnlyWhenTheWholePatternMatches) {
    struct Case {
        const char* name;
        bool staged;
        bool backup;
    } cases[] = {
        {"~zvn002A.tmp", true, false},   {"~ZVN002a.TMP", true, false}, {"~zvo0000.tmp", false, true},
        {"~zvoffff.Tmp", false, true},   {"~zvn02A.tmp", false, false}, {"~zvn0002A.tmp", false, false},
        {"~zvx002A.tmp", false, false},  {"~zvn002G.tmp", false, false}, {"~zvnew.tmp", false, false},
        {"~zvn002A.tmpx", false, false}, {"~zvn002A.tm", false, false}, {"zvn002A.tmp", false, false},
        {"~zvupd.jnl", false, false},    {"", false, false},            {"~zvn 02A.tmp", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(IsStagedCopyName(c.name), c.staged);
        EXPECT_EQ(IsBackupName(c.name), c.backup);
        EXPECT_EQ(IsTransactionName(c.name), c.staged || c.backup);
    }
}

TEST(JournalNames, TargetsAreFullPathsToOrdinaryFiles) {
    const std::string longest = "C:\\" + std::string(256, 'a');
    struct Case {
        std::string path;
        bool sound;
    } cases[] = {
        {"C:\\ZARVEL\\ZARVEL.EXE", true},
        {"d:\\a", true},
        {"\\\\SERVER\\SHARE\\ZARVEL\\A.DLL", false},  // another machine, with the user's credentials
        {"\\\\.\\C:\\ZARVEL\\A.DLL", false},          // device paths
        {"\\\\?\\C:\\ZARVEL\\A.DLL", false},
        {"\\\\?\\UNC\\SERVER\\SHARE\\A.DLL", false},
        {"\\\\.\\PIPE\\X", false},
        {longest, true},
        {longest + "a", false},
        {"ZARVEL.EXE", false},
        {"ZARVEL\\A.EXE", false},
        {"\\ZARVEL\\A.EXE", false},
        {"C:ZARVEL\\A.EXE", false},
        {"C:\\", false},
        {"C:\\ZARVEL\\", false},
        {"C:\\ZARVEL\\\\A.EXE", false},
        {"C:\\ZARVEL\\..\\WINDOWS\\A.EXE", false},
        {"C:\\ZARVEL\\.\\A.EXE", false},
        {"C:\\ZARVEL\\..", false},
        {"C:\\ZARVEL/..\\A.EXE", false},
        {"C:\\ZARVEL\\A.EXE:stream", false},
        {"C:\\ZARVEL\\A\x01.EXE", false},
        {"C:\\ZARVEL\\A?.EXE", false},
        {"\\\\SERVER\\A.DLL", false},
        {"\\\\SERVER\\\\A.DLL", false},
        {"C:\\ZARVEL\\~zvn0001.tmp", false},
        {"C:\\ZARVEL\\~ZVUPD.JNL", false},
        {"C:\\~zv\\A.EXE", true},  // only the file's own name is kept from us
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(IsSoundTargetPath(c.path.c_str()), c.sound);
    }
}

// ---- The journal file ----------------------------------------------------------

uint32_t Crc32(const std::vector<uint8_t>& bytes) {
    uint32_t crc = 0xFFFFFFFFu;
    for (uint8_t b : bytes) {
        crc ^= b;
        for (int k = 0; k < 8; ++k) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return ~crc;
}

// A journal's bytes put together field by field, with a checksum that holds,
// so that what is refused is refused for its contents.
struct RawRecord {
    uint32_t size = 0;
    std::vector<uint8_t> digest = std::vector<uint8_t>(SHA256_DIGEST_SIZE, 0);
};

RawRecord RecordOf(const char* contents) {
    RawRecord r;
    r.size = static_cast<uint32_t>(std::strlen(contents));
    EXPECT_EQ(Sha256Bytes(contents, r.size, r.digest.data()), Sha256Status::Ok);
    return r;
}

struct RawEntry {
    uint16_t index;
    uint8_t flags;  // 1: installed, 2: recorded
    RawRecord fresh, installed;
    std::string target, staged, backup;
};

// An entry as the journal has it from the commit on: both copies recorded.
RawEntry RawOf(const Member& m) {
    char staged[kMaxPath], backup[kMaxPath];
    ComposeTransactionPaths(m.target, m.index, staged, backup);
    RawEntry e{m.index, static_cast<uint8_t>((m.installed ? 1 : 0) | 2), RecordOf(m.fresh), RawRecord(),
               m.target, staged, backup};
    if (m.installed != nullptr) e.installed = RecordOf(m.installed);
    return e;
}

struct RawJournal {
    uint8_t state = 2;
    uint16_t version = 2;
    uint8_t reserved = 0;
    int64_t count = -1;  // -1: the number of entries
    std::string productDir = kProductDir;
    std::vector<RawEntry> entries;
    std::vector<uint8_t> trailer;  // bytes between the entries and the checksum

    std::vector<uint8_t> Bytes() const {
        std::vector<uint8_t> b = {'Z', 'V', 'J', 'N', 0, 0, state, reserved, 0, 0, 0, 0};
        StoreU16LE(b.data() + 4, version);
        StoreU32LE(b.data() + 8, static_cast<uint32_t>(count < 0 ? entries.size() : count));
        auto path = [&](const std::string& p) {
            b.push_back(static_cast<uint8_t>(p.size()));
            b.push_back(static_cast<uint8_t>(p.size() >> 8));
            b.insert(b.end(), p.begin(), p.end());
        };
        auto record = [&](const RawRecord& r) {
            for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(r.size >> (8 * i)));
            b.insert(b.end(), r.digest.begin(), r.digest.end());
        };
        path(productDir);
        for (const RawEntry& e : entries) {
            b.push_back(static_cast<uint8_t>(e.index));
            b.push_back(static_cast<uint8_t>(e.index >> 8));
            b.push_back(e.flags);
            record(e.fresh);
            record(e.installed);
            path(e.target);
            path(e.staged);
            path(e.backup);
        }
        b.insert(b.end(), trailer.begin(), trailer.end());
        const uint32_t crc = Crc32(b);
        for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(crc >> (8 * i)));
        return b;
    }
};

RawJournal SampleRaw() {
    RawJournal raw;
    for (const Member& m : kMembers) raw.entries.push_back(RawOf(m));
    return raw;
}

// Points an entry at another target, with the names composed beside it, so
// that only the target's place is wrong.
void Retarget(RawEntry* e, const std::string& target) {
    char staged[kMaxPath] = {}, backup[kMaxPath] = {};
    ComposeTransactionPaths(target.c_str(), e->index, staged, backup);
    e->target = target;
    e->staged = staged[0] != '\0' ? staged : "x";
    e->backup = backup[0] != '\0' ? backup : "x";
}

// The same before the commit: nothing recorded yet.
RawJournal SampleStagingRaw() {
    RawJournal raw = SampleRaw();
    raw.state = 1;
    for (RawEntry& e : raw.entries) {
        e.flags &= 1;
        e.fresh = RawRecord();
        e.installed = RawRecord();
    }
    return raw;
}

TEST_F(JournalTest, WrittenWholeAndReadBackInEveryState) {
    Plan(os);
    ASSERT_EQ(BeginTransaction(os, journal), JournalResult::Ok);
    // The module's bytes are the format field by field.
    EXPECT_EQ(zvtest::ReadFileBytes(JournalHostPath()), SampleStagingRaw().Bytes());
    EXPECT_EQ(JournalSize(journal), SampleStagingRaw().Bytes().size());
    EXPECT_FALSE(zvtest::FileExists(dir / "ZARVEL/~zvupd.jnl")) << "never in the product directory";
    StageCopies();

    const JournalState states[] = {JournalState::Staging, JournalState::Committing, JournalState::Committed};
    for (JournalState state : states) {
        SCOPED_TRACE(JournalStateName(state));
        if (state == JournalState::Committing) {
            ASSERT_EQ(MarkCommitting(os, journal), JournalResult::Ok);
        }
        if (state == JournalState::Committed) {
            ASSERT_EQ(MarkCommitted(os, journal), JournalResult::Ok);
        }
        Journal read;
        ASSERT_EQ(ReadJournal(os, &read), JournalResult::Ok);
        EXPECT_EQ(read.state, state);
        EXPECT_STREQ(read.productDir, kProductDir);
        EXPECT_TRUE(IsJournalOf(read, "C:\\ZARVEL\\"));
        EXPECT_TRUE(IsJournalOf(read, "c:\\zarvel"));
        EXPECT_FALSE(IsJournalOf(read, "C:\\ZARVEL2"));
        ASSERT_EQ(read.count, kMemberCount);
        for (uint32_t i = 0; i < kMemberCount; ++i) {
            EXPECT_STREQ(read.entries[i].target, kMembers[i].target);
            EXPECT_EQ(read.entries[i].index, kMembers[i].index);
            EXPECT_EQ(read.entries[i].existed, kMembers[i].installed != nullptr);
            EXPECT_EQ(read.entries[i].recorded, state != JournalState::Staging);
        }
        FreeJournal(os, &read);
        if (state != JournalState::Staging) {
            EXPECT_EQ(zvtest::ReadFileBytes(JournalHostPath()), [&] {
                RawJournal raw = SampleRaw();
                raw.state = static_cast<uint8_t>(state);
                return raw.Bytes();
            }());
        }
        EXPECT_FALSE(zvtest::FileExists(dir / "WINDOWS/~zvupd.new"));
    }
}

TEST_F(JournalTest, ChangesOfStateOutOfOrderAreRefused) {
    Plan(os);
    EXPECT_EQ(MarkCommitted(os, journal), JournalResult::WrongState);
    ASSERT_EQ(BeginTransaction(os, journal), JournalResult::Ok);
    const std::vector<uint8_t> staging = zvtest::ReadFileBytes(JournalHostPath());
    EXPECT_EQ(MarkCommitted(os, journal), JournalResult::WrongState);
    EXPECT_EQ(journal.state, JournalState::Staging);
    EXPECT_EQ(zvtest::ReadFileBytes(JournalHostPath()), staging);
    EXPECT_EQ(FinishTransaction(os, journal, nullptr), RecoveryOutcome::NotCommitted);
    EXPECT_EQ(zvtest::ReadFileBytes(JournalHostPath()), staging);
    // Not before every new copy is there to be recorded.
    EXPECT_EQ(MarkCommitting(os, journal), JournalResult::CannotRecord);
    EXPECT_EQ(journal.state, JournalState::Staging);
    EXPECT_EQ(zvtest::ReadFileBytes(JournalHostPath()), staging);
    StageCopies();
    ASSERT_EQ(MarkCommitting(os, journal), JournalResult::Ok);
    EXPECT_EQ(MarkCommitting(os, journal), JournalResult::WrongState);
    EXPECT_EQ(journal.state, JournalState::Committing);
}

TEST_F(JournalTest, AFailedRewriteLeavesTheOldJournalWhole) {
    struct Case {
        const char* what;
        Fault fault;
        JournalResult result;
    } cases[] = {
        {"create", Fault{FaultOp::Create, "~zvupd"}, JournalResult::CannotCreate},
        {"short write", Fault{FaultOp::Write, "~zvupd", 0, 1, 10}, JournalResult::WriteFailed},
        {"write", Fault{FaultOp::Write, "~zvupd"}, JournalResult::WriteFailed},
        {"flush", Fault{FaultOp::Flush, "~zvupd"}, JournalResult::WriteFailed},
        {"replace", Fault{FaultOp::Replace, "~zvupd"}, JournalResult::ReplaceFailed},
        {"memory", Fault{FaultOp::AllocBlock}, JournalResult::NoMemory},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Install();
        Plan(os);
        ASSERT_EQ(BeginTransaction(os, journal), JournalResult::Ok);
        StageCopies();
        const std::vector<uint8_t> staging = zvtest::ReadFileBytes(JournalHostPath());
        zvtest::FaultPlatform faulty(os);
        faulty.Add(c.fault);
        EXPECT_EQ(MarkCommitting(faulty, journal), c.result);
        EXPECT_EQ(faulty.Struck(0), 1);
        EXPECT_EQ(journal.state, JournalState::Staging);
        EXPECT_EQ(zvtest::ReadFileBytes(JournalHostPath()), staging);
        EXPECT_FALSE(zvtest::FileExists(dir / "WINDOWS/~zvupd.new"));
        EXPECT_EQ(faulty.OpenFiles(), 0u);
    }
}

TEST_F(JournalTest, APlanThatReadingWouldRefuseIsNotWritten) {
    struct Case {
        const char* what;
        std::function<void(Journal&)> spoil;
    } cases[] = {
        {"two entries with one index", [](Journal& j) { j.entries[2].index = j.entries[0].index; }},
        {"a relative target", [](Journal& j) { std::strcpy(j.entries[1].target, "DATA\\NEW.DAT"); }},
        {"a target with ..", [](Journal& j) { std::strcpy(j.entries[1].target, "C:\\ZARVEL\\..\\X.DAT"); }},
        {"a target named like ours", [](Journal& j) { std::strcpy(j.entries[1].target, "C:\\ZARVEL\\~zvo0001.tmp"); }},
        {"an unterminated target", [](Journal& j) { std::memset(j.entries[0].target, 'A', kMaxPath); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Plan(os);
        c.spoil(journal);
        EXPECT_EQ(BeginTransaction(os, journal), JournalResult::Invalid);
        EXPECT_EQ(RollBack(os, journal, nullptr), RecoveryOutcome::Damaged);
        EXPECT_EQ(Snapshot(dir.path()), before);
    }
}

// The tree in the middle of a commit: every new copy staged, the first
// member's installed copy moved aside and its new copy moved in.
class DamagedJournalTest : public JournalTest {
protected:
    void SetUp() override {
        StageAll();
        ASSERT_EQ(CommitEntry(os, journal.entries[0]), CommitStep::Done);
        good = zvtest::ReadFileBytes(JournalHostPath());
        middle = Snapshot(dir.path());
    }
    // Recovery of the journal `bytes` refuses it and touches nothing.
    void ExpectRefused(const std::vector<uint8_t>& bytes) {
        zvtest::WriteFileBytes(JournalHostPath(), bytes);
        const Tree tree = Snapshot(dir.path());
        RecoveryReport report;
        EXPECT_EQ(RecoverInstallation(os, kProductDir, &report), RecoveryOutcome::Damaged);
        EXPECT_TRUE(report.found);
        EXPECT_EQ(Snapshot(dir.path()), tree);
    }
    // With the whole journal back, the same tree rolls back.
    void ExpectGoodStillRecovers() {
        zvtest::WriteFileBytes(JournalHostPath(), good);
        EXPECT_EQ(Snapshot(dir.path()), middle);
        EXPECT_EQ(RecoverInstallation(os, kProductDir, nullptr), RecoveryOutcome::RolledBack);
        EXPECT_EQ(Snapshot(dir.path()), before);
    }
    std::vector<uint8_t> good;
    Tree middle;
};

TEST_F(DamagedJournalTest, TruncatedAtEveryLengthIsRefused) {
    for (size_t length = 0; length < good.size(); ++length) {
        SCOPED_TRACE(length);
        ExpectRefused(std::vector<uint8_t>(good.begin(), good.begin() + static_cast<long>(length)));
    }
    std::vector<uint8_t> longer = good;
    longer.push_back(0);
    ExpectRefused(longer);
    ExpectGoodStillRecovers();
}

TEST_F(DamagedJournalTest, AnyChangedByteIsRefused) {
    for (size_t at = 0; at < good.size(); ++at) {
        for (uint8_t mask : {0x01, 0x20, 0x80, 0xFF}) {
            SCOPED_TRACE(testing::Message() << "byte " << at << " ^ " << int(mask));
            std::vector<uint8_t> bytes = good;
            bytes[at] ^= mask;
            ExpectRefused(bytes);
        }
    }
    ExpectGoodStillRecovers();
}

TEST_F(DamagedJournalTest, HostileContentsWithAGoodChecksumAreRefused) {
    struct Case {
        const char* what;
        std::function<void(RawJournal&)> edit;
    } cases[] = {
        {"a new copy in the Windows directory",
         [](RawJournal& r) { r.entries[0].staged = "C:\\WINDOWS\\WIN.INI"; }},
        {"a backup in the Windows directory",
         [](RawJournal& r) { r.entries[0].backup = "C:\\WINDOWS\\~zvo0003.tmp"; }},
        {"a new copy not named like ours", [](RawJournal& r) { r.entries[0].staged = "C:\\ZARVEL\\USER.DOC"; }},
        {"a backup named for another entry", [](RawJournal& r) { r.entries[0].backup = "C:\\ZARVEL\\~zvo001F.tmp"; }},
        {"new copy and backup swapped", [](RawJournal& r) { std::swap(r.entries[0].staged, r.entries[0].backup); }},
        {"names in another case", [](RawJournal& r) { r.entries[0].staged = "C:\\ZARVEL\\~ZVN0003.TMP"; }},
        {"a relative target", [](RawJournal& r) {
             r.entries[0].target = "ZARVEL.EXE";
             r.entries[0].staged = "~zvn0003.tmp";
             r.entries[0].backup = "~zvo0003.tmp";
         }},
        {"a target climbing out", [](RawJournal& r) {
             r.entries[3].target = "C:\\ZARVEL\\..\\README.TXT";
             r.entries[3].staged = "C:\\ZARVEL\\..\\~zvn001F.tmp";
             r.entries[3].backup = "C:\\ZARVEL\\..\\~zvo001F.tmp";
         }},
        {"the journal as a target", [](RawJournal& r) {
             r.entries[3].target = "C:\\ZARVEL\\~zvupd.jnl";
         }},
        {"a user's file named like ours as a target", [](RawJournal& r) {
             r.entries[3].target = "C:\\ZARVEL\\~zvn0063.tmp";
         }},
        {"two entries with one index", [](RawJournal& r) { r.entries[3] = r.entries[0]; }},
        {"an unknown flag", [](RawJournal& r) { r.entries[1].flags = 0x06; }},
        {"the top flag", [](RawJournal& r) { r.entries[1].flags = 0x82; }},
        {"state 0", [](RawJournal& r) { r.state = 0; }},
        {"state 4", [](RawJournal& r) { r.state = 4; }},
        {"version 1, the format without records", [](RawJournal& r) { r.version = 1; }},
        {"version 3", [](RawJournal& r) { r.version = 3; }},
        {"nothing recorded once committing", [](RawJournal& r) {
             for (RawEntry& e : r.entries) {
                 e.flags &= 1;
                 e.fresh = RawRecord();
                 e.installed = RawRecord();
             }
         }},
        {"one entry not recorded once committing", [](RawJournal& r) {
             r.entries[2].flags &= 1;
             r.entries[2].fresh = RawRecord();
             r.entries[2].installed = RawRecord();
         }},
        {"a record without its flag", [](RawJournal& r) {
             r = SampleStagingRaw();
             r.entries[0].fresh = RecordOf("anything");
         }},
        {"an installed copy recorded for a file new to the installation",
         [](RawJournal& r) { r.entries[1].installed = RecordOf("x"); }},
        {"an installed copy marked as existing without its record", [](RawJournal& r) {
             r.entries[1].flags = 3;
         }},
        {"a target in the Windows directory", [](RawJournal& r) { Retarget(&r.entries[1], "C:\\WINDOWS\\WIN.INI"); }},
        {"a target in another folder",
         [](RawJournal& r) { Retarget(&r.entries[1], "C:\\SECRET\\IMPORTANT.TXT"); }},
        {"a target in the system directory",
         [](RawJournal& r) { Retarget(&r.entries[1], "C:\\WINDOWS\\SYSTEM\\VICTIM.DLL"); }},
        {"a target in a folder that only starts like the product's",
         [](RawJournal& r) { Retarget(&r.entries[1], "C:\\ZARVEL2\\A.DAT"); }},
        {"a runtime library outside the shared-file directory",
         [](RawJournal& r) { Retarget(&r.entries[2], "C:\\WINDOWS\\PLMR32.DLL"); }},
        {"a runtime library in a folder below the shared-file directory",
         [](RawJournal& r) { Retarget(&r.entries[2], "C:\\WINDOWS\\SYSTEM\\X\\PLMR32.DLL"); }},
        {"another library in the shared-file directory",
         [](RawJournal& r) { Retarget(&r.entries[2], "C:\\WINDOWS\\SYSTEM\\KERNEL32.DLL"); }},
        {"a UNC target", [](RawJournal& r) { Retarget(&r.entries[1], "\\\\SERVER\\SHARE\\ZARVEL\\A.DAT"); }},
        {"a device path target", [](RawJournal& r) { Retarget(&r.entries[1], "\\\\.\\C:\\ZARVEL\\A.DAT"); }},
        {"a long device path target",
         [](RawJournal& r) { Retarget(&r.entries[1], "\\\\?\\C:\\ZARVEL\\A.DAT"); }},
        {"a drive-relative target", [](RawJournal& r) { Retarget(&r.entries[1], "C:ZARVEL\\A.DAT"); }},
        {"a target climbing out of the product directory",
         [](RawJournal& r) { Retarget(&r.entries[1], "C:\\ZARVEL\\DATA\\..\\..\\WINDOWS\\WIN.INI"); }},
        {"a UNC product directory", [](RawJournal& r) { r.productDir = "\\\\SERVER\\SHARE"; }},
        {"a product directory climbing out", [](RawJournal& r) { r.productDir = "C:\\ZARVEL\\.."; }},
        {"a relative product directory", [](RawJournal& r) { r.productDir = "ZARVEL"; }},
        {"a product directory with a trailing backslash", [](RawJournal& r) { r.productDir = "C:\\ZARVEL\\"; }},
        {"an empty product directory", [](RawJournal& r) { r.productDir = ""; }},
        {"a reserved byte set", [](RawJournal& r) { r.reserved = 1; }},
        {"more entries counted than there are", [](RawJournal& r) { r.count = 5; }},
        {"fewer entries counted than there are", [](RawJournal& r) { r.count = 3; }},
        {"a huge count", [](RawJournal& r) { r.count = 0xFFFFFFFF; }},
        {"bytes after the entries", [](RawJournal& r) { r.trailer = {0}; }},
        {"an empty path", [](RawJournal& r) { r.entries[2].backup = ""; }},
        {"a zero inside a path", [](RawJournal& r) { r.entries[2].target = std::string("C:\\A\0B", 6); }},
        {"a path over the limit", [](RawJournal& r) {
             r.entries[2].target = "C:\\" + std::string(250, 'A') + "\\PLMR32.DLL";
         }},
    };
    // The sample, field by field, is what the module writes and reads.
    ASSERT_EQ(SampleRaw().Bytes(), good);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RawJournal raw = SampleRaw();
        c.edit(raw);
        ExpectRefused(raw.Bytes());
        Journal read;
        zvtest::WriteFileBytes(JournalHostPath(), raw.Bytes());
        EXPECT_EQ(ReadJournal(os, &read), JournalResult::Damaged);
        EXPECT_EQ(read.count, 0u);
        EXPECT_EQ(read.entries, nullptr);
    }
    ExpectGoodStillRecovers();
}

TEST_F(DamagedJournalTest, AJournalThatCannotBeReadTouchesNothing) {
    const Fault faults[] = {
        Fault{FaultOp::Read, "~zvupd.jnl"},
        Fault{FaultOp::Read, "~zvupd.jnl", 0, 1, 20},
        Fault{FaultOp::Seek, "~zvupd.jnl"},
    };
    for (const Fault& fault : faults) {
        zvtest::FaultPlatform faulty(os);
        faulty.Add(fault);
        RecoveryReport report;
        EXPECT_EQ(RecoverInstallation(faulty, kProductDir, &report), RecoveryOutcome::Unreadable);
        EXPECT_EQ(faulty.Struck(0), 1);
        EXPECT_EQ(Snapshot(dir.path()), middle);
        EXPECT_EQ(faulty.OpenFiles(), 0u);
    }
    zvtest::FaultPlatform noMemory(os);
    noMemory.Add(Fault{FaultOp::AllocBlock});
    EXPECT_EQ(RecoverInstallation(noMemory, kProductDir, nullptr), RecoveryOutcome::NoMemory);
    EXPECT_EQ(Snapshot(dir.path()), middle);
    ExpectGoodStillRecovers();
}

// ---- Journals crafted to reach outside the product ------------------------------

// Files of the machine that are none of the product's: no journal may touch
// them, however it is made.
const struct {
    const char* path;
    const char* contents;
} kVictims[] = {
    {"C:\\WINDOWS\\SYSTEM\\VICTIM.DLL", "a system library"},
    {"C:\\WINDOWS\\WIN.INI", "[windows]"},
    {"C:\\SECRET\\IMPORTANT.TXT", "the user's secret"},
};

// An entry "no installed copy, moved in" for a victim: what settling a
// Committing journal would undo by removing the file. Its record is the
// victim's own, as anyone who can read the file can compute it.
RawEntry VictimEntry(const char* path, const char* contents, uint16_t index) {
    RawEntry e{index, 2, RecordOf(contents), RawRecord(), "", "", ""};
    Retarget(&e, path);
    return e;
}

TEST_F(JournalTest, CraftedJournalsTouchNothingOutsideTheProduct) {
    struct Case {
        const char* what;
        const char* where;  // the journal's file, below the machine's root
        std::function<void(RawJournal&)> make;
        RecoveryOutcome outcome;
    } cases[] = {
        {"the victims, in the product directory", "ZARVEL/~zvupd.jnl",
         [](RawJournal& r) {
             uint16_t index = 0x40;
             for (const auto& v : kVictims) r.entries.push_back(VictimEntry(v.path, v.contents, index++));
         },
         RecoveryOutcome::NoJournal},
        {"a sound journal, in the product directory", "ZARVEL/~zvupd.jnl", [](RawJournal&) {},
         RecoveryOutcome::NoJournal},
        {"the victims, in the Windows directory", "WINDOWS/~zvupd.jnl",
         [](RawJournal& r) {
             uint16_t index = 0x40;
             for (const auto& v : kVictims) r.entries.push_back(VictimEntry(v.path, v.contents, index++));
         },
         RecoveryOutcome::Damaged},
        {"one victim among sound entries", "WINDOWS/~zvupd.jnl",
         [](RawJournal& r) { r.entries.push_back(VictimEntry("C:\\WINDOWS\\WIN.INI", "[windows]", 0x40)); },
         RecoveryOutcome::Damaged},
        {"the victims, with the machine's root as the product directory", "WINDOWS/~zvupd.jnl",
         [](RawJournal& r) {
             r.productDir = "C:\\";
             uint16_t index = 0x40;
             for (const auto& v : kVictims) r.entries.push_back(VictimEntry(v.path, v.contents, index++));
         },
         RecoveryOutcome::Damaged},
        {"a UNC target", "WINDOWS/~zvupd.jnl",
         [](RawJournal& r) {
             r.entries.push_back(VictimEntry("\\\\SERVER\\SHARE\\ZARVEL\\A.DLL", "remote", 0x40));
         },
         RecoveryOutcome::Damaged},
        {"a device path target", "WINDOWS/~zvupd.jnl",
         [](RawJournal& r) {
             r.entries.push_back(VictimEntry("\\\\?\\C:\\WINDOWS\\WIN.INI", "[windows]", 0x40));
         },
         RecoveryOutcome::Damaged},
        {"a target climbing out with ..", "WINDOWS/~zvupd.jnl",
         [](RawJournal& r) {
             r.entries.push_back(VictimEntry("C:\\ZARVEL\\..\\WINDOWS\\WIN.INI", "[windows]", 0x40));
         },
         RecoveryOutcome::Damaged},
        {"a sound journal", "WINDOWS/~zvupd.jnl", [](RawJournal&) {}, RecoveryOutcome::RolledBack},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Install();
        for (const auto& v : kVictims) {
            zvtest::MakeDirs(std::filesystem::path(Host(v.path)).parent_path().string());
            zvtest::WriteFileText(Host(v.path), v.contents);
        }
        // The middle of a commit: the first member's new copy is in place.
        StageAll();
        ASSERT_EQ(CommitEntry(os, journal.entries[0]), CommitStep::Done);
        FreeJournal(os, &journal);
        std::filesystem::remove(JournalHostPath());
        RawJournal raw = SampleRaw();
        c.make(raw);
        zvtest::WriteFileBytes(dir / c.where, raw.Bytes());
        const Tree tree = Snapshot(dir.path());

        RecoveryReport report;
        EXPECT_EQ(RecoverInstallation(os, kProductDir, &report), c.outcome);
        const Tree now = Snapshot(dir.path());
        for (const auto& v : kVictims) {
            EXPECT_EQ(now.count(Relative(v.path)), 1u) << v.path;
            EXPECT_EQ(zvtest::ReadFileBytes(Host(v.path)), Text(v.contents)) << v.path;
        }
        if (c.outcome == RecoveryOutcome::RolledBack) {
            Tree expected = before;
            for (const auto& v : kVictims) expected[Relative(v.path)] = Text(v.contents);
            EXPECT_EQ(now, expected);
        } else {
            EXPECT_EQ(now, tree) << "a refused or foreign journal touches nothing at all";
        }
        if (c.outcome == RecoveryOutcome::Damaged) {
            // What the user is told: the file, and what to do about it.
            const RecoveryNotice notice = NoticeOfRecovery(c.outcome, report);
            EXPECT_EQ(notice.stringId, static_cast<unsigned>(IDS_JOURNAL_REFUSED));
            EXPECT_STREQ(notice.subject, "C:\\WINDOWS\\~zvupd.jnl");
            EXPECT_FALSE(notice.goOn);
        }
        for (const auto& v : kVictims) std::filesystem::remove(Host(v.path));
    }
}

TEST_F(JournalTest, AJournalOfAnotherProductDirectoryIsRefused) {
    StageAll();
    ASSERT_EQ(CommitEntry(os, journal.entries[0]), CommitStep::Done);
    const Tree tree = Snapshot(dir.path());
    EXPECT_EQ(RecoverInstallation(os, "C:\\OTHER", nullptr), RecoveryOutcome::Damaged);
    EXPECT_EQ(RecoverInstallation(os, "C:\\ZARVEL\\DATA", nullptr), RecoveryOutcome::Damaged);
    EXPECT_EQ(RecoverInstallation(os, nullptr, nullptr), RecoveryOutcome::Damaged);
    EXPECT_EQ(Snapshot(dir.path()), tree);
    EXPECT_EQ(RecoverInstallation(os, "c:\\zarvel\\", nullptr), RecoveryOutcome::RolledBack);
    EXPECT_EQ(Snapshot(dir.path()), before);
}

// Files where the update's own belong, but changed by someone since they
// were recorded: each is left alone, counted and named, everything else is
// settled, and the journal goes (no later start could make them match).
TEST_F(JournalTest, FilesThatAreNotTheUpdatesOwnAreLeftAlone) {
    struct Case {
        const char* what;
        std::function<void()> make;  // from every member staged, the journal Committing
        std::function<void(Tree&)> expect;  // from the tree before the update
        RecoveryOutcome outcome;
        const char* notOurs;  // the file named
    } cases[] = {
        {"the new file's target, replaced after it was moved in",
         [this] {
             ASSERT_EQ(CommitEntry(os, journal.entries[0]), CommitStep::Done);
             ASSERT_EQ(CommitEntry(os, journal.entries[1]), CommitStep::Done);
             zvtest::WriteFileText(Host(kMembers[1].target), "the user's own data");
         },
         [this](Tree& e) { e[Relative(kMembers[1].target)] = Text("the user's own data"); },
         RecoveryOutcome::NotOurs, kMembers[1].target},
        {"a backup replaced by another file",
         [this] {
             ASSERT_EQ(CommitEntry(os, journal.entries[0]), CommitStep::Done);
             zvtest::WriteFileText(Host(Backup(kMembers[0]).c_str()), "a system library");
         },
         [this](Tree& e) {
             // Neither put back nor moved: the new copy stays at the target.
             e[Relative(kMembers[0].target)] = Text(kMembers[0].fresh);
             e[Relative(Backup(kMembers[0]).c_str())] = Text("a system library");
         },
         RecoveryOutcome::NotOurs, "C:\\ZARVEL\\~zvo0003.tmp"},
        {"a file at the target while the new copy is still staged",
         [this] {
             ASSERT_TRUE(os.Replace(kMembers[2].target, Backup(kMembers[2]).c_str()));
             zvtest::WriteFileText(Host(kMembers[2].target), "planted");
         },
         [this](Tree& e) {
             e[Relative(kMembers[2].target)] = Text("planted");
             e[Relative(Backup(kMembers[2]).c_str())] = Text(kMembers[2].installed);
         },
         RecoveryOutcome::NotOurs, kMembers[2].target},
        {"a new copy changed before the commit was undone",
         [this] {
             ASSERT_EQ(CommitEntry(os, journal.entries[0]), CommitStep::Done);
             zvtest::WriteFileText(Host(Staged(kMembers[3]).c_str()), "changed");
         },
         [this](Tree& e) { e[Relative(Staged(kMembers[3]).c_str())] = Text("changed"); },
         RecoveryOutcome::NotOurs, "C:\\ZARVEL\\~zvn001F.tmp"},
        {"a file at a staged name after the commit",
         [this] {
             for (uint32_t i = 0; i < kMemberCount; ++i) {
                 ASSERT_EQ(CommitEntry(os, journal.entries[i]), CommitStep::Done);
             }
             ASSERT_EQ(MarkCommitted(os, journal), JournalResult::Ok);
             zvtest::WriteFileText(Host(Staged(kMembers[0]).c_str()), "planted");
         },
         [this](Tree& e) {
             e = after;
             e[Relative(Staged(kMembers[0]).c_str())] = Text("planted");
         },
         RecoveryOutcome::NotOurs, "C:\\ZARVEL\\~zvn0003.tmp"},
        {"nothing changed", [this] {
             ASSERT_EQ(CommitEntry(os, journal.entries[0]), CommitStep::Done);
         },
         [](Tree&) {}, RecoveryOutcome::RolledBack, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Install();
        StageAll();
        c.make();
        FreeJournal(os, &journal);
        Tree expected = before;
        c.expect(expected);
        RecoveryReport report;
        EXPECT_EQ(RecoverInstallation(os, kProductDir, &report), c.outcome);
        EXPECT_EQ(report.failed, 0u);
        EXPECT_EQ(report.notOurs, c.outcome == RecoveryOutcome::NotOurs ? 1u : 0u);
        EXPECT_STREQ(report.notOursPath, c.notOurs);
        EXPECT_EQ(Snapshot(dir.path()), expected);
        EXPECT_FALSE(zvtest::FileExists(JournalHostPath()));
        const RecoveryNotice notice = NoticeOfRecovery(c.outcome, report);
        EXPECT_EQ(notice.stringId, c.outcome == RecoveryOutcome::NotOurs ? static_cast<unsigned>(IDS_FILES_LEFT_ALONE)
                                                                          : 0u);
        EXPECT_TRUE(notice.goOn);
        EXPECT_EQ(RecoverInstallation(os, kProductDir, nullptr), RecoveryOutcome::NoJournal);
    }
}

TEST_F(JournalTest, AFileThatCannotBeReadKeepsTheJournalForALaterStart) {
    StageAll();
    ASSERT_EQ(CommitEntry(os, journal.entries[0]), CommitStep::Done);
    FreeJournal(os, &journal);
    const Tree tree = Snapshot(dir.path());
    zvtest::FaultPlatform faulty(os);
    faulty.Add(Fault{FaultOp::Read, "~zvo0003", 0, -1});
    RecoveryReport report;
    EXPECT_EQ(RecoverInstallation(faulty, kProductDir, &report), RecoveryOutcome::Incomplete);
    EXPECT_STREQ(report.failedPath, "C:\\ZARVEL\\~zvo0003.tmp");
    EXPECT_EQ(report.notOurs, 0u);
    EXPECT_EQ(faulty.OpenFiles(), 0u);
    // Only that entry had been committed: it waits, with the journal.
    EXPECT_TRUE(zvtest::FileExists(JournalHostPath()));
    EXPECT_EQ(Snapshot(dir.path()), tree);
    EXPECT_EQ(RecoverInstallation(os, kProductDir, nullptr), RecoveryOutcome::RolledBack);
    EXPECT_EQ(Snapshot(dir.path()), before);
}

TEST_F(JournalTest, RecordingNamesTheFileThatCannotBeRead) {
    Plan(os);
    ASSERT_EQ(BeginTransaction(os, journal), JournalResult::Ok);
    StageCopies();
    zvtest::FaultPlatform faulty(os);
    faulty.Add(Fault{FaultOp::Read, "SYSTEM\\PLMR32.DLL", 0, -1});
    char failed[kMaxPath];
    EXPECT_EQ(RecordJournalFiles(faulty, journal, failed), JournalResult::CannotRecord);
    EXPECT_STREQ(failed, "C:\\WINDOWS\\SYSTEM\\PLMR32.DLL");
    EXPECT_EQ(faulty.OpenFiles(), 0u);
    EXPECT_EQ(MarkCommitting(faulty, journal), JournalResult::CannotRecord);
    EXPECT_EQ(journal.state, JournalState::Staging);
    EXPECT_EQ(RollBack(os, journal, nullptr), RecoveryOutcome::Discarded);
    EXPECT_EQ(Snapshot(dir.path()), before);
}

// ---- Recovery ------------------------------------------------------------------

TEST_F(JournalTest, NoJournalNothingToDo) {
    RecoveryReport report;
    EXPECT_EQ(RecoverInstallation(os, kProductDir, &report), RecoveryOutcome::NoJournal);
    EXPECT_FALSE(report.found);
    EXPECT_EQ(Snapshot(dir.path()), before);
    // A journal cut short while it was first written is all there is.
    zvtest::WriteFileText(dir / "WINDOWS/~zvupd.new", "ZVJN");
    EXPECT_EQ(RecoverInstallation(os, kProductDir, &report), RecoveryOutcome::NoJournal);
    EXPECT_EQ(Snapshot(dir.path()), before);
}

// A kill at every point of an update, stood for by stopping it there: the
// next start's recovery leaves the installation as it was, or wholly new once
// the journal said Committed, with no file of the update left over.
TEST_F(JournalTest, KilledAtEveryStepTheNextStartRecovers) {
    enum class Phase { Staging, Committing, Committed };
    struct KillPoint {
        Phase phase;
        uint32_t steps;  // new copies written, commit moves made, or backups removed
        bool torn;       // Staging: one more new copy, cut short
    };
    std::vector<KillPoint> points;
    for (uint32_t s = 0; s <= kMemberCount; ++s) points.push_back({Phase::Staging, s, false});
    for (uint32_t s = 0; s < kMemberCount; ++s) points.push_back({Phase::Staging, s, true});
    // The commit's moves, in order: for each member, its installed copy aside
    // (when there is one), then its new copy in.
    std::vector<std::pair<uint32_t, bool>> moves;  // member, whether the new copy's move
    for (uint32_t i = 0; i < kMemberCount; ++i) {
        if (kMembers[i].installed != nullptr) moves.push_back({i, false});
        moves.push_back({i, true});
    }
    for (uint32_t s = 0; s <= moves.size(); ++s) points.push_back({Phase::Committing, s, false});
    for (uint32_t s = 0; s <= 3; ++s) points.push_back({Phase::Committed, s, false});

    for (const KillPoint& k : points) {
        SCOPED_TRACE(testing::Message() << "phase " << int(k.phase) << ", step " << k.steps << (k.torn ? ", torn" : ""));
        Install();
        Plan(os);
        ASSERT_EQ(BeginTransaction(os, journal), JournalResult::Ok);
        const uint32_t staged = k.phase == Phase::Staging ? k.steps : kMemberCount;
        for (uint32_t i = 0; i < staged; ++i) ASSERT_TRUE(Stage(os, Staged(kMembers[i]), kMembers[i].fresh));
        if (k.torn) {
            ASSERT_TRUE(Stage(os, Staged(kMembers[staged]), "cut"));
        }
        if (k.phase != Phase::Staging) {
            ASSERT_EQ(MarkCommitting(os, journal), JournalResult::Ok);
            const uint32_t made = k.phase == Phase::Committing ? k.steps : static_cast<uint32_t>(moves.size());
            for (uint32_t s = 0; s < made; ++s) {
                const Member& m = kMembers[moves[s].first];
                if (moves[s].second) {
                    ASSERT_TRUE(os.Replace(Staged(m).c_str(), m.target));
                } else {
                    ASSERT_TRUE(os.Replace(m.target, Backup(m).c_str()));
                }
            }
        }
        uint32_t backupsRemoved = 0;
        if (k.phase == Phase::Committed) {
            ASSERT_EQ(MarkCommitted(os, journal), JournalResult::Ok);
            for (const Member& m : kMembers) {
                if (m.installed == nullptr || backupsRemoved == k.steps) continue;
                ASSERT_TRUE(os.Remove(Backup(m).c_str()));
                ++backupsRemoved;
            }
        }
        FreeJournal(os, &journal);

        RecoveryReport report;
        const RecoveryOutcome outcome = RecoverInstallation(os, kProductDir, &report);
        EXPECT_TRUE(report.found);
        EXPECT_EQ(report.failed, 0u);
        switch (k.phase) {
        case Phase::Staging:
            EXPECT_EQ(outcome, RecoveryOutcome::Discarded);
            EXPECT_EQ(report.stagedRemoved, k.steps + (k.torn ? 1 : 0));
            EXPECT_EQ(Snapshot(dir.path()), before);
            break;
        case Phase::Committing:
            EXPECT_EQ(outcome, RecoveryOutcome::RolledBack);
            EXPECT_EQ(Snapshot(dir.path()), before);
            break;
        case Phase::Committed:
            EXPECT_EQ(outcome, RecoveryOutcome::RolledForward);
            EXPECT_EQ(report.backupsRemoved, 3 - backupsRemoved);
            EXPECT_EQ(Snapshot(dir.path()), after);
            break;
        }
        EXPECT_EQ(RecoverInstallation(os, kProductDir, nullptr), RecoveryOutcome::NoJournal);
    }
}

// The same with real kills: the whole update runs in a child process that is
// killed before its n-th change to the disk, for every n, and recovery runs
// after it. Once an update has shown through, every later kill leaves it.
TEST_F(JournalTest, ProcessKilledBeforeEveryChangeRecovers) {
    bool newSeen = false;
    for (int n = 1;; ++n) {
        SCOPED_TRACE(n);
        Install();
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            zvtest::FaultPlatform killing(os);
            killing.killAtChange = n;
            _exit(Update(killing) ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        if (WIFEXITED(status)) {
            // Every change was made: the update ran to its end.
            EXPECT_EQ(WEXITSTATUS(status), 0);
            EXPECT_EQ(RecoverInstallation(os, kProductDir, nullptr), RecoveryOutcome::NoJournal);
            EXPECT_EQ(Snapshot(dir.path()), after);
            EXPECT_GT(n, 30);
            break;
        }
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
        const RecoveryOutcome outcome = RecoverInstallation(os, kProductDir, nullptr);
        const Tree tree = Snapshot(dir.path());
        if (outcome == RecoveryOutcome::RolledForward || (outcome == RecoveryOutcome::NoJournal && newSeen)) {
            newSeen = true;
            EXPECT_EQ(tree, after);
        } else {
            EXPECT_FALSE(newSeen) << RecoveryOutcomeName(outcome);
            EXPECT_TRUE(outcome == RecoveryOutcome::NoJournal || outcome == RecoveryOutcome::Discarded ||
                        outcome == RecoveryOutcome::RolledBack)
                << RecoveryOutcomeName(outcome);
            EXPECT_EQ(tree, before);
        }
        ASSERT_LT(n, 200);
    }
    EXPECT_TRUE(newSeen);
}

// Recovery itself killed at each of its changes, from the middle of a
// commit: the next start's recovery still rolls back to the old installation.
TEST_F(JournalTest, RecoveryKilledAtEveryChangeRecoversAgain) {
    for (int n = 1;; ++n) {
        SCOPED_TRACE(n);
        Install();
        StageAll();
        ASSERT_EQ(CommitEntry(os, journal.entries[0]), CommitStep::Done);
        ASSERT_EQ(CommitEntry(os, journal.entries[1]), CommitStep::Done);
        ASSERT_TRUE(os.Replace(kMembers[2].target, Backup(kMembers[2]).c_str()));
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            zvtest::FaultPlatform killing(os);
            killing.killAtChange = n;
            _exit(RecoverInstallation(killing, kProductDir, nullptr) == RecoveryOutcome::RolledBack ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        if (WIFEXITED(status)) {
            EXPECT_EQ(WEXITSTATUS(status), 0);
            EXPECT_EQ(Snapshot(dir.path()), before);
            break;
        }
        const RecoveryOutcome outcome = RecoverInstallation(os, kProductDir, nullptr);
        EXPECT_TRUE(outcome == RecoveryOutcome::RolledBack || outcome == RecoveryOutcome::Discarded ||
                    outcome == RecoveryOutcome::NoJournal)
            << RecoveryOutcomeName(outcome);
        EXPECT_EQ(Snapshot(dir.path()), before);
        ASSERT_LT(n, 100);
    }
}

TEST_F(JournalTest, AFileNewToTheInstallationIsRemovedOnlyOnceMovedIn) {
    // The new data file's copy is still staged when the user puts a file of
    // that name there: it is not the update's, and it stays.
    StageAll();
    ASSERT_EQ(CommitEntry(os, journal.entries[0]), CommitStep::Done);
    zvtest::WriteFileText(Host(kMembers[1].target), "the user's own data");
    RecoveryReport report;
    EXPECT_EQ(RecoverInstallation(os, kProductDir, &report), RecoveryOutcome::RolledBack);
    EXPECT_EQ(report.newRemoved, 0u);
    EXPECT_EQ(report.restored, 1u);
    Tree expected = before;
    expected[Relative(kMembers[1].target)] = Text("the user's own data");
    EXPECT_EQ(Snapshot(dir.path()), expected);

    // Once moved in, it is the update's and goes.
    Install();
    StageAll();
    ASSERT_EQ(CommitEntry(os, journal.entries[0]), CommitStep::Done);
    ASSERT_EQ(CommitEntry(os, journal.entries[1]), CommitStep::Done);
    EXPECT_EQ(RecoverInstallation(os, kProductDir, &report), RecoveryOutcome::RolledBack);
    EXPECT_EQ(report.newRemoved, 1u);
    EXPECT_EQ(report.restored, 1u);
    EXPECT_EQ(report.stagedRemoved, 4u);
    EXPECT_EQ(Snapshot(dir.path()), before);
}

TEST_F(JournalTest, ALostBackupIsToldAndTheRestRollsBack) {
    StageAll();
    for (uint32_t i = 0; i < kMemberCount; ++i) ASSERT_EQ(CommitEntry(os, journal.entries[i]), CommitStep::Done);
    std::filesystem::remove(Host(Backup(kMembers[2]).c_str()));
    RecoveryReport report;
    EXPECT_EQ(RecoverInstallation(os, kProductDir, &report), RecoveryOutcome::BackupLost);
    EXPECT_EQ(report.lost, 1u);
    EXPECT_EQ(report.restored, 2u);
    Tree expected = before;
    expected[Relative(kMembers[2].target)] = Text(kMembers[2].fresh);
    EXPECT_EQ(Snapshot(dir.path()), expected);
}

TEST_F(JournalTest, AFailedRestoreKeepsTheJournalForTheNextStart) {
    const struct {
        const char* what;
        Fault fault;
    } cases[] = {
        // A Move fault matches "from|to".
        {"a backup that cannot go back", Fault{FaultOp::Move, "~zvo0000.tmp|"}},
        {"a new copy that cannot go back to its staged name", Fault{FaultOp::Move, "|C:\\ZARVEL\\~zvn0003"}},
        {"the new data file that cannot go back to its staged name", Fault{FaultOp::Move, "~zvn0007"}},
        {"the journal that cannot say Staging", Fault{FaultOp::Replace, "~zvupd.jnl"}},
        {"a new copy that cannot be removed", Fault{FaultOp::Remove, "~zvn"}},
        {"the journal that cannot be removed", Fault{FaultOp::Remove, "~zvupd.jnl"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // Stopped in the third member's commit, between its two moves.
        Install();
        StageAll();
        ASSERT_EQ(CommitEntry(os, journal.entries[0]), CommitStep::Done);
        ASSERT_EQ(CommitEntry(os, journal.entries[1]), CommitStep::Done);
        ASSERT_TRUE(os.Replace(kMembers[2].target, Backup(kMembers[2]).c_str()));
        FreeJournal(os, &journal);

        zvtest::FaultPlatform faulty(os);
        faulty.Add(c.fault);
        RecoveryReport report;
        EXPECT_EQ(RecoverInstallation(faulty, kProductDir, &report), RecoveryOutcome::Incomplete);
        EXPECT_EQ(faulty.Struck(0), 1);
        EXPECT_EQ(report.failed, 1u);
        EXPECT_NE(report.failedPath[0], '\0');
        EXPECT_TRUE(zvtest::FileExists(JournalHostPath()));
        EXPECT_EQ(faulty.OpenFiles(), 0u);

        const RecoveryOutcome again = RecoverInstallation(os, kProductDir, nullptr);
        EXPECT_TRUE(again == RecoveryOutcome::RolledBack || again == RecoveryOutcome::Discarded)
            << RecoveryOutcomeName(again);
        EXPECT_EQ(Snapshot(dir.path()), before);
    }
}

// A committed update whose old copy is still held by a running program (it
// could be renamed but cannot be deleted): the installation is whole and new,
// the journal stays to list the backup, and a later start finishes the job.
TEST_F(JournalTest, ABackupThatCannotBeRemovedAfterTheCommitKeepsTheJournalOnly) {
    const struct {
        const char* what;
        Fault fault;
        const char* failedPath;
    } cases[] = {
        {"a backup held by a running program", Fault{FaultOp::Remove, "~zvo0003", 0, -1}, kMembers[0].target},
        {"the journal that cannot be removed", Fault{FaultOp::Remove, "~zvupd.jnl", 0, -1}, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Install();
        StageAll();
        for (uint32_t i = 0; i < kMemberCount; ++i) ASSERT_EQ(CommitEntry(os, journal.entries[i]), CommitStep::Done);
        ASSERT_EQ(MarkCommitted(os, journal), JournalResult::Ok);

        zvtest::FaultPlatform faulty(os);
        faulty.Add(c.fault);
        RecoveryReport report;
        EXPECT_EQ(FinishTransaction(faulty, journal, &report), RecoveryOutcome::LeftOver);
        if (c.failedPath != nullptr) {
            EXPECT_STREQ(report.failedPath, c.failedPath);
        }
        FreeJournal(os, &journal);
        // Every installed file is new; what stays is the journal and what it lists.
        Tree left = Snapshot(dir.path());
        for (const Member& m : kMembers) EXPECT_EQ(left[Relative(m.target)], Text(m.fresh)) << m.target;
        EXPECT_TRUE(zvtest::FileExists(JournalHostPath()));

        // A start while the file is still held counts the installation as
        // settled and leaves the journal; the next one removes the rest.
        EXPECT_EQ(RecoverInstallation(faulty, kProductDir, nullptr), RecoveryOutcome::LeftOver);
        EXPECT_TRUE(zvtest::FileExists(JournalHostPath()));
        EXPECT_EQ(RecoverInstallation(os, kProductDir, nullptr), RecoveryOutcome::RolledForward);
        EXPECT_EQ(Snapshot(dir.path()), after);
    }
}

// The start after a completed update whose old copy a running program still
// holds goes on to its pages, without a word: the installation is whole and
// new, and only the removal of that old copy waits for a later start. Every
// outcome that leaves a journal to settle stops the start instead.
TEST_F(JournalTest, AnOldCopyStillHeldDoesNotBlockTheNextStart) {
    StageAll();
    for (uint32_t i = 0; i < kMemberCount; ++i) ASSERT_EQ(CommitEntry(os, journal.entries[i]), CommitStep::Done);
    ASSERT_EQ(MarkCommitted(os, journal), JournalResult::Ok);
    FreeJournal(os, &journal);
    zvtest::FaultPlatform held(os);
    held.Add(Fault{FaultOp::Remove, "~zvo0003", 0, -1});
    RecoveryReport report;
    const RecoveryOutcome settled = RecoverInstallation(held, kProductDir, &report);
    ASSERT_EQ(settled, RecoveryOutcome::LeftOver);
    EXPECT_TRUE(InstallationSettled(settled));
    const RecoveryNotice notice = NoticeOfRecovery(settled, report);
    EXPECT_TRUE(notice.goOn);
    EXPECT_EQ(notice.stringId, 0u);

    const struct {
        RecoveryOutcome outcome;
        bool settled;
    } cases[] = {
        {RecoveryOutcome::NoJournal, true},   {RecoveryOutcome::Discarded, true},
        {RecoveryOutcome::RolledBack, true},  {RecoveryOutcome::RolledForward, true},
        {RecoveryOutcome::BackupLost, true},  {RecoveryOutcome::NotOurs, true},
        {RecoveryOutcome::LeftOver, true},    {RecoveryOutcome::Incomplete, false},
        {RecoveryOutcome::Damaged, false},    {RecoveryOutcome::Unreadable, false},
        {RecoveryOutcome::NoMemory, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(RecoveryOutcomeName(c.outcome));
        EXPECT_EQ(InstallationSettled(c.outcome), c.settled);
        EXPECT_EQ(NoticeOfRecovery(c.outcome, report).goOn, c.settled);
    }
}

// ---- The running transaction -----------------------------------------------------

TEST_F(JournalTest, AWholeUpdateLeavesOnlyTheNewFiles) {
    ASSERT_TRUE(Update(os));
    EXPECT_EQ(Snapshot(dir.path()), after);
}

TEST_F(JournalTest, RollBackUndoesACommitStoppedAtEitherMove) {
    struct Case {
        const char* what;
        Fault fault;          // strikes the third member's commit
        CommitStep step;
    } cases[] = {
        {"installed copy not moved aside", Fault{FaultOp::Move, "SYSTEM\\~zvo0000"}, CommitStep::InstalledNotMoved},
        {"new copy not moved in", Fault{FaultOp::Move, "SYSTEM\\~zvn0000"}, CommitStep::NewCopyNotMoved},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Install();
        StageAll();
        zvtest::FaultPlatform faulty(os);
        faulty.Add(c.fault);
        ASSERT_EQ(CommitEntry(faulty, journal.entries[0]), CommitStep::Done);
        ASSERT_EQ(CommitEntry(faulty, journal.entries[1]), CommitStep::Done);
        EXPECT_EQ(CommitEntry(faulty, journal.entries[2]), c.step);
        RecoveryReport report;
        EXPECT_EQ(RollBack(os, journal, &report), RecoveryOutcome::RolledBack);
        EXPECT_EQ(report.state, JournalState::Committing);
        EXPECT_EQ(report.restored, c.step == CommitStep::NewCopyNotMoved ? 2u : 1u);
        EXPECT_EQ(report.newRemoved, 1u);
        EXPECT_EQ(report.stagedRemoved, 4u);
        EXPECT_EQ(Snapshot(dir.path()), before);
    }
}

TEST_F(JournalTest, RollBackOfAStagingThatFailedRemovesTheNewCopies) {
    Plan(os);
    ASSERT_EQ(BeginTransaction(os, journal), JournalResult::Ok);
    ASSERT_TRUE(Stage(os, Staged(kMembers[0]), kMembers[0].fresh));
    ASSERT_TRUE(Stage(os, Staged(kMembers[2]), kMembers[2].fresh));
    RecoveryReport report;
    EXPECT_EQ(RollBack(os, journal, &report), RecoveryOutcome::Discarded);
    EXPECT_EQ(report.stagedRemoved, 2u);
    EXPECT_EQ(Snapshot(dir.path()), before);
}

// The folders a journal's entries are in, each made durable once whatever
// the case of its letters; with AndParents also those between a target's
// folder and the product directory (never above it).
TEST(JournalFolders, EachFolderOnceAndTheProductsFoldersAboveOnRequest) {
    const struct {
        const char* what;
        const char* productDir;
        std::vector<const char*> targets;
        JournalFolders which;
        std::set<std::string> synced;  // in lower case
    } cases[] = {
        {"two files in one folder, spelt differently", "C:\\ZARVEL",
         {"C:\\ZARVEL\\A.EXE", "C:\\zarvel\\b.dll", "C:\\ZARVEL\\C.HLP"}, JournalFolders::Targets,
         {"c:\\zarvel"}},
        {"a subfolder and the system directory", "C:\\ZARVEL\\",
         {"C:\\ZARVEL\\HELP\\SUB\\X.HLP", "C:\\WINDOWS\\SYSTEM\\PLMR32.DLL", "C:\\ZARVEL\\help\\sub\\Y.HLP"},
         JournalFolders::Targets, {"c:\\zarvel\\help\\sub", "c:\\windows\\system"}},
        {"the folders above a subfolder, up to the product's", "C:\\ZARVEL\\",
         {"C:\\ZARVEL\\HELP\\SUB\\X.HLP", "C:\\WINDOWS\\SYSTEM\\PLMR32.DLL", "C:\\ZARVEL\\help\\Y.HLP"},
         JournalFolders::AndParents,
         {"c:\\zarvel\\help\\sub", "c:\\zarvel\\help", "c:\\zarvel", "c:\\windows\\system"}},
        {"a product folder whose name begins another's", "C:\\ZARVEL",
         {"C:\\ZARVELX\\A.EXE"}, JournalFolders::AndParents, {"c:\\zarvelx"}},
        {"a product in a drive's root", "C:\\", {"C:\\A\\B.TXT", "C:\\C.TXT"}, JournalFolders::AndParents,
         {"c:\\a", "c:\\"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        zvtest::TempDir dir;
        PosixPlatform posix(zvtest::MachineLayout(dir.path()));
        for (const char* folder : {"ZARVEL/HELP/SUB", "ZARVELX", "A"}) zvtest::MakeDirs(dir / folder);
        for (const bool withMemory : {true, false}) {
            SCOPED_TRACE(withMemory ? "with memory to sort" : "without");
            zvtest::FaultPlatform os(posix);
            if (!withMemory) os.Add(Fault{FaultOp::AllocBlock, "", 0, -1});
            Journal journal;
            ASSERT_TRUE(AllocJournal(posix, &journal, c.productDir, static_cast<uint32_t>(c.targets.size())));
            for (size_t i = 0; i < c.targets.size(); ++i) {
                std::strcpy(journal.entries[i].target, c.targets[i]);
                journal.entries[i].index = static_cast<uint16_t>(i);
            }
            os.recordChanges = true;
            char failed[kMaxPath] = "untouched";
            EXPECT_TRUE(SyncJournalFolders(os, journal, c.which, failed));
            EXPECT_STREQ(failed, "");
            std::multiset<std::string> synced;
            for (const std::string& line : os.changeLog) {
                ASSERT_EQ(line.rfind("sync ", 0), 0u) << line;
                synced.insert(zv::LowerAz(line.substr(5)));
            }
            EXPECT_EQ(std::set<std::string>(synced.begin(), synced.end()), c.synced);
            // Sorted, each folder once; without memory, at most once per
            // entry and folder, and never twice in a row.
            if (withMemory) {
                EXPECT_EQ(synced.size(), c.synced.size());
            } else {
                for (size_t k = 1; k < os.changeLog.size(); ++k) {
                    EXPECT_NE(zv::LowerAz(os.changeLog[k]), zv::LowerAz(os.changeLog[k - 1]));
                }
            }
            FreeJournal(posix, &journal);
        }
    }
}

TEST(JournalFolders, AFolderThatCannotBeMadeDurableIsNamed) {
    zvtest::TempDir dir;
    PosixPlatform posix(zvtest::MachineLayout(dir.path()));
    zvtest::MakeDirs(dir / "ZARVEL/HELP");
    zvtest::FaultPlatform os(posix);
    os.Add(Fault{FaultOp::SyncDirectory, "HELP"});
    Journal journal;
    ASSERT_TRUE(AllocJournal(posix, &journal, "C:\\ZARVEL", 2));
    std::strcpy(journal.entries[0].target, "C:\\ZARVEL\\HELP\\A.HLP");
    std::strcpy(journal.entries[1].target, "C:\\ZARVEL\\B.EXE");
    journal.entries[1].index = 1;
    char failed[kMaxPath] = {};
    EXPECT_FALSE(SyncJournalFolders(os, journal, JournalFolders::Targets, failed));
    EXPECT_STREQ(failed, "C:\\ZARVEL\\HELP");
    // A folder that is not there has nothing to make durable; one that is
    // there and cannot be made durable is named.
    os.Clear();
    os.Add(Fault{FaultOp::SyncDirectory, "ZARVEL", 0, -1});
    std::strcpy(journal.entries[0].target, "C:\\ZARVEL\\GONE\\A.HLP");
    EXPECT_FALSE(SyncJournalFolders(os, journal, JournalFolders::Targets, failed));
    EXPECT_STREQ(failed, "C:\\ZARVEL");
    std::strcpy(journal.entries[1].target, "C:\\ZARVEL\\GONE\\B.EXE");
    EXPECT_TRUE(SyncJournalFolders(os, journal, JournalFolders::Targets, failed));
    EXPECT_EQ(os.Struck(0), 2) << "the missing folder was tried, once";
    FreeJournal(posix, &journal);
}

// A staging cut short before a new copy's folder was created: the roll back
// finds nothing there to remove or make durable, and ends.
TEST_F(JournalTest, ARollBackBeforeAFolderWasCreatedEnds) {
    std::filesystem::remove_all(dir / "ZARVEL/DATA");
    before = Snapshot(dir.path());
    Plan(os);
    ASSERT_EQ(BeginTransaction(os, journal), JournalResult::Ok);
    ASSERT_TRUE(Stage(os, Staged(kMembers[0]), kMembers[0].fresh));
    RecoveryReport report;
    EXPECT_EQ(RollBack(os, journal, &report), RecoveryOutcome::Discarded) << report.failedPath;
    EXPECT_EQ(report.stagedRemoved, 1u);
    EXPECT_FALSE(zvtest::FileExists(JournalHostPath()));
    EXPECT_EQ(Snapshot(dir.path()), before);
}

// Settling reports a folder that cannot be made durable as a failure and
// keeps the journal, before it says the next state or goes.
TEST_F(JournalTest, AFolderThatCannotBeMadeDurableKeepsTheJournal) {
    const struct {
        const char* what;
        bool committed;  // the commit was complete: the backups are removed
    } cases[] = {
        {"undoing a commit stopped between two moves", false},
        {"finishing a complete commit", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Install();
        StageAll();
        for (uint32_t i = 0; i < kMemberCount; ++i) ASSERT_EQ(CommitEntry(os, journal.entries[i]), CommitStep::Done);
        if (c.committed) {
            ASSERT_EQ(MarkCommitted(os, journal), JournalResult::Ok);
        }
        FreeJournal(os, &journal);
        zvtest::FaultPlatform faulty(os);
        faulty.Add(Fault{FaultOp::SyncDirectory, "SYSTEM"});
        RecoveryReport report;
        const RecoveryOutcome settled = RecoverInstallation(faulty, kProductDir, &report);
        EXPECT_EQ(settled, c.committed ? RecoveryOutcome::LeftOver : RecoveryOutcome::Incomplete);
        EXPECT_EQ(faulty.Struck(0), 1);
        EXPECT_STREQ(report.failedPath, "C:\\WINDOWS\\SYSTEM");
        Journal left;
        ASSERT_EQ(ReadJournal(os, &left), JournalResult::Ok);
        EXPECT_EQ(left.state, c.committed ? JournalState::Committed : JournalState::Committing)
            << "the journal does not say a state the disk may not keep";
        FreeJournal(os, &left);
        // The next start finishes the job.
        EXPECT_EQ(RecoverInstallation(os, kProductDir, nullptr),
                  c.committed ? RecoveryOutcome::RolledForward : RecoveryOutcome::RolledBack);
        EXPECT_EQ(Snapshot(dir.path()), c.committed ? after : before);
    }
}

}  // namespace
