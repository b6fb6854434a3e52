#include "quillon/auto_version.h"

namespace quillon {

bool ResolveAutoVersion(const std::string& path, zv::ProductVersion* version, std::string* error) {
    (void)path;
    *version = zv::ProductVersion{0, 0};
    *error = "version=auto: reading version resources is not available in this build";
    return false;
}

}  // namespace quillon
