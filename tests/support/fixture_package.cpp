#include "tests/support/fixture_package.h"

#include <stdexcept>

#include "package/integrity.h"
#include "package/table_writer.h"

namespace zvtest {

uint16_t SizeKBFromStream(const std::vector<uint8_t>& stream) {
    if (stream.size() < 4) return 0xFFFF;
    const uint64_t size = static_cast<uint64_t>(stream[0]) | static_cast<uint64_t>(stream[1]) << 8 |
                          static_cast<uint64_t>(stream[2]) << 16 | static_cast<uint64_t>(stream[3]) << 24;
    const uint64_t kb = (size + 1023) / 1024;
    return static_cast<uint16_t>(kb > 0xFFFF ? 0xFFFF : kb);
}

std::vector<uint8_t> StampFixturePackage(std::vector<uint8_t> image, const std::vector<FixtureMember>& members,
                                         zv::ProductVersion version, uint32_t language) {
    std::vector<zv::EntryDescription> entries;
    uint32_t recordBytes = 0;
    for (const FixtureMember& m : members) {
        zv::EntryDescription e;
        e.name = m.name;
        e.flags = m.flags;
        e.sizeKB = static_cast<uint16_t>(m.sizeKB >= 0 ? m.sizeKB : SizeKBFromStream(m.data));
        e.version = m.version;
        e.pieces.push_back(zv::PackagePiece{1, 0, static_cast<uint32_t>(m.data.size())});
        recordBytes += zv::PackageRecordLength(static_cast<uint32_t>(m.name.size()),
                                               (m.flags & zv::ENTRY_HAS_VERSION) != 0, 1);
        entries.push_back(e);
    }
    std::vector<uint8_t> digests;
    for (const FixtureMember& m : members) digests.insert(digests.end(), m.digest.begin(), m.digest.end());
    const bool withDigests = !members.empty() && digests.size() == 32 * members.size();
    uint32_t tableOffset = static_cast<uint32_t>(image.size());
    uint32_t tableSize = recordBytes + 10 * static_cast<uint32_t>(members.size()) +
                         (withDigests ? zv::IntegrityBlockSize(static_cast<uint32_t>(members.size())) : 0);
    uint32_t offset = tableOffset + tableSize;
    for (zv::EntryDescription& e : entries) {
        e.pieces[0].offset = offset;
        offset += e.pieces[0].length;
    }
    std::vector<uint8_t> table;
    if (zv::BuildPackageTable(entries, tableSize, &table, nullptr, withDigests ? digests.data() : nullptr) !=
        zv::TableBuildError::None) {
        throw std::runtime_error("fixture table cannot be built");
    }
    zv::PackageHeader header{zv::PACKAGE_MARKER, zv::PACKAGE_KEY, static_cast<uint16_t>(members.size()),
                             tableOffset, tableSize, tableOffset + tableSize, version, language};
    if (zv::StampPackageHeader(&image, header) != zv::HeaderSearch::Found) {
        throw std::runtime_error("fixture image has no single header block");
    }
    image.insert(image.end(), table.begin(), table.end());
    for (const FixtureMember& m : members) image.insert(image.end(), m.data.begin(), m.data.end());
    return image;
}

std::vector<uint8_t> BlankUpdaterImage(size_t size, size_t at) {
    std::vector<uint8_t> image(size, 0xCC);
    image[0] = 'M';
    image[1] = 'Z';
    zv::PackageHeader blank{zv::PACKAGE_MARKER, zv::PACKAGE_KEY, 0, 0, 0, 0, {0, 0}, 0};
    zv::EncodePackageHeader(blank, image.data() + at);
    return image;
}

}  // namespace zvtest
