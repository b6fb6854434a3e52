// The integrity block reader on any bytes: the first two bytes are the entry
// count, the rest is the table region. Whatever the bytes, the reader stays
// inside the region; a Present block gives a digest for every member and
// none past them, and lies whole behind the records inside the region; a
// block that is written again from the digests read reads back the same.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "package/integrity.h"
#include "package/table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint32_t count = static_cast<uint32_t>(data[0] | (data[1] << 8));
    // The region gets a buffer of its own, so reading past it is caught.
    const size_t regionSize = size - 2;
    std::vector<uint8_t> region(data + 2, data + size);
    const uint32_t regionBytes = static_cast<uint32_t>(regionSize);

    zv::PackageIntegrity integrity;
    const zv::IntegrityStatus status = zv::ReadIntegrityBlock(region.data(), regionBytes, count, &integrity);
    zvfuzz::Check(integrity.status == status);
    zvfuzz::Check(zv::IntegrityStatusName(status) != nullptr);
    zvfuzz::Check(zv::IntegrityDamageName(integrity.damage) != nullptr);
    zvfuzz::Check((status == zv::IntegrityStatus::Damaged) == (integrity.damage != zv::IntegrityDamage::None));
    zvfuzz::Check(zv::MemberDigest(integrity, count) == nullptr);
    if (status != zv::IntegrityStatus::Present) {
        zvfuzz::Check(zv::MemberDigest(integrity, 0) == nullptr);
    } else {
        zvfuzz::Check(integrity.memberCount == count);
        zvfuzz::Check(integrity.offset + zv::IntegrityBlockSize(count) <= regionBytes);
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t* digest = zv::MemberDigest(integrity, i);
            zvfuzz::Check(digest == integrity.digests + i * zv::INTEGRITY_DIGEST_SIZE);
        }
        // Written again from what was read, the block is the same bytes.
        std::vector<uint8_t> again(zv::IntegrityBlockSize(count));
        zv::WriteIntegrityBlock(integrity.digests, static_cast<uint16_t>(count), again.data());
        zvfuzz::Check(std::memcmp(again.data(), region.data() + integrity.offset, again.size()) == 0);
    }

    // Through the table as the updater loads it: a table whose records are
    // sound reads the same block.
    if (zv::CheckPackageTable(region.data(), regionBytes, count).damage == zv::TableDamage::None) {
        zv::PackageTable table;
        table.bytes = region.data();
        table.size = regionBytes;
        table.entryCount = static_cast<uint16_t>(count);
        table.status = zv::TableStatus::Loaded;
        zv::PackageIntegrity viaTable;
        zvfuzz::Check(zv::ReadPackageIntegrity(table, &viaTable) == status);
        zvfuzz::Check(viaTable.offset == integrity.offset);
    }
    return 0;
}
