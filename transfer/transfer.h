// The transfer: writing the package's files over the installed ones, all of
// them or none.
//
// RunTransfer works in four stages, each in a file of its own (decide.h,
// stage.h, commit.h; the journal in journal.h and its settling in
// recovery.h):
//   plan     one decision for every entry of both passes (shared runtime
//            libraries first, then the product-directory files), made before
//            anything is written: written where, or passed by and why;
//            counted in the progress or not; stamped blocks carried or not;
//            then the way to every target: no folder from the product
//            directory down, no target and no name the update creates may be
//            a link or junction (or be taken, for the names), else the update
//            ends with message 76 before anything is written;
//   stage    every member to be written is expanded into a new copy beside
//            its target, flushed, given the installed copy's stamped blocks
//            and checked against its digest, all through the one handle
//            that created it, once that handle is found to be the file meant;
//            the installed files are not touched. The progress page, its file names and the questions
//            run over this stage;
//   commit   once every member is staged, each installed file is moved to
//            its backup name and its new copy moved into its place, under a
//            journal in the Windows directory that the next start reads if
//            the process dies on the way;
//   roll back  a Cancel, Abort, stop, failure or missing volume before the
//            commit ends removes every new copy, and during the commit moves
//            every backup back: the installation is left as it was.
// An installed file that is write protected is asked about while staging;
// Ignore leaves that one file as it is and the rest goes on.
#pragma once

#include <cstdint>

#include "detect/detection.h"
#include "package/table.h"
#include "platform/run_context.h"
#include "transfer/decide.h"
#include "transfer/recovery.h"
#include "transfer/result.h"

namespace zv {

// What the free-space check found for one target volume.
struct VolumeNeed {
    char root[kMaxPath];  // the volume's root, the drive ("C:"), or "" when it cannot be told
    uint64_t needed;      // bytes the staged new copies take there
    uint64_t free;        // bytes free there; UINT64_MAX when it cannot be told
};

// The stages of a run, in order; RollBack only after a failure.
enum class TransferStage : uint8_t { Stage, Commit, Finish, RollBack };
const char* TransferStageName(TransferStage stage);

// One entry as the run, or the plan, handled it.
struct EntryReport {
    const EntryDecision& decision;  // outcome: what became of it
    uint32_t percent;               // the percentage after the entry
    TransferResult result;          // the transfer's result after the entry
};

// Told what happens, for traces and plans.
class TransferObserver {
public:
    virtual ~TransferObserver() = default;
    virtual void EntryDone(const EntryReport& report) = 0;
    // The free-space check, once per volume each time it runs.
    virtual void VolumeChecked(const VolumeNeed& volume) { (void)volume; }
    // A stage of the run begins.
    virtual void StageBegins(TransferStage stage) { (void)stage; }
    // The committed update was finished: RolledForward, or LeftOver when a
    // backup (an old copy a running program holds) stays for the next start.
    virtual void Finished(RecoveryOutcome outcome, const char* leftPath) {
        (void)outcome;
        (void)leftPath;
    }
};

// The whole transfer: opens the program file as volume 1, plans, stages and
// commits with the transfer page shown through run.transferView and the
// questions asked through run.ui, and shows the closing message. A table that
// was not loaded whole is never walked: the user is told (34 or 37) and the
// transfer is NotBegun. With `leftAsItWas`, tells whether a transfer that did not
// succeed left every installed file as it was (nothing was put in place, or
// all of it was rolled back); false after a success, and when a roll back
// could not put everything back.
TransferResult RunTransfer(RunContext& run, const PackageTable& table, InstalledProduct* product,
                           TransferObserver* observer = nullptr, bool* leftAsItWas = nullptr);

// The plan alone, for `quillon plan`: every entry's decision, in the order
// and with the percentages the run would show, and the space each volume
// needs. Writes nothing, asks nothing, shows nothing; returns what the run
// would return were nothing to go wrong on the way (Done, Failed with 38 for
// a refused name, NotBegun for a table that was not loaded whole).
TransferResult PlanTransfer(RunContext& run, const PackageTable& table, InstalledProduct* product,
                            TransferObserver* observer);

}  // namespace zv
