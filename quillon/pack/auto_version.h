// version=auto: the version of a member taken from its own version resource.
#pragma once

#include <cstdint>
#include <string>

#include "package/format.h"

namespace quillon {

// Reads the file version of the file at `path` (a host path) from its version
// resource, as a user of `language` is given it, into *version. False with
// the reason in *error when the file has none or it cannot be read.
bool ResolveAutoVersion(const std::string& path, uint16_t language, zv::ProductVersion* version,
                        std::string* error);

}  // namespace quillon
