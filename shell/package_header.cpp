#include "shell/package_header.h"

namespace zv {

// Marker and key let the packer find these 32 bytes in the file; entryCount 0
// says that nothing was stamped yet. The packer fills the other fields.
volatile PackageHeader g_PackageHeader = {PACKAGE_MARKER, PACKAGE_KEY, 0, 0, 0, 0, {0, 0}, 0};

PackageHeader StampedPackageHeader() {
    PackageHeader copy;
    copy.marker = g_PackageHeader.marker;
    copy.key = g_PackageHeader.key;
    copy.entryCount = g_PackageHeader.entryCount;
    copy.tableOffset = g_PackageHeader.tableOffset;
    copy.tableSize = g_PackageHeader.tableSize;
    copy.dataOffset = g_PackageHeader.dataOffset;
    copy.version.high = g_PackageHeader.version.high;
    copy.version.low = g_PackageHeader.version.low;
    copy.language = g_PackageHeader.language;
    return copy;
}

}  // namespace zv
