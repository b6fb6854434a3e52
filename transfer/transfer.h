// The transfer: writing the package's files over the installed ones.
#pragma once

#include <cstdint>

#include "detect/detection.h"
#include "package/table.h"
#include "platform/run_context.h"

namespace zv {

// 0 done, -1 stopped, 2 a Cancel answer, otherwise the string id of the
// closing message (32, 35, 37, ...).
using TransferResult = int32_t;

// Runs both passes over `table` with the transfer page shown through
// run.transferView and the questions asked through run.ui.
TransferResult RunTransfer(RunContext& run, const PackageHeader& header, const PackageTable& table,
                           InstalledProduct* product);

}  // namespace zv
