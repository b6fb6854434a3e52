// The update journal: what makes an update all or nothing across a kill or
// a power cut.
//
// An update writes every member into a new copy beside its target first (the
// installed files untouched), and only when all of them are written swaps the
// installed files for the new copies. The journal, a file in the product
// directory, names every file of that swap, so that the next start can finish
// or undo whatever was cut short.
//
// The transaction, as the transfer drives it:
//
//   1. BeginTransaction: the journal is written in state Staging, before the
//      first new copy is created, so every new copy on the disk is listed.
//   2. The new copies are written (their names from ComposeTransactionPaths).
//   3. MarkCommitting.
//   4. CommitEntry for every entry, in journal order: an installed copy is
//      moved to its backup name, then the new copy onto the target.
//   5. MarkCommitted.
//   6. FinishTransaction: the backups are removed, then the journal.
//
// A failure in 2 or 4 is undone with RollBack; a kill anywhere is settled by
// RecoverInstallation at the next start. Both settle by the same routine:
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
//               Then the journal is rewritten in state Staging (nothing
//               installed is changed any more) and settled as such.
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
// kill while undoing leaves one of them too. Every move is one Replace, which
// happens whole or not at all, and entries do not share files. A backup
// missing while the staged name is empty can only have been removed by
// someone else: that installed copy is lost, and recovery says so.
//
// Safety: the journal is outside input. Reading it refuses, as damaged, a
// journal whose checksum does not hold, whose targets are not full paths, or
// whose staged and backup names are not the ones this module composes beside
// their target from the entry's own index. So settling deletes only files
// with one of our names, moves a new copy only from its own target back to
// its staged name (a target without an installed copy, or one whose backup is
// there), and moves a backup only onto its own target.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace zv {

// The journal in the product directory, and the name it is written under
// before it is put in place whole.
constexpr char JOURNAL_NAME[] = "~zvupd.jnl";
constexpr char JOURNAL_NEW_NAME[] = "~zvupd.new";

// The most entries of one journal: indexes run from 0 to 0xFFFF, and each
// names its own pair of files.
constexpr uint32_t JOURNAL_MAX_ENTRIES = 0x10000;

// The names of a new copy and a backup: a fixed text, the index in four
// hexadecimal digits, ".tmp" ("~zvn002A.tmp", "~zvo002A.tmp").
constexpr char STAGED_NAME_PREFIX[] = "~zvn";
constexpr char BACKUP_NAME_PREFIX[] = "~zvo";
constexpr uint32_t TRANSACTION_NAME_LENGTH = 12;

enum class JournalState : uint8_t {
    Staging = 1,     // new copies are being written; nothing installed changed
    Committing = 2,  // installed copies are moved aside and new copies into place
    Committed = 3,   // every new copy is in place; backups are being removed
};
const char* JournalStateName(JournalState state);

// One member of the update.
struct JournalEntry {
    char target[kMaxPath];  // the full path the member is written to
    uint16_t index;         // names its new copy and backup; unique in a journal
    bool existed;           // an installed copy was at the target at plan time
};

// A journal in memory. The entries live in a global block of the journal's own.
struct Journal {
    char directory[kMaxPath] = {};  // the product directory, which holds the journal
    JournalState state = JournalState::Staging;
    uint32_t count = 0;
    JournalEntry* entries = nullptr;
    BlockHandle block = 0;
};

// Composes the paths of the new copy and the backup of a member: `target`'s
// directory followed by the fixed-length names of `index`. False (both paths
// empty) when the target has no directory, the index is over 0xFFFF, or a
// path would be longer than MEMBER_NAME_MAX characters. `staged` and `backup`
// hold kMaxPath characters each.
bool ComposeTransactionPaths(const char* target, uint32_t index, char* staged, char* backup);

// Whether a file's name (its last part, no directory) is a new copy's or a
// backup's, as composed above (letters in either case).
bool IsStagedCopyName(const char* name);
bool IsBackupName(const char* name);
inline bool IsTransactionName(const char* name) { return IsStagedCopyName(name) || IsBackupName(name); }

// Whether `path` may be a journal's target: a full path ("X:\..." or
// "\\server\share\..."), no longer than MEMBER_NAME_MAX, with no empty, "."
// or ".." part, no control or forbidden character, and a last part that is
// not kept for the updater's own files.
bool IsSoundTargetPath(const char* path);

// Allocates room for `count` entries (zero-filled) and sets the directory
// (with or without a trailing "\"); the state is Staging. False when there is
// no memory, the count is over JOURNAL_MAX_ENTRIES, or the directory with the
// journal's name would not fit a path.
bool AllocJournal(Platform& os, Journal* journal, const char* directory, uint32_t count);
void FreeJournal(Platform& os, Journal* journal);

// The outcome of reading or writing a journal.
enum class JournalResult {
    Ok,
    Missing,        // there is no journal
    Unreadable,     // the journal is there but cannot be read whole
    Damaged,        // torn, edited or hostile: refused
    NoMemory,
    Invalid,        // the journal in memory breaks the rules that reading checks
    WrongState,     // a change of state out of order
    CannotCreate,   // the temporary journal cannot be created
    WriteFailed,    // cannot be written or flushed in full
    ReplaceFailed,  // cannot be put in place (the journal on the disk is unchanged)
    RemoveFailed,
};
const char* JournalResultName(JournalResult result);

// The journal's bytes: the size they take, and writing them into `out`
// (JournalSize bytes). The journal must be valid (ValidateJournal).
uint32_t JournalSize(const Journal& journal);
void EncodeJournal(const Journal& journal, uint8_t* out);
// Ok, or Invalid when an entry breaks a rule that reading checks.
JournalResult ValidateJournal(const Journal& journal);

// Parses a journal's bytes into `journal`, which gets entries of its own (free
// them with FreeJournal); its directory is left as it is. Ok, Damaged (the
// journal is left empty) or NoMemory. Never reads outside the `size` bytes.
JournalResult ParseJournal(Platform& os, const uint8_t* bytes, uint32_t size, Journal* journal);

// Reads the journal of `directory` into `journal`: Ok, Missing, Unreadable,
// Damaged or NoMemory (the last four with an empty journal).
JournalResult ReadJournal(Platform& os, const char* directory, Journal* journal);

// Writes the whole journal under the temporary name, forces it to the disk
// and puts it in place, so the journal on the disk is always whole, the old
// one or the new one.
JournalResult WriteJournal(Platform& os, const Journal& journal);

// Steps of the transaction. Begin writes the journal in state Staging; the
// marks rewrite it in the next state (on failure the journal, on the disk and
// in memory, stays in the state it had).
JournalResult BeginTransaction(Platform& os, Journal& journal);
JournalResult MarkCommitting(Platform& os, Journal& journal);
JournalResult MarkCommitted(Platform& os, Journal& journal);

// Puts one entry's new copy in place: the installed copy (when the plan found
// one) to its backup name, then the new copy onto the target.
enum class CommitStep {
    Done,
    InstalledNotMoved,  // the installed copy could not be moved aside; nothing changed
    NewCopyNotMoved,    // moved aside, but the new copy could not take its place
    BadEntry,           // the entry's names cannot be composed
};
const char* CommitStepName(CommitStep step);
CommitStep CommitEntry(Platform& os, const JournalEntry& entry);

// What settling a journal did, for traces and tests.
struct RecoveryReport {
    bool found = false;             // a journal was there (or given)
    JournalState state = JournalState::Staging;  // its state when settling began
    uint32_t restored = 0;          // backups put back on their targets
    uint32_t newRemoved = 0;        // new copies taken off targets that had no installed copy
    uint32_t stagedRemoved = 0;     // new copies removed from their staged names
    uint32_t backupsRemoved = 0;    // backups removed after the commit
    uint32_t lost = 0;              // installed copies whose backup was gone
    uint32_t failed = 0;            // moves or removals that failed
    char failedPath[kMaxPath] = {}; // the file of the first failure (for a backup
                                    // that stays, its target)
};

enum class RecoveryOutcome {
    NoJournal,      // nothing to do
    Discarded,      // from Staging: the new copies are gone, nothing installed had changed
    RolledBack,     // from Committing: the installation is as it was before
    RolledForward,  // from Committed: the new installation stays, the backups are gone
    BackupLost,     // rolled back, but some installed copies had lost their backup: their
                    // new copies stay (report.lost); the journal is removed
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

// At start-up: settles the journal that a cut-short update left in
// `directory`, if any, and removes it. A stale temporary journal is removed
// too. `report` may be null.
RecoveryOutcome RecoverInstallation(Platform& os, const char* directory, RecoveryReport* report);

// Undoes what the running transaction did so far, from the journal in memory,
// and removes the journal: a failed staging or commit. In state Committed
// there is nothing left to undo and it finishes the transaction instead.
RecoveryOutcome RollBack(Platform& os, Journal& journal, RecoveryReport* report);

// Ends a committed transaction: removes the backups, then the journal
// (LeftOver when one of them stays).
RecoveryOutcome FinishTransaction(Platform& os, Journal& journal, RecoveryReport* report);

}  // namespace zv
