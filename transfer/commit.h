// Committing the transfer: once every member is staged, each installed file
// is moved to its backup name and its new copy moved into its place, under
// the journal (transfer/journal.h) that the next start reads if the process
// dies on the way; then the backups are removed, or after a failure every
// move is undone.
#pragma once

#include <cstdint>

#include "platform/run_context.h"
#include "transfer/decide.h"
#include "transfer/journal.h"
#include "transfer/recovery.h"
#include "transfer/stage.h"

namespace zv {

// What became of putting one entry's new copy in place.
enum class CommitStep {
    Done,
    InstalledNotMoved,  // the installed copy could not be moved aside; nothing changed
    NewCopyNotMoved,    // moved aside, but the new copy could not take its place
    BadEntry,           // the entry's names cannot be composed
};
const char* CommitStepName(CommitStep step);

// Asked when a move of the commit fails.
class CommitQuestions {
public:
    virtual ~CommitQuestions() = default;
    // A move of `entry`'s commit failed as `failure` says (InUse when
    // another program holds the file): true to try it again.
    virtual bool RetryMove(const JournalEntry& entry, MoveResult failure) = 0;
};

// Puts one entry's new copy in place: the installed copy (when the plan found
// one) to its backup name, then the new copy onto the target. A move that
// fails is asked about through `questions` for as long as the answer is to
// try again; without questions it is not tried again.
CommitStep CommitEntry(Platform& os, const JournalEntry& entry, CommitQuestions* questions = nullptr);

// The members one transfer puts in place, and the journal that lists them.
struct CommitPlan {
    PlannedWrite* writes = nullptr;  // in the order of journal.entries
    BlockHandle writesBlock = 0;
    uint32_t count = 0;
    Journal journal;
    bool journalWritten = false;  // the journal was put on the disk: there may be something to undo
    RecoveryOutcome rolledBack = RecoveryOutcome::Incomplete;  // what RollBackCommit made of the journal
};
void FreeCommitPlan(Platform& os, CommitPlan* commit);

// The members to write, in the order the passes meet them, each with its new
// copy's and backup's names, and the journal that lists them. False, with
// *why Failed, when there is no memory or a target is one the journal may not
// list.
bool ListWrites(Platform& os, TransferPlan& plan, const char* productDir, CommitPlan* commit, WriteResult* why);

// Before the first new copy is made: an earlier journal is cleared (or the
// transfer ends), the names the update creates are found free, and the
// journal is written in state Staging, naming every file the update may
// leave, so that the next start can clean up after a kill. False, with *why
// saying what ends the transfer, when it does not begin.
bool BeginJournal(RunContext& run, CommitPlan& commit, WriteResult* why);

// Every installed copy to its backup, every new copy into its place, under
// the journal; only the staged members are committed. A move that fails is
// asked about (39 when another program holds the file, 35 otherwise). False,
// with *why saying what ends the transfer, when it stops on the way.
bool CommitWrites(RunContext& run, CommitPlan& commit, WriteResult* why);

// After the commit: removes the backups and the journal (FinishTransaction).
// A backup that cannot be removed is left to the next start, which finishes
// the job. False when no journal was written (nothing was committed).
bool FinishCommit(RunContext& run, CommitPlan& commit, RecoveryOutcome* finished, RecoveryReport* report);

// After a failure: undoes whatever was done: every new copy removed, every
// backup moved back, the journal removed. What cannot be undone now (a file
// that cannot be moved back) stays in the journal for the next start.
void RollBackCommit(RunContext& run, CommitPlan& commit);

// After a failure and its roll back: whether every installed file is as it
// was. Nothing is moved before the journal is written, and a roll back that
// settled the journal whole (the new copies removed, every backup back in
// place) is the installation as it was.
bool CommitLeftAsItWas(const CommitPlan& commit);

}  // namespace zv
