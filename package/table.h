// Reading the file table: loading it from the program file, checking it, and
// walking its records.
//
// A table is walked only after CheckPackageTable has found every one of its
// entryCount records whole inside the region: the length, the name's zero, the
// version and the piece list up to its end. The accessors below do no checks
// of their own and must only be used on records of a checked table.
#pragma once

#include <cstdint>

#include "package/format.h"
#include "package/integrity.h"
#include "package/member_name.h"
#include "platform/platform.h"

namespace zv {

// A record of a checked table.
struct PackageEntry {
    const uint8_t* record = nullptr;
};

uint16_t EntryRecordLength(PackageEntry entry);
uint16_t EntryFlags(PackageEntry entry);
uint16_t EntrySizeKB(PackageEntry entry);
// The most bytes the member may expand to: its size in KB times 1024, or no
// bound (UINT32_MAX) when the field holds its largest value, 65535, which
// stands for any larger size too.
uint32_t EntrySizeLimit(PackageEntry entry);
const char* EntryName(PackageEntry entry);
bool EntryHasVersion(PackageEntry entry);
// The member's own version; only meaningful when EntryHasVersion.
ProductVersion EntryVersion(PackageEntry entry);
// The first piece descriptor of the record.
const uint8_t* EntryPieces(PackageEntry entry);
// The record that begins recordLength bytes after `entry`.
PackageEntry NextPackageEntry(PackageEntry entry);
// The same step over a region's offsets: its records lie one after another,
// each beginning with its own length (u16), so the record after the one at
// `offset` begins at offset + that length. Every walk over a region's
// records (its check, the names' check, the integrity block's search) takes it.
uint32_t NextRecordOffset(const uint8_t* region, uint32_t offset);
// Decodes the descriptor at `piece`. For the terminating descriptor only the
// volume (0) is read; length is then reported as 0.
PackagePiece ReadPackagePiece(const uint8_t* piece);
// True when `piece` ends the list (volume 0 or length 0).
bool IsLastPiece(const PackagePiece& piece);
// The member's compressed bytes in all: the lengths of its pieces, summed.
uint64_t EntryPackedSize(PackageEntry entry);

// What is wrong with a damaged table; each has a name for messages.
enum class TableDamage : uint8_t {
    None,
    RecordHeaderPastRegion,  // the record's 6 fixed bytes run past the region
    RecordTooShort,          // recordLength below the smallest possible record
    RecordPastRegion,        // recordLength runs past the region
    NameUnterminated,        // no zero ends the name inside the record
    VersionPastRecord,       // reserved byte or version field past the record
    PiecesUnterminated,      // no terminator ends the piece list inside the record
    MemberName,              // the record is whole, but its name is refused (see nameProblem)
    IntegrityBlock,          // the integrity block behind the records is damaged (see integrity)
};
const char* TableDamageName(TableDamage damage);

struct TableCheck {
    TableDamage damage = TableDamage::None;
    uint32_t entryIndex = 0;  // the damaged record, counted from 0 (entryCount for the integrity block)
    uint32_t offset = 0;      // its offset in the region
    // MemberName: what is wrong with the name, and for a duplicate the
    // earlier record of the same name.
    MemberNameProblem nameProblem = MemberNameProblem::None;
    uint32_t earlierIndex = 0;
    // IntegrityBlock: what is wrong with it.
    IntegrityDamage integrity = IntegrityDamage::None;
};

// Checks the first `entryCount` records of the region: that each is whole
// inside it. Names are not looked at here (CheckTableNames).
TableCheck CheckPackageTable(const uint8_t* bytes, uint32_t size, uint32_t entryCount);

// Checks the names of the `entryCount` records of a region that
// CheckPackageTable found whole, with the one member name check; duplicates
// by the case rules of code page `codePage`, the package language's
// (LanguageCodePage). `scratch`
// is room for entryCount pointers and entryCount indexes
// (TableNamesScratchSize). Returns damage MemberName or None.
uint32_t TableNamesScratchSize(uint32_t entryCount);
TableCheck CheckTableNames(const uint8_t* bytes, uint32_t entryCount, uint16_t codePage, void* scratch);

// How far loading the table got.
enum class TableStatus : uint8_t {
    NotLoaded,   // nothing tried yet
    Loaded,      // read whole and checked: it may be walked
    OpenFailed,  // the program file could not be opened
    NoMemory,    // no block for the table
    ReadFailed,  // the seek failed, or fewer than tableSize bytes were read
    Damaged,     // read whole, but its records do not fit the region, or the
                 // integrity block behind them is damaged
    // Read whole and every record fits, but a member's name is refused (see
    // check): the records may be walked to show them, never to install them.
    NamesRefused,
};
const char* TableStatusName(TableStatus status);
// True when the records may be walked (to show them): Loaded or NamesRefused.
// Only a Loaded table may be installed.
inline bool TableCanBeWalked(TableStatus status) {
    return status == TableStatus::Loaded || status == TableStatus::NamesRefused;
}

struct PackageTable {
    BlockHandle block = 0;
    const uint8_t* bytes = nullptr;
    uint32_t size = 0;
    uint16_t entryCount = 0;
    TableStatus status = TableStatus::NotLoaded;
    TableCheck check;
};

// Reads header.tableSize bytes at header.tableOffset of `path` into a block of
// its own and checks its records, the integrity block behind them (a damaged
// one makes the table Damaged; none at all is as sound as ever) and the
// records' names (in the code page of header.language). The file is closed
// on every path. On any status but Loaded and NamesRefused the table holds no
// block and must not be walked.
TableStatus LoadPackageTable(Platform& os, const char* path, const PackageHeader& header,
                             PackageTable* table);
void FreePackageTable(Platform& os, PackageTable* table);

// The first record of a loaded table.
inline PackageEntry FirstPackageEntry(const PackageTable& table) { return PackageEntry{table.bytes}; }

}  // namespace zv
