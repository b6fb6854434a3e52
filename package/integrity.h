// The integrity block of a package: the SHA-256 of every member's expanded
// bytes, kept in the file table region behind the last record.
//
// Readers of the table walk exactly entryCount records and never look at the
// bytes behind them, which older packers left zero; the packer now writes
// this block there (and makes the region large enough for it):
//
//   0   u32  magic        INTEGRITY_MAGIC, the bytes "ZVIB"
//   4   u16  version      INTEGRITY_VERSION (1)
//   6   u16  memberCount  entryCount of the header
//   8   u32  blockSize    the whole block, checksum included
//                         (version 1: 16 + 32 * memberCount)
//   12  32 * memberCount  the SHA-256 of each member's expanded bytes (exactly
//                         what the decoder writes for it), in table order,
//                         ignored entries included
//   blockSize - 4  u32    checksum: CRC-32 (the reflected polynomial
//                         0xEDB88320, start and final value 0xFFFFFFFF, as
//                         zip uses) of the block's bytes before it
//
// Zero bytes may follow the block up to the region's end. All fields are
// little-endian.
//
// How the bytes behind the records are read:
//   - no magic there (zero bytes, as older packers wrote): Absent; the
//     package loads and installs as it always did;
//   - the magic, a block that fits the region, a sound checksum, version 1,
//     the table's count and the size that count gives: Present;
//   - the magic, a sound checksum and a version above 1: Absent (the data of
//     a newer packer, whose layout this reader does not know; the version is
//     kept in PackageIntegrity so tools can say so);
//   - the magic and anything else (the block runs past the region, its size
//     or count is wrong, version 0, a wrong checksum): Damaged. A table load
//     reports this as a damaged table (TableDamage::IntegrityBlock).
// The checksum is tested before the version and count, so a newer block is
// told from a damaged one only when its bytes are sound.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "platform/sha256.h"

namespace zv {

struct PackageTable;
struct PackageHeader;

constexpr uint32_t INTEGRITY_MAGIC = 0x4249565A;  // "ZVIB" as stored
constexpr uint16_t INTEGRITY_VERSION = 1;
constexpr uint32_t INTEGRITY_DIGEST_SIZE = 32;     // SHA-256
constexpr uint32_t INTEGRITY_FIXED_SIZE = 12;      // magic, version, count, size
constexpr uint32_t INTEGRITY_CHECKSUM_SIZE = 4;

enum class IntegrityStatus : uint8_t {
    Absent,   // no block (or a newer packer's block; see version)
    Present,  // a sound block of this version: every member has its digest
    Damaged,  // the magic is there but the block is not sound (see damage)
};
const char* IntegrityStatusName(IntegrityStatus status);

enum class IntegrityDamage : uint8_t {
    None,
    PastRegion,      // the fixed fields or blockSize run past the table region
    ChecksumWrong,   // the block's bytes do not give its checksum
    VersionUnknown,  // version 0, which no packer writes
    CountWrong,      // memberCount is not the table's entryCount
    SizeWrong,       // blockSize is not what memberCount gives
    RecordsPastRegion,  // the records themselves do not fit (table not checked)
};
const char* IntegrityDamageName(IntegrityDamage damage);

struct PackageIntegrity {
    IntegrityStatus status = IntegrityStatus::Absent;
    IntegrityDamage damage = IntegrityDamage::None;
    uint32_t offset = 0;       // where the block starts in the region (the records' end)
    uint16_t version = 0;      // the block's version, when its checksum is sound
    uint32_t memberCount = 0;  // Present: entryCount
    const uint8_t* digests = nullptr;  // Present: memberCount digests, into the region
};

// The bytes of a version 1 block for `memberCount` members.
uint32_t IntegrityBlockSize(uint32_t memberCount);

// Writes a version 1 block for `memberCount` members, whose digests lie back
// to back at `digests`, into `out` (IntegrityBlockSize(memberCount) bytes).
void WriteIntegrityBlock(const uint8_t* digests, uint16_t memberCount, uint8_t* out);

// CRC-32 of `size` bytes, the block's checksum.
uint32_t IntegrityChecksum(const uint8_t* bytes, uint32_t size);

// Finds the end of the first `entryCount` records of a region of `size`
// bytes, checking that each record's length fits it. False when one does not.
bool TableRecordsEnd(const uint8_t* bytes, uint32_t size, uint32_t entryCount, uint32_t* end);

// Reads the block behind the first `entryCount` records of a region of
// `size` bytes. Bounds-safe on any bytes. *integrity is filled in on every
// status; its digests point into `bytes`.
IntegrityStatus ReadIntegrityBlock(const uint8_t* bytes, uint32_t size, uint32_t entryCount,
                                   PackageIntegrity* integrity);

// The same for a loaded table (one that may be walked); a table that holds no
// bytes has no block (Absent).
IntegrityStatus ReadPackageIntegrity(const PackageTable& table, PackageIntegrity* integrity);

// The SHA-256 of member `index` (table order), or nullptr when the block is
// not Present or the index is out of range.
const uint8_t* MemberDigest(const PackageIntegrity& integrity, uint32_t index);

// The check of a member's bytes, as they are expanded, against its digest
// (MemberDigest): Begin, Take for each piece the decoder writes, then End.
// With no digest to compare (nullptr) nothing is hashed and nothing can
// fail. A failure of the hashing stops it and stays in `status`; End
// releases the context whatever happened.
struct MemberDigestCheck {
    const uint8_t* expected = nullptr;
    Sha256Context hash;
    Sha256Status status = Sha256Status::Ok;
    bool differs = false;  // after End: hashed, and not the expected digest
};
void BeginMemberDigestCheck(MemberDigestCheck* check, const uint8_t* expected);
void TakeMemberBytes(MemberDigestCheck* check, const uint8_t* bytes, uint32_t count);
void EndMemberDigestCheck(MemberDigestCheck* check);

// --- A signed package ---------------------------------------------------------
// The signature of volume 1 covers the table and so this block, but not the
// members on later volumes; only their digests bind those to it. So a signed
// package is taken only with a block this reader knows: without one (none,
// or a newer packer's), what it would install would be checked by nothing
// the signer vouched for. An unsigned package is taken as it always was.

enum class PackageTrust : uint8_t {
    Unsigned,         // no signature: the package is taken as it always was
    Bound,            // signed, and its integrity data binds every member to the signature
    CannotTell,       // signed, the system cannot check the signature, and the integrity data is there
    SignatureBroken,  // the signature does not hold over the file: refused as damaged
    Unbound,          // signed, but no integrity data this updater reads: refused
    TableUnread,      // signed, but the table could not be read here (the package's
                      // own check, when it is read for the update, says why)
};
const char* PackageTrustName(PackageTrust trust);

// The decision on a package from its signature's state and its integrity
// data (`integrity` is not looked at for an unsigned or broken one).
PackageTrust DecidePackageTrust(Platform::SignatureState signature, const PackageIntegrity& integrity);

// True when the updater may go on with the package.
bool PackageTrustAllows(PackageTrust trust);

// The updater's check at start: its own signature (the platform's trust
// service), then, for a signed file, the integrity data of the table that
// `header` places in the file at `path`. *signature and *systemResult say
// what the trust service said.
PackageTrust CheckPackageTrust(Platform& os, const char* path, const PackageHeader& header,
                               Platform::SignatureState* signature, uint32_t* systemResult);

}  // namespace zv
