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
// Every failure is told to the user here (questions owned by run.progressPage);
// the decoder only sees READ_FAILED. The reader relies on a checked file table
// (CheckPackageTable): it walks a member's piece list up to its terminator
// without bounds of its own.
#pragma once

#include <cstdint>

#include "package/table.h"
#include "platform/run_context.h"

namespace zv {

// Results of ReadPackageByte besides the bytes 0..255.
constexpr int32_t END_OF_DATA = -1;  // the pieces are used up
constexpr int32_t READ_FAILED = -2;  // reading failed; the user has been told or cancelled

constexpr uint32_t INPUT_BUFFER_SIZE = 32000;

struct VolumeReader {
    RunContext* run = nullptr;  // os, ui, titleText, programPath/Dir, progressPage

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
};

// Sets the reader up for a transfer: volume 1 is `programFile` (the updater's
// own file, normally run->programPath), opened read-only now; `buffer` is the
// INPUT_BUFFER_SIZE-byte input buffer, which stays the caller's. Returns false,
// with no file open, when the file cannot be opened; nothing is reported (the
// transfer reports it). The reader needs `run` for as long as it is used.
bool StartVolumeReader(VolumeReader* reader, RunContext* run, const char* programFile, uint8_t* buffer);

// Closes the open volume, if any. The buffer is the caller's to free.
void CloseVolumeReader(VolumeReader* reader);

// Makes `entry` (a record of a checked table) the member to read: its first
// piece is next, the buffer is empty, and sizeLimit is taken from its record.
// The open volume stays open, so a member on it costs a seek and no prompt.
void BeginMemberRead(VolumeReader* reader, PackageEntry entry);

// Sets the reader up to hand out `size` bytes from memory and then
// END_OF_DATA; it never touches a file or the user (run is not needed). For
// decoding streams held in memory.
void BeginMemoryRead(VolumeReader* reader, const uint8_t* bytes, uint32_t size);

// The input buffer is empty: takes the next piece and reads its next block,
// asking the user as needed. Returns the first byte of the block, or
// END_OF_DATA or READ_FAILED. Called through ReadPackageByte.
int32_t RefillPackageBuffer(VolumeReader* reader);

// The next byte of the member's compressed stream (0..255), END_OF_DATA once
// the pieces are used up (again at every further call), or READ_FAILED after
// a failure the user has been told about. A piece whose bytes are not all in
// its volume's file is damage, never the end of the data: a read that gives no
// bytes asks the read-error question about the volume (Retry reads again), a
// read that gives fewer than asked reports the member. After READ_FAILED
// nothing but BeginMemberRead may follow.
inline int32_t ReadPackageByte(VolumeReader* reader) {
    if (reader->bytesLeft != 0) {
        --reader->bytesLeft;
        return *reader->readPos++;
    }
    return RefillPackageBuffer(reader);
}

// The member's data is damaged in a way only its decoding can tell (it
// declares more bytes than its record allows, or its codes run on past its
// pieces): "%s: read error!" about the current volume's file, OK only, like
// any other damage of the volume. Nothing is shown for a memory read.
void ReportDamagedMember(VolumeReader* reader);

// The disk prompt: "Insert disk %d in drive %s." with the current volume
// number and the upper-cased first character of run.programDir, OK and Cancel,
// captioned with run.titleText. True for OK.
bool AskForDisk(VolumeReader* reader);

// The path of volume `volume` for a program at `programPath`: the program's
// path itself for volume 1, otherwise its extension replaced by "%.3d" of the
// number. False when the result does not fit kMaxPath. The packer names the
// volumes it cuts with the same function.
bool VolumeFilePath(const char* programPath, uint32_t volume, char* path, int size);

}  // namespace zv
