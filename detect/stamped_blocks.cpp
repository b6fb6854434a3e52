#include "detect/stamped_blocks.h"

#include <cstring>

#include "package/paths.h"
#include "platform/bytes.h"
#include "platform/messages.h"
#include "platform/text.h"
#include "string_ids.h"

namespace zv {

const CarriedBlock kCarriedBlocks[kCarriedBlockCount] = {
    {KEY_CARRIED_SHORT, 12},
    {KEY_CARRIED_FIRST, 88},
    {KEY_CARRIED_SECOND, 88},
};

uint8_t* SavedBlock(StampedBlockSave* save, unsigned index) {
    switch (index) {
    case 0: return save->shortBlock;
    case 1: return save->firstBlock;
    default: return save->secondBlock;
    }
}

const uint8_t* SavedBlock(const StampedBlockSave& save, unsigned index) {
    return SavedBlock(const_cast<StampedBlockSave*>(&save), index);
}

namespace {

static_assert(sizeof(StampedBlockSave{}.shortBlock) == 12 && sizeof(StampedBlockSave{}.firstBlock) == 88 &&
                  sizeof(StampedBlockSave{}.secondBlock) == 88,
              "the save area holds one array per carried block");

// A whole file in one block of memory, for the time of one operation.
struct FileImage {
    BlockHandle handle = 0;
    uint8_t* bytes = nullptr;
    uint32_t length = 0;
};

enum class ImageRead { Done, NoMemory, Failed };

// Takes the length of the open `file` and reads all of it into a new block.
// Files shorter than a marker's header get no block: they hold no blocks.
ImageRead ReadImage(Platform& os, FileHandle file, FileImage* image) {
    int32_t end = os.Seek(file, 0, SeekOrigin::End);
    if (end == kFileError || os.Seek(file, 0, SeekOrigin::Begin) != 0) return ImageRead::Failed;
    image->length = static_cast<uint32_t>(end);
    if (image->length < MARKER_HEADER_SIZE) return ImageRead::Done;
    image->bytes = static_cast<uint8_t*>(AllocGlobalBlock(os, image->length, &image->handle));
    if (image->bytes == nullptr) return ImageRead::NoMemory;
    if (os.Read(file, image->bytes, image->length) != static_cast<int32_t>(image->length)) {
        return ImageRead::Failed;
    }
    return ImageRead::Done;
}

void FreeImage(Platform& os, FileImage* image) {
    FreeGlobalBlock(os, &image->handle);
    image->bytes = nullptr;
}

// Copies `length` bytes to `to` and tells whether they differed.
bool CopyChanged(uint8_t* to, const uint8_t* from, uint32_t length) {
    if (std::memcmp(to, from, length) == 0) return false;
    std::memcpy(to, from, length);
    return true;
}

// Writes the whole image to a temporary file beside `path`, forces it to the
// disk and puts it in place of `path`. A failed or short write is asked about
// as the writes of a member are (write error or Disk full, Retry/Cancel, about
// `shownPath`); a retry writes only what is still to be written. Returns 0,
// ANSWER_CANCEL, or IDS_WRITE_ERROR when the temporary file cannot be made
// or put in place. The temporary file is removed on every failure.
unsigned ReplaceWithImage(RunContext& run, const char* path, const FileImage& image, const char* shownPath) {
    Platform& os = *run.os;
    char temporary[kMaxPath];
    CopyText(temporary, sizeof temporary, path);
    if (!ReplaceExtension(temporary, sizeof temporary, ".$ZV")) return IDS_WRITE_ERROR;
    if (EqualNoCase(temporary, path) && !ReplaceExtension(temporary, sizeof temporary, ".$ZW")) return IDS_WRITE_ERROR;
    FileHandle out = os.Create(temporary);
    if (out == kNoFile) return IDS_WRITE_ERROR;
    unsigned result = 0;
    uint32_t written = 0;
    while (written < image.length) {
        const int32_t n = os.Write(out, image.bytes + written, image.length - written);
        if (n >= 0) written += static_cast<uint32_t>(n);
        if (written == image.length) break;
        const unsigned id = n < 0 ? IDS_WRITE_ERROR : IDS_DISK_FULL;
        if (AskRetryCancel(run, run.progressPage, id, shownPath) != ANSWER_RETRY) {
            result = ANSWER_CANCEL;
            break;
        }
    }
    while (result == 0 && !os.Flush(out)) {
        if (AskRetryCancel(run, run.progressPage, IDS_WRITE_ERROR, shownPath) != ANSWER_RETRY) result = ANSWER_CANCEL;
    }
    os.Close(out);
    if (result == 0 && !os.Replace(temporary, path)) result = IDS_WRITE_ERROR;
    if (result != 0) os.Remove(temporary);
    return result;
}

}  // namespace

uint32_t FindMarker(const uint8_t* bytes, uint32_t length, uint32_t key, uint32_t dataLength) {
    if (length < MARKER_HEADER_SIZE || length - MARKER_HEADER_SIZE < dataLength) return kNoMarker;
    uint32_t last = length - MARKER_HEADER_SIZE - dataLength;
    for (uint32_t p = 0; p <= last; ++p) {
        if (LoadU16LE(bytes + p) == MARKER_VALUE && LoadU32LE(bytes + p + 2) == key) return p + MARKER_HEADER_SIZE;
    }
    return kNoMarker;
}

uint16_t StampChecksum(const uint8_t* bytes, uint32_t length) {
    uint32_t c = 0;
    for (uint32_t i = 0; i < length; ++i) {
        c = (c + bytes[i]) & 0xFFFFu;
        c = ((c << 1) | (c >> 15)) & 0xFFFFu;
    }
    return static_cast<uint16_t>(c);
}

uint16_t ChecksumDifference(const uint8_t* bytes, uint32_t length, uint32_t wordAt) {
    uint32_t c = 0;
    for (uint32_t i = 0; i < length; ++i) {
        uint32_t b = (i == wordAt || i == wordAt + 1) ? 0 : bytes[i];
        c = (c + b) & 0xFFFFu;
        c = ((c << 1) | (c >> 15)) & 0xFFFFu;
    }
    return static_cast<uint16_t>(LoadU16LE(bytes + wordAt) - c);
}

int32_t ReadMarkerWord(Platform& os, const char* path, uint32_t key) {
    FileHandle file = os.Open(path, OpenMode::Read);
    if (file == kNoFile) return -1;
    FileImage image;
    ImageRead read = ReadImage(os, file, &image);
    os.Close(file);
    int32_t word = -1;
    if (read == ImageRead::Done && image.bytes != nullptr) {
        uint32_t at = FindMarker(image.bytes, image.length, key, MARKER_WORD_SIZE);
        if (at != kNoMarker) word = LoadU16LE(image.bytes + at);
    }
    FreeImage(os, &image);
    return word;
}

unsigned ReadStampedBlocks(RunContext& run, const char* path, StampedBlockSave* save) {
    Platform& os = *run.os;
    CopyText(run.errorFileName, sizeof run.errorFileName, path);
    FileHandle file = os.Open(path, OpenMode::Read);
    if (file == kNoFile) return IDS_READ_ERROR;
    FileImage image;
    ImageRead read = ReadImage(os, file, &image);
    os.Close(file);
    unsigned result = 0;
    if (read == ImageRead::NoMemory) {
        result = IDS_NO_MEMORY;
    } else if (read == ImageRead::Failed) {
        result = IDS_READ_ERROR;  // never use a file read only in part
    } else if (image.bytes != nullptr) {
        for (unsigned i = 0; i < kCarriedBlockCount; ++i) {
            const CarriedBlock& block = kCarriedBlocks[i];
            uint32_t at = FindMarker(image.bytes, image.length, block.key, block.length);
            if (at != kNoMarker) std::memcpy(SavedBlock(save, i), image.bytes + at, block.length);
        }
    }
    FreeImage(os, &image);
    return result;
}

unsigned WriteStampedBlocks(RunContext& run, const char* path, const StampedBlockSave& save, const char* shownPath) {
    Platform& os = *run.os;
    CopyText(run.errorFileName, sizeof run.errorFileName, path);
    FileHandle file = os.Open(path, OpenMode::ReadWrite);
    if (file == kNoFile) return IDS_WRITE_ERROR;
    FileImage image;
    ImageRead read = ReadImage(os, file, &image);
    os.Close(file);
    if (read != ImageRead::Done || image.bytes == nullptr) {
        FreeImage(os, &image);
        // A file read only in part is never written back.
        if (read == ImageRead::NoMemory) return IDS_NO_MEMORY;
        return read == ImageRead::Failed ? static_cast<unsigned>(IDS_WRITE_ERROR) : 0u;
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
    unsigned result = 0;
    if (changed) result = ReplaceWithImage(run, path, image, shownPath != nullptr ? shownPath : path);
    FreeImage(os, &image);
    return result;
}

}  // namespace zv
