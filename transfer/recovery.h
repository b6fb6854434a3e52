// Settling the journal: what a failed update (RollBack), a completed one
// (FinishTransaction) and the next start after a kill (RecoverInstallation)
// make of it, all by the same routine. The steps named here are the
// transaction's, as transfer/journal.h lists them.
//
//   Staging     the new copies left are removed; nothing installed changed.
//   Committing  every entry, last to first, is undone in the reverse order
//               of its commit. A backup present means the installed copy was
//               moved aside: the new copy, when it is at the target (it is no
//               longer at its staged name), goes back to its staged name, then
//               the backup onto the target. No installed copy at plan time:
//               the new copy was moved in exactly when it is no longer at its
//               staged name (every new copy was whole before step 3, and only
//               step 4 moves one), and then it goes back to its staged name.
//               An entry undone is on the disk as before its commit began.
//               Once the moves back are durable, the journal is rewritten
//               in state Staging (nothing installed is changed any more) and
//               settled as such.
//   Committed   the backups left are removed; the new installation stays.
//               A backup that cannot be removed (Windows renames a running
//               program's file but does not delete it) keeps the journal,
//               which still lists it, until a later start or update removes
//               it; the installation is whole and new meanwhile.
//
// Why deciding from the disk is sound, for a kill between any two steps of
// step 4 or of its undoing: before an entry's first move, its backup is absent
// and its new copy still at the staged name, which the rules read as "not
// started" and leave; after the move of the installed copy, the backup is
// present and the new copy staged (the backup goes back); after the move of
// the new copy, the staged name is empty (the new copy goes back to it, then
// the backup to the target). Undoing walks the same states backwards, so a
// kill while undoing leaves one of them too. Every move is one rename, which
// happens whole or not at all, and entries do not share files.
//
// The same holds after a power cut, which may also lose the moves made since
// their folder was last made durable: an entry's moves are in one folder,
// and what such a cut leaves of them is the ones made first (journal.h), so
// it only takes an entry back to an earlier one of those states, committing
// or undoing. The journal's own changes are durable when written, and each
// state is written only once the moves it relies on are durable: Committed
// after every move of the commit, Staging (from Committing) after every move
// back, and the journal's removal after the removals. A backup
// missing while the staged name is empty can only have been removed by
// someone else: that installed copy is lost, and recovery says so. No sound
// state has a file at the target while the new copy is staged and the backup
// present, so a backup is only ever moved onto an empty target.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "transfer/journal.h"

namespace zv {

// What settling decides for one entry's files, from the disk as it is.
constexpr uint32_t SETTLE_NEW_BACK = 0x01;  // the new copy from the target back to its staged name
constexpr uint32_t SETTLE_RESTORE = 0x02;  // the backup back onto the target
constexpr uint32_t SETTLE_REMOVE_STAGED = 0x04;  // the new copy removed from its staged name
constexpr uint32_t SETTLE_REMOVE_BACKUP = 0x08;  // the backup removed (the commit is complete)
constexpr uint32_t SETTLE_LOST = 0x10;  // the installed copy's backup is gone: it cannot come back
constexpr uint32_t SETTLE_TARGET_NOT_OURS = 0x20;  // the file at the target is not the new copy: left alone
constexpr uint32_t SETTLE_STAGED_NOT_OURS = 0x40;  // the file at the staged name is not the new copy: left alone
constexpr uint32_t SETTLE_BACKUP_NOT_OURS = 0x80;  // the backup is not the installed copy moved aside: left alone
constexpr uint32_t SETTLE_UNREADABLE = 0x100;  // a file to check cannot be read now: the entry waits
constexpr uint32_t SETTLE_NOT_OURS = SETTLE_TARGET_NOT_OURS | SETTLE_STAGED_NOT_OURS | SETTLE_BACKUP_NOT_OURS;

// The actions (SETTLE_ bits) settling `journal` takes for `entry`, decided
// from the files on the disk; with `unreadablePath` (kMaxPath characters or
// null) naming a file that cannot be read. Changes nothing.
uint32_t DecideSettlement(Platform& os, const Journal& journal, const JournalEntry& entry, char* unreadablePath);

// What settling a journal did, for traces and tests.
struct RecoveryReport {
    bool found = false;             // a journal was there (or given)
    JournalState state = JournalState::Staging;  // its state when settling began
    uint32_t restored = 0;          // backups put back on their targets
    uint32_t newRemoved = 0;        // new copies taken off targets that had no installed copy
    uint32_t stagedRemoved = 0;     // new copies removed from their staged names
    uint32_t backupsRemoved = 0;    // backups removed after the commit
    uint32_t lost = 0;              // installed copies whose backup was gone
    uint32_t notOurs = 0;           // files that were not the update's own: left alone
    uint32_t failed = 0;            // moves or removals that failed
    char failedPath[kMaxPath] = {}; // the file of the first failure (for a backup
                                    // that stays, its target)
    char notOursPath[kMaxPath] = {};  // the first file left alone
    char journalPath[kMaxPath] = {};  // the journal's own path, when it could be composed
};

enum class RecoveryOutcome {
    NoJournal,      // nothing to do
    Discarded,      // from Staging: the new copies are gone, nothing installed had changed
    RolledBack,     // from Committing: the installation is as it was before
    RolledForward,  // from Committed: the new installation stays, the backups are gone
    BackupLost,     // rolled back, but some installed copies had lost their backup: their
                    // new copies stay (report.lost); the journal is removed
    NotOurs,        // settled, but files that were not the update's own were found where
                    // its files belonged and left alone (report.notOurs); the journal is
                    // removed, as nothing could ever make them match
    LeftOver,       // from Committed: the new installation stays and is whole, but a backup
                    // (held by a running program) or the journal could not be removed; the
                    // journal stays and lists them for the next start (report.failedPath)
    Incomplete,     // a move or removal failed: the journal stays for the next start
    Damaged,        // the journal is refused as damaged; nothing was touched
    Unreadable,     // the journal cannot be read whole; nothing was touched
    NoMemory,       // nothing was touched
    NotCommitted,   // FinishTransaction before MarkCommitted; nothing was touched
};
const char* RecoveryOutcomeName(RecoveryOutcome outcome);

// At start-up: settles the journal that a cut-short update of the product in
// `productDir` left, if any, and removes it. A journal that names another
// product directory is refused as damaged. A stale temporary journal is
// removed too. `report` may be null.
RecoveryOutcome RecoverInstallation(Platform& os, const char* productDir, RecoveryReport* report);

// Undoes what the running transaction did so far, from the journal in memory,
// and removes the journal: a failed staging or commit. In state Committed
// there is nothing left to undo and it finishes the transaction instead.
// With `helpers`, up to that many threads besides the caller's check and
// remove the leftover files (the platform must allow calls from several
// threads); the outcome and the report are the same as with none.
RecoveryOutcome RollBack(Platform& os, Journal& journal, RecoveryReport* report, unsigned helpers = 0);

// Ends a committed transaction: removes the backups, then the journal
// (LeftOver when one of them stays). `helpers` as for RollBack.
RecoveryOutcome FinishTransaction(Platform& os, Journal& journal, RecoveryReport* report, unsigned helpers = 0);

}  // namespace zv
