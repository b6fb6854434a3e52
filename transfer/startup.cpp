#include "transfer/startup.h"

#include "string_ids.h"

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

RecoveryNotice NoticeOfRecovery(RecoveryOutcome outcome, const RecoveryReport& report) {
    RecoveryNotice notice;
    // A journal that stays unsettled lets nothing change the installation.
    notice.goOn = InstallationSettled(outcome);
    switch (outcome) {
    case RecoveryOutcome::Damaged:
    case RecoveryOutcome::Unreadable:
        // Refused whole: nothing was touched, and no later start can settle
        // it. The user is told which file it is and what to do with it.
        notice.stringId = IDS_JOURNAL_REFUSED;
        notice.subject = report.journalPath;
        break;
    case RecoveryOutcome::Incomplete:
    case RecoveryOutcome::NoMemory:
        // A file in use, most likely: a later start may settle it.
        notice.stringId = IDS_UPDATE_UNFINISHED;
        break;
    case RecoveryOutcome::NotOurs:
        notice.stringId = IDS_FILES_LEFT_ALONE;
        notice.subject = report.notOursPath;
        break;
    default:
        break;
    }
    return notice;
}

void PrepareUpdate(RunContext& run, const PackageHeader& header, InstalledProduct* product, PackageTable* table) {
    SetProgramPaths(run);
    if (!LocateProduct(*run.os, product)) return;
    LoadPackageTable(*run.os, run.programPath, header, table);
    ProbeProduct(*run.os, product);
}

}  // namespace zv
