// Where the parts of a package go: the order of the table, the table region,
// and the pieces of every member on the volumes.
//
// Volume 1 is the updater file: the image, the table region, then member data.
// A continuation volume (2, 3, ...) starts with its number (u16, little-endian)
// and holds member data from offset 2 on. Members lie back to back in table
// order; a member that reaches the end of a volume goes on in a further piece
// at the start of the next. So the pieces of the package only ever go
// forward, and so does a reader that takes the members in table order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "package/table_writer.h"

namespace quillon {

// The largest volume: piece offsets are read with a signed 32-bit seek.
constexpr uint64_t kMaxVolumeSize = 0x7FFFFFFF;
// A continuation volume's number in front of its data.
constexpr uint32_t kVolumeNumberSize = 2;

// The order in which the updater reads the members: its first pass takes the
// shared files, its second the others; ignored entries are never read. The
// table lists them in that order, each group in the order given, so that a
// package cut into volumes is read front to back. Returns indexes into
// `flags`.
std::vector<size_t> ReadingOrder(const std::vector<uint16_t>& flags);

// A member's size in KB, rounded up, as the file table counts it.
uint64_t SizeInKB(uint64_t bytes);
// The table's 16-bit size field for a member of `bytes` bytes: SizeInKB,
// and 65535 for anything larger than the field holds.
uint16_t TableSizeKB(uint64_t bytes);

// The table region for `entries` with their current pieces (one for an entry
// that has none yet): the records, the integrity block behind them, and 10
// zero bytes per entry after that as the updater's own packages have.
uint64_t TableRegionSize(const std::vector<zv::EntryDescription>& entries);

struct PackageLayout {
    uint32_t tableOffset = 0;
    uint32_t tableSize = 0;  // records, integrity block and 10 zero bytes per entry (or more)
    uint32_t dataOffset = 0;
    uint32_t volumeCount = 1;
    std::vector<uint64_t> volumeSizes;  // bytes of each volume file
};

// Fills the pieces of `entries` (in table order, whose compressed streams are
// `streamSizes` bytes long) for an image of `imageSize` bytes and volumes of
// at most `volumeSize` bytes (0: one volume of any size up to
// kMaxVolumeSize). `firstVolumeReserve` bytes of volume 1 are kept free (for
// a signature added after stamping). False with the reason in *error when the
// package cannot be laid out so.
bool LayOutPackage(uint64_t imageSize, const std::vector<uint32_t>& streamSizes, uint64_t volumeSize,
                   std::vector<zv::EntryDescription>* entries, PackageLayout* layout, std::string* error,
                   uint64_t firstVolumeReserve = 0);

}  // namespace quillon
