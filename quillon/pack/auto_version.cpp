#include "quillon/pack/auto_version.h"

#include <memory>

#include "detect/file_version.h"
#include "quillon/machine/machine.h"

namespace quillon {

bool ResolveAutoVersion(const std::string& path, uint16_t language, zv::ProductVersion* version,
                        std::string* error) {
    // The same reading the updater does of an installed file; the internal
    // name does not matter here.
    std::unique_ptr<zv::Platform> host = MakeHostPlatform(language);
    zv::FileVersionRecord record;
    switch (zv::ReadFileVersion(*host, path.c_str(), "", &record)) {
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
