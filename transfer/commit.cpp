#include "transfer/commit.h"

#include <new>

#include "platform/messages.h"
#include "platform/text.h"
#include "string_ids.h"

namespace zv {
namespace {

// Moves `from` to `to`, asking through `questions` while it fails. False
// when it is not tried again.
bool MoveAsking(Platform& os, const char* from, const char* to, const JournalEntry& entry,
                CommitQuestions* questions) {
    for (;;) {
        const MoveResult moved = os.Move(from, to);
        if (moved == MoveResult::Done) return true;
        if (questions == nullptr || !questions->RetryMove(entry, moved)) return false;
    }
}

// Makes the folders of the journal's files durable (SyncJournalFolders),
// asking while one cannot be (message 35 on that folder), as a failing move
// is asked about. False when the user cancels.
bool FoldersDurable(RunContext& run, const Journal& journal, JournalFolders which, WriteResult* why) {
    char folder[kMaxPath];
    while (!SyncJournalFolders(*run.os, journal, which, folder)) {
        if (AskRetryCancel(run, run.progressPage, IDS_WRITE_ERROR, folder) != ANSWER_RETRY) {
            why->outcome = WriteOutcome::Cancelled;
            return false;
        }
    }
    return true;
}

// The questions of the updater's commit, about the target: the page's file
// field shows the member the question is about.
class AskingCommit : public CommitQuestions {
public:
    AskingCommit(RunContext& run, const char* name) : run_(run), name_(name) {}
    bool RetryMove(const JournalEntry& entry, MoveResult failure) override {
        run_.transferView->ShowFileName(run_.progressPage, name_);
        const int answer = failure == MoveResult::InUse
                               ? AskFileInUse(run_, run_.progressPage, entry.target, entry.target)
                               : AskRetryCancel(run_, run_.progressPage, IDS_WRITE_ERROR, entry.target);
        return answer == ANSWER_RETRY;
    }

private:
    RunContext& run_;
    const char* name_;
};

// True when the journal was written; otherwise *why names the journal.
bool Journaled(Platform& os, JournalResult written, WriteResult* why) {
    if (written == JournalResult::Ok) return true;
    char path[kMaxPath];
    JournalPath(os, path);
    SetFailure(why, written == JournalResult::NoMemory ? IDS_NO_MEMORY : IDS_WRITE_ERROR, path);
    return false;
}

// The backup name of the journal's entry for `target`, into `backup`
// (left empty when the journal has none): a completed update names the
// target whose old copy stays, and that old copy is what a program holds.
void HeldBackup(const Journal& journal, const char* target, char* backup) {
    for (uint32_t k = 0; k < journal.count; ++k) {
        const JournalEntry& entry = journal.entries[k];
        if (!EqualNoCase(entry.target, target)) continue;
        char staged[kMaxPath];
        if (!ComposeTransactionPaths(entry.target, entry.index, staged, backup)) backup[0] = '\0';
        return;
    }
}

// Another update must not write over an earlier journal. One of an update
// cut short stays until the next start settles it. One of a completed
// update stays while a file it left is in use (Windows renames a running
// program's file but does not delete it): that one is finished here,
// asking the user to close the program that holds it.
bool ClearEarlierJournal(RunContext& run, const char* productDir, WriteResult* why) {
    for (;;) {
        Journal earlier;
        JournalResult found = ReadJournal(*run.os, &earlier);
        if (found == JournalResult::Missing) return true;
        if (found == JournalResult::Ok && !IsJournalOf(earlier, productDir)) found = JournalResult::Damaged;
        RecoveryReport report;
        RecoveryOutcome finished = RecoveryOutcome::Incomplete;
        char held[kMaxPath] = {};  // the old copy that stays: the file a program holds
        if (found == JournalResult::Ok && earlier.state == JournalState::Committed) {
            finished = FinishTransaction(*run.os, earlier, &report);
            HeldBackup(earlier, report.failedPath, held);
        }
        FreeJournal(*run.os, &earlier);
        if (finished == RecoveryOutcome::RolledForward || finished == RecoveryOutcome::NotOurs) return true;
        if (found == JournalResult::Damaged || found == JournalResult::Unreadable) {
            // Refused: only the user can tell whether it may go.
            char path[kMaxPath];
            JournalPath(*run.os, path);
            SetFailure(why, IDS_JOURNAL_REFUSED, path);
            return false;
        }
        if (finished != RecoveryOutcome::LeftOver) {
            SetFailure(why, IDS_UPDATE_UNFINISHED, "");
            return false;
        }
        if (AskFileInUse(run, run.progressPage, report.failedPath, held[0] != '\0' ? held : report.failedPath) !=
            ANSWER_RETRY) {
            why->outcome = WriteOutcome::Cancelled;
            return false;
        }
    }
}

// Only the staged members are committed: one kept by Ignore, or one whose
// installed copy went away since the plan, leaves the journal.
void KeepStagedOnly(CommitPlan& commit) {
    uint32_t kept = 0;
    for (uint32_t k = 0; k < commit.count; ++k) {
        if (!commit.writes[k].isStaged) continue;
        commit.writes[kept] = commit.writes[k];
        commit.journal.entries[kept] = commit.journal.entries[k];
        ++kept;
    }
    commit.count = kept;
    commit.journal.count = kept;
}

// The new copies' records as the stage step took them while writing.
class StagedCopies : public WrittenCopies {
public:
    explicit StagedCopies(const CommitPlan& commit) : commit_(commit) {}
    bool Written(uint32_t entry, FileRecord* record) const override {
        if (entry >= commit_.count || !commit_.writes[entry].written.known) return false;
        *record = commit_.writes[entry].written.record;
        return true;
    }

private:
    const CommitPlan& commit_;
};

}  // namespace

const char* CommitStepName(CommitStep step) {
    switch (step) {
    case CommitStep::Done: return "done";
    case CommitStep::InstalledNotMoved: return "the installed copy cannot be moved aside";
    case CommitStep::NewCopyNotMoved: return "the new copy cannot be put in place";
    case CommitStep::BadEntry: return "the entry's names cannot be composed";
    }
    return "unknown";
}

CommitStep CommitEntry(Platform& os, const JournalEntry& entry, CommitQuestions* questions) {
    char staged[kMaxPath];
    char backup[kMaxPath];
    if (!ComposeTransactionPaths(entry.target, entry.index, staged, backup)) return CommitStep::BadEntry;
    if (entry.existed && !MoveAsking(os, entry.target, backup, entry, questions)) return CommitStep::InstalledNotMoved;
    if (!MoveAsking(os, staged, entry.target, entry, questions)) return CommitStep::NewCopyNotMoved;
    return CommitStep::Done;
}

void FreeCommitPlan(Platform& os, CommitPlan* commit) {
    FreeJournal(os, &commit->journal);
    FreeGlobalBlock(os, &commit->writesBlock);
    commit->writes = nullptr;
    commit->count = 0;
}

bool ListWrites(Platform& os, TransferPlan& plan, const char* productDir, CommitPlan* commit, WriteResult* why) {
    commit->count = 0;
    for (uint32_t i = 0; i < plan.count; ++i) {
        if (plan.decisions[i].outcome == EntryOutcome::Write) ++commit->count;
    }
    if (commit->count == 0) return true;
    commit->writes = static_cast<PlannedWrite*>(
        AllocGlobalBlock(os, commit->count * static_cast<uint32_t>(sizeof(PlannedWrite)), &commit->writesBlock));
    if (commit->writes == nullptr || !AllocJournal(os, &commit->journal, productDir, commit->count)) {
        SetFailure(why, IDS_NO_MEMORY, "");
        return false;
    }
    uint32_t n = 0;
    bool listed = true;
    WalkPlan(plan, [&](uint32_t pass, EntryDecision& d) {
        if (d.pass != pass || d.outcome != EntryOutcome::Write) return true;
        PlannedWrite* w = new (&commit->writes[n]) PlannedWrite();
        w->decision = &d;
        JournalEntry& entry = commit->journal.entries[n];
        CopyText(entry.target, sizeof entry.target, d.target);
        entry.index = static_cast<uint16_t>(n);
        entry.existed = d.installed;
        // The journal lists only files in the product directory and the
        // runtime libraries where the shared-file lookup puts them; the
        // next start would refuse any other, so none is written.
        if (!IsJournalTarget(os, commit->journal.productDir, d.target) ||
            !ComposeTransactionPaths(d.target, n, w->staged, w->backup)) {
            SetFailure(why, IDS_INVALID_DIRECTORY, d.name);
            listed = false;
            return false;
        }
        ++n;
        return true;
    });
    return listed;
}

bool BeginJournal(RunContext& run, CommitPlan& commit, WriteResult* why) {
    if (commit.count == 0) return true;
    if (!ClearEarlierJournal(run, commit.journal.productDir, why) ||
        !CheckNamesVacant(*run.os, commit.writes, commit.count, why)) {
        return false;
    }
    commit.journalWritten = Journaled(*run.os, BeginTransaction(*run.os, commit.journal), why);
    return commit.journalWritten;
}

bool CommitWrites(RunContext& run, CommitPlan& commit, WriteResult* why) {
    Platform& os = *run.os;
    if (commit.count == 0) return true;
    KeepStagedOnly(commit);
    // Every new copy and every installed copy about to be moved aside is
    // recorded, so that nothing but these very files is ever undone.
    // A file that was there but cannot be read now is held by another
    // program, most likely: the user is asked to close it.
    char unreadable[kMaxPath];
    JournalResult recorded;
    const StagedCopies written(commit);
    while ((recorded = RecordJournalFiles(os, commit.journal, unreadable, &written, run.stageWorkers)) ==
           JournalResult::CannotRecord) {
        if (AskFileInUse(run, run.progressPage, unreadable, unreadable) != ANSWER_RETRY) {
            why->outcome = WriteOutcome::Cancelled;
            return false;
        }
    }
    if (!Journaled(os, recorded, why)) return false;
    // The new copies were created (and their folders, where missing) under
    // the journal in state Staging, and each copy's bytes were flushed. The
    // state Committing tells the next start that every one of them was whole
    // at its staged name before the first move (a staged name found empty
    // then means its copy was moved in), so their names must be durable
    // first: a power cut must not find the journal Committing with a new
    // copy gone.
    if (!FoldersDurable(run, commit.journal, JournalFolders::AndParents, why) ||
        !Journaled(os, MarkCommitting(os, commit.journal), why)) {
        return false;
    }
    // The moves are not made durable one by one. A power cut now may lose
    // the last ones of a folder, never half of one and never a later one
    // without the earlier ones (the file system keeps a folder's changes in
    // order): each entry is then found before its first move, after it, or
    // after both, which are the states the next start undoes from Committing.
    for (uint32_t k = 0; k < commit.count; ++k) {
        AskingCommit questions(run, commit.writes[k].decision->name);
        if (CommitEntry(os, commit.journal.entries[k], &questions) != CommitStep::Done) {
            why->outcome = WriteOutcome::Cancelled;
            return false;
        }
    }
    // Committed tells the next start that every new copy is in place and
    // only backups remain to be removed: every move must be durable before
    // it says so. A folder that cannot be made durable is asked about; a
    // Cancel rolls the commit back, as a move that fails does.
    if (!FoldersDurable(run, commit.journal, JournalFolders::Targets, why)) return false;
    return Journaled(os, MarkCommitted(os, commit.journal), why);
}

bool FinishCommit(RunContext& run, CommitPlan& commit, RecoveryOutcome* finished, RecoveryReport* report) {
    if (!commit.journalWritten) return false;
    *finished = FinishTransaction(*run.os, commit.journal, report, run.stageWorkers);
    return true;
}

void RollBackCommit(RunContext& run, CommitPlan& commit) {
    if (commit.journalWritten) commit.rolledBack = RollBack(*run.os, commit.journal, nullptr, run.stageWorkers);
}

bool CommitLeftAsItWas(const CommitPlan& commit) {
    if (!commit.journalWritten) return true;
    return commit.rolledBack == RecoveryOutcome::Discarded || commit.rolledBack == RecoveryOutcome::RolledBack;
}

}  // namespace zv
