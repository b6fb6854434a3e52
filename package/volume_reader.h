// The byte source of the LZHUF decoder: a member's compressed bytes, taken
// piece by piece from the package's volumes.
//
// Volume 1 is the updater's own file; volume n >= 2 is a file beside it whose
// name is the program's path with the extension replaced by n written with at
// least three digits (SETUP.EXE: SETUP002, SETUP003, ...) and whose first two
// bytes hold n (u16, little-endian). A piece on another volume than the open
// one needs that volume. When its file is already beside the program and
// starts with the right number (every volume copied into one folder or onto
// one disc), it is opened at once. Otherwise the disk prompt comes, then the
// volume is opened and its number checked; a file too short to hold a number
// is the wrong disk, and the prompt comes again. Volume 1, the program file
// itself, starts with the executable signature instead: going back to it, it
// is opened at once when its file is there, and otherwise the prompt comes and
// the file is then taken as it is.
//
// Lifecycle, for one transfer:
//   StartVolumeReader        volume 1 opened, the caller's input buffer taken
//   BeginMemberRead          for each member, right before it is decoded
//   ReadPackageByte ...      called by the decoder only
//   CloseVolumeReader        closes whatever volume is open
//
// The reader asks its questions (Retry or Cancel, the disk prompt) through the
// ReadQuestions its caller gives, at the moment they arise, and tells the user
// nothing else: a failure is recorded in `failure`, and the decoder only sees
// READ_FAILED. Telling a failure that was not asked about (a member cut
// short, a damaged member) is the caller's part, once the decoder has
// stopped. The reader relies on a checked file table (CheckPackageTable): it
// walks a member's piece list up to its terminator without bounds of its own.
#pragma once

#include <cstdint>

#include "package/table.h"
#include "platform/run_context.h"

namespace zv {

// Results of ReadPackageByte besides the bytes 0..255.
constexpr int32_t END_OF_DATA = -1;  // the pieces are used up
constexpr int32_t READ_FAILED = -2;  // reading failed; the failure is recorded in the reader

constexpr uint32_t INPUT_BUFFER_SIZE = 32000;

// Why reading a member failed. The first ones are asked about with Retry and
// Cancel, or with the disk prompt, and recorded when the user answers
// Cancel; the last ones are recorded with nothing said, for the caller to
// tell.
enum class ReadFailureKind : uint8_t {
    None,
    OpenFailed,      // the volume's file cannot be opened (Retry/Cancel about the file)
    SeekFailed,      // a seek in the volume's file fails (the same)
    NumberUnread,    // the volume's number cannot be read (the same)
    VolumeEnds,      // the volume's file ends where the piece promises bytes (the same)
    DataUnread,      // a read of the member's bytes fails (Retry/Cancel about the member)
    DiskNotIn,       // the volume is not at hand (the disk prompt)
    DataCut,         // a read gives fewer bytes than the piece holds: told about the member
    SizeOverRecord,  // the member declares more bytes than its record allows: told about the file
    CodesOverrun,    // its codes run on past its pieces: told about the file
};
const char* ReadFailureKindName(ReadFailureKind kind);

// True for the kinds the reader asks about, which are recorded only when the
// user has answered Cancel; the others are still to be told.
bool ReadFailureAsked(ReadFailureKind kind);

// A failure as recorded where it was found.
struct ReadFailure {
    ReadFailureKind kind = ReadFailureKind::None;
    uint32_t volume = 0;         // the volume being read
    char path[kMaxPath] = {};    // its file
    char member[kMaxPath] = {};  // the member being read; empty for a memory read
};

// The file a failure is about, as its message names it: the member for a
// read of its bytes that fails or falls short, otherwise the volume's file.
const char* ReadFailureSubject(const ReadFailure& failure);

// The reader's questions, asked at the moment they arise and answered by the
// caller (the updater with its message boxes, quillon on its terminal).
class ReadQuestions {
public:
    virtual ~ReadQuestions() = default;
    // Retry or Cancel about `failure`, one of the kinds asked with Retry and
    // Cancel; true for Retry.
    virtual bool Retry(const ReadFailure& failure) = 0;
    // The disk prompt for volume failure.volume, whose file failure.path is
    // not at hand (kind DiskNotIn); true for OK.
    virtual bool InsertDisk(const ReadFailure& failure) = 0;
};

struct VolumeReader {
    RunContext* run = nullptr;            // os and programPath
    ReadQuestions* questions = nullptr;  // nullptr: every question is answered Cancel

    // For the whole transfer (StartVolumeReader).
    uint32_t volume = 0;            // the volume whose file is open or about to be opened
    FileHandle file = kNoFile;      // that volume, read-only; kNoFile when none is open
    char volumePath[kMaxPath] = {};  // its path
    uint8_t* buffer = nullptr;      // INPUT_BUFFER_SIZE bytes, the caller's

    // For one member (BeginMemberRead).
    PackageEntry entry;                   // its name is the subject of read errors
    // The most bytes the member may expand to: its record's size in KB times
    // 1024, or no bound (UINT32_MAX) when the record holds the largest value,
    // 65,535, which any larger member carries too, or for a memory read.
    uint32_t sizeLimit = UINT32_MAX;
    const uint8_t* pieceCursor = nullptr;  // the next descriptor to take
    uint32_t pieceOffset = 0;  // where the current piece's unread bytes start in its volume
    uint32_t pieceLeft = 0;    // bytes of the current piece not yet read into the buffer
    const uint8_t* readPos = nullptr;  // the next byte to hand out
    uint32_t bytesLeft = 0;            // bytes from readPos on
    // Why the member failed: set with READ_FAILED (or by the decoder for a
    // damaged member), None while the member reads well.
    ReadFailure failure;
};

// Sets the reader up for a transfer: volume 1 is `programFile` (the updater's
// own file, normally run->programPath), opened read-only now; `buffer` is the
// INPUT_BUFFER_SIZE-byte input buffer, which stays the caller's; `questions`
// answers the reader's questions. Returns false, with no file open, when the
// file cannot be opened; nothing is reported (the transfer reports it). The
// reader needs `run` and `questions` for as long as it is used.
bool StartVolumeReader(VolumeReader* reader, RunContext* run, ReadQuestions* questions, const char* programFile,
                       uint8_t* buffer);

// Closes the open volume, if any. The buffer is the caller's to free.
void CloseVolumeReader(VolumeReader* reader);

// Makes `entry` (a record of a checked table) the member to read: its first
// piece is next, the buffer is empty, no failure is recorded, and sizeLimit
// is taken from its record. The open volume stays open, so a member on it
// costs a seek and no prompt.
void BeginMemberRead(VolumeReader* reader, PackageEntry entry);

// Sets the reader up to hand out `size` bytes from memory and then
// END_OF_DATA; it never touches a file or the user (run is not needed). For
// decoding streams held in memory.
void BeginMemoryRead(VolumeReader* reader, const uint8_t* bytes, uint32_t size);

// The input buffer is empty: takes the next piece and reads its next block,
// asking the user as needed. Returns the first byte of the block, or
// END_OF_DATA or READ_FAILED. Called through ReadPackageByte.
int32_t RefillPackageBuffer(VolumeReader* reader);

// Reads the whole of the member's compressed bytes (its pieces, in order)
// into `out`, which holds `capacity` bytes, asking the reader's questions as
// decoding would; *size gets the bytes read. False when they cannot all be
// read (the failure recorded as ReadPackageByte records it) or do not fit.
// The member must have been begun with BeginMemberRead.
bool ReadMemberBytes(VolumeReader* reader, uint8_t* out, uint64_t capacity, uint64_t* size);

// The next byte of the member's compressed stream (0..255), END_OF_DATA once
// the pieces are used up (again at every further call), or READ_FAILED with
// the failure recorded. A piece whose bytes are not all in its volume's file
// is damage, never the end of the data: a read that gives no bytes asks the
// read-error question about the volume (Retry reads again), a read that gives
// fewer than asked fails as DataCut. After READ_FAILED nothing but
// BeginMemberRead may follow.
inline int32_t ReadPackageByte(VolumeReader* reader) {
    if (reader->bytesLeft != 0) {
        --reader->bytesLeft;
        return *reader->readPos++;
    }
    return RefillPackageBuffer(reader);
}

// Records `kind` as the member's failure, about the current volume and
// member. The decoder records a damaged member with it.
void RecordReadFailure(VolumeReader* reader, ReadFailureKind kind);

// The disk prompt for the current volume, through the reader's questions.
// True for OK; Cancel leaves DiskNotIn recorded.
bool AskForDisk(VolumeReader* reader);

// The path of volume `volume` for a program at `programPath`: the program's
// path itself for volume 1, otherwise its extension replaced by "%.3d" of the
// number. False when the result does not fit kMaxPath. The packer names the
// volumes it cuts with the same function.
bool VolumeFilePath(const char* programPath, uint32_t volume, char* path, int size);

}  // namespace zv
