#include "package/integrity.h"

#include <cstddef>
#include <cstring>

#include "package/format.h"
#include "package/table.h"
#include "platform/bytes.h"

namespace zv {

const char* IntegrityStatusName(IntegrityStatus status) {
    switch (status) {
    case IntegrityStatus::Absent: return "no integrity data";
    case IntegrityStatus::Present: return "integrity data present";
    case IntegrityStatus::Damaged: return "integrity data damaged";
    }
    return "unknown status";
}

const char* IntegrityDamageName(IntegrityDamage damage) {
    switch (damage) {
    case IntegrityDamage::None: return "none";
    case IntegrityDamage::PastRegion: return "integrity block runs past the table region";
    case IntegrityDamage::ChecksumWrong: return "integrity block checksum wrong";
    case IntegrityDamage::VersionUnknown: return "integrity block version unknown";
    case IntegrityDamage::CountWrong: return "integrity block member count differs from the table";
    case IntegrityDamage::SizeWrong: return "integrity block size wrong for its member count";
    case IntegrityDamage::RecordsPastRegion: return "table records run past the table region";
    }
    return "unknown damage";
}

uint32_t IntegrityBlockSize(uint32_t memberCount) {
    return INTEGRITY_FIXED_SIZE + INTEGRITY_DIGEST_SIZE * memberCount + INTEGRITY_CHECKSUM_SIZE;
}

uint32_t IntegrityChecksum(const uint8_t* bytes, uint32_t size) { return Crc32(bytes, size); }

void WriteIntegrityBlock(const uint8_t* digests, uint16_t memberCount, uint8_t* out) {
    const uint32_t size = IntegrityBlockSize(memberCount);
    StoreU32LE(out, INTEGRITY_MAGIC);
    StoreU16LE(out + 4, INTEGRITY_VERSION);
    StoreU16LE(out + 6, memberCount);
    StoreU32LE(out + 8, size);
    for (uint32_t i = 0; i < INTEGRITY_DIGEST_SIZE * memberCount; ++i) out[INTEGRITY_FIXED_SIZE + i] = digests[i];
    const uint32_t checked = size - INTEGRITY_CHECKSUM_SIZE;
    StoreU32LE(out + checked, IntegrityChecksum(out, checked));
}

bool TableRecordsEnd(const uint8_t* bytes, uint32_t size, uint32_t entryCount, uint32_t* end) {
    uint32_t offset = 0;
    for (uint32_t i = 0; i < entryCount; ++i) {
        if (size - offset < 2) return false;
        const uint32_t length = LoadU16LE(bytes + offset);
        if (length < PACKAGE_ENTRY_FIXED_SIZE || length > size - offset) return false;
        offset = NextRecordOffset(bytes, offset);
    }
    *end = offset;
    return true;
}

static IntegrityStatus Damaged(PackageIntegrity* integrity, IntegrityDamage damage) {
    integrity->status = IntegrityStatus::Damaged;
    integrity->damage = damage;
    integrity->memberCount = 0;
    integrity->digests = nullptr;
    return integrity->status;
}

IntegrityStatus ReadIntegrityBlock(const uint8_t* bytes, uint32_t size, uint32_t entryCount,
                                   PackageIntegrity* integrity) {
    *integrity = PackageIntegrity{};
    uint32_t offset = 0;
    if (!TableRecordsEnd(bytes, size, entryCount, &offset)) {
        return Damaged(integrity, IntegrityDamage::RecordsPastRegion);
    }
    integrity->offset = offset;
    const uint32_t room = size - offset;
    if (room < 4 || LoadU32LE(bytes + offset) != INTEGRITY_MAGIC) return IntegrityStatus::Absent;

    const uint8_t* block = bytes + offset;
    if (room < INTEGRITY_FIXED_SIZE) return Damaged(integrity, IntegrityDamage::PastRegion);
    const uint32_t blockSize = LoadU32LE(block + 8);
    if (blockSize > room) return Damaged(integrity, IntegrityDamage::PastRegion);
    if (blockSize < INTEGRITY_FIXED_SIZE + INTEGRITY_CHECKSUM_SIZE) {
        return Damaged(integrity, IntegrityDamage::SizeWrong);
    }
    const uint32_t checked = blockSize - INTEGRITY_CHECKSUM_SIZE;
    if (IntegrityChecksum(block, checked) != LoadU32LE(block + checked)) {
        return Damaged(integrity, IntegrityDamage::ChecksumWrong);
    }
    const uint16_t version = LoadU16LE(block + 4);
    integrity->version = version;
    if (version == 0) return Damaged(integrity, IntegrityDamage::VersionUnknown);
    // A newer packer's block: sound, but its layout is not known here.
    if (version > INTEGRITY_VERSION) return IntegrityStatus::Absent;

    const uint32_t count = LoadU16LE(block + 6);
    if (count != entryCount) return Damaged(integrity, IntegrityDamage::CountWrong);
    if (blockSize != IntegrityBlockSize(count)) return Damaged(integrity, IntegrityDamage::SizeWrong);
    integrity->status = IntegrityStatus::Present;
    integrity->memberCount = count;
    integrity->digests = block + INTEGRITY_FIXED_SIZE;
    return integrity->status;
}

IntegrityStatus ReadPackageIntegrity(const PackageTable& table, PackageIntegrity* integrity) {
    if (table.bytes == nullptr || !TableCanBeWalked(table.status)) {
        *integrity = PackageIntegrity{};
        return integrity->status;
    }
    return ReadIntegrityBlock(table.bytes, table.size, table.entryCount, integrity);
}

const uint8_t* MemberDigest(const PackageIntegrity& integrity, uint32_t index) {
    if (integrity.status != IntegrityStatus::Present || integrity.digests == nullptr ||
        index >= integrity.memberCount) {
        return nullptr;
    }
    return integrity.digests + static_cast<size_t>(index) * INTEGRITY_DIGEST_SIZE;
}

void BeginMemberDigestCheck(MemberDigestCheck* check, const uint8_t* expected) {
    check->expected = expected;
    check->status = expected != nullptr ? Sha256Begin(&check->hash) : Sha256Status::Ok;
    check->differs = false;
}

void TakeMemberBytes(MemberDigestCheck* check, const uint8_t* bytes, uint32_t count) {
    if (check->expected != nullptr && check->status == Sha256Status::Ok) {
        check->status = Sha256Update(&check->hash, bytes, count);
    }
}

void EndMemberDigestCheck(MemberDigestCheck* check) {
    uint8_t digest[SHA256_DIGEST_SIZE] = {};
    if (check->expected != nullptr && check->status == Sha256Status::Ok) {
        check->status = Sha256Finish(&check->hash, digest);
    }
    Sha256Abandon(&check->hash);
    check->differs = check->expected != nullptr && check->status == Sha256Status::Ok &&
                     std::memcmp(digest, check->expected, SHA256_DIGEST_SIZE) != 0;
}

const char* PackageTrustName(PackageTrust trust) {
    switch (trust) {
    case PackageTrust::Unsigned: return "unsigned";
    case PackageTrust::Bound: return "signed, every member bound to the signature";
    case PackageTrust::CannotTell: return "signed, the signature cannot be checked, the members bound to it";
    case PackageTrust::SignatureBroken: return "signed, the signature does not hold";
    case PackageTrust::Unbound: return "signed, without integrity data this updater reads";
    case PackageTrust::TableUnread: return "signed, the table could not be read";
    }
    return "unknown";
}

PackageTrust DecidePackageTrust(Platform::SignatureState signature, const PackageIntegrity& integrity) {
    switch (signature) {
    case Platform::SignatureState::Unsigned: return PackageTrust::Unsigned;
    case Platform::SignatureState::Broken: return PackageTrust::SignatureBroken;
    case Platform::SignatureState::Sound:
    case Platform::SignatureState::CannotTell: break;
    }
    // A newer packer's block reads as Absent: its digests cannot be checked
    // here, so it binds nothing either.
    if (integrity.status != IntegrityStatus::Present) return PackageTrust::Unbound;
    return signature == Platform::SignatureState::Sound ? PackageTrust::Bound : PackageTrust::CannotTell;
}

bool PackageTrustAllows(PackageTrust trust) {
    return trust != PackageTrust::SignatureBroken && trust != PackageTrust::Unbound;
}

PackageTrust CheckPackageTrust(Platform& os, const char* path, const PackageHeader& header,
                               Platform::SignatureState* signature, uint32_t* systemResult) {
    *signature = os.OwnSignature(systemResult);
    if (*signature == Platform::SignatureState::Unsigned || *signature == Platform::SignatureState::Broken) {
        return DecidePackageTrust(*signature, PackageIntegrity{});
    }
    PackageTable table;
    LoadPackageTable(os, path, header, &table);
    PackageTrust trust = PackageTrust::TableUnread;
    if (TableCanBeWalked(table.status)) {
        PackageIntegrity integrity;
        ReadPackageIntegrity(table, &integrity);
        trust = DecidePackageTrust(*signature, integrity);
    }
    FreePackageTable(os, &table);
    return trust;
}

}  // namespace zv
