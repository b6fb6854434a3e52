#include "transfer/prepare.h"

namespace zv {

void PrepareUpdate(RunContext& run, const PackageHeader& header, InstalledProduct* product, PackageTable* table) {
    SetProgramPaths(run);
    if (!LocateProduct(*run.os, product)) return;
    LoadPackageTable(*run.os, run.programPath, header, table);
    ProbeProduct(*run.os, product);
}

}  // namespace zv
