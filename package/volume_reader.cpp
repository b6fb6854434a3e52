#include "package/volume_reader.h"

#include <cstring>

#include "package/paths.h"
#include "platform/bytes.h"
#include "platform/text.h"

namespace zv {

namespace {

// A descriptor list that ends at once: where a memory read's cursor points.
constexpr uint8_t kNoPieces[PACKAGE_TERMINATOR_SIZE] = {0, 0};

// How a step that asks the user ended.
enum class Outcome { Done, GaveUp };

// Asks Retry or Cancel about the failure `kind`; true for Retry, which
// leaves no failure recorded. Cancel leaves it recorded.
bool Retry(VolumeReader* r, ReadFailureKind kind) {
    RecordReadFailure(r, kind);
    if (r->questions == nullptr || !r->questions->Retry(r->failure)) return false;
    r->failure.kind = ReadFailureKind::None;
    return true;
}

// Seeks the open volume to `offset`, asking Retry/Cancel about the volume's
// file while the seek fails. A failed seek would hand out bytes of the wrong
// place, so it is a read error of the volume.
Outcome SeekVolume(VolumeReader* r, uint32_t offset) {
    while (r->run->os->Seek(r->file, static_cast<int32_t>(offset), SeekOrigin::Begin) == kFileError) {
        if (!Retry(r, ReadFailureKind::SeekFailed)) return Outcome::GaveUp;
    }
    return Outcome::Done;
}

// Opens the current volume, checks its number and seeks to the piece.
// Volume 1 is the program file, which starts with the executable signature
// rather than a number: it is accepted as it is.
Outcome OpenVolume(VolumeReader* r) {
    Platform& os = *r->run->os;
    for (;;) {
        r->file = os.Open(r->volumePath, OpenMode::Read);
        if (r->file == kNoFile) {
            if (!Retry(r, ReadFailureKind::OpenFailed)) return Outcome::GaveUp;
            continue;
        }
        if (r->volume == 1) break;

        // The volume's number, from the start of its file. A file too short
        // to hold it is not the volume asked for.
        uint8_t number[2] = {};
        int32_t got;
        for (;;) {
            got = os.Seek(r->file, 0, SeekOrigin::Begin) == kFileError ? kFileError
                                                                         : os.Read(r->file, number, 2);
            if (got >= 0) break;
            if (!Retry(r, ReadFailureKind::NumberUnread)) {
                os.Close(r->file);
                r->file = kNoFile;
                return Outcome::GaveUp;
            }
        }
        if (got == 2 && LoadU16LE(number) == r->volume) break;

        os.Close(r->file);
        r->file = kNoFile;
        if (!AskForDisk(r)) return Outcome::GaveUp;
    }
    if (SeekVolume(r, r->pieceOffset) == Outcome::GaveUp) {
        os.Close(r->file);
        r->file = kNoFile;
        return Outcome::GaveUp;
    }
    return Outcome::Done;
}

// Opens the current volume without asking when it is already beside the
// program, as it is when every volume was copied into one folder or onto one
// disc: its file opens and, for a continuation volume, starts with its
// number. Nothing is told to the user; otherwise no file is left open and
// the disk prompt follows.
bool OpenVolumeAtHand(VolumeReader* r) {
    Platform& os = *r->run->os;
    r->file = os.Open(r->volumePath, OpenMode::Read);
    if (r->file == kNoFile) return false;
    if (r->volume == 1) return true;  // the program file itself
    uint8_t number[2] = {};
    if (os.Seek(r->file, 0, SeekOrigin::Begin) != kFileError && os.Read(r->file, number, 2) == 2 &&
        LoadU16LE(number) == r->volume) {
        return true;
    }
    os.Close(r->file);
    r->file = kNoFile;
    return false;
}

}  // namespace

bool VolumeFilePath(const char* programPath, uint32_t volume, char* path, int size) {
    if (CopyText(path, size, programPath) != static_cast<int>(std::strlen(programPath))) return false;
    if (volume == 1) return true;
    char ending[16] = {};
    FormatText(ending, sizeof ending, "%.3d", static_cast<int>(volume));
    return ReplaceExtension(path, size, ending);
}

const char* ReadFailureKindName(ReadFailureKind kind) {
    switch (kind) {
    case ReadFailureKind::None: return "none";
    case ReadFailureKind::OpenFailed: return "the volume's file cannot be opened";
    case ReadFailureKind::SeekFailed: return "a seek in the volume's file fails";
    case ReadFailureKind::NumberUnread: return "the volume's number cannot be read";
    case ReadFailureKind::VolumeEnds: return "the volume's file ends inside the member's data";
    case ReadFailureKind::DataUnread: return "the member's data cannot be read";
    case ReadFailureKind::DiskNotIn: return "the volume's disk is not in";
    case ReadFailureKind::DataCut: return "the member's data is cut short";
    case ReadFailureKind::SizeOverRecord: return "the member declares more bytes than its record allows";
    case ReadFailureKind::CodesOverrun: return "the member's codes run on past its data";
    }
    return "unknown";
}

bool ReadFailureAsked(ReadFailureKind kind) {
    switch (kind) {
    case ReadFailureKind::OpenFailed:
    case ReadFailureKind::SeekFailed:
    case ReadFailureKind::NumberUnread:
    case ReadFailureKind::VolumeEnds:
    case ReadFailureKind::DataUnread:
    case ReadFailureKind::DiskNotIn: return true;
    default: return false;
    }
}

const char* ReadFailureSubject(const ReadFailure& failure) {
    const bool aboutMember =
        failure.kind == ReadFailureKind::DataUnread || failure.kind == ReadFailureKind::DataCut;
    return aboutMember ? failure.member : failure.path;
}

void RecordReadFailure(VolumeReader* reader, ReadFailureKind kind) {
    ReadFailure& f = reader->failure;
    f.kind = kind;
    f.volume = reader->volume;
    CopyText(f.path, sizeof f.path, reader->volumePath);
    CopyText(f.member, sizeof f.member, reader->entry.record != nullptr ? EntryName(reader->entry) : "");
}

bool StartVolumeReader(VolumeReader* reader, RunContext* run, ReadQuestions* questions, const char* programFile,
                       uint8_t* buffer) {
    reader->run = run;
    reader->questions = questions;
    reader->volume = 1;
    CopyText(reader->volumePath, sizeof reader->volumePath, programFile);
    reader->buffer = buffer;
    reader->entry = PackageEntry{};
    reader->pieceCursor = kNoPieces;
    reader->pieceOffset = 0;
    reader->pieceLeft = 0;
    reader->readPos = buffer;
    reader->bytesLeft = 0;
    reader->failure.kind = ReadFailureKind::None;
    reader->file = run->os->Open(reader->volumePath, OpenMode::Read);
    return reader->file != kNoFile;
}

void CloseVolumeReader(VolumeReader* reader) {
    if (reader->file != kNoFile) {
        reader->run->os->Close(reader->file);
        reader->file = kNoFile;
    }
}

void BeginMemberRead(VolumeReader* reader, PackageEntry entry) {
    reader->entry = entry;
    reader->sizeLimit = EntrySizeLimit(entry);
    reader->pieceCursor = EntryPieces(entry);
    reader->pieceLeft = 0;
    reader->readPos = reader->buffer;
    reader->bytesLeft = 0;
    reader->failure.kind = ReadFailureKind::None;
}

void BeginMemoryRead(VolumeReader* reader, const uint8_t* bytes, uint32_t size) {
    reader->entry = PackageEntry{};
    reader->sizeLimit = UINT32_MAX;
    reader->pieceCursor = kNoPieces;
    reader->pieceLeft = 0;
    reader->readPos = bytes;
    reader->bytesLeft = size;
    reader->failure.kind = ReadFailureKind::None;
}

bool AskForDisk(VolumeReader* reader) {
    RecordReadFailure(reader, ReadFailureKind::DiskNotIn);
    if (reader->questions == nullptr || !reader->questions->InsertDisk(reader->failure)) return false;
    reader->failure.kind = ReadFailureKind::None;
    return true;
}

int32_t RefillPackageBuffer(VolumeReader* r) {
    // The current piece is read out: take the next one.
    if (r->pieceLeft == 0) {
        const PackagePiece piece = ReadPackagePiece(r->pieceCursor);
        if (IsLastPiece(piece)) return END_OF_DATA;  // the cursor stays: END_OF_DATA again
        r->pieceLeft = piece.length;
        r->pieceOffset = piece.offset;
        r->pieceCursor += PACKAGE_PIECE_SIZE;

        if (piece.volume != r->volume) {
            CloseVolumeReader(r);
            r->volume = piece.volume;
            // Every volume's name comes from the program's path, not from the
            // name of the volume before it.
            VolumeFilePath(r->run->programPath, r->volume, r->volumePath, sizeof r->volumePath);
            if (OpenVolumeAtHand(r)) {
                if (SeekVolume(r, r->pieceOffset) == Outcome::GaveUp) {
                    CloseVolumeReader(r);
                    return READ_FAILED;
                }
            } else if (!AskForDisk(r)) {
                return READ_FAILED;
            }
        } else if (r->file != kNoFile) {
            if (SeekVolume(r, r->pieceOffset) == Outcome::GaveUp) return READ_FAILED;
        }
        if (r->file == kNoFile && OpenVolume(r) == Outcome::GaveUp) return READ_FAILED;
    }

    // The next block of the piece; it never reaches past the piece's end.
    if (r->file == kNoFile) return READ_FAILED;  // only after a failure, which ended the member
    Platform& os = *r->run->os;
    const uint32_t n = r->pieceLeft < INPUT_BUFFER_SIZE ? r->pieceLeft : INPUT_BUFFER_SIZE;
    r->readPos = r->buffer;
    for (;;) {
        const int32_t got = os.Read(r->file, r->buffer, n);
        if (got == 0) {
            // The volume ends where the piece still promises bytes: the file
            // is cut short, or it is not the file the table was made with.
            // The user may mend it (another copy, another disk) and retry.
            if (!Retry(r, ReadFailureKind::VolumeEnds)) return READ_FAILED;
            if (SeekVolume(r, r->pieceOffset) == Outcome::GaveUp) return READ_FAILED;
            continue;
        }
        if (got < 0) {
            if (!Retry(r, ReadFailureKind::DataUnread)) return READ_FAILED;
            // Read the block again from its start, wherever the failed read
            // left the file.
            if (SeekVolume(r, r->pieceOffset) == Outcome::GaveUp) return READ_FAILED;
            continue;
        }
        if (static_cast<uint32_t>(got) < n) {
            // Told by the caller once the decoder has stopped.
            RecordReadFailure(r, ReadFailureKind::DataCut);
            return READ_FAILED;
        }
        break;
    }
    r->pieceLeft -= n;
    r->pieceOffset += n;
    r->bytesLeft = n - 1;
    return *r->readPos++;
}

bool ReadMemberBytes(VolumeReader* reader, uint8_t* out, uint64_t capacity, uint64_t* size) {
    *size = 0;
    for (;;) {
        if (reader->bytesLeft == 0) {
            const int32_t first = RefillPackageBuffer(reader);
            if (first == END_OF_DATA) return true;
            if (first == READ_FAILED) return false;
            // The block's first byte was handed out: take it back.
            --reader->readPos;
            ++reader->bytesLeft;
        }
        if (reader->bytesLeft > capacity - *size) return false;
        std::memcpy(out + *size, reader->readPos, reader->bytesLeft);
        *size += reader->bytesLeft;
        reader->readPos += reader->bytesLeft;
        reader->bytesLeft = 0;
    }
}

}  // namespace zv
