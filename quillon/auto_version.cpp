#include "quillon/auto_version.h"

#include "detect/file_version.h"

namespace quillon {

bool ResolveAutoVersion(const std::string& path, zv::ProductVersion* version, std::string* error) {
    // The same reading the updater does of an installed file; the internal
    // name does not matter here.
    zv::FileVersionRecord record;
    switch (zv::ReadFileVersion(zv::HostPlatform(), path.c_str(), "", &record)) {
    case zv::Missing:
        *error = "version=auto: " + path + " cannot be opened";
        return false;
    case zv::NoVersionInfo:
        *error = "version=auto: " + path + " has no version resource";
        return false;
    default:
        *version = record.version;
        return true;
    }
}

}  // namespace quillon
