// The portable platform: Windows paths on the host, names without regard to
// case, the read-only attribute, and the fault-injecting wrapper.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix_platform.h"
#include "platform/threads.h"
#include "tests/support/host_layout.h"
#include "tests/support/fault_platform.h"
#include "tests/support/temp_dir.h"

using namespace zv;

namespace {

struct PosixPlatformTest : ::testing::Test {
    zvtest::TempDir dir;
    PosixPlatform os;
    void SetUp() override {
        os.SetLayout(zvtest::MachineLayout(dir.path()));
        zvtest::MakeDirs(dir / "Zarvel");
        zvtest::WriteFileText(dir / "Zarvel/ZvAct.exe", "MZ");
    }
};

}  // namespace

TEST_F(PosixPlatformTest, WindowsPathsMapOntoTheHostWithoutRegardToCase) {
    EXPECT_EQ(os.HostPath("C:\\ZARVEL\\zvact.EXE"), dir / "Zarvel/ZvAct.exe");
    EXPECT_EQ(os.HostPath("c:\\zarvel\\new\\file.bin"), dir / "Zarvel/new/file.bin");
    EXPECT_EQ(os.HostPath("D:\\ZARVEL"), "") << "an unmapped drive";
    ASSERT_TRUE(os.EnterDirectory("C:\\zarvel"));
    EXPECT_EQ(os.HostPath("ZVACT.EXE"), dir / "Zarvel/ZvAct.exe");
    EXPECT_EQ(os.HostPath((dir / "zarvel/zvact.exe").c_str()), dir / "Zarvel/ZvAct.exe") << "host paths pass";
    EXPECT_FALSE(os.EnterDirectory("C:\\zarvel\\zvact.exe")) << "a file is no directory";
    EXPECT_FALSE(os.EnterDirectory("C:\\missing"));
}

// A path that exists as written, or whose folder does, is resolved without
// matching every component; the result is the same as the matching's.
TEST_F(PosixPlatformTest, PathsAsWrittenResolveAsTheyWouldComponentByComponent) {
    zvtest::MakeDirs(dir / "Zarvel/Sub");
    zvtest::WriteFileText(dir / "Zarvel/Sub/Data.bin", "x");
    const struct {
        const char* path;
        std::string host;
    } cases[] = {
        {"C:\\Zarvel\\ZvAct.exe", dir / "Zarvel/ZvAct.exe"},           // every component as it is
        {"C:\\Zarvel\\zvact.EXE", dir / "Zarvel/ZvAct.exe"},           // the folder as it is, not the name
        {"C:\\Zarvel\\Sub\\DATA.BIN", dir / "Zarvel/Sub/Data.bin"},
        {"C:\\Zarvel\\missing.txt", dir / "Zarvel/missing.txt"},       // the folder as it is, no such name
        {"C:\\ZARVEL\\missing.txt", dir / "Zarvel/missing.txt"},
        {"C:\\Zarvel\\gone\\missing.txt", dir / "Zarvel/gone/missing.txt"},
        {"C:\\Zarvel\\.\\ZvAct.exe", dir / "Zarvel/ZvAct.exe"},      // "." and empty components go
        {"C:\\Zarvel\\\\ZvAct.exe", dir / "Zarvel/ZvAct.exe"},
        {"C:\\Zarvel\\", dir / "Zarvel"},                              // so does the last slash
        {"C:\\Zarvel\\Sub\\..\\zvact.exe", dir / "Zarvel/Sub/../ZvAct.exe"},  // ".." stays
    };
    for (const auto& c : cases) EXPECT_EQ(os.HostPath(c.path), c.host) << c.path;
}

TEST_F(PosixPlatformTest, FilesReadWriteSeekAndReplace) {
    FileHandle f = os.Create("C:\\Zarvel\\new.bin");
    ASSERT_NE(f, kNoFile);
    EXPECT_EQ(os.Write(f, "hello world", 11), 11);
    EXPECT_TRUE(os.Flush(f));
    os.Close(f);
    f = os.Open("C:\\ZARVEL\\NEW.BIN", OpenMode::Read);
    ASSERT_NE(f, kNoFile);
    EXPECT_EQ(os.Seek(f, 0, SeekOrigin::End), 11);
    EXPECT_EQ(os.Seek(f, 6, SeekOrigin::Begin), 6);
    char buffer[16] = {};
    EXPECT_EQ(os.Read(f, buffer, sizeof buffer), 5);
    EXPECT_STREQ(buffer, "world");
    EXPECT_EQ(os.Read(f, buffer, sizeof buffer), 0);
    os.Close(f);
    EXPECT_TRUE(os.Replace("C:\\Zarvel\\new.bin", "C:\\Zarvel\\zvact.exe"));
    EXPECT_EQ(zvtest::ReadFileBytes(dir / "Zarvel/ZvAct.exe").size(), 11u);
    EXPECT_FALSE(zvtest::FileExists(dir / "Zarvel/new.bin"));
    EXPECT_EQ(os.Open("C:\\Zarvel\\missing", OpenMode::Read), kNoFile);
    EXPECT_EQ(os.Open("C:\\Zarvel", OpenMode::Read), kNoFile) << "a directory is no file";
}

TEST_F(PosixPlatformTest, AReadOnlyFileCannotBeCreatedOverWrittenOrReplacedEvenByRoot) {
    zvtest::SetReadOnly(dir / "Zarvel/ZvAct.exe", true);
    EXPECT_EQ(os.Create("C:\\Zarvel\\zvact.exe"), kNoFile);
    EXPECT_EQ(os.Open("C:\\Zarvel\\zvact.exe", OpenMode::ReadWrite), kNoFile);
    FileHandle f = os.Open("C:\\Zarvel\\zvact.exe", OpenMode::Read);
    EXPECT_NE(f, kNoFile);
    os.Close(f);
    zvtest::WriteFileText(dir / "Zarvel/other", "x");
    EXPECT_FALSE(os.Replace("C:\\Zarvel\\other", "C:\\Zarvel\\zvact.exe"));
    EXPECT_EQ(zvtest::ReadFileBytes(dir / "Zarvel/ZvAct.exe").size(), 2u);
}

// Nothing is created or written through a link: a new file is only ever
// new, a file opened for writing is never reached through a link at its own
// name, and a handle tells whether it is the file meant.
TEST_F(PosixPlatformTest, NothingIsCreatedOrWrittenThroughALink) {
    namespace fs = std::filesystem;
    zvtest::MakeDirs(dir / "Outside");
    zvtest::WriteFileText(dir / "Outside/victim.dll", "system file");
    fs::create_symlink(dir / "Outside/victim.dll", dir / "Zarvel/~zvn0001.tmp");
    fs::create_symlink(dir / "Outside/new.dll", dir / "Zarvel/~zvn0002.tmp");  // dangling
    fs::create_directory_symlink(dir / "Outside", dir / "Zarvel/help");

    struct Case {
        const char* path;
        PathKind kind;
        bool creates;  // Create makes a new file there
    };
    const Case cases[] = {
        {"C:\\Zarvel\\~zvn0001.tmp", PathKind::Link, false},
        {"C:\\Zarvel\\~zvn0002.tmp", PathKind::Link, false},
        {"C:\\Zarvel\\help", PathKind::Link, false},
        {"C:\\Zarvel\\zvact.exe", PathKind::File, false},
        {"C:\\Zarvel", PathKind::Directory, false},
        {"C:\\Zarvel\\~zvn0003.tmp", PathKind::Missing, true},
        {"C:\\Zarvel\\missing\\x", PathKind::Missing, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(os.Examine(c.path), c.kind) << PathKindName(os.Examine(c.path));
        const FileHandle f = os.Create(c.path);
        EXPECT_EQ(f != kNoFile, c.creates);
        if (f != kNoFile) {
            EXPECT_TRUE(os.IsFileAt(f, c.path, "C:\\Zarvel"));
            EXPECT_TRUE(os.IsFileAt(f, c.path, "C:\\"));
            os.Close(f);
        }
    }
    EXPECT_EQ(zvtest::ReadFileBytes(dir / "Outside/victim.dll").size(), 11u) << "not cut by Create";
    EXPECT_FALSE(zvtest::FileExists(dir / "Outside/new.dll")) << "a dangling link is not followed";
    EXPECT_EQ(os.Open("C:\\Zarvel\\~zvn0001.tmp", OpenMode::ReadWrite), kNoFile);
    EXPECT_EQ(os.Open("C:\\Zarvel\\~zvn0001.tmp", OpenMode::Write), kNoFile);
    FileHandle f = os.Open("C:\\Zarvel\\~zvn0001.tmp", OpenMode::Read);
    EXPECT_NE(f, kNoFile) << "reading may follow a link";
    os.Close(f);

    // A file made through a linked folder is not where its path says.
    f = os.Create("C:\\Zarvel\\help\\~zvn0004.tmp");
    ASSERT_NE(f, kNoFile);
    EXPECT_FALSE(os.IsFileAt(f, "C:\\Zarvel\\help\\~zvn0004.tmp", "C:\\Zarvel"));
    EXPECT_FALSE(os.IsFileAt(f, "C:\\Zarvel\\help\\~zvn0004.tmp", "C:\\"));
    EXPECT_TRUE(os.IsFileAt(f, "C:\\Zarvel\\help\\~zvn0004.tmp", "C:\\Zarvel\\help"))
        << "a link at the trusted folder is the system's own";
    os.Close(f);
    // A handle to a file with a second name (a hard link) is not the file meant.
    f = os.Create("C:\\Zarvel\\~zvn0005.tmp");
    ASSERT_NE(f, kNoFile);
    EXPECT_TRUE(os.IsFileAt(f, "C:\\Zarvel\\~zvn0005.tmp", "C:\\Zarvel"));
    fs::create_hard_link(dir / "Zarvel/~zvn0005.tmp", dir / "Outside/second.dll");
    EXPECT_FALSE(os.IsFileAt(f, "C:\\Zarvel\\~zvn0005.tmp", "C:\\Zarvel"));
    os.Close(f);
    // A handle to another file than the one now at the path.
    f = os.Open("C:\\Zarvel\\zvact.exe", OpenMode::ReadWrite);
    ASSERT_NE(f, kNoFile);
    EXPECT_FALSE(os.IsFileAt(f, "C:\\Zarvel\\~zvn0003.tmp", "C:\\Zarvel"));
    EXPECT_FALSE(os.IsFileAt(f, "C:\\Zarvel\\zvact.exe", "C:\\Other")) << "not below the trusted folder";
    EXPECT_TRUE(os.IsFileAt(f, "C:\\ZARVEL\\ZVACT.EXE", "c:\\zarvel"));
    os.Close(f);
}

TEST_F(PosixPlatformTest, LocationsAndDirectories) {
    char buffer[kMaxPath];
    os.WindowsDirectory(buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "C:\\WINDOWS");
    EXPECT_TRUE(os.MakeDirectory("C:\\Zarvel\\sub"));
    EXPECT_FALSE(os.MakeDirectory("C:\\Zarvel\\sub")) << "it exists already";
    EXPECT_FALSE(os.MakeDirectory("C:\\Zarvel\\a\\b")) << "one level at a time";
    uint64_t free = 0;
    EXPECT_TRUE(os.FreeSpace("C:\\Zarvel", &free));
    EXPECT_GT(free, 0u);
}

// Languages are named from the one language table, by the low 16 bits of the
// identifier; one that the table does not know is named by its number.
TEST_F(PosixPlatformTest, LanguagesAreNamedFromTheLanguageTable) {
    const struct {
        uint32_t language;
        const char* name;
    } cases[] = {
        {0x0409, "English (United States)"}, {0x0405, "Czech"},
        {0x0C0A, "Spanish (Modern Sort)"},   {0x0414, "Norwegian Bokm\xE5l"},
        {0x0441, "Kiswahili"},               {0x00010409, "English (United States)"},
        {0x0000, "Language Neutral"},        {0x1234, "Unknown language (0x1234)"},
    };
    for (const auto& c : cases) {
        char name[256] = {};
        EXPECT_EQ(os.LanguageName(c.language, name, 255), std::strlen(c.name)) << std::hex << c.language;
        EXPECT_STREQ(name, c.name) << std::hex << c.language;
    }
}

TEST_F(PosixPlatformTest, SharedFilesAreFoundInTheSystemDirectoryThenTheApplicationDirectory) {
    zvtest::WriteFileText(dir / "Zarvel/PLMR.DLL", "16");
    char current[kMaxPath];
    char dest[kMaxPath];
    uint32_t result = os.FindSharedFile("plmr.dll", "C:\\WINDOWS", "C:\\Zarvel\\", current, sizeof current,
                                        dest, sizeof dest);
    EXPECT_STREQ(current, "C:\\Zarvel\\");
    EXPECT_STREQ(dest, "C:\\WINDOWS\\SYSTEM");
    EXPECT_EQ(result, SHARED_CUR_NOT_DEST);

    zvtest::WriteFileText(dir / "WINDOWS/SYSTEM/plmr.dll", "16");
    os.SetSharedFileInUse("PLMR.DLL", true);
    result = os.FindSharedFile("PLMR.DLL", "C:\\WINDOWS", "C:\\Zarvel\\", current, sizeof current, dest,
                               sizeof dest);
    EXPECT_STREQ(current, "C:\\WINDOWS\\SYSTEM");
    EXPECT_EQ(result, SHARED_FILE_IN_USE);

    result = os.FindSharedFile("PLMR32.DLL", "C:\\WINDOWS", "C:\\Zarvel\\", current, sizeof current, dest,
                               sizeof dest);
    EXPECT_STREQ(current, "");
    EXPECT_EQ(result, 0u);
}

TEST_F(PosixPlatformTest, FaultsStrikeTheChosenCallsOnly) {
    zvtest::FaultPlatform faulty(os);
    faulty.Add({zvtest::FaultOp::Write, "out.bin", 1, 1, 3});  // the second write is short
    faulty.Add({zvtest::FaultOp::Read, "zvact", 0, -1});       // every read fails
    FileHandle out = faulty.Create("C:\\Zarvel\\out.bin");
    ASSERT_NE(out, kNoFile);
    EXPECT_EQ(faulty.Write(out, "abcdef", 6), 6);
    EXPECT_EQ(faulty.Write(out, "abcdef", 6), 3);
    EXPECT_EQ(faulty.Write(out, "abcdef", 6), 6);
    faulty.Close(out);
    EXPECT_EQ(zvtest::ReadFileBytes(dir / "Zarvel/out.bin").size(), 15u);

    FileHandle in = faulty.Open("C:\\Zarvel\\zvact.exe", OpenMode::Read);
    char buffer[4];
    EXPECT_EQ(faulty.Read(in, buffer, 2), kFileError);
    EXPECT_EQ(faulty.Read(in, buffer, 2), kFileError);
    faulty.Close(in);
    EXPECT_EQ(faulty.Struck(0), 1);
    EXPECT_EQ(faulty.Struck(1), 2);
    EXPECT_EQ(faulty.OpenFiles(), 0u);
}

TEST(GlobalBlocks, AllocatedZeroedAndFreedOnce) {
    PosixPlatform posix;
    zvtest::FaultPlatform os(posix);
    BlockHandle handle = 0;
    auto* bytes = static_cast<uint8_t*>(AllocGlobalBlock(os, 32000, &handle));
    ASSERT_NE(bytes, nullptr);
    EXPECT_NE(handle, 0u);
    EXPECT_EQ(bytes[0] | bytes[31999], 0);
    FreeGlobalBlock(os, &handle);
    EXPECT_EQ(handle, 0u);
    FreeGlobalBlock(os, &handle);  // a zero handle is left alone
    EXPECT_EQ(os.liveBlocks, 0);

    os.Add({zvtest::FaultOp::LockBlock});
    handle = 12345;
    EXPECT_EQ(AllocGlobalBlock(os, 10, &handle), nullptr);
    EXPECT_EQ(handle, 0u);
    EXPECT_EQ(os.liveBlocks, 0) << "a block that cannot be locked is freed";
}

// Every index is handed out exactly once, whatever the number of helpers and
// of indexes (none, fewer than the helpers, many); with no helpers, in order
// on the calling thread.
TEST(Threads, ForEachIndexCallsEveryIndexOnce) {
    struct Seen {
        std::vector<std::atomic<int>> calls;
        std::thread::id caller = std::this_thread::get_id();
        std::atomic<bool> offThread{false};
        explicit Seen(uint32_t count) : calls(count) {}
    };
    for (uint32_t count : {0u, 1u, 2u, 5u, 1000u}) {
        for (unsigned helpers : {0u, 1u, 4u, 40u}) {
            SCOPED_TRACE(std::to_string(count) + " indexes, " + std::to_string(helpers) + " helpers");
            Seen seen(count);
            zv::ForEachIndex(
                count, helpers,
                [](void* arg, uint32_t i) {
                    Seen& s = *static_cast<Seen*>(arg);
                    ++s.calls[i];
                    if (std::this_thread::get_id() != s.caller) s.offThread = true;
                },
                &seen);
            for (uint32_t i = 0; i < count; ++i) ASSERT_EQ(seen.calls[i].load(), 1) << i;
            if (helpers == 0) {
                EXPECT_FALSE(seen.offThread.load());
            }
        }
    }
    // Without helpers the calls come in order.
    std::vector<uint32_t> order;
    zv::ForEachIndex(
        6, 0, [](void* arg, uint32_t i) { static_cast<std::vector<uint32_t>*>(arg)->push_back(i); }, &order);
    EXPECT_EQ(order, (std::vector<uint32_t>{0, 1, 2, 3, 4, 5}));
}
