// What the version resource of an installed file says about it.
#pragma once

#include <cstdint>

#include "package/format.h"
#include "platform/platform.h"

namespace zv {

enum VersionStatus : uint32_t {
    Matched = 0,        // read, and its internal name is the one expected
    Missing = 1,        // the file cannot be opened for reading
    NoVersionInfo = 2,  // no version resource, or it cannot be read
    NameMismatch = 3,   // read, but no internal name in table "040904E4", or another one
};

// The status's name as written above ("Matched"), or "?" for another value.
const char* VersionStatusName(VersionStatus status);

struct FileVersionRecord {
    ProductVersion version{0, 0};  // fixed file version; zero when none
    uint32_t language = 0;         // first translation's language id; 0 when none
    VersionStatus status = Missing;
};

// The file version of the version resource of `path` alone (the version
// rule of the transfer); false when the file has none that can be read.
bool ReadInstalledVersion(Platform& os, const char* path, ProductVersion* version);

// Reads the file version, the first translation's language and the internal
// name of string table "040904E4" of `path`, and compares the name with
// `expectedInternalName` without regard to case. Fills *record and returns
// its status; reports nothing to the user.
VersionStatus ReadFileVersion(Platform& os, const char* path, const char* expectedInternalName,
                              FileVersionRecord* record);

}  // namespace zv
