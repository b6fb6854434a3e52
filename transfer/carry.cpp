#include "transfer/carry.h"

#include <cstring>

#include "platform/bytes.h"
#include "platform/messages.h"
#include "string_ids.h"

namespace zv {
namespace {

// Copies `length` bytes to `to` and tells whether they differed.
bool CopyChanged(uint8_t* to, const uint8_t* from, uint32_t length) {
    if (std::memcmp(to, from, length) == 0) return false;
    std::memcpy(to, from, length);
    return true;
}

// Writes the whole image over the open file from its start and forces it to
// the disk, asking about every failure; false after a Cancel.
bool WriteImageBack(RunContext& run, FileHandle file, const FileImage& image, const char* shownPath) {
    Platform& os = *run.os;
    uint32_t written = 0;
    bool positioned = false;
    for (;;) {
        if (!positioned) positioned = os.Seek(file, static_cast<int32_t>(written), SeekOrigin::Begin) ==
                                      static_cast<int32_t>(written);
        int32_t n = positioned ? os.Write(file, image.bytes + written, image.length - written) : kFileError;
        if (n > 0) written += static_cast<uint32_t>(n);
        if (n < 0) positioned = false;
        if (written == image.length && os.Flush(file)) return true;
        const unsigned id = n < 0 || written == image.length ? IDS_WRITE_ERROR : IDS_DISK_FULL;
        if (AskRetryCancel(run, run.progressPage, id, shownPath) != ANSWER_RETRY) return false;
    }
}

}  // namespace

const char* CarryOutcomeName(CarryOutcome outcome) {
    switch (outcome) {
    case CarryOutcome::Done: return "carried";
    case CarryOutcome::Unreadable: return "the installed copy cannot be read";
    case CarryOutcome::NoMemory: return "no memory";
    case CarryOutcome::Unwritable: return "the new copy cannot be opened for reading and writing";
    case CarryOutcome::Misplaced: return "the file opened is not the new copy meant";
    case CarryOutcome::Cancelled: return "cancelled";
    }
    return "unknown";
}

CarryOutcome ReadCarriedBlocks(Platform& os, const char* path, StampedBlockSave* save) {
    FileHandle file = os.Open(path, OpenMode::Read);
    if (file == kNoFile) return CarryOutcome::Unreadable;
    FileImage image;
    ImageRead read = ReadFileImage(os, file, &image);
    os.Close(file);
    CarryOutcome outcome = CarryOutcome::Done;
    if (read == ImageRead::NoMemory) {
        outcome = CarryOutcome::NoMemory;
    } else if (read == ImageRead::Failed) {
        outcome = CarryOutcome::Unreadable;  // never use a file read only in part
    } else if (image.bytes != nullptr) {
        for (unsigned i = 0; i < kCarriedBlockCount; ++i) {
            const CarriedBlock& block = kCarriedBlocks[i];
            uint32_t at = FindMarker(image.bytes, image.length, block.key, block.length);
            if (at != kNoMarker) std::memcpy(SavedBlock(save, i), image.bytes + at, block.length);
        }
    }
    FreeFileImage(os, &image);
    return outcome;
}

CarryOutcome WriteCarriedBlocks(RunContext& run, const char* path, const StampedBlockSave& save,
                                const char* shownPath) {
    Platform& os = *run.os;
    FileHandle file = os.Open(path, OpenMode::ReadWrite);
    if (file == kNoFile) return CarryOutcome::Unwritable;
    // The file itself is checked; the folder it is in is the caller's.
    char folder[kMaxPath] = {};
    const char* last = std::strrchr(path, '\\');
    if (last != nullptr && static_cast<size_t>(last - path) < sizeof folder) {
        std::memcpy(folder, path, static_cast<size_t>(last - path));
    }
    const CarryOutcome outcome = last != nullptr && os.IsFileAt(file, path, folder)
                                     ? WriteCarriedBlocksInto(run, file, save, shownPath)
                                     : CarryOutcome::Misplaced;
    os.Close(file);
    return outcome;
}

CarryOutcome WriteCarriedBlocksInto(RunContext& run, FileHandle file, const StampedBlockSave& save,
                                    const char* shownPath) {
    Platform& os = *run.os;
    FileImage image;
    ImageRead read = ReadFileImage(os, file, &image);
    if (read != ImageRead::Done || image.bytes == nullptr) {
        FreeFileImage(os, &image);
        // A file read only in part is never written back.
        if (read == ImageRead::NoMemory) return CarryOutcome::NoMemory;
        return read == ImageRead::Failed ? CarryOutcome::Unwritable : CarryOutcome::Done;
    }

    uint8_t* bytes = image.bytes;
    bool changed = false;
    uint32_t checksumAt = FindMarker(bytes, image.length, KEY_CHECKSUM, MARKER_WORD_SIZE);
    uint16_t stored = 0;
    uint16_t difference = 0;
    if (checksumAt != kNoMarker) {
        stored = LoadU16LE(bytes + checksumAt);
        difference = ChecksumDifference(bytes, image.length, checksumAt);
    }
    for (unsigned i = 0; i < kCarriedBlockCount; ++i) {
        const CarriedBlock& block = kCarriedBlocks[i];
        uint32_t at = FindMarker(bytes, image.length, block.key, block.length);
        if (at != kNoMarker && CopyChanged(bytes + at, SavedBlock(save, i), block.length)) changed = true;
    }
    if (checksumAt != kNoMarker) {
        // Zero again: a carried block may lie over the word (its data then
        // loses those two bytes), and the relation must still hold.
        StoreU16LE(bytes + checksumAt, 0);
        uint16_t updated = static_cast<uint16_t>(difference + StampChecksum(bytes, image.length));
        StoreU16LE(bytes + checksumAt, updated);
        if (updated != stored) changed = true;
    }
    CarryOutcome outcome = CarryOutcome::Done;
    if (changed && !WriteImageBack(run, file, image, shownPath)) outcome = CarryOutcome::Cancelled;
    FreeFileImage(os, &image);
    return outcome;
}

}  // namespace zv
