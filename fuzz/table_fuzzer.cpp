// The file table check and walk on any bytes: the first two bytes are the
// entry count, the rest is the table region. A table the check accepts is
// walked in full, as the transfer would walk it, and its names are checked:
// the names check accepts a table exactly when each name passes the check of
// one name and no two name the same file in the code page under test (one of
// those of the package languages, chosen by the region's size).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "package/table.h"

static const uint16_t kCodePages[] = {0, 874, 932, 936, 949, 950, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    uint32_t count = static_cast<uint32_t>(data[0] | (data[1] << 8));
    // The region gets a buffer of its own, so reading past it is caught.
    size_t regionSize = size - 2;
    uint8_t* region = new uint8_t[regionSize ? regionSize : 1];
    std::memcpy(region, data + 2, regionSize);
    zv::TableCheck check = zv::CheckPackageTable(region, static_cast<uint32_t>(regionSize), count);
    if (check.damage == zv::TableDamage::None) {
        zv::PackageEntry e{region};
        unsigned sum = 0;
        for (uint32_t i = 0; i < count; ++i, e = zv::NextPackageEntry(e)) {
            sum += zv::EntryFlags(e) + zv::EntrySizeKB(e) + static_cast<unsigned>(std::strlen(zv::EntryName(e)));
            if (zv::EntryHasVersion(e)) sum += zv::EntryVersion(e).low;
            for (const uint8_t* p = zv::EntryPieces(e);; p += zv::PACKAGE_PIECE_SIZE) {
                zv::PackagePiece piece = zv::ReadPackagePiece(p);
                if (zv::IsLastPiece(piece)) break;
                sum += piece.length;
            }
        }
        if (sum == 0xFFFFFFFFu) std::memset(region, 0, regionSize);  // keeps the walk observable

        std::vector<uint8_t> scratch(zv::TableNamesScratchSize(count) + 1);
        const uint16_t codePage = kCodePages[regionSize % (sizeof kCodePages / sizeof kCodePages[0])];
        const zv::TableCheck names = zv::CheckTableNames(region, count, codePage, scratch.data());
        bool sound = true;
        zv::PackageEntry a{region};
        for (uint32_t i = 0; i < count && count <= 64; ++i, a = zv::NextPackageEntry(a)) {
            if (zv::CheckMemberName(zv::EntryName(a)) != zv::MemberNameProblem::None) sound = false;
            zv::PackageEntry b = zv::NextPackageEntry(a);
            for (uint32_t j = i + 1; j < count; ++j, b = zv::NextPackageEntry(b)) {
                if (zv::CompareMemberNames(zv::EntryName(a), zv::EntryName(b), codePage) == 0) sound = false;
            }
        }
        if (count <= 64 && sound != (names.damage == zv::TableDamage::None)) std::abort();
    }
    delete[] region;
    return 0;
}
