#include "transfer/prepare.h"

namespace zv {

RecoveryOutcome RecoverInterruptedUpdate(RunContext& run, RecoveryReport* report) {
    InstalledProduct product;
    if (!LocateProduct(*run.os, &product)) return RecoveryOutcome::NoJournal;
    return RecoverInstallation(*run.os, product.installDir, report);
}

bool InstallationSettled(RecoveryOutcome outcome) {
    switch (outcome) {
    case RecoveryOutcome::Incomplete:
    case RecoveryOutcome::Damaged:
    case RecoveryOutcome::Unreadable:
    case RecoveryOutcome::NoMemory: return false;
    default: return true;
    }
}

void PrepareUpdate(RunContext& run, const PackageHeader& header, InstalledProduct* product, PackageTable* table) {
    SetProgramPaths(run);
    if (!LocateProduct(*run.os, product)) return;
    LoadPackageTable(*run.os, run.programPath, header, table);
    ProbeProduct(*run.os, product);
}

}  // namespace zv
