// What the updater does between its welcome page and its detection page:
// finds the program's own paths and where the product is installed, loads
// the package's file table, and probes the installed files.
#pragma once

#include "detect/detection.h"
#include "package/table.h"
#include "platform/run_context.h"

namespace zv {

// Sets run.programPath and run.programDir, locates the product into
// *product and, when it is installed, loads the package's file table into
// *table (table->status says whether it may be walked) and probes the
// installed files. A product that is not installed leaves product->variants 0
// and the table unloaded.
void PrepareUpdate(RunContext& run, const PackageHeader& header, InstalledProduct* product, PackageTable* table);

}  // namespace zv
