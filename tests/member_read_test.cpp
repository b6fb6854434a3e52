// Reading members out of the package's volumes and writing them to their
// target files: the volume reader's pieces, blocks, disk prompts and read
// questions, and the decoder's output buffer with its write questions. Each
// case builds real volume files on drive A: and decodes through the real
// platform, with faults injected and the questions answered by script.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <random>

#include "package/lzhuf_decoder.h"
#include "package/table_writer.h"
#include "package/volume_reader.h"
#include "platform/posix_platform.h"
#include "string_ids.h"
#include "tests/support/host_layout.h"
#include "tests/support/fault_platform.h"
#include "tests/support/fixture_package.h"
#include "tests/support/lzhuf_reference.h"
#include "tests/support/lzhuf_test_encoder.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/sample_data.h"
#include "tests/support/temp_dir.h"
#include "transfer/stage.h"
#include "transfer/member_output.h"
#include "transfer/package_messages.h"

using namespace zv;
using zvtest::Fault;
using zvtest::FaultOp;

namespace {

const WindowRef kPage = 0x4403;

// Records the file calls that reach the disk.
struct RecordingPlatform : zvtest::FaultPlatform {
    using FaultPlatform::FaultPlatform;
    std::vector<std::string> opens;
    std::vector<uint32_t> reads;   // sizes asked
    std::vector<uint32_t> writes;  // sizes asked
    std::vector<int32_t> seeks;
    FileHandle Open(const char* path, OpenMode mode) override {
        opens.push_back(path);
        return FaultPlatform::Open(path, mode);
    }
    int32_t Read(FileHandle file, void* buffer, uint32_t count) override {
        reads.push_back(count);
        return FaultPlatform::Read(file, buffer, count);
    }
    int32_t Write(FileHandle file, const void* buffer, uint32_t count) override {
        writes.push_back(count);
        return FaultPlatform::Write(file, buffer, count);
    }
    int32_t Seek(FileHandle file, int32_t offset, SeekOrigin origin) override {
        seeks.push_back(offset);
        return FaultPlatform::Seek(file, offset, origin);
    }
};

// Answers from the script, and lets a test act when a message comes (to
// swap the disk, say).
struct DiskUi : zvtest::ScriptedUi {
    std::function<void(const MessageRequest&)> onMessage;
    int ShowMessage(const MessageRequest& m) override {
        if (onMessage) onMessage(m);
        return ScriptedUi::ShowMessage(m);
    }
};

std::vector<uint8_t> Text(size_t size, unsigned seed) { return zvtest::SampleText(size, seed); }

// Bytes that do not compress: a stream of about their size.
std::vector<uint8_t> Noise(size_t size, unsigned seed) { return zvtest::SampleNoise(size, seed); }

struct MemberReadTest : ::testing::Test {
    zvtest::TempDir dir;
    PosixPlatform posix;
    RecordingPlatform os{posix};
    DiskUi ui;
    RunContext run;
    MessageReadQuestions questions{run};
    std::map<uint16_t, std::vector<uint8_t>> volumes;
    std::vector<EntryDescription> entries;
    std::vector<uint8_t> table;
    std::vector<uint8_t> input = std::vector<uint8_t>(INPUT_BUFFER_SIZE);
    std::vector<uint8_t> output = std::vector<uint8_t>(OUTPUT_BUFFER_SIZE);
    std::unique_ptr<LzhufDecoder> decoder = std::make_unique<LzhufDecoder>();
    VolumeReader reader;

    void SetUp() override {
        posix.SetLayout(zvtest::DriveLayout('A', dir.path()));
        run.os = &os;
        run.ui = &ui;
        run.progressPage = kPage;
        std::strcpy(run.titleText, "Zarvel Udpater");
        std::strcpy(run.programPath, "A:\\SETUP.EXE");
        std::strcpy(run.programDir, "a:\\");
        volumes[1] = {'M', 'Z'};
        volumes[1].resize(100, 0x90);
    }
    void TearDown() override { CloseVolumeReader(&reader); }

    std::vector<uint8_t>& Volume(uint16_t n) {
        if (!volumes.count(n)) volumes[n] = {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8)};
        return volumes[n];
    }
    static std::string FileName(uint16_t n) {
        char name[16];
        std::snprintf(name, sizeof name, n == 1 ? "SETUP.EXE" : "SETUP%03u", n);
        return name;
    }

    // Adds a member whose stream is cut into pieces of the given volumes and
    // lengths (the last piece takes the rest; a length of 0 there: nothing).
    void AddMember(const std::string& name, const std::vector<uint8_t>& stream,
                   std::vector<std::pair<uint16_t, uint32_t>> cuts = {{1, 0}}) {
        EntryDescription e;
        e.name = name;
        e.sizeKB = zvtest::SizeKBFromStream(stream);
        size_t at = 0;
        for (size_t k = 0; k < cuts.size(); ++k) {
            const uint32_t length = k + 1 == cuts.size() ? static_cast<uint32_t>(stream.size() - at) : cuts[k].second;
            std::vector<uint8_t>& v = Volume(cuts[k].first);
            e.pieces.push_back(PackagePiece{cuts[k].first, static_cast<uint32_t>(v.size()), length});
            v.insert(v.end(), stream.begin() + static_cast<long>(at), stream.begin() + static_cast<long>(at + length));
            at += length;
        }
        entries.push_back(e);
    }
    // A member whose first descriptor is the terminator.
    void AddMemberWithoutPieces(const std::string& name) {
        EntryDescription e;
        e.name = name;
        e.pieces.push_back(PackagePiece{1, 0, 1});  // made the terminator in Start
        withoutPieces.push_back(entries.size());
        entries.push_back(e);
    }
    std::vector<size_t> withoutPieces;

    void WriteVolumes() {
        for (auto& [n, bytes] : volumes) zvtest::WriteFileBytes(dir / FileName(n), bytes);
    }
    // Writes the volumes, builds the table and opens volume 1.
    void Start() {
        WriteVolumes();
        ASSERT_EQ(BuildPackageTable(entries, 0, &table), TableBuildError::None);
        for (size_t index : withoutPieces) {
            uint8_t* piece = const_cast<uint8_t*>(EntryPieces(Entry(index)));
            piece[0] = piece[1] = 0;
        }
        ASSERT_EQ(CheckPackageTable(table.data(), static_cast<uint32_t>(table.size()),
                                    static_cast<uint32_t>(entries.size())).damage,
                  TableDamage::None);
        ASSERT_TRUE(StartVolumeReader(&reader, &run, &questions, run.programPath, input.data()));
    }
    PackageEntry Entry(size_t index) {
        PackageEntry e{table.data()};
        for (size_t k = 0; k < index; ++k) e = NextPackageEntry(e);
        return e;
    }
    // Expands member `index` into A:\OUT<index>.BIN as the transfer does,
    // telling a failure that the reader recorded without asking.
    DecodeOutcome Extract(size_t index) {
        const std::string target = "A:\\OUT" + std::to_string(index) + ".BIN";
        os.Remove(target.c_str());  // a new file each time, as the transfer makes its new copies
        const FileHandle file = os.Create(target.c_str());
        EXPECT_NE(file, kNoFile);
        FileOutput sink(run, file, target.c_str(), output.data());
        BeginMemberRead(&reader, Entry(index));
        const DecodeOutcome result = DecodeMember(decoder.get(), &reader, &sink);
        TellReadFailure(run, reader.failure);
        os.Close(file);
        return result;
    }
    std::vector<uint8_t> Written(size_t index) {
        return zvtest::ReadFileBytes(dir / ("OUT" + std::to_string(index) + ".BIN"));
    }
    const zvtest::RecordedMessage& Message(size_t k) { return ui.messages.at(k); }
};

}  // namespace

// --- The volume reader's blocks and pieces ------------------------------------

TEST_F(MemberReadTest, ReadsAPieceInBlocksOfAtMost32000Bytes) {
    const std::vector<uint8_t> data = Noise(100000, 1);
    const std::vector<uint8_t> stream = zvtest::EncodeLzhufForTest(data, true);
    ASSERT_GT(stream.size(), 64000u);
    AddMember("big.txt", stream);
    Start();
    ASSERT_EQ(Extract(0), DecodeOutcome::Done);
    EXPECT_EQ(Written(0), data);
    EXPECT_TRUE(ui.messages.empty());
    // One seek to the piece, then full blocks and the rest; the decoder asks
    // for one byte past the stream, which the terminator answers.
    EXPECT_EQ(os.seeks, std::vector<int32_t>({100}));
    const uint32_t size = static_cast<uint32_t>(stream.size());
    std::vector<uint32_t> blocks(size / 32000, 32000u);
    if (size % 32000) blocks.push_back(size % 32000);
    EXPECT_EQ(os.reads, blocks);
}

TEST_F(MemberReadTest, TwoMembersOnTheOpenVolumeCostASeekEachAndNoPrompt) {
    const std::vector<uint8_t> a = Text(5000, 2), b = Text(7000, 3);
    AddMember("a.txt", zvtest::EncodeLzhufForTest(a));
    AddMember("b.txt", zvtest::EncodeLzhufForTest(b));
    Start();
    ASSERT_EQ(Extract(1), DecodeOutcome::Done);  // out of table order, to show the seek
    ASSERT_EQ(Extract(0), DecodeOutcome::Done);
    EXPECT_EQ(Written(0), a);
    EXPECT_EQ(Written(1), b);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(os.opens, std::vector<std::string>({"A:\\SETUP.EXE"}));
    EXPECT_EQ(os.seeks, std::vector<int32_t>({static_cast<int32_t>(entries[1].pieces[0].offset), 100}));
}

TEST_F(MemberReadTest, StreamsThatEndEarly) {
    AddMember("short", {0x10, 0x00, 0x00});          // no whole size
    AddMemberWithoutPieces("none");
    AddMember("empty", {0, 0, 0, 0});               // size 0
    Start();
    EXPECT_NE(Extract(0), DecodeOutcome::Done);
    EXPECT_NE(Extract(1), DecodeOutcome::Done);
    EXPECT_EQ(Extract(2), DecodeOutcome::Done);
    EXPECT_TRUE(zvtest::FileExists(dir / "OUT2.BIN"));
    EXPECT_TRUE(Written(2).empty());
    EXPECT_TRUE(os.writes.empty()) << "a member of size 0 writes nothing at all";
    EXPECT_TRUE(ui.messages.empty());
}

// Members whose pieces do not hold what they declare: each fails with the
// read error of its volume (OK only) instead of expanding zeros, and writes
// at most what its real codes gave.
TEST_F(MemberReadTest, MembersThatDeclareMoreThanTheirPiecesHoldAreDamaged) {
    const std::vector<uint8_t> data = Text(100000, 4);
    const std::vector<uint8_t> stream = zvtest::EncodeLzhufForTest(data);
    const std::vector<uint8_t> half(stream.begin(), stream.begin() + static_cast<long>(stream.size() / 2));
    struct Case {
        const char* what;
        std::vector<uint8_t> stream;
        int sizeKB;          // -1: as the packer writes it
        size_t mostWritten;  // bytes the target may hold afterwards
    };
    const Case cases[] = {
        {"the pieces stop halfway through the codes", half, -1, data.size() - 32000},
        {"4 bytes declaring 1,000,010 bytes", {0x0A, 0x42, 0x0F, 0x00}, -1, 0},
        {"4 bytes declaring 4 GiB, record at its largest value", {0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFF, 0},
        {"a size over what the record's KB allow", stream, 97, 0},
        {"a size over a record of 0 KB", {1, 0, 0, 0, 0x80}, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CloseVolumeReader(&reader);
        entries.clear();
        volumes.clear();
        SetUp();
        AddMember("zvact.exe", c.stream);
        if (c.sizeKB >= 0) entries.back().sizeKB = static_cast<uint16_t>(c.sizeKB);
        ui.messages.clear();
        os.writes.clear();
        Start();
        EXPECT_NE(Extract(0), DecodeOutcome::Done);
        ASSERT_EQ(ui.messages.size(), 1u);
        EXPECT_EQ(Message(0).text, "A:\\SETUP.EXE: read error!");
        EXPECT_EQ(Message(0).buttons(), BOX_OK);
        EXPECT_LE(Written(0).size(), c.mostWritten);
        if (c.mostWritten == 0) {
            EXPECT_TRUE(os.writes.empty()) << "refused before a byte is written";
        }
    }
    // The same stream whole, with its record's size exact, is sound.
    CloseVolumeReader(&reader);
    entries.clear();
    volumes.clear();
    SetUp();
    AddMember("zvact.exe", stream);
    ASSERT_EQ(entries.back().sizeKB, 98);
    ui.messages.clear();
    Start();
    EXPECT_EQ(Extract(0), DecodeOutcome::Done);
    EXPECT_EQ(Written(0), data);
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(MemberReadTest, AVolumeCutWhereABlockEndsAsksAboutTheVolume) {
    // The piece's bytes run past the end of the file, which ends exactly
    // where a block ends: the next read gives no bytes. That is damage of
    // the volume, asked with Retry and Cancel; Retry after the file is
    // mended reads the rest.
    const std::vector<uint8_t> data = Noise(100000, 5);
    const std::vector<uint8_t> stream = zvtest::EncodeLzhufForTest(data, true);
    ASSERT_GT(stream.size(), 64000u);
    AddMember("m", stream);
    const std::vector<uint8_t> whole = volumes[1];
    volumes[1].resize(100 + 32000);
    Start();

    ui.Script({ANSWER_CANCEL});
    EXPECT_NE(Extract(0), DecodeOutcome::Done);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(Message(0).text, "A:\\SETUP.EXE: read error!");
    EXPECT_EQ(Message(0).buttons(), BOX_RETRYCANCEL);

    ui.messages.clear();
    ui.onMessage = [&](const MessageRequest&) { zvtest::WriteFileBytes(dir / "SETUP.EXE", whole); };
    ui.Script({ANSWER_RETRY});
    EXPECT_EQ(Extract(0), DecodeOutcome::Done);
    EXPECT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(Written(0), data);
}

// --- Read failures ---------------------------------------------------------------

TEST_F(MemberReadTest, ReadErrorAsksAboutTheMemberAndRetryReadsTheBlockAgain) {
    const std::vector<uint8_t> data = Noise(90000, 6);
    AddMember("zvres.dll", zvtest::EncodeLzhufForTest(data, true));
    Start();
    os.Add(Fault{FaultOp::Read, "SETUP.EXE", 1, 1});  // the second block fails once
    ui.Script({ANSWER_RETRY});
    EXPECT_EQ(Extract(0), DecodeOutcome::Done);
    EXPECT_EQ(Written(0), data);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(Message(0).stringId, IDS_READ_ERROR);
    EXPECT_EQ(Message(0).text, "zvres.dll: read error!");
    EXPECT_EQ(Message(0).buttons(), BOX_RETRYCANCEL);
    EXPECT_EQ(Message(0).owner, kPage);
}

TEST_F(MemberReadTest, ReadErrorCancelledFailsTheMember) {
    AddMember("zvres.dll", zvtest::EncodeLzhufForTest(Noise(90000, 6), true));
    Start();
    os.Add(Fault{FaultOp::Read, "SETUP.EXE", 0, -1});
    ui.Script({ANSWER_RETRY, ANSWER_CANCEL});
    EXPECT_NE(Extract(0), DecodeOutcome::Done);
    EXPECT_EQ(ui.messages.size(), 2u);
    EXPECT_TRUE(Written(0).empty());
}

TEST_F(MemberReadTest, ShortReadReportsTheMemberWithOkOnly) {
    AddMember("zvact.exe", zvtest::EncodeLzhufForTest(Noise(90000, 7), true));
    // The file ends inside the piece's second block.
    volumes[1].resize(100 + 32000 + 500);
    Start();
    EXPECT_NE(Extract(0), DecodeOutcome::Done);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(Message(0).text, "zvact.exe: read error!");
    EXPECT_EQ(Message(0).buttons(), BOX_OK);
}

TEST_F(MemberReadTest, SeekFailureIsAReadErrorOfTheVolume) {
    const std::vector<uint8_t> data = Text(3000, 8);
    AddMember("m", zvtest::EncodeLzhufForTest(data));
    Start();
    os.Add(Fault{FaultOp::Seek, "SETUP.EXE", 0, 1});
    ui.Script({ANSWER_RETRY});
    EXPECT_EQ(Extract(0), DecodeOutcome::Done);
    EXPECT_EQ(Written(0), data);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(Message(0).text, "A:\\SETUP.EXE: read error!");
}

// --- The recorded failure -------------------------------------------------------------

namespace {

// A member that cannot be read, built and then broken as a case says.
struct BrokenMember {
    const char* what;
    std::function<void(MemberReadTest&)> build;  // adds "zvact.exe" and its volumes
    std::function<void(MemberReadTest&)> act;    // after Start: faults, files, answers
};

const std::vector<uint8_t>& BigStream() {
    static const std::vector<uint8_t> stream = zvtest::EncodeLzhufForTest(Noise(90000, 30), true);
    return stream;
}
const std::vector<uint8_t>& TextStream() {
    static const std::vector<uint8_t> stream = zvtest::EncodeLzhufForTest(Text(100000, 31));
    return stream;
}

// Starts the reader afresh on the case's member, broken as it says, with no
// message shown yet.
void Arrange(MemberReadTest& t, const BrokenMember& member) {
    CloseVolumeReader(&t.reader);
    t.entries.clear();
    t.volumes.clear();
    t.os.Clear();
    t.ui.ClearScript();
    t.SetUp();
    member.build(t);
    t.Start();
    member.act(t);
    t.ui.messages.clear();
}

void OnVolumeOne(MemberReadTest& t) { t.AddMember("zvact.exe", BigStream()); }
void OnVolumesOneAndTwo(MemberReadTest& t) { t.AddMember("zvact.exe", TextStream(), {{1, 1000}, {2, 0}}); }

}  // namespace

// Each failure is recorded where it arises, with its kind, its volume and
// file and the member; what the user was asked about is only recorded once
// answered with Cancel, and the rest is left for the caller to tell, which
// the transfer does with "%s: read error!" about the failure's subject.
TEST_F(MemberReadTest, EachFailureIsRecordedWithWhatItIsAbout) {
    struct Case {
        BrokenMember member;
        DecodeOutcome outcome;
        ReadFailureKind kind;
        uint32_t volume;
        const char* subject;
    };
    const Case cases[] = {
        {{"a sound member", OnVolumeOne, [](MemberReadTest&) {}}, DecodeOutcome::Done, ReadFailureKind::None, 0, ""},
        {{"a read error answered with Retry",
          OnVolumeOne,
          [](MemberReadTest& t) {
              t.os.Add(Fault{FaultOp::Read, "SETUP.EXE", 1, 1});
              t.ui.Script({ANSWER_RETRY});
          }},
         DecodeOutcome::Done, ReadFailureKind::None, 0, ""},
        {{"a read error answered with Cancel",
          OnVolumeOne,
          [](MemberReadTest& t) {
              t.os.Add(Fault{FaultOp::Read, "SETUP.EXE", 0, -1});
              t.ui.Script({ANSWER_CANCEL});
          }},
         DecodeOutcome::ReadFailed, ReadFailureKind::DataUnread, 1, "zvact.exe"},
        {{"a failing seek answered with Cancel",
          OnVolumeOne,
          [](MemberReadTest& t) {
              t.os.Add(Fault{FaultOp::Seek, "SETUP.EXE", 0, -1});
              t.ui.Script({ANSWER_CANCEL});
          }},
         DecodeOutcome::ReadFailed, ReadFailureKind::SeekFailed, 1, "A:\\SETUP.EXE"},
        {{"the volume cut where a block ends, Cancel",
          [](MemberReadTest& t) {
              OnVolumeOne(t);
              t.volumes[1].resize(100 + 32000);
          },
          [](MemberReadTest& t) { t.ui.Script({ANSWER_CANCEL}); }},
         DecodeOutcome::ReadFailed, ReadFailureKind::VolumeEnds, 1, "A:\\SETUP.EXE"},
        {{"the volume cut inside a block",
          [](MemberReadTest& t) {
              OnVolumeOne(t);
              t.volumes[1].resize(100 + 32000 + 500);
          },
          [](MemberReadTest&) {}},
         DecodeOutcome::ReadFailed, ReadFailureKind::DataCut, 1, "zvact.exe"},
        {{"volume 2 not at hand, Cancel at the disk prompt",
          OnVolumesOneAndTwo,
          [](MemberReadTest& t) {
              std::remove((t.dir / "SETUP002").c_str());
              t.ui.Script({ANSWER_CANCEL});
          }},
         DecodeOutcome::ReadFailed, ReadFailureKind::DiskNotIn, 2, "A:\\SETUP002"},
        {{"volume 2 missing after OK, Cancel at its read error",
          OnVolumesOneAndTwo,
          [](MemberReadTest& t) {
              std::remove((t.dir / "SETUP002").c_str());
              t.ui.Script({ANSWER_OK, ANSWER_CANCEL});
          }},
         DecodeOutcome::ReadFailed, ReadFailureKind::OpenFailed, 2, "A:\\SETUP002"},
        {{"volume 2's number unreadable, Cancel",
          OnVolumesOneAndTwo,
          [](MemberReadTest& t) {
              t.os.Add(Fault{FaultOp::Read, "SETUP002", 0, -1});
              t.ui.Script({ANSWER_OK, ANSWER_CANCEL});
          }},
         DecodeOutcome::ReadFailed, ReadFailureKind::NumberUnread, 2, "A:\\SETUP002"},
        {{"a size over what the record allows",
          [](MemberReadTest& t) {
              t.AddMember("zvact.exe", TextStream());
              t.entries.back().sizeKB = 97;
          },
          [](MemberReadTest&) {}},
         DecodeOutcome::Damaged, ReadFailureKind::SizeOverRecord, 1, "A:\\SETUP.EXE"},
        {{"pieces that stop halfway through the codes",
          [](MemberReadTest& t) {
              const std::vector<uint8_t>& stream = TextStream();
              t.AddMember("zvact.exe", std::vector<uint8_t>(stream.begin(), stream.begin() + stream.size() / 2));
              t.entries.back().sizeKB = zvtest::SizeKBFromStream(stream);
          },
          [](MemberReadTest&) {}},
         DecodeOutcome::Damaged, ReadFailureKind::CodesOverrun, 1, "A:\\SETUP.EXE"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.member.what);
        Arrange(*this, c.member);
        EXPECT_EQ(Extract(0), c.outcome);
        const ReadFailure& f = reader.failure;
        EXPECT_EQ(f.kind, c.kind) << ReadFailureKindName(f.kind);
        EXPECT_EQ(ui.Unanswered(), 0u);
        EXPECT_EQ(ui.unscripted, 0);
        if (c.kind == ReadFailureKind::None) continue;
        EXPECT_EQ(f.volume, c.volume);
        EXPECT_STREQ(ReadFailureSubject(f), c.subject);
        EXPECT_STREQ(f.member, "zvact.exe");
        // The last message is the question answered with Cancel, or the one
        // telling the failure, OK only; both about the failure's subject.
        ASSERT_FALSE(ui.messages.empty());
        if (ReadFailureAsked(f.kind)) {
            EXPECT_EQ(ui.messages.back().answer, ANSWER_CANCEL);
        } else {
            EXPECT_EQ(ui.messages.back().buttons(), BOX_OK);
            EXPECT_EQ(ui.messages.back().text, std::string(c.subject) + ": read error!");
        }
    }
}

// Staging a member tells the two ends apart: a Cancel answer, and a member
// that cannot be read, which the user has been told about (or which, ending
// before its size, fails without a message). Either way the new copy is gone.
TEST_F(MemberReadTest, StagingTellsAnUnreadableMemberApartFromACancel) {
    struct Case {
        BrokenMember member;
        WriteOutcome outcome;
        size_t messages;
    };
    const Case cases[] = {
        {{"the volume cut inside a block",
          [](MemberReadTest& t) {
              OnVolumeOne(t);
              t.volumes[1].resize(100 + 32000 + 500);
          },
          [](MemberReadTest&) {}},
         WriteOutcome::Unreadable, 1},
        {{"a size over what the record allows",
          [](MemberReadTest& t) {
              t.AddMember("zvact.exe", TextStream());
              t.entries.back().sizeKB = 97;
          },
          [](MemberReadTest&) {}},
         WriteOutcome::Unreadable, 1},
        {{"a stream that ends before its size",
          [](MemberReadTest& t) { t.AddMember("zvact.exe", {0x10, 0x00, 0x00}); },
          [](MemberReadTest&) {}},
         WriteOutcome::Unreadable, 0},
        {{"a read error answered with Cancel",
          OnVolumeOne,
          [](MemberReadTest& t) {
              t.os.Add(Fault{FaultOp::Read, "SETUP.EXE", 0, -1});
              t.ui.Script({ANSWER_CANCEL});
          }},
         WriteOutcome::Cancelled, 1},
        {{"Cancel at the disk prompt",
          OnVolumesOneAndTwo,
          [](MemberReadTest& t) {
              std::remove((t.dir / "SETUP002").c_str());
              t.ui.Script({ANSWER_CANCEL});
          }},
         WriteOutcome::Cancelled, 1},
        {{"a write error answered with Cancel",
          OnVolumeOne,
          [](MemberReadTest& t) {
              t.os.Add(Fault{FaultOp::Write, "~zvn0000", 0, -1});
              t.ui.Script({ANSWER_CANCEL});
          }},
         WriteOutcome::Cancelled, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.member.what);
        Arrange(*this, c.member);
        StageSession session;
        session.run = &run;
        session.decoder = decoder.get();
        ASSERT_TRUE(StartVolumeReader(&session.reader, &run, &questions, run.programPath, input.data()));
        const StageRequest request{Entry(0),        "A:\\", "zvact.exe", "A:\\zvact.exe", "A:\\~zvn0000.tmp",
                                   "A:\\",          false,  nullptr,     nullptr};
        WriteResult result;
        EXPECT_EQ(StageMember(session, request, &result), c.outcome) << WriteOutcomeName(result.outcome);
        CloseVolumeReader(&session.reader);
        EXPECT_EQ(ui.messages.size(), c.messages);
        EXPECT_EQ(ui.unscripted, 0);
        EXPECT_FALSE(zvtest::FileExists(dir / "~zvn0000.tmp"));
    }
}

// --- Volumes -------------------------------------------------------------------------

TEST(VolumeFilePath, EveryVolumeIsNamedFromTheProgramPath) {
    struct Case {
        const char* program;
        uint32_t volume;
        const char* expected;
    } cases[] = {
        {"C:\\UPDATE\\SETUP.EXE", 1, "C:\\UPDATE\\SETUP.EXE"},
        {"C:\\UPDATE\\SETUP.EXE", 2, "C:\\UPDATE\\SETUP002"},
        {"C:\\UPDATE\\SETUP.EXE", 3, "C:\\UPDATE\\SETUP003"},
        {"C:\\UPDATE\\SETUP.EXE", 12, "C:\\UPDATE\\SETUP012"},
        {"C:\\UPDATE\\SETUP.EXE", 1234, "C:\\UPDATE\\SETUP1234"},
        {"C:\\UPD.V1\\SETUP", 2, "C:\\UPD.V1\\SETUP002"},
    };
    for (const Case& c : cases) {
        char path[kMaxPath];
        ASSERT_TRUE(VolumeFilePath(c.program, c.volume, path, sizeof path));
        EXPECT_STREQ(path, c.expected);
    }
    char small[12];
    EXPECT_FALSE(VolumeFilePath("C:\\UPDATE\\SETUP.EXE", 2, small, sizeof small));
}

TEST_F(MemberReadTest, ANextVolumeBesideTheProgramIsOpenedWithoutAPrompt) {
    const std::vector<uint8_t> data = Text(60000, 9);
    AddMember("zvsv.bin", zvtest::EncodeLzhufForTest(data), {{1, 1000}, {2, 700}, {3, 0}});
    Start();
    EXPECT_EQ(Extract(0), DecodeOutcome::Done);
    EXPECT_EQ(Written(0), data);
    EXPECT_TRUE(ui.messages.empty()) << ui.messages.front().text;
    // Volume 3 is named from the program's path, not from volume 2's.
    EXPECT_EQ(os.opens, std::vector<std::string>({"A:\\SETUP.EXE", "A:\\SETUP002", "A:\\SETUP003"}));
}

TEST_F(MemberReadTest, AMissingNextVolumeBringsTheDiskPrompt) {
    const std::vector<uint8_t> data = Text(60000, 10);
    AddMember("zvsv.bin", zvtest::EncodeLzhufForTest(data), {{1, 1000}, {2, 700}, {3, 0}});
    Start();
    // Volume 3 is on another disk: it is there once the user has put it in.
    const std::vector<uint8_t> third = volumes[3];
    std::remove((dir / "SETUP003").c_str());
    ui.onMessage = [&](const MessageRequest& m) {
        if (m.stringId == IDS_INSERT_DISK) zvtest::WriteFileBytes(dir / "SETUP003", third);
    };
    ui.Script({ANSWER_OK});
    EXPECT_EQ(Extract(0), DecodeOutcome::Done);
    EXPECT_EQ(Written(0), data);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(Message(0).stringId, IDS_INSERT_DISK);
    EXPECT_EQ(Message(0).text, "Insert disk 3 in drive A.");
    EXPECT_EQ(Message(0).caption, "Zarvel Udpater");
    EXPECT_EQ(Message(0).style, static_cast<unsigned>(BOX_OKCANCEL));
    EXPECT_EQ(Message(0).owner, kPage);
    EXPECT_EQ(os.opens.back(), "A:\\SETUP003");
}

TEST_F(MemberReadTest, CancelAtTheDiskPromptFailsTheMember) {
    AddMember("m", zvtest::EncodeLzhufForTest(Text(60000, 11)), {{1, 1000}, {2, 0}});
    Start();
    std::remove((dir / "SETUP002").c_str());
    ui.Script({ANSWER_CANCEL});
    EXPECT_NE(Extract(0), DecodeOutcome::Done);
    EXPECT_EQ(ui.messages.size(), 1u);
    // The one look for the file before the prompt, none after Cancel.
    EXPECT_EQ(os.opens, std::vector<std::string>({"A:\\SETUP.EXE", "A:\\SETUP002"}));
}

TEST_F(MemberReadTest, WrongDiskPromptsAgainUntilTheRightOneIsIn) {
    const std::vector<uint8_t> data = Text(60000, 12);
    AddMember("m", zvtest::EncodeLzhufForTest(data), {{1, 1000}, {2, 0}});
    Start();
    const std::vector<uint8_t> right = volumes[2];
    std::vector<uint8_t> wrong = right;
    wrong[0] = 3;  // the disk of volume 3
    zvtest::WriteFileBytes(dir / "SETUP002", wrong);
    int prompts = 0;
    ui.onMessage = [&](const MessageRequest& m) {
        if (m.stringId == IDS_INSERT_DISK && ++prompts == 3) zvtest::WriteFileBytes(dir / "SETUP002", right);
    };
    ui.Script({ANSWER_OK, ANSWER_OK, ANSWER_OK});
    EXPECT_EQ(Extract(0), DecodeOutcome::Done);
    EXPECT_EQ(Written(0), data);
    EXPECT_EQ(prompts, 3);
    for (const auto& m : ui.messages) EXPECT_EQ(m.text, "Insert disk 2 in drive A.");
}

TEST_F(MemberReadTest, AVolumeShorterThanItsNumberIsTheWrongDisk) {
    AddMember("m", zvtest::EncodeLzhufForTest(Text(6000, 13)), {{1, 1000}, {2, 0}});
    Start();
    zvtest::WriteFileBytes(dir / "SETUP002", {2});
    ui.Script({ANSWER_OK, ANSWER_OK, ANSWER_CANCEL});
    EXPECT_NE(Extract(0), DecodeOutcome::Done);
    ASSERT_EQ(ui.messages.size(), 3u);
    for (const auto& m : ui.messages) EXPECT_EQ(m.stringId, IDS_INSERT_DISK);
}

TEST_F(MemberReadTest, AMissingVolumeFileAsksReadErrorNamingIt) {
    const std::vector<uint8_t> data = Text(6000, 14);
    AddMember("m", zvtest::EncodeLzhufForTest(data), {{1, 1000}, {2, 0}});
    Start();
    const std::vector<uint8_t> volume2 = zvtest::ReadFileBytes(dir / "SETUP002");
    std::remove((dir / "SETUP002").c_str());
    ui.onMessage = [&](const MessageRequest& m) {
        if (m.stringId == IDS_READ_ERROR) zvtest::WriteFileBytes(dir / "SETUP002", volume2);
    };
    ui.Script({ANSWER_OK, ANSWER_RETRY});
    EXPECT_EQ(Extract(0), DecodeOutcome::Done);
    EXPECT_EQ(Written(0), data);
    ASSERT_EQ(ui.messages.size(), 2u);
    EXPECT_EQ(Message(1).text, "A:\\SETUP002: read error!");
    EXPECT_EQ(Message(1).buttons(), BOX_RETRYCANCEL);
}

TEST_F(MemberReadTest, AFailingNumberReadAsksAndRetryReadsItAgain) {
    const std::vector<uint8_t> data = Text(6000, 15);
    AddMember("m", zvtest::EncodeLzhufForTest(data), {{1, 1000}, {2, 0}});
    Start();
    // The look for a volume at hand fails quietly and brings the prompt; the
    // read after OK fails again and is asked about.
    os.Add(Fault{FaultOp::Read, "SETUP002", 0, 2});
    ui.Script({ANSWER_OK, ANSWER_RETRY});
    EXPECT_EQ(Extract(0), DecodeOutcome::Done);
    EXPECT_EQ(Written(0), data);
    ASSERT_EQ(ui.messages.size(), 2u);
    EXPECT_EQ(Message(1).text, "A:\\SETUP002: read error!");
}

TEST_F(MemberReadTest, GoingBackToVolumeOneReopensTheProgramFile) {
    const std::vector<uint8_t> a = Text(6000, 16), b = Text(7000, 17);
    AddMember("a", zvtest::EncodeLzhufForTest(a), {{2, 0}});
    AddMember("b", zvtest::EncodeLzhufForTest(b), {{1, 0}});
    Start();
    // Both files beside each other: no prompt either way.
    EXPECT_EQ(Extract(0), DecodeOutcome::Done);
    EXPECT_EQ(Extract(1), DecodeOutcome::Done);
    EXPECT_EQ(Written(0), a);
    EXPECT_EQ(Written(1), b);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(os.opens.back(), "A:\\SETUP.EXE");

    // Volume 2 alone in the drive: going back to volume 1 asks for its disk,
    // and the program file is then taken as it is.
    const std::vector<uint8_t> program = zvtest::ReadFileBytes(dir / "SETUP.EXE");
    CloseVolumeReader(&reader);
    ASSERT_TRUE(StartVolumeReader(&reader, &run, &questions, run.programPath, input.data()));
    std::remove((dir / "SETUP.EXE").c_str());
    ui.onMessage = [&](const MessageRequest& m) {
        if (m.stringId == IDS_INSERT_DISK) zvtest::WriteFileBytes(dir / "SETUP.EXE", program);
    };
    ui.Script({ANSWER_OK});
    EXPECT_EQ(Extract(0), DecodeOutcome::Done);
    EXPECT_EQ(Extract(1), DecodeOutcome::Done);
    EXPECT_EQ(Written(1), b);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(Message(0).text, "Insert disk 1 in drive A.");
}

// --- The output buffer ------------------------------------------------------------------

TEST_F(MemberReadTest, TheFirstWriteComesAfterExactly32000Bytes) {
    for (uint32_t size : {31999u, 32000u, 32001u, 64000u, 64005u}) {
        AddMember("m" + std::to_string(size), zvtest::EncodeLzhufForTest(Text(size, size)));
    }
    Start();
    const std::vector<std::vector<uint32_t>> expected = {
        {31999}, {32000}, {32000, 1}, {32000, 32000}, {32000, 32000, 5}};
    for (size_t k = 0; k < expected.size(); ++k) {
        os.writes.clear();
        ASSERT_EQ(Extract(k), DecodeOutcome::Done);
        EXPECT_EQ(os.writes, expected[k]) << k;
        EXPECT_EQ(Written(k), Text(Written(k).size(), static_cast<unsigned>(Written(k).size())));
    }
}

TEST_F(MemberReadTest, AShortWriteAsksDiskFullAndRetryWritesOnlyTheRest) {
    const std::vector<uint8_t> data = Text(40000, 18);
    AddMember("m", zvtest::EncodeLzhufForTest(data));
    Start();
    os.Add(Fault{FaultOp::Write, "OUT0", 0, 1, 12000});
    ui.Script({ANSWER_RETRY});
    EXPECT_EQ(Extract(0), DecodeOutcome::Done);
    EXPECT_EQ(Written(0), data);
    EXPECT_EQ(os.writes, std::vector<uint32_t>({32000, 20000, 8000}));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(Message(0).stringId, IDS_DISK_FULL);
    EXPECT_EQ(Message(0).text, "Disk full!");
    EXPECT_EQ(Message(0).buttons(), BOX_RETRYCANCEL);
    EXPECT_EQ(Message(0).owner, kPage);
}

TEST_F(MemberReadTest, NothingWrittenAtAllAsksDiskFullAndKeepsEverything) {
    const std::vector<uint8_t> data = Text(1000, 19);
    AddMember("m", zvtest::EncodeLzhufForTest(data));
    Start();
    os.Add(Fault{FaultOp::Write, "OUT0", 0, 2, 0});
    ui.Script({ANSWER_RETRY, ANSWER_RETRY});
    EXPECT_EQ(Extract(0), DecodeOutcome::Done);
    EXPECT_EQ(Written(0), data);
    EXPECT_EQ(os.writes, std::vector<uint32_t>({1000, 1000, 1000}));
}

TEST_F(MemberReadTest, AWriteErrorAsksWithThePathAndCancelFails) {
    const std::vector<uint8_t> data = Text(40000, 20);
    AddMember("m", zvtest::EncodeLzhufForTest(data));
    Start();
    os.Add(Fault{FaultOp::Write, "OUT0", 0, 2});
    ui.Script({ANSWER_RETRY, ANSWER_CANCEL});
    EXPECT_NE(Extract(0), DecodeOutcome::Done);
    ASSERT_EQ(ui.messages.size(), 2u);
    EXPECT_EQ(Message(0).stringId, IDS_WRITE_ERROR);
    EXPECT_EQ(Message(0).text, "A:\\OUT0.BIN: write error!");
    EXPECT_EQ(Message(1).text, "A:\\OUT0.BIN: write error!");
    EXPECT_TRUE(Written(0).empty());
    EXPECT_EQ(os.writes.size(), 2u) << "nothing more after Cancel";
}

TEST_F(MemberReadTest, AWriteErrorThenRetryWritesEverything) {
    const std::vector<uint8_t> data = Text(40000, 21);
    AddMember("m", zvtest::EncodeLzhufForTest(data));
    Start();
    os.Add(Fault{FaultOp::Write, "OUT0", 1, 1});  // the final flush fails once
    ui.Script({ANSWER_RETRY});
    EXPECT_EQ(Extract(0), DecodeOutcome::Done);
    EXPECT_EQ(Written(0), data);
    EXPECT_EQ(os.writes, std::vector<uint32_t>({32000, 8000, 8000}));
}

// --- Bytes are taken exactly when the format's bit reader takes them ------------------------

TEST_F(MemberReadTest, EveryByteIsTakenWhenThePlainBitReaderTakesIt) {
    // The stream is cut in two at every place: the second part lies on
    // volume 2, whose disk prompt is cancelled, so the member fails at the
    // moment the decoder takes the first byte of that part, or succeeds when
    // it never takes it. The reference decoder's plain bit reader says which,
    // and how many bytes were produced by then. The first part is one piece,
    // which the decoder may read ahead in, or a piece per byte, which it can't.
    const std::vector<uint8_t> data = Text(1500, 22);
    std::vector<uint8_t> stream = zvtest::EncodeLzhufForTest(data);
    stream.push_back(0);  // the one byte past the coded data that the reader takes
    stream.push_back(0);  // and one it never takes
    struct Case {
        size_t cut;
        bool bytePieces;
    };
    std::vector<Case> cases;
    for (size_t cut = 0; cut < stream.size(); ++cut) {
        for (bool bytePieces : {false, true}) {
            std::vector<std::pair<uint16_t, uint32_t>> pieces;
            if (!bytePieces && cut > 0) pieces.push_back({1, static_cast<uint32_t>(cut)});
            if (bytePieces) pieces.insert(pieces.end(), cut, {1, 1});
            pieces.push_back({2, 0});
            AddMember("m", stream, pieces);
            cases.push_back(Case{cut, bytePieces});
        }
    }
    Start();
    std::remove((dir / "SETUP002").c_str());  // so that the prompt comes where volume 2 is needed
    int succeeded = 0;
    for (size_t k = 0; k < cases.size(); ++k) {
        SCOPED_TRACE("cut at " + std::to_string(cases[k].cut) + (cases[k].bytePieces ? " in byte pieces" : ""));
        const zvtest::ReferenceResult expected = zvtest::ReferenceDecode(stream, static_cast<int64_t>(cases[k].cut));
        // Each member from a fresh start on volume 1.
        CloseVolumeReader(&reader);
        ASSERT_TRUE(StartVolumeReader(&reader, &run, &questions, run.programPath, input.data()));
        ui.messages.clear();
        if (!expected.ok) ui.Script({ANSWER_CANCEL});
        ASSERT_EQ(Extract(k), expected.ok ? DecodeOutcome::Done : DecodeOutcome::ReadFailed);
        ASSERT_EQ(ui.messages.size(), expected.ok ? 0u : 1u);
        ASSERT_EQ(ui.unscripted, 0);
        if (expected.ok) {
            ++succeeded;
            EXPECT_EQ(Written(k), data);
        } else {
            EXPECT_EQ(decoder->expandedCount, expected.bytes.size());  // produced when the prompt came
        }
    }
    EXPECT_EQ(succeeded, 2);  // only the cut before the byte never taken
}

TEST_F(MemberReadTest, AFullBufferAfterACancelledFlushTakesNoMoreBytes) {
    Start();
    const FileHandle file = os.Create("A:\\OUT.BIN");
    FileOutput sink(run, file, "A:\\OUT.BIN", output.data());
    os.Add(Fault{FaultOp::Write, "OUT.BIN", 0, -1});
    ui.Script({ANSWER_CANCEL});
    const uint8_t x = 'x', y = 'y', z = 'z';
    for (uint32_t k = 0; k + 1 < OUTPUT_BUFFER_SIZE; ++k) ASSERT_TRUE(sink.Take(&x, 1));
    EXPECT_FALSE(sink.Take(&y, 1));  // the 32000th: the flush is cancelled
    EXPECT_EQ(sink.held(), OUTPUT_BUFFER_SIZE);
    EXPECT_EQ(output.back(), 'y');
    EXPECT_FALSE(sink.Take(&z, 1));
    EXPECT_FALSE(sink.Finish());
    EXPECT_EQ(sink.held(), OUTPUT_BUFFER_SIZE);
    EXPECT_EQ(output.back(), 'y');
    EXPECT_EQ(ui.messages.size(), 1u) << "asked once";
    os.Close(file);
}
