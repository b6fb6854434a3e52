// The update journal: what makes an update all or nothing across a kill or
// a power cut.
//
// An update writes every member into a new copy beside its target first (the
// installed files untouched), and only when all of them are written swaps the
// installed files for the new copies. The journal names every file of that
// swap, so that the next start can finish or undo whatever was cut short.
//
// The transaction, as the transfer drives it:
//
//   1. BeginTransaction: the journal is written in state Staging, before the
//      first new copy is created, so every new copy on the disk is listed.
//   2. The new copies are written (their names from ComposeTransactionPaths).
//   3. RecordJournalFiles, then MarkCommitting: the size and SHA-256 of every
//      new copy, and of every installed copy about to be moved aside, go
//      into the journal with the state Committing.
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
// someone else: that installed copy is lost, and recovery says so. No sound
// state has a file at the target while the new copy is staged and the backup
// present, so a backup is only ever moved onto an empty target.
//
// Safety. The updater runs with administrator rights, and the product
// directory is often writable by every user of the machine, so:
//
// - The journal lives in the Windows directory, which only administrators
//   can write, never in the product directory. A file of the journal's name
//   in the product directory is nobody's journal and is never read.
// - The journal is still outside input (a damaged disk, another program).
//   Reading it refuses, as damaged, a journal whose checksum does not hold,
//   whose format version is not this one, whose product directory is not a
//   plain full path, or one of whose targets lies outside that directory
//   (other folders, "..", UNC and device paths, relative paths) unless it is
//   a runtime library in the directory where the shared-file lookup puts it;
//   and whose staged and backup names are not the ones this module composes
//   beside their target from the entry's own index. Recovery also refuses a
//   journal of another product directory than the installed one. A refused
//   journal touches nothing at all.
// - Files beside the targets may have been changed by anyone since they were
//   recorded. Once the commit began, every file is checked against the size
//   and SHA-256 recorded for it before it is moved or removed: a backup must
//   be the installed copy that was moved aside, a file at the target or the
//   staged name must be the new copy. A file that is not is left alone and
//   counted (report.notOurs); it is never put back, moved or removed, and no
//   later start could make it match, so the journal is settled without it.
//   Before the commit (state Staging with nothing recorded yet: the kill came
//   while new copies were still being written) a file at a staged name is
//   removed by its name alone: only that name goes (a link is removed, not
//   what it points to), and names of that form are kept from every member.
#pragma once

#include <cstdint>

#include "package/member_name.h"
#include "platform/platform.h"
#include "platform/sha256.h"

namespace zv {

// The journal in the Windows directory, and the name it is written under
// before it is put in place whole.
constexpr char JOURNAL_NAME[] = "~zvupd.jnl";
constexpr char JOURNAL_NEW_NAME[] = "~zvupd.new";

// The path of the journal file `name` (JOURNAL_NAME or JOURNAL_NEW_NAME): the
// Windows directory followed by the name. The one place that says where the
// journal lives. False (the path empty) when the Windows directory is not
// known or the path would not fit.
bool JournalFilePath(Platform& os, const char* name, char* path);

// The most entries of one journal: indexes run from 0 to 0xFFFF, and each
// names its own pair of files.
constexpr uint32_t JOURNAL_MAX_ENTRIES = 0x10000;

// The names of a new copy and a backup: a fixed text, the index in four
// hexadecimal digits, ".tmp" ("~zvn002A.tmp", "~zvo002A.tmp").
constexpr char STAGED_NAME_PREFIX[] = "~zvn";
constexpr char BACKUP_NAME_PREFIX[] = "~zvo";
constexpr uint32_t TRANSACTION_NAME_LENGTH = 12;
// The longest directory (its closing "\" counted) that still has room for
// those names within MEMBER_NAME_MAX characters: the one rule of their room,
// for composing them and for the plan's refusal of a target too deep for them.
constexpr uint32_t TRANSACTION_DIRECTORY_MAX = MEMBER_NAME_MAX - TRANSACTION_NAME_LENGTH;

enum class JournalState : uint8_t {
    Staging = 1,     // new copies are being written; nothing installed changed
    Committing = 2,  // installed copies are moved aside and new copies into place
    Committed = 3,   // every new copy is in place; backups are being removed
};
const char* JournalStateName(JournalState state);

// What a file was when it was recorded: its size and SHA-256.
struct FileRecord {
    uint32_t size;
    uint8_t digest[SHA256_DIGEST_SIZE];
};

// One member of the update.
struct JournalEntry {
    char target[kMaxPath];  // the full path the member is written to
    uint16_t index;         // names its new copy and backup; unique in a journal
    bool existed;           // an installed copy was at the target at plan time
    bool recorded;          // the records below hold (from the commit on)
    FileRecord fresh;       // the new copy, as staged
    FileRecord installed;   // the installed copy moved to the backup (when it existed)
};

// A journal in memory. The entries live in a global block of the journal's own.
struct Journal {
    char productDir[kMaxPath] = {};  // every target lies in it (save the runtime libraries)
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

// Whether `path` may be a journal's target: a full path on a drive
// ("X:\..."; no UNC, device or relative path), no longer than
// MEMBER_NAME_MAX, with no empty, "." or ".." part, no control or forbidden
// character, and a last part that is not kept for the updater's own files.
bool IsSoundTargetPath(const char* path);

// Whether `path` may be a journal's product directory: a drive's root or a
// full path on a drive with sound parts, with or without a trailing "\".
bool IsSoundProductDir(const char* path);

// Whether a journal of the product directory `productDir` may name `target`:
// a sound target path inside that directory, or a runtime library (PLMR.DLL,
// PLMR32.DLL) directly in the directory where the shared-file lookup puts it.
bool IsJournalTarget(Platform& os, const char* productDir, const char* target);

// Allocates room for `count` entries (zero-filled) and sets the product
// directory; the state is Staging. False when there is no memory, the count
// is over JOURNAL_MAX_ENTRIES, or the directory is not sound.
bool AllocJournal(Platform& os, Journal* journal, const char* productDir, uint32_t count);
void FreeJournal(Platform& os, Journal* journal);

// The outcome of reading or writing a journal.
enum class JournalResult {
    Ok,
    Missing,        // there is no journal
    Unreadable,     // the journal is there but cannot be read whole
    Damaged,        // torn, edited, of another format version or hostile: refused
    NoMemory,
    Invalid,        // the journal in memory breaks the rules that reading checks
    WrongState,     // a change of state out of order
    CannotCreate,   // the temporary journal cannot be created
    WriteFailed,    // cannot be written or flushed in full
    ReplaceFailed,  // cannot be put in place (the journal on the disk is unchanged)
    RemoveFailed,
    CannotRecord,   // a new or installed copy cannot be read and hashed
};
const char* JournalResultName(JournalResult result);

// The journal's bytes: the size they take, and writing them into `out`
// (JournalSize bytes). The journal must be valid (ValidateJournal).
uint32_t JournalSize(const Journal& journal);
void EncodeJournal(const Journal& journal, uint8_t* out);
// Ok, or Invalid when the journal breaks a rule that reading checks.
JournalResult ValidateJournal(Platform& os, const Journal& journal);

// Parses a journal's bytes into `journal`, which gets entries of its own (free
// them with FreeJournal) and the product directory the bytes name. Ok,
// Damaged (the journal is left empty) or NoMemory. Never reads outside the
// `size` bytes.
JournalResult ParseJournal(Platform& os, const uint8_t* bytes, uint32_t size, Journal* journal);

// Reads the journal from the Windows directory into `journal`: Ok, Missing,
// Unreadable, Damaged or NoMemory (the last four with an empty journal).
JournalResult ReadJournal(Platform& os, Journal* journal);

// Whether `journal` is one of the product in `productDir` (with or without a
// trailing "\"); a journal of another directory is refused as damaged.
bool IsJournalOf(const Journal& journal, const char* productDir);

// Writes the whole journal under the temporary name, forces it to the disk
// and puts it in place, so the journal on the disk is always whole, the old
// one or the new one.
JournalResult WriteJournal(Platform& os, const Journal& journal);

// Steps of the transaction. Begin writes the journal in state Staging; the
// marks rewrite it in the next state (on failure the journal, on the disk and
// in memory, stays in the state it had).
JournalResult BeginTransaction(Platform& os, Journal& journal);
// Records the size and SHA-256 of every entry's new copy and, when it
// existed, of its installed copy, in memory: Ok, CannotRecord (`failedPath`,
// kMaxPath characters or null, names the file) or NoMemory. Entries already
// recorded are left as they are.
JournalResult RecordJournalFiles(Platform& os, Journal& journal, char* failedPath);
// Records what is not recorded yet (RecordJournalFiles), then writes the state
// Committing.
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
RecoveryOutcome RollBack(Platform& os, Journal& journal, RecoveryReport* report);

// Ends a committed transaction: removes the backups, then the journal
// (LeftOver when one of them stays).
RecoveryOutcome FinishTransaction(Platform& os, Journal& journal, RecoveryReport* report);

}  // namespace zv
