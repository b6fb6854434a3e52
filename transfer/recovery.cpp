#include "transfer/recovery.h"

#include <cstring>

#include "platform/files.h"
#include "platform/text.h"
#include "platform/threads.h"

namespace zv {
namespace {

void NoteFailure(RecoveryReport* report, const char* path) {
    if (report->failed++ == 0) CopyText(report->failedPath, sizeof report->failedPath, path);
}

void NoteNotOurs(RecoveryReport* report, const char* path) {
    if (report->notOurs++ == 0) CopyText(report->notOursPath, sizeof report->notOursPath, path);
}

// Removes `path` when it is there; false only when it is there and stays.
bool RemoveIfPresent(Platform& os, const char* path, RecoveryReport* report, uint32_t* counter) {
    if (!FileExists(os, path)) return true;
    if (os.Remove(path)) {
        ++*counter;
        return true;
    }
    NoteFailure(report, path);
    return false;
}

// The verdict of a check, as a SETTLE_ bit: `ours` when the file is the
// recorded one, `notOurs` when it is another, SETTLE_UNREADABLE when it cannot
// be told now (the file named in `unreadablePath`), nothing when it is gone.
uint32_t Verdict(FileCheck check, uint32_t ours, uint32_t notOurs, const char* path, char* unreadablePath) {
    switch (check) {
    case FileCheck::Matches: return ours;
    case FileCheck::Differs: return notOurs;
    case FileCheck::Missing: return 0;
    case FileCheck::Unreadable:
    case FileCheck::NoMemory: break;
    }
    if (unreadablePath != nullptr && unreadablePath[0] == '\0') CopyText(unreadablePath, kMaxPath, path);
    return SETTLE_UNREADABLE;
}

// What becomes of a file at the staged name: removed when it is the new copy
// (or, before anything was recorded, by its name alone).
uint32_t StagedVerdict(Platform& os, const JournalEntry& entry, const char* staged, char* unreadablePath) {
    if (!entry.recorded) return FileExists(os, staged) ? SETTLE_REMOVE_STAGED : 0;
    return Verdict(CheckFile(os, staged, entry.fresh), SETTLE_REMOVE_STAGED, SETTLE_STAGED_NOT_OURS, staged,
                   unreadablePath);
}

// Undoing the commit of an entry whose installed copy was moved aside.
uint32_t DecideRestore(Platform& os, const JournalEntry& entry, const char* staged, const char* backup,
                       char* unreadablePath) {
    const bool stagedThere = FileExists(os, staged);
    if (!FileExists(os, backup)) {
        // No backup: the installed copy was never moved aside (or is back),
        // unless the new copy was moved in, and then the backup was lost: the
        // installed copy cannot come back.
        if (!stagedThere) return SETTLE_LOST;
        return StagedVerdict(os, entry, staged, unreadablePath);
    }
    uint32_t actions = Verdict(CheckFile(os, backup, entry.installed), SETTLE_RESTORE, SETTLE_BACKUP_NOT_OURS,
                               backup, unreadablePath);
    if (actions == SETTLE_RESTORE) {
        if (!stagedThere) {
            // The new copy was moved in: it goes back first, when it is ours.
            // Nothing at the target: it went, and the backup goes back alone.
            const uint32_t atTarget = Verdict(CheckFile(os, entry.target, entry.fresh),
                                              SETTLE_NEW_BACK | SETTLE_REMOVE_STAGED, SETTLE_TARGET_NOT_OURS,
                                              entry.target, unreadablePath);
            return atTarget & (SETTLE_TARGET_NOT_OURS | SETTLE_UNREADABLE) ? atTarget : actions | atTarget;
        }
        // The new copy is still staged, so the target must be empty: a file
        // there is not one the commit put there, and stays.
        if (FileExists(os, entry.target)) actions = SETTLE_TARGET_NOT_OURS;
    }
    if (stagedThere) actions |= StagedVerdict(os, entry, staged, unreadablePath);
    return actions;
}

// What settling does with an entry. An entry with a file that cannot be read
// is counted as failed, naming that file, and gets nothing but
// SETTLE_UNREADABLE.
uint32_t SettlementOrFailure(Platform& os, const Journal& journal, const JournalEntry& entry,
                             RecoveryReport* report) {
    char unreadable[kMaxPath] = {};
    const uint32_t actions = DecideSettlement(os, journal, entry, unreadable);
    if ((actions & SETTLE_UNREADABLE) == 0) return actions;
    NoteFailure(report, unreadable);
    return SETTLE_UNREADABLE;
}

// What became of one file that settling removes.
enum class Removal : uint8_t { NotTried, Absent, Removed, Stays };

Removal RemoveOwn(Platform& os, const char* path) {
    if (!FileExists(os, path)) return Removal::Absent;
    return os.Remove(path) ? Removal::Removed : Removal::Stays;
}

// Which of an entry's files could not be read.
enum class Unreadable : uint8_t { None, Staged, Backup, Target };

// One entry's removal of its leftovers: what was decided and what came of
// it, kept so that it can be done on any thread and reported in entry order.
struct Leftovers {
    uint32_t actions = 0;
    Unreadable unreadable = Unreadable::None;
    Removal backup = Removal::NotTried;
    Removal staged = Removal::NotTried;
};

// Decides an entry's settlement and removes what it says to remove; touches
// nothing but the entry's own files, and reports nothing.
void RemoveEntryLeftovers(Platform& os, const Journal& journal, const JournalEntry& entry, Leftovers* done) {
    char staged[kMaxPath];
    char backup[kMaxPath];
    char unreadable[kMaxPath] = {};
    *done = Leftovers();
    if (!ComposeTransactionPaths(entry.target, entry.index, staged, backup)) return;
    done->actions = DecideSettlement(os, journal, entry, unreadable);
    if (done->actions & SETTLE_UNREADABLE) {
        done->unreadable = std::strcmp(unreadable, staged) == 0   ? Unreadable::Staged
                           : std::strcmp(unreadable, backup) == 0 ? Unreadable::Backup
                                                                  : Unreadable::Target;
        return;
    }
    if (done->actions & SETTLE_REMOVE_BACKUP) done->backup = RemoveOwn(os, backup);
    if (done->actions & SETTLE_REMOVE_STAGED) done->staged = RemoveOwn(os, staged);
}

// Counts what RemoveEntryLeftovers did for an entry into the report.
void ReportLeftovers(const JournalEntry& entry, const Leftovers& done, RecoveryReport* report) {
    char staged[kMaxPath];
    char backup[kMaxPath];
    if (!ComposeTransactionPaths(entry.target, entry.index, staged, backup)) return;
    switch (done.unreadable) {
    case Unreadable::None: break;
    case Unreadable::Staged: NoteFailure(report, staged); return;
    case Unreadable::Backup: NoteFailure(report, backup); return;
    case Unreadable::Target: NoteFailure(report, entry.target); return;
    }
    if (done.actions & SETTLE_BACKUP_NOT_OURS) NoteNotOurs(report, backup);
    if (done.actions & SETTLE_STAGED_NOT_OURS) NoteNotOurs(report, staged);
    if (done.backup == Removal::Removed) ++report->backupsRemoved;
    if (done.backup == Removal::Stays) {
        const bool first = report->failed == 0;
        NoteFailure(report, backup);
        // Held by a running program, which the user knows by the target's
        // name rather than by the backup's.
        if (first) CopyText(report->failedPath, sizeof report->failedPath, entry.target);
    }
    if (done.staged == Removal::Removed) ++report->stagedRemoved;
    if (done.staged == Removal::Stays) NoteFailure(report, staged);
}

// Removes every file that settling decided to remove, counting what is left
// alone. The moves of the commit must be undone already. Each entry touches
// only its own files, so with helpers the entries are checked and removed on
// several threads at once (reading and hashing them is most of the work),
// and reported in entry order afterwards, exactly as one thread reports them.
void RemoveLeftovers(Platform& os, const Journal& journal, RecoveryReport* report, unsigned helpers) {
    BlockHandle block = 0;
    Leftovers* done = nullptr;
    if (helpers != 0 && journal.count > 1) {
        done = static_cast<Leftovers*>(
            AllocGlobalBlock(os, journal.count * static_cast<uint32_t>(sizeof(Leftovers)), &block));
    }
    if (done == nullptr) {  // one thread, or no memory for the results: one entry at a time
        for (uint32_t i = 0; i < journal.count; ++i) {
            Leftovers one;
            RemoveEntryLeftovers(os, journal, journal.entries[i], &one);
            ReportLeftovers(journal.entries[i], one, report);
        }
        return;
    }
    auto remove = [&](uint32_t i) { RemoveEntryLeftovers(os, journal, journal.entries[i], &done[i]); };
    ForEachIndex(journal.count, helpers, remove);
    for (uint32_t i = 0; i < journal.count; ++i) ReportLeftovers(journal.entries[i], done[i], report);
    FreeGlobalBlock(os, &block);
}

// Undoes the moves of the commit, last entry first, each in the reverse
// order of the commit: the new copy from the target back to its staged name,
// then the backup back onto the target. An entry undone is on the disk as it
// was before its commit began, which these same rules leave alone (the
// argument in the header). The new copies are left at their staged names.
// The moves are made durable together afterwards (Settle).
void UndoCommit(Platform& os, const Journal& journal, RecoveryReport* report) {
    char staged[kMaxPath];
    char backup[kMaxPath];
    for (uint32_t i = journal.count; i-- > 0;) {
        const JournalEntry& entry = journal.entries[i];
        if (!ComposeTransactionPaths(entry.target, entry.index, staged, backup)) continue;
        const uint32_t actions = SettlementOrFailure(os, journal, entry, report);
        if (actions & SETTLE_UNREADABLE) continue;
        // A staged name's file is told about once, when it is removed or left.
        if (actions & SETTLE_TARGET_NOT_OURS) NoteNotOurs(report, entry.target);
        if (actions & SETTLE_BACKUP_NOT_OURS) NoteNotOurs(report, backup);
        if (actions & SETTLE_LOST) ++report->lost;
        if (actions & SETTLE_NEW_BACK) {
            if (os.Move(entry.target, staged) != MoveResult::Done) {
                NoteFailure(report, entry.target);
                continue;
            }
            if (!entry.existed) ++report->newRemoved;
        }
        if (actions & SETTLE_RESTORE) {
            if (os.Move(backup, entry.target) == MoveResult::Done) {
                ++report->restored;
            } else {
                NoteFailure(report, entry.target);
            }
        }
    }
}

// Makes the folders of the journal's files durable; false, counting the
// folder that cannot be as a failure, when one is not.
bool FoldersDurable(Platform& os, const Journal& journal, RecoveryReport* report) {
    char folder[kMaxPath];
    if (SyncJournalFolders(os, journal, JournalFolders::Targets, folder)) return true;
    NoteFailure(report, folder);
    return false;
}

// Removes the journal and any temporary one; false when one stays.
bool RemoveJournalFiles(Platform& os, RecoveryReport* report) {
    char path[kMaxPath];
    uint32_t removed = 0;
    bool ok = true;
    if (JournalFilePath(os, JOURNAL_NEW_NAME, path)) ok = RemoveIfPresent(os, path, report, &removed) && ok;
    if (JournalFilePath(os, JOURNAL_NAME, path)) ok = RemoveIfPresent(os, path, report, &removed) && ok;
    return ok;
}

// The one routine behind recovery, roll-back and finishing: brings the disk
// to a whole installation, old or new, as the journal's state says, and
// removes the journal. Touches nothing but the journal's files and the
// entries' targets and composed names, and those only when they are the
// update's own.
RecoveryOutcome Settle(Platform& os, Journal& journal, RecoveryReport* report, unsigned helpers) {
    report->found = true;
    report->state = journal.state;
    JournalPath(os, report->journalPath);
    RecoveryOutcome done = RecoveryOutcome::Discarded;
    switch (journal.state) {
    case JournalState::Staging:
        break;
    case JournalState::Committing:
        UndoCommit(os, journal, report);
        if (report->failed != 0) return RecoveryOutcome::Incomplete;
        // Nothing installed is changed any more. The journal says so before
        // the new copies go: a kill while they are removed must not read a
        // missing new copy as one moved onto its target. The moves back are
        // made durable first, even when none was made here (a run killed
        // after making them, before they were durable, leaves nothing to
        // do): a journal in state Staging over a commit that a power cut
        // brought back would leave new copies on their targets for good.
        if (!FoldersDurable(os, journal, report)) return RecoveryOutcome::Incomplete;
        journal.state = JournalState::Staging;
        if (WriteJournal(os, journal) != JournalResult::Ok) {
            journal.state = JournalState::Committing;
            NoteFailure(report, report->journalPath);
            return RecoveryOutcome::Incomplete;
        }
        done = report->lost != 0 ? RecoveryOutcome::BackupLost : RecoveryOutcome::RolledBack;
        break;
    case JournalState::Committed:
        done = RecoveryOutcome::RolledForward;
        break;
    }
    RemoveLeftovers(os, journal, report, helpers);
    // Once committed, the installation is whole and new whatever stays: the
    // journal stays only to list what is left for removal.
    const RecoveryOutcome stays =
        journal.state == JournalState::Committed ? RecoveryOutcome::LeftOver : RecoveryOutcome::Incomplete;
    if (report->failed != 0) return stays;
    // The removals are made durable before the journal goes: without it a
    // power cut could bring back a staged copy or a backup, which nothing
    // would list any more, at a name the next update needs free.
    if (!FoldersDurable(os, journal, report)) return stays;
    if (!RemoveJournalFiles(os, report)) return stays;
    return report->notOurs != 0 ? RecoveryOutcome::NotOurs : done;
}

}  // namespace

const char* RecoveryOutcomeName(RecoveryOutcome outcome) {
    switch (outcome) {
    case RecoveryOutcome::NoJournal: return "no journal";
    case RecoveryOutcome::Discarded: return "the unfinished update was discarded";
    case RecoveryOutcome::RolledBack: return "the installation was rolled back";
    case RecoveryOutcome::RolledForward: return "the update was completed";
    case RecoveryOutcome::BackupLost: return "rolled back, but some backups were missing";
    case RecoveryOutcome::NotOurs: return "settled, but files that were not the update's own were left alone";
    case RecoveryOutcome::LeftOver: return "the update was completed, but a file it left is still in use";
    case RecoveryOutcome::Incomplete: return "a file could not be moved or removed";
    case RecoveryOutcome::Damaged: return "the journal is damaged";
    case RecoveryOutcome::Unreadable: return "the journal cannot be read";
    case RecoveryOutcome::NoMemory: return "not enough memory";
    case RecoveryOutcome::NotCommitted: return "the update is not committed";
    }
    return "unknown";
}

uint32_t DecideSettlement(Platform& os, const Journal& journal, const JournalEntry& entry, char* unreadablePath) {
    if (unreadablePath != nullptr) unreadablePath[0] = '\0';
    char staged[kMaxPath];
    char backup[kMaxPath];
    if (!ComposeTransactionPaths(entry.target, entry.index, staged, backup)) return 0;
    switch (journal.state) {
    case JournalState::Staging:
        return StagedVerdict(os, entry, staged, unreadablePath);
    case JournalState::Committed: {
        uint32_t actions = StagedVerdict(os, entry, staged, unreadablePath);
        // A backup name of an entry that had no installed copy is nothing of
        // the update's, and is not looked at.
        if (entry.existed) {
            actions |= Verdict(CheckFile(os, backup, entry.installed), SETTLE_REMOVE_BACKUP, SETTLE_BACKUP_NOT_OURS,
                               backup, unreadablePath);
        }
        return actions;
    }
    case JournalState::Committing:
        if (entry.existed) return DecideRestore(os, entry, staged, backup, unreadablePath);
        // The new copy left its staged name only by being moved onto the
        // target, where there was no installed copy.
        if (FileExists(os, staged)) return StagedVerdict(os, entry, staged, unreadablePath);
        return Verdict(CheckFile(os, entry.target, entry.fresh), SETTLE_NEW_BACK | SETTLE_REMOVE_STAGED,
                       SETTLE_TARGET_NOT_OURS, entry.target, unreadablePath);
    }
    return 0;
}

RecoveryOutcome RecoverInstallation(Platform& os, const char* productDir, RecoveryReport* report) {
    RecoveryReport own;
    if (report == nullptr) report = &own;
    *report = RecoveryReport();
    JournalPath(os, report->journalPath);
    Journal journal;
    JournalResult read = ReadJournal(os, &journal);
    // A journal of another product directory is none of this installation's.
    if (read == JournalResult::Ok && !IsJournalOf(journal, productDir)) read = JournalResult::Damaged;
    RecoveryOutcome outcome;
    switch (read) {
    case JournalResult::Ok:
        outcome = Settle(os, journal, report, 0);
        break;
    case JournalResult::Missing: {
        // A journal being written when the update was cut short, before
        // anything was staged under it.
        char path[kMaxPath];
        uint32_t removed = 0;
        if (JournalFilePath(os, JOURNAL_NEW_NAME, path)) RemoveIfPresent(os, path, report, &removed);
        outcome = RecoveryOutcome::NoJournal;
        break;
    }
    case JournalResult::NoMemory:
        outcome = RecoveryOutcome::NoMemory;
        break;
    case JournalResult::Damaged:
        report->found = true;
        outcome = RecoveryOutcome::Damaged;
        break;
    default:
        report->found = true;
        outcome = RecoveryOutcome::Unreadable;
        break;
    }
    FreeJournal(os, &journal);
    return outcome;
}

RecoveryOutcome RollBack(Platform& os, Journal& journal, RecoveryReport* report, unsigned helpers) {
    RecoveryReport own;
    if (report == nullptr) report = &own;
    *report = RecoveryReport();
    if (ValidateJournal(os, journal) != JournalResult::Ok) return RecoveryOutcome::Damaged;
    return Settle(os, journal, report, helpers);
}

RecoveryOutcome FinishTransaction(Platform& os, Journal& journal, RecoveryReport* report, unsigned helpers) {
    RecoveryReport own;
    if (report == nullptr) report = &own;
    *report = RecoveryReport();
    if (journal.state != JournalState::Committed) return RecoveryOutcome::NotCommitted;
    if (ValidateJournal(os, journal) != JournalResult::Ok) return RecoveryOutcome::Damaged;
    return Settle(os, journal, report, helpers);
}

}  // namespace zv
