#include "package/volume_reader.h"

#include <cstring>

#include "package/paths.h"
#include "platform/bytes.h"
#include "platform/messages.h"
#include "platform/text.h"
#include "string_ids.h"

namespace zv {

namespace {

// A descriptor list that ends at once: where a memory read's cursor points.
constexpr uint8_t kNoPieces[PACKAGE_TERMINATOR_SIZE] = {0, 0};

// How a step that asks the user ended.
enum class Outcome { Done, GaveUp };

// Asks the read-error question about the volume's file; true for Retry.
bool RetryVolume(VolumeReader* r) {
    return AskRetryCancel(*r->run, r->run->progressPage, IDS_READ_ERROR, r->volumePath) == ANSWER_RETRY;
}

// Seeks the open volume to `offset`, asking Retry/Cancel about the volume's
// file while the seek fails. A failed seek would hand out bytes of the wrong
// place, so it is a read error of the volume.
Outcome SeekVolume(VolumeReader* r, uint32_t offset) {
    while (r->run->os->Seek(r->file, static_cast<int32_t>(offset), SeekOrigin::Begin) == kFileError) {
        if (!RetryVolume(r)) return Outcome::GaveUp;
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
            if (!RetryVolume(r)) return Outcome::GaveUp;
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
            if (!RetryVolume(r)) {
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

bool StartVolumeReader(VolumeReader* reader, RunContext* run, const char* programFile, uint8_t* buffer) {
    reader->run = run;
    reader->volume = 1;
    CopyText(reader->volumePath, sizeof reader->volumePath, programFile);
    reader->buffer = buffer;
    reader->entry = PackageEntry{};
    reader->pieceCursor = kNoPieces;
    reader->pieceOffset = 0;
    reader->pieceLeft = 0;
    reader->readPos = buffer;
    reader->bytesLeft = 0;
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
}

void BeginMemoryRead(VolumeReader* reader, const uint8_t* bytes, uint32_t size) {
    reader->entry = PackageEntry{};
    reader->sizeLimit = UINT32_MAX;
    reader->pieceCursor = kNoPieces;
    reader->pieceLeft = 0;
    reader->readPos = bytes;
    reader->bytesLeft = size;
}

void ReportDamagedMember(VolumeReader* reader) {
    if (reader->run == nullptr || reader->entry.record == nullptr) return;
    RunContext& run = *reader->run;
    ReportError(run, run.progressPage, IDS_READ_ERROR, reader->volumePath);
}

bool AskForDisk(VolumeReader* reader) {
    RunContext& run = *reader->run;
    return AskInsertDisk(run, run.progressPage, reader->volume, run.programDir[0]);
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
            if (!RetryVolume(r)) return READ_FAILED;
            if (SeekVolume(r, r->pieceOffset) == Outcome::GaveUp) return READ_FAILED;
            continue;
        }
        if (got < 0) {
            if (AskRetryCancel(*r->run, r->run->progressPage, IDS_READ_ERROR, EntryName(r->entry)) !=
                ANSWER_RETRY) {
                return READ_FAILED;
            }
            // Read the block again from its start, wherever the failed read
            // left the file.
            if (SeekVolume(r, r->pieceOffset) == Outcome::GaveUp) return READ_FAILED;
            continue;
        }
        if (static_cast<uint32_t>(got) < n) {
            ReportError(*r->run, r->run->progressPage, IDS_READ_ERROR, EntryName(r->entry));
            return READ_FAILED;
        }
        break;
    }
    r->pieceLeft -= n;
    r->pieceOffset += n;
    r->bytesLeft = n - 1;
    return *r->readPos++;
}

}  // namespace zv
