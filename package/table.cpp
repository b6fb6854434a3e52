#include "package/table.h"

#include <cstring>

#include "platform/bytes.h"
#include "platform/code_page.h"

namespace zv {

PackageHeader DecodePackageHeader(const uint8_t* bytes) {
    PackageHeader h;
    h.marker = LoadU16LE(bytes + 0);
    h.key = LoadU32LE(bytes + 2);
    h.entryCount = LoadU16LE(bytes + 6);
    h.tableOffset = LoadU32LE(bytes + 8);
    h.tableSize = LoadU32LE(bytes + 12);
    h.dataOffset = LoadU32LE(bytes + 16);
    h.version.high = LoadU32LE(bytes + 20);
    h.version.low = LoadU32LE(bytes + 24);
    h.language = LoadU32LE(bytes + 28);
    return h;
}

void EncodePackageHeader(const PackageHeader& h, uint8_t* bytes) {
    StoreU16LE(bytes + 0, h.marker);
    StoreU32LE(bytes + 2, h.key);
    StoreU16LE(bytes + 6, h.entryCount);
    StoreU32LE(bytes + 8, h.tableOffset);
    StoreU32LE(bytes + 12, h.tableSize);
    StoreU32LE(bytes + 16, h.dataOffset);
    StoreU32LE(bytes + 20, h.version.high);
    StoreU32LE(bytes + 24, h.version.low);
    StoreU32LE(bytes + 28, h.language);
}

uint32_t PackageRecordLength(uint32_t nameLength, bool hasVersion, uint32_t pieceCount) {
    return PACKAGE_ENTRY_FIXED_SIZE + (nameLength + 1) + 1 + (hasVersion ? 8 : 0) +
           PACKAGE_PIECE_SIZE * pieceCount + PACKAGE_TERMINATOR_SIZE;
}

uint16_t EntryRecordLength(PackageEntry e) { return LoadU16LE(e.record); }
uint16_t EntryFlags(PackageEntry e) { return LoadU16LE(e.record + 2); }
uint16_t EntrySizeKB(PackageEntry e) { return LoadU16LE(e.record + 4); }
uint32_t EntrySizeLimit(PackageEntry e) {
    const uint32_t kb = EntrySizeKB(e);
    return kb == 0xFFFF ? UINT32_MAX : kb * 1024u;
}
const char* EntryName(PackageEntry e) { return reinterpret_cast<const char*>(e.record + 6); }
bool EntryHasVersion(PackageEntry e) { return (EntryFlags(e) & ENTRY_HAS_VERSION) != 0; }

static uint32_t VersionOffset(PackageEntry e) {
    return 8 + static_cast<uint32_t>(std::strlen(EntryName(e)));
}

ProductVersion EntryVersion(PackageEntry e) {
    const uint8_t* v = e.record + VersionOffset(e);
    return ProductVersion{LoadU32LE(v), LoadU32LE(v + 4)};
}

const uint8_t* EntryPieces(PackageEntry e) {
    return e.record + VersionOffset(e) + (EntryHasVersion(e) ? 8 : 0);
}

PackageEntry NextPackageEntry(PackageEntry e) {
    return PackageEntry{e.record + EntryRecordLength(e)};
}

uint32_t NextRecordOffset(const uint8_t* region, uint32_t offset) { return offset + LoadU16LE(region + offset); }

PackagePiece ReadPackagePiece(const uint8_t* p) {
    PackagePiece piece{LoadU16LE(p), 0, 0};
    if (piece.volume != 0) {
        piece.offset = LoadU32LE(p + 2);
        piece.length = LoadU32LE(p + 6);
    }
    return piece;
}

bool IsLastPiece(const PackagePiece& piece) { return piece.volume == 0 || piece.length == 0; }

uint64_t EntryPackedSize(PackageEntry entry) {
    uint64_t size = 0;
    for (const uint8_t* p = EntryPieces(entry);; p += PACKAGE_PIECE_SIZE) {
        const PackagePiece piece = ReadPackagePiece(p);
        if (IsLastPiece(piece)) return size;
        size += piece.length;
    }
}

const char* TableDamageName(TableDamage damage) {
    switch (damage) {
    case TableDamage::None: return "none";
    case TableDamage::RecordHeaderPastRegion: return "record header runs past the table region";
    case TableDamage::RecordTooShort: return "record length too small";
    case TableDamage::RecordPastRegion: return "record runs past the table region";
    case TableDamage::NameUnterminated: return "name not terminated inside its record";
    case TableDamage::VersionPastRecord: return "version runs past its record";
    case TableDamage::PiecesUnterminated: return "piece list not terminated inside its record";
    case TableDamage::MemberName: return "member name refused";
    case TableDamage::IntegrityBlock: return "integrity block damaged";
    }
    return "unknown damage";
}

// Checks one record at `offset` of a region of `size` bytes.
static TableDamage CheckRecord(const uint8_t* bytes, uint32_t size, uint32_t offset) {
    if (size - offset < PACKAGE_ENTRY_FIXED_SIZE) return TableDamage::RecordHeaderPastRegion;
    const uint8_t* record = bytes + offset;
    uint32_t length = LoadU16LE(record);
    // An empty name, the reserved byte and a bare terminator.
    if (length < PackageRecordLength(0, false, 0)) return TableDamage::RecordTooShort;
    if (length > size - offset) return TableDamage::RecordPastRegion;

    const void* zero = std::memchr(record + 6, 0, length - 6);
    if (zero == nullptr) return TableDamage::NameUnterminated;
    uint32_t nameEnd = static_cast<uint32_t>(static_cast<const uint8_t*>(zero) - record);
    uint32_t pieces = nameEnd + 2;  // past the zero and the reserved byte
    if ((LoadU16LE(record + 2) & ENTRY_HAS_VERSION) != 0) pieces += 8;
    if (pieces > length) return TableDamage::VersionPastRecord;

    for (uint32_t p = pieces;; p += PACKAGE_PIECE_SIZE) {
        if (length - p < PACKAGE_TERMINATOR_SIZE) return TableDamage::PiecesUnterminated;
        if (LoadU16LE(record + p) == 0) return TableDamage::None;
        if (length - p < PACKAGE_PIECE_SIZE) return TableDamage::PiecesUnterminated;
        if (LoadU32LE(record + p + 6) == 0) return TableDamage::None;
    }
}

TableCheck CheckPackageTable(const uint8_t* bytes, uint32_t size, uint32_t entryCount) {
    TableCheck check;
    uint32_t offset = 0;
    for (uint32_t i = 0; i < entryCount; ++i) {
        TableDamage damage = CheckRecord(bytes, size, offset);
        if (damage != TableDamage::None) {
            check.damage = damage;
            check.entryIndex = i;
            check.offset = offset;
            return check;
        }
        offset = NextRecordOffset(bytes, offset);
    }
    return check;
}

uint32_t TableNamesScratchSize(uint32_t entryCount) {
    return entryCount * static_cast<uint32_t>(sizeof(const char*) + sizeof(uint32_t));
}

TableCheck CheckTableNames(const uint8_t* bytes, uint32_t entryCount, uint16_t codePage, void* scratch) {
    const char** names = static_cast<const char**>(scratch);
    uint32_t* order = reinterpret_cast<uint32_t*>(names + entryCount);
    uint32_t offset = 0;
    for (uint32_t i = 0; i < entryCount; ++i) {
        names[i] = reinterpret_cast<const char*>(bytes + offset + PACKAGE_ENTRY_FIXED_SIZE);
        offset = NextRecordOffset(bytes, offset);
    }
    const MemberNamesCheck found = CheckMemberNames(names, entryCount, codePage, order);
    TableCheck check;
    if (found.problem == MemberNameProblem::None) return check;
    check.damage = TableDamage::MemberName;
    check.entryIndex = found.index;
    check.nameProblem = found.problem;
    check.earlierIndex = found.earlier;
    offset = 0;
    for (uint32_t i = 0; i < found.index; ++i) offset = NextRecordOffset(bytes, offset);
    check.offset = offset;
    return check;
}

const char* TableStatusName(TableStatus status) {
    switch (status) {
    case TableStatus::NotLoaded: return "not loaded";
    case TableStatus::Loaded: return "loaded";
    case TableStatus::OpenFailed: return "program file could not be opened";
    case TableStatus::NoMemory: return "no memory for the table";
    case TableStatus::ReadFailed: return "table could not be read whole";
    case TableStatus::Damaged: return "table is damaged";
    case TableStatus::NamesRefused: return "a member's name is refused";
    }
    return "unknown status";
}

static TableStatus ReadTable(Platform& os, FileHandle file, const PackageHeader& header,
                             PackageTable* table) {
    if (header.tableSize == 0 || header.tableSize > 0x7FFFFFFFu) {
        return header.entryCount == 0 && header.tableSize == 0 ? TableStatus::Loaded
                                                               : TableStatus::Damaged;
    }
    if (header.tableOffset > 0x7FFFFFFFu ||
        os.Seek(file, static_cast<int32_t>(header.tableOffset), SeekOrigin::Begin) !=
            static_cast<int32_t>(header.tableOffset)) {
        return TableStatus::ReadFailed;
    }
    void* address = AllocGlobalBlock(os, header.tableSize, &table->block);
    if (address == nullptr) return TableStatus::NoMemory;
    uint8_t* bytes = static_cast<uint8_t*>(address);
    uint32_t got = 0;
    while (got < header.tableSize) {
        int32_t n = os.Read(file, bytes + got, header.tableSize - got);
        if (n <= 0) return TableStatus::ReadFailed;
        got += static_cast<uint32_t>(n);
    }
    table->bytes = bytes;
    table->size = header.tableSize;
    table->check = CheckPackageTable(bytes, header.tableSize, header.entryCount);
    if (table->check.damage != TableDamage::None) return TableStatus::Damaged;
    // Behind the records: no integrity block is fine (an older packer), a
    // damaged one means the region is not what the packer wrote.
    PackageIntegrity integrity;
    if (ReadIntegrityBlock(bytes, header.tableSize, header.entryCount, &integrity) == IntegrityStatus::Damaged) {
        table->check.damage = TableDamage::IntegrityBlock;
        table->check.entryIndex = header.entryCount;
        table->check.offset = integrity.offset;
        table->check.integrity = integrity.damage;
        return TableStatus::Damaged;
    }

    BlockHandle scratchBlock = 0;
    void* scratch = AllocGlobalBlock(os, TableNamesScratchSize(header.entryCount), &scratchBlock);
    if (scratch == nullptr && header.entryCount != 0) return TableStatus::NoMemory;
    table->check = CheckTableNames(bytes, header.entryCount, LanguageCodePage(header.language), scratch);
    FreeGlobalBlock(os, &scratchBlock);
    return table->check.damage == TableDamage::None ? TableStatus::Loaded : TableStatus::NamesRefused;
}

TableStatus LoadPackageTable(Platform& os, const char* path, const PackageHeader& header,
                             PackageTable* table) {
    *table = PackageTable{};
    FileHandle file = os.Open(path, OpenMode::Read);
    if (file == kNoFile) {
        table->status = TableStatus::OpenFailed;
        return table->status;
    }
    table->status = ReadTable(os, file, header, table);
    os.Close(file);
    if (TableCanBeWalked(table->status)) {
        table->entryCount = header.entryCount;
    } else {
        TableCheck check = table->check;
        FreePackageTable(os, table);
        table->check = check;
    }
    return table->status;
}

void FreePackageTable(Platform& os, PackageTable* table) {
    TableStatus status = table->status;
    FreeGlobalBlock(os, &table->block);
    *table = PackageTable{};
    table->status = status;
}

}  // namespace zv
