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
//   2. The new copies are written (their names from ComposeTransactionPaths)
//      and each is flushed; missing folders are created on the way.
//   3. RecordJournalFiles; SyncJournalFolders (AndParents); MarkCommitting:
//      the size and SHA-256 of every new copy, and of every installed copy
//      about to be moved aside, go into the journal with the state
//      Committing, once the names of the new copies (and of the folders
//      created for them) are durable. A new copy's are the ones its stage
//      step took from the bytes it wrote, when it has them (the copy was
//      made new through a handle that let nobody else write it, and found
//      to hold exactly those bytes); otherwise it is read back.
//   4. CommitEntry (transfer/commit.h) for every entry, in journal order: an
//      installed copy is moved to its backup name, then the new copy onto
//      the target. The moves are not made durable one by one.
//   5. SyncJournalFolders (Targets); MarkCommitted.
//   6. FinishTransaction: the backups are removed, their folders made
//      durable, then the journal removed.
//
// A failure in 2 or 4 is undone with RollBack; a kill anywhere is settled by
// RecoverInstallation at the next start (transfer/recovery.h).
//
// Durability. The journal itself is always durable: it is written whole under
// a temporary name, flushed, and put in place with Platform::Replace, which
// makes the rename durable before it returns. The files beside the targets
// are created, moved (Platform::Move) and removed without waiting for the
// disk. A power cut may lose such changes made since their folder was last
// made durable (SyncDirectory): each one whole or not at all, and, within
// one folder, the later ones with the earlier ones (the file system keeps a
// folder's changes in order; a new copy's bytes are flushed before it is
// moved). So the journal never records a state before the changes that
// state relies on are durable in every folder the journal names:
//
// - Staging relies on nothing: whatever of the new copies survived, at
//   their staged names, is removed by its name.
// - Committing relies on every new copy being whole at its staged name
//   before the first move (step 3 makes them durable). The moves since may
//   be lost from any one on in a folder; since an entry's two moves are in
//   one folder and the second is made after the first, each entry is found
//   before its moves, after the first or after both, which settling undoes
//   (the argument in transfer/recovery.h).
// - Committed relies on every move having happened (step 5 makes them
//   durable first); the backups' removals since may be lost, and the next
//   start removes what came back.
// - Settling rewrites a Committing journal as Staging only once its moves
//   back are durable, and removes the journal only once the removals of the
//   staged copies and backups are: otherwise a power cut could bring back
//   the new copies on their targets under a journal that no longer undoes
//   them, or a file at a name the next update needs free, listed nowhere.
//   The journal's removal may itself be lost: the journal found again then
//   has nothing left to do but go.
// A kill that is not a power cut loses no change the system accepted: it is
// the case where nothing is lost.
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

// The journal's own path (JOURNAL_NAME's), as the messages about it name it;
// empty when it cannot be composed.
void JournalPath(Platform& os, char* path);

// The most entries of one journal: indexes run from 0 to 0xFFFF, and each
// names its own pair of files.
constexpr uint32_t JOURNAL_MAX_ENTRIES = 0x10000;

// The names of a new copy and a backup: a fixed text, the index in four
// hexadecimal digits, ".tmp" ("~zvn002A.tmp", "~zvo002A.tmp").
constexpr char STAGED_NAME_PREFIX[] = "~zvn";
constexpr char BACKUP_NAME_PREFIX[] = "~zvo";
constexpr uint32_t TRANSACTION_NAME_LENGTH = 12;
// The longest directory (its closing backslash counted) that leaves room for
// those names within MEMBER_NAME_MAX characters. The plan refuses a target
// in a longer one (LongestTargetDirectory), before anything is written.
constexpr uint32_t LONGEST_TRANSACTION_DIRECTORY = MEMBER_NAME_MAX - TRANSACTION_NAME_LENGTH;

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

// What a file on the disk is against a record of it.
enum class FileCheck { Missing, Unreadable, NoMemory, Differs, Matches };

// Reads the file at `path` whole and gives its size and SHA-256 in *record:
// Matches, or why not (a file that cannot be opened is Missing).
FileCheck HashFile(Platform& os, const char* path, FileRecord* record);

// Whether the file at `path` is the one `expected` records: its size first
// (no need to read a file of another size), then its SHA-256.
FileCheck CheckFile(Platform& os, const char* path, const FileRecord& expected);

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

// Which folders SyncJournalFolders makes durable.
enum class JournalFolders : uint8_t {
    Targets,     // the folders of the targets, which hold their staged copies and backups too
    AndParents,  // those, and every folder between one of them and the product directory:
                 // the stage step creates the folders a new file needs
};

// Makes durable (Platform::SyncDirectory), once each, the folders that hold
// the journal's entries, told apart without regard to case, as Windows does.
// A folder that is not there (one a staging cut short did not create yet)
// has nothing to make durable. True when every one is; false at the first
// that is not, named in
// `failedFolder` (kMaxPath characters, or null). Without memory to sort the
// folders, each entry's is made durable unless it is the one before's.
bool SyncJournalFolders(Platform& os, const Journal& journal, JournalFolders which, char* failedFolder);

// Steps of the transaction. Begin writes the journal in state Staging; the
// marks rewrite it in the next state (on failure the journal, on the disk and
// in memory, stays in the state it had).
JournalResult BeginTransaction(Platform& os, Journal& journal);
// The new copies whose size and SHA-256 the caller took from their bytes as
// they were written through the one handle that created them (nobody else
// could write them meanwhile): those need not be read back to be recorded.
class WrittenCopies {
public:
    // The record of the new copy of journal.entries[entry]; false when it
    // is not known (the copy is read back).
    virtual bool Written(uint32_t entry, FileRecord* record) const = 0;

protected:
    ~WrittenCopies() = default;
};

// Records the size and SHA-256 of every entry's new copy (from `written`
// where it knows them, otherwise read from the disk) and, when it existed,
// of its installed copy, in memory: Ok, CannotRecord (`failedPath`,
// kMaxPath characters or null, names the file) or NoMemory. Entries already
// recorded are left as they are. With `helpers`, up to that many threads
// besides the caller's hash the files (the platform must allow calls from
// several threads); what is recorded is the same as with none.
JournalResult RecordJournalFiles(Platform& os, Journal& journal, char* failedPath,
                                 const WrittenCopies* written = nullptr, unsigned helpers = 0);
// Records what is not recorded yet (RecordJournalFiles), then writes the state
// Committing.
JournalResult MarkCommitting(Platform& os, Journal& journal);
JournalResult MarkCommitted(Platform& os, Journal& journal);

}  // namespace zv
