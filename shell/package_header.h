// The package header of this program, stamped into its file by the packer.
#pragma once

#include "package/format.h"

namespace zv {

// The header as it stands in the program's data. Volatile: its bytes are
// overwritten in the file after the build, so the compiler must read them
// and never fold the fields it sees initialised here into constants.
extern volatile PackageHeader g_PackageHeader;

// A copy of the header's fields.
PackageHeader StampedPackageHeader();

}  // namespace zv
