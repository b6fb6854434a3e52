#include "quillon/pack/package_layout.h"

#include "package/integrity.h"

namespace quillon {

uint64_t SizeInKB(uint64_t bytes) { return bytes / 1024 + (bytes % 1024 != 0 ? 1 : 0); }

uint16_t TableSizeKB(uint64_t bytes) {
    const uint64_t kb = SizeInKB(bytes);
    return static_cast<uint16_t>(kb > 0xFFFF ? 0xFFFF : kb);
}

std::vector<size_t> ReadingOrder(const std::vector<uint16_t>& flags) {
    std::vector<size_t> order;
    // The updater's passes in turn, then the ignored entries (pass 0).
    for (const uint32_t pass : {1u, 2u, 0u}) {
        for (size_t i = 0; i < flags.size(); ++i) {
            if (zv::EntryPass(flags[i]) == pass) order.push_back(i);
        }
    }
    return order;
}

uint64_t TableRegionSize(const std::vector<zv::EntryDescription>& entries) {
    uint64_t size = zv::IntegrityBlockSize(static_cast<uint32_t>(entries.size()));
    for (const zv::EntryDescription& e : entries) {
        size += zv::PackageRecordLength(static_cast<uint32_t>(e.name.size()), (e.flags & zv::ENTRY_HAS_VERSION) != 0,
                                        static_cast<uint32_t>(e.pieces.size() ? e.pieces.size() : 1));
        size += zv::PACKAGE_PIECE_SIZE;
    }
    return size;
}

bool LayOutPackage(uint64_t imageSize, const std::vector<uint32_t>& streamSizes, uint64_t volumeSize,
                   std::vector<zv::EntryDescription>* entries, PackageLayout* layout, std::string* error,
                   uint64_t firstVolumeReserve) {
    *layout = PackageLayout{};
    if (streamSizes.size() != entries->size()) {
        *error = "internal error: streams and entries differ in number";
        return false;
    }
    const bool cut = volumeSize != 0;
    if (cut && volumeSize > kMaxVolumeSize) {
        *error = "the volume size is larger than " + std::to_string(kMaxVolumeSize) + " bytes";
        return false;
    }
    if (cut && volumeSize <= kVolumeNumberSize) {
        *error = "the volume size must leave room for data behind a volume's 2-byte number";
        return false;
    }
    const uint64_t capacity = cut ? volumeSize : kMaxVolumeSize;
    const uint64_t firstCapacity = capacity > firstVolumeReserve ? capacity - firstVolumeReserve : 0;
    for (zv::EntryDescription& e : *entries) e.pieces.clear();

    // The table's size depends on the number of pieces, which depends on
    // where the data starts: lay out again until the table holds its records.
    // The region only grows, so this ends.
    uint64_t tableSize = TableRegionSize(*entries);
    for (;;) {
        const uint64_t dataOffset = imageSize + tableSize;
        if (dataOffset > firstCapacity) {
            *error = cut ? "volume 1 cannot hold the updater (" + std::to_string(imageSize) +
                               " bytes) and its table (" + std::to_string(tableSize) + " bytes) in " +
                               std::to_string(volumeSize) + " bytes" +
                               (firstVolumeReserve != 0 ? " with " + std::to_string(firstVolumeReserve) +
                                                              " kept for the signature"
                                                        : std::string())
                         : "the updater and its table are too large";
            return false;
        }
        std::vector<uint64_t> volumeSizes{dataOffset};
        uint64_t pos = dataOffset;
        for (size_t i = 0; i < entries->size(); ++i) {
            std::vector<zv::PackagePiece>& pieces = (*entries)[i].pieces;
            pieces.clear();
            uint64_t left = streamSizes[i];
            while (left > 0) {
                const uint64_t room = volumeSizes.size() == 1 ? firstCapacity : capacity;
                if (pos >= room) {
                    if (!cut) {
                        *error = "the package is larger than " + std::to_string(kMaxVolumeSize) +
                                 " bytes; cut it into volumes with --volume-size";
                        return false;
                    }
                    if (volumeSizes.size() == 0xFFFF) {
                        *error = "the package would need more than 65535 volumes";
                        return false;
                    }
                    pos = kVolumeNumberSize;
                    volumeSizes.push_back(pos);
                }
                const uint64_t end = volumeSizes.size() == 1 ? firstCapacity : capacity;
                const uint64_t take = left < end - pos ? left : end - pos;
                pieces.push_back(zv::PackagePiece{static_cast<uint16_t>(volumeSizes.size()),
                                                  static_cast<uint32_t>(pos), static_cast<uint32_t>(take)});
                pos += take;
                left -= take;
                volumeSizes.back() = pos;
            }
            const uint32_t record =
                zv::PackageRecordLength(static_cast<uint32_t>((*entries)[i].name.size()),
                                        ((*entries)[i].flags & zv::ENTRY_HAS_VERSION) != 0,
                                        static_cast<uint32_t>(pieces.size()));
            if (record > 0xFFFF) {
                *error = "'" + (*entries)[i].name + "' would be cut into " + std::to_string(pieces.size()) +
                         " pieces, more than its table record can hold; use larger volumes";
                return false;
            }
        }
        const uint64_t needed = TableRegionSize(*entries);
        if (needed <= tableSize) {
            layout->tableOffset = static_cast<uint32_t>(imageSize);
            layout->tableSize = static_cast<uint32_t>(tableSize);
            layout->dataOffset = static_cast<uint32_t>(dataOffset);
            layout->volumeCount = static_cast<uint32_t>(volumeSizes.size());
            layout->volumeSizes = volumeSizes;
            return true;
        }
        tableSize = needed;
    }
}

}  // namespace quillon
