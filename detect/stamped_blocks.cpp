#include "detect/stamped_blocks.h"

#include <cstdint>
#include <cstring>

#include "platform/bytes.h"
#include "platform/files.h"

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

static_assert(sizeof(StampedBlockSave{}.shortBlock) == 12 && sizeof(StampedBlockSave{}.firstBlock) == 88 &&
                  sizeof(StampedBlockSave{}.secondBlock) == 88,
              "the save area holds one array per carried block");

ImageRead ReadFileImage(Platform& os, FileHandle file, FileImage* image) {
    switch (LoadWholeFile(os, file, MARKER_HEADER_SIZE, UINT32_MAX, &image->handle, &image->bytes, &image->length)) {
    case WholeFileRead::Done: return ImageRead::Done;
    case WholeFileRead::NoMemory: return ImageRead::NoMemory;
    default: return ImageRead::Failed;
    }
}

void FreeFileImage(Platform& os, FileImage* image) {
    FreeGlobalBlock(os, &image->handle);
    image->bytes = nullptr;
}

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
    ImageRead read = ReadFileImage(os, file, &image);
    os.Close(file);
    int32_t word = -1;
    if (read == ImageRead::Done && image.bytes != nullptr) {
        uint32_t at = FindMarker(image.bytes, image.length, key, MARKER_WORD_SIZE);
        if (at != kNoMarker) word = LoadU16LE(image.bytes + at);
    }
    FreeFileImage(os, &image);
    return word;
}

}  // namespace zv
