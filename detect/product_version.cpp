#include "detect/product_version.h"

#include "platform/text.h"

namespace zv {

int CompareVersions(ProductVersion a, ProductVersion b) {
    if (a.high != b.high) return a.high < b.high ? -1 : 1;
    if (a.low != b.low) return a.low < b.low ? -1 : 1;
    return 0;
}

int FormatVersion(ProductVersion v, char* buffer, int size) {
    // The short form counts minor versions from 1; a minor of 0 has no short
    // form, and the full one says what the file holds.
    if (VersionMinor(v) == 0) return FormatVersionParts(v, buffer, size);
    unsigned major = VersionMajor(v);
    unsigned shownMinor = static_cast<unsigned>(VersionMinor(v)) - 1u;
    return FormatText(buffer, size, "%u.%.2u", major, shownMinor);
}

int FormatVersionParts(ProductVersion v, char* buffer, int size) {
    return FormatText(buffer, size, "%u.%u.%u.%u", static_cast<unsigned>(VersionMajor(v)),
                      static_cast<unsigned>(VersionMinor(v)), static_cast<unsigned>(VersionRelease(v)),
                      static_cast<unsigned>(VersionBuild(v)));
}

}  // namespace zv
