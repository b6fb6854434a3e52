#include "package/table_writer.h"

#include <cstring>

#include "package/integrity.h"
#include "platform/bytes.h"

namespace zv {

const char* TableBuildErrorName(TableBuildError error) {
    switch (error) {
    case TableBuildError::None: return "none";
    case TableBuildError::TooManyEntries: return "more than 65535 entries";
    case TableBuildError::EmptyPieceList: return "entry without data pieces";
    case TableBuildError::BadPiece: return "piece with volume 0 or length 0";
    case TableBuildError::NameHasZero: return "name holds a zero byte";
    case TableBuildError::RecordTooLong: return "record longer than 65535 bytes";
    case TableBuildError::RegionTooSmall: return "records do not fit the table region";
    }
    return "unknown error";
}

static TableBuildError CheckEntry(const EntryDescription& e) {
    if (e.pieces.empty()) return TableBuildError::EmptyPieceList;
    for (const PackagePiece& p : e.pieces) {
        if (p.volume == 0 || p.length == 0) return TableBuildError::BadPiece;
    }
    if (e.name.find('\0') != std::string::npos) return TableBuildError::NameHasZero;
    if (e.name.size() > 0xFFFF) return TableBuildError::RecordTooLong;
    uint32_t length = PackageRecordLength(static_cast<uint32_t>(e.name.size()),
                                          (e.flags & ENTRY_HAS_VERSION) != 0,
                                          static_cast<uint32_t>(e.pieces.size()));
    if (e.pieces.size() > 0xFFFF || length > 0xFFFF) return TableBuildError::RecordTooLong;
    return TableBuildError::None;
}

TableBuildError BuildPackageTable(const std::vector<EntryDescription>& entries, uint32_t regionSize,
                                  std::vector<uint8_t>* table, size_t* failedEntry, const uint8_t* digests) {
    table->clear();
    if (entries.size() > 0xFFFF) return TableBuildError::TooManyEntries;
    for (size_t i = 0; i < entries.size(); ++i) {
        const EntryDescription& e = entries[i];
        TableBuildError error = CheckEntry(e);
        if (error != TableBuildError::None) {
            if (failedEntry) *failedEntry = i;
            table->clear();
            return error;
        }
        bool hasVersion = (e.flags & ENTRY_HAS_VERSION) != 0;
        uint32_t length = PackageRecordLength(static_cast<uint32_t>(e.name.size()), hasVersion,
                                              static_cast<uint32_t>(e.pieces.size()));
        size_t start = table->size();
        table->resize(start + length, 0);
        uint8_t* r = table->data() + start;
        StoreU16LE(r, static_cast<uint16_t>(length));
        StoreU16LE(r + 2, e.flags);
        StoreU16LE(r + 4, e.sizeKB);
        std::memcpy(r + 6, e.name.data(), e.name.size());  // zero and reserved byte follow
        uint8_t* p = r + 8 + e.name.size();
        if (hasVersion) {
            StoreU32LE(p, e.version.high);
            StoreU32LE(p + 4, e.version.low);
            p += 8;
        }
        for (const PackagePiece& piece : e.pieces) {
            StoreU16LE(p, piece.volume);
            StoreU32LE(p + 2, piece.offset);
            StoreU32LE(p + 6, piece.length);
            p += PACKAGE_PIECE_SIZE;
        }
        // The terminator's two zero bytes are already there.
    }
    if (digests != nullptr) {
        const size_t start = table->size();
        table->resize(start + IntegrityBlockSize(static_cast<uint32_t>(entries.size())), 0);
        WriteIntegrityBlock(digests, static_cast<uint16_t>(entries.size()), table->data() + start);
    }
    if (regionSize != 0) {
        if (table->size() > regionSize) {
            if (failedEntry) *failedEntry = entries.size();
            table->clear();
            return TableBuildError::RegionTooSmall;
        }
        table->resize(regionSize, 0);
    }
    return TableBuildError::None;
}

HeaderSearch FindPackageHeader(const uint8_t* image, size_t size, size_t* offset) {
    HeaderSearch result = HeaderSearch::NotFound;
    for (size_t p = 0; p + PACKAGE_HEADER_SIZE <= size; ++p) {
        if (LoadU16LE(image + p) != PACKAGE_MARKER || LoadU32LE(image + p + 2) != PACKAGE_KEY) {
            continue;
        }
        if (result == HeaderSearch::Found) return HeaderSearch::Several;
        result = HeaderSearch::Found;
        *offset = p;
    }
    return result;
}

HeaderSearch StampPackageHeader(std::vector<uint8_t>* image, const PackageHeader& header) {
    size_t offset = 0;
    HeaderSearch found = FindPackageHeader(image->data(), image->size(), &offset);
    if (found != HeaderSearch::Found) return found;
    PackageHeader stamped = header;
    stamped.marker = PACKAGE_MARKER;
    stamped.key = PACKAGE_KEY;
    EncodePackageHeader(stamped, image->data() + offset);
    return found;
}

}  // namespace zv
