// What the updater does before its detection page: settles an update that a
// kill or a power cut left half done, finds the program's own paths and
// where the product is installed, loads the package's file table, and probes
// the installed files.
#pragma once

#include "detect/detection.h"
#include "package/table.h"
#include "platform/run_context.h"
#include "transfer/recovery.h"

namespace zv {

// At start-up, before anything is detected: the journal that an update of
// the installed product cut short left (in the Windows directory), if any, is
// settled (rolled back, or finished when every new copy was in place) and
// removed. NoJournal when the product is not installed or left no journal.
RecoveryOutcome RecoverInterruptedUpdate(RunContext& run, RecoveryReport* report);

// False when the journal could not be settled (a file that cannot be moved
// back, a journal that cannot be read or is refused as damaged, no memory):
// it stays, and nothing may change the installation until a later start
// settles it. A completed update of which a file in use is left (LeftOver)
// is settled: the installation is whole.
bool InstallationSettled(RecoveryOutcome outcome);

// What the user is told at start-up about the journal that was settled or
// refused: a string of the table (0: nothing) with the file it names, and
// whether the updater goes on to its pages afterwards (when the installation
// is settled).
struct RecoveryNotice {
    unsigned stringId = 0;
    const char* subject = "";
    bool goOn = true;
};
RecoveryNotice NoticeOfRecovery(RecoveryOutcome outcome, const RecoveryReport& report);

// Sets run.programPath and run.programDir, locates the product into
// *product and, when it is installed, loads the package's file table into
// *table (table->status says whether it may be walked) and probes the
// installed files. A product that is not installed leaves product->variants 0
// and the table unloaded.
void PrepareUpdate(RunContext& run, const PackageHeader& header, InstalledProduct* product, PackageTable* table);

}  // namespace zv
