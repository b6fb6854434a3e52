// The writing side of the package format, used by the packer: building a file
// table from a description of its entries, and stamping the header block into
// an updater image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "package/format.h"

namespace zv {

struct EntryDescription {
    std::string name;  // relative to the target directory; may hold "\"
    uint16_t flags = 0;
    uint16_t sizeKB = 0;
    ProductVersion version{0, 0};  // written only when flags & ENTRY_HAS_VERSION
    std::vector<PackagePiece> pieces;
};

enum class TableBuildError : uint8_t {
    None,
    TooManyEntries,   // more than 65535 records
    EmptyPieceList,   // an entry without a piece
    BadPiece,         // a piece of volume 0 or length 0 would end the list early
    NameHasZero,      // a zero byte inside the name
    RecordTooLong,    // the record would be longer than 65535 bytes
    RegionTooSmall,   // the records do not fit the requested region size
};
const char* TableBuildErrorName(TableBuildError error);

// Writes the records of `entries` into *table, then, when `digests` is
// given (the SHA-256 of each entry's expanded bytes, 32 bytes each, back to
// back in the order of `entries`), the integrity block (package/integrity.h),
// followed by zero bytes up to `regionSize` (0: no padding). *failedEntry
// names the entry at fault.
TableBuildError BuildPackageTable(const std::vector<EntryDescription>& entries, uint32_t regionSize,
                                  std::vector<uint8_t>* table, size_t* failedEntry = nullptr,
                                  const uint8_t* digests = nullptr);

enum class HeaderSearch : uint8_t { Found, NotFound, Several };

// Looks for the header block (marker and PACKAGE_KEY with 26 bytes after
// them) anywhere in `image`. Exactly one must be there to be Found.
HeaderSearch FindPackageHeader(const uint8_t* image, size_t size, size_t* offset);

// Writes `header` over the one header block of `image` (marker and key are
// kept as they are). Returns what the search found; the image is changed
// only when it is Found.
HeaderSearch StampPackageHeader(std::vector<uint8_t>* image, const PackageHeader& header);

}  // namespace zv
