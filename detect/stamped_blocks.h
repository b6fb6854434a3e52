// Data blocks stamped into product files, each introduced by a marker: the
// search for them, the checksum that covers them, and reading a main
// program's marker word. Carrying blocks from an installed file into its new
// copy is the transfer's work (transfer/carry.h).
//
// A MarkerBlock lies anywhere in a file, without alignment, little-endian:
//
//   0  u16  marker, 0x7777 (bytes 77 77)
//   2  u32  key
//   6  data, whose length the key fixes
//
// The operations hold the whole file in one block of memory for the time of
// one call.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace zv {

constexpr uint16_t MARKER_VALUE = 0x7777;
constexpr uint32_t MARKER_HEADER_SIZE = 6;

#pragma pack(push, 1)
struct MarkerBlock {
    uint16_t marker;  // MARKER_VALUE
    uint32_t key;
    // the data follows
};
#pragma pack(pop)
static_assert(sizeof(MarkerBlock) == MARKER_HEADER_SIZE, "a marker block's header is 6 packed bytes");

// Keys and the lengths of their data.
constexpr uint32_t KEY_MARKER_WORD = 0x30301587;  // 2 bytes: the main programs' marker word
constexpr uint32_t KEY_CARRIED_SHORT = 0xE0AC6824;  // 12 bytes, carried
constexpr uint32_t KEY_CARRIED_FIRST = 0x78243503;  // 88 bytes, carried
constexpr uint32_t KEY_CARRIED_SECOND = 0x72399459; // 88 bytes, carried
constexpr uint32_t KEY_CHECKSUM = 0x58495216;      // 2 bytes: the checksum word
constexpr uint32_t MARKER_WORD_SIZE = 2;

constexpr unsigned kCarriedBlockCount = 3;
struct CarriedBlock {
    uint32_t key;
    uint32_t length;
};
// The carried blocks, in the order they are read and written.
extern const CarriedBlock kCarriedBlocks[kCarriedBlockCount];

// The save area: the carried blocks of the last installed files read, one
// array per key in the order of kCarriedBlocks. It starts zero and belongs to
// the caller (the transfer keeps one for the whole run and shares it by all
// carried files: nothing clears it between one file and the next).
struct StampedBlockSave {
    uint8_t shortBlock[12] = {};
    uint8_t firstBlock[88] = {};
    uint8_t secondBlock[88] = {};
};
// The array of carried block `index` (0 to 2).
uint8_t* SavedBlock(StampedBlockSave* save, unsigned index);
const uint8_t* SavedBlock(const StampedBlockSave& save, unsigned index);

constexpr uint32_t kNoMarker = 0xFFFFFFFFu;

// The position of the data of the first block with `key` whose data
// (`dataLength` bytes) lies wholly inside the `length` bytes, or kNoMarker.
// Every byte position is tried, without regard to alignment, so a marker that
// overlaps bytes just examined ("77 77 77" then the key) is still found. A
// block whose data would run past the end counts as absent.
uint32_t FindMarker(const uint8_t* bytes, uint32_t length, uint32_t key, uint32_t dataLength = 0);

// The stamp checksum: c starts at 0; for each byte, c = (c + byte) mod 65536
// rotated left by one bit within 16 bits. No bytes give 0; "abc" gives 0x0556.
uint16_t StampChecksum(const uint8_t* bytes, uint32_t length);

// The checksum relation that WriteCarriedBlocks keeps: the word stored at
// `wordAt` minus the stamp checksum of the bytes with that word taken as 0,
// modulo 65536. The word's two bytes must lie inside the `length` bytes.
uint16_t ChecksumDifference(const uint8_t* bytes, uint32_t length, uint32_t wordAt);

// The 16-bit value of the first block with `key` in the file (0 to 65535), or
// -1: no such block, or the file cannot be opened, held in memory or read
// whole. -1 has bit 2 set. Reports nothing.
int32_t ReadMarkerWord(Platform& os, const char* path, uint32_t key);

// A whole file in one block of memory, for the time of one operation.
struct FileImage {
    BlockHandle handle = 0;
    uint8_t* bytes = nullptr;
    uint32_t length = 0;
};
enum class ImageRead : uint8_t { Done, NoMemory, Failed };

// Takes the length of the open `file` and reads all of it into a new block.
// Files shorter than a marker's header get no block: they hold no blocks.
ImageRead ReadFileImage(Platform& os, FileHandle file, FileImage* image);
void FreeFileImage(Platform& os, FileImage* image);

}  // namespace zv
