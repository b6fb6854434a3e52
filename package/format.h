// The update package as it lies in the updater's file:
//
//   0 .. tableOffset                  the executable image, with the 32-byte
//                                     PackageHeader in its initialised data
//   tableOffset .. + tableSize        entryCount PackageEntry records back to
//                                     back, then zero bytes to the region's end
//   dataOffset .. end of file         the members' LZHUF streams in table order
//
// Every field is little-endian and byte-packed. Members may continue on
// further volumes, files beside the program that start with their number.
#pragma once

#include <cstdint>

namespace zv {

// A file version: high = major << 16 | minor, low = release << 16 | build.
// Stored as the two words, high first. All zero means "no version".
struct ProductVersion {
    uint32_t high;
    uint32_t low;
};

inline uint16_t VersionMajor(ProductVersion v) { return static_cast<uint16_t>(v.high >> 16); }
inline uint16_t VersionMinor(ProductVersion v) { return static_cast<uint16_t>(v.high); }
inline uint16_t VersionRelease(ProductVersion v) { return static_cast<uint16_t>(v.low >> 16); }
inline uint16_t VersionBuild(ProductVersion v) { return static_cast<uint16_t>(v.low); }
inline ProductVersion MakeVersion(uint16_t major, uint16_t minor, uint16_t release, uint16_t build) {
    return ProductVersion{static_cast<uint32_t>(major) << 16 | minor,
                          static_cast<uint32_t>(release) << 16 | build};
}

constexpr uint16_t PACKAGE_MARKER = 0x7777;
constexpr uint32_t PACKAGE_KEY = 0x48295467;
constexpr uint32_t PACKAGE_HEADER_SIZE = 32;

#pragma pack(push, 1)
// The header block that the packer stamps into the updater. In the updater it
// is a writable data object whose bytes are those of this struct (the program
// is little-endian); elsewhere it is decoded from bytes.
struct PackageHeader {
    uint16_t marker;       // PACKAGE_MARKER; lets the packer find the block
    uint32_t key;          // PACKAGE_KEY
    uint16_t entryCount;   // records in the table; 0: never stamped
    uint32_t tableOffset;  // file offset of the table region
    uint32_t tableSize;    // length of the table region
    uint32_t dataOffset;   // tableOffset + tableSize; the updater never reads it
    ProductVersion version;  // the product version that the package brings
    uint32_t language;       // Windows language id in the low 16 bits
};
#pragma pack(pop)
static_assert(sizeof(PackageHeader) == PACKAGE_HEADER_SIZE, "the header is 32 packed bytes");

PackageHeader DecodePackageHeader(const uint8_t* bytes);        // 32 bytes
void EncodePackageHeader(const PackageHeader& header, uint8_t* bytes);

// Entry flags; only the low 8 bits carry meaning.
constexpr uint16_t ENTRY_IGNORED = 0x01;      // neither written nor counted
constexpr uint16_t ENTRY_SHARED = 0x06;       // either bit: a shared file (pass 1)
constexpr uint16_t ENTRY_UPDATE_ONLY = 0x10;  // written only over an installed copy
constexpr uint16_t ENTRY_HAS_VERSION = 0x16;  // any bit: the record has a version

// The updater's pass that handles an entry of these flags: 1 for shared
// files, 2 for the others, 0 for ignored ones (never read). The packer lays
// the members out in this order, so that the updater reads them front to back.
constexpr uint32_t EntryPass(uint16_t flags) {
    return (flags & ENTRY_IGNORED) != 0 ? 0 : (flags & ENTRY_SHARED) != 0 ? 1 : 2;
}

// A record of the file table:
//   0  u16  recordLength (the whole record, this field included)
//   2  u16  flags
//   4  u16  sizeKB (expanded size in KB, rounded up; 65535 for any larger size):
//           the bound of the member's expansion and of the room it needs
//   6  name, zero-terminated
//   +1 u8   reserved, 0
//   +8      version (two u32), only when flags & ENTRY_HAS_VERSION
//   pieces of 10 bytes, then a u16 0 that ends the list
constexpr uint32_t PACKAGE_ENTRY_FIXED_SIZE = 6;
constexpr uint32_t PACKAGE_PIECE_SIZE = 10;
constexpr uint32_t PACKAGE_TERMINATOR_SIZE = 2;

// Where one member's compressed bytes lie. The list ends at the first piece
// whose volume is 0 (only its two volume bytes are present) or whose length
// is 0.
struct PackagePiece {
    uint16_t volume;  // counted from 1; volume 1 is the program file itself
    uint32_t offset;  // absolute offset in that volume's file
    uint32_t length;  // compressed bytes in this piece
};

// Length of a record with a name of `nameLength` characters.
uint32_t PackageRecordLength(uint32_t nameLength, bool hasVersion, uint32_t pieceCount);

}  // namespace zv
