#include "transfer/journal.h"

#include <cstring>

#include "package/member_name.h"
#include "platform/bytes.h"
#include "platform/text.h"

namespace zv {
namespace {

// The journal's bytes, all little-endian:
//
//   0   4  "ZVJN"
//   4   2  format version (1)
//   6   1  state (JournalState)
//   7   1  0
//   8   4  entry count
//   12     the entries, each:
//            2  index
//            1  flags (bit 0: an installed copy existed; the others 0)
//            3× 2  length (1 to MEMBER_NAME_MAX), then the bytes of a path
//                  (no terminator): the target, the new copy, the backup
//   end-4  4  CRC-32 of every byte before it
const uint8_t kMagic[4] = {'Z', 'V', 'J', 'N'};
constexpr uint16_t kVersion = 1;
constexpr uint32_t kHeaderSize = 12;
constexpr uint32_t kEntryFixedSize = 3;
constexpr uint32_t kChecksumSize = 4;
constexpr uint8_t kFlagExisted = 0x01;

// The largest journal there can be; a bigger file is not one of ours.
constexpr uint32_t kMaxJournalSize =
    kHeaderSize + JOURNAL_MAX_ENTRIES * (kEntryFixedSize + 3 * (2 + MEMBER_NAME_MAX)) + kChecksumSize;

bool IsNamePattern(const char* name, const char* prefix) {
    if (std::strlen(name) != TRANSACTION_NAME_LENGTH) return false;
    for (int i = 0; i < 4; ++i) {
        if (FoldAz(static_cast<unsigned char>(name[i])) != static_cast<unsigned char>(prefix[i])) return false;
    }
    for (int i = 4; i < 8; ++i) {
        const unsigned c = FoldAz(static_cast<unsigned char>(name[i]));
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return EqualNoCase(name + 8, ".tmp");
}

// The start of the last part of a path.
const char* BaseName(const char* path) {
    const char* last = std::strrchr(path, '\\');
    return last == nullptr ? path : last + 1;
}

bool JournalPath(const char* directory, const char* name, char* path) {
    path[0] = '\0';
    size_t length = std::strlen(directory);
    if (length == 0) return false;
    const bool slash = directory[length - 1] == '\\';
    if (length + (slash ? 0 : 1) + std::strlen(name) > MEMBER_NAME_MAX) return false;
    std::memcpy(path, directory, length);
    if (!slash) path[length++] = '\\';
    std::strcpy(path + length, name);
    return true;
}

bool Exists(Platform& os, const char* path) {
    const FileHandle file = os.Open(path, OpenMode::Read);
    if (file == kNoFile) return false;
    os.Close(file);
    return true;
}

void NoteFailure(RecoveryReport* report, const char* path) {
    if (report->failed++ == 0) CopyText(report->failedPath, sizeof report->failedPath, path);
}

// Removes `path` when it is there; false only when it is there and stays.
bool RemoveIfPresent(Platform& os, const char* path, RecoveryReport* report, uint32_t* counter) {
    if (!Exists(os, path)) return true;
    if (os.Remove(path)) {
        ++*counter;
        return true;
    }
    NoteFailure(report, path);
    return false;
}

// Checks an entry's target and, when given, its stored names against those
// composed from the target and the index.
bool SoundEntry(const JournalEntry& entry, const char* staged, const char* backup) {
    if (!IsSoundTargetPath(entry.target)) return false;
    char composedStaged[kMaxPath];
    char composedBackup[kMaxPath];
    if (!ComposeTransactionPaths(entry.target, entry.index, composedStaged, composedBackup)) return false;
    if (staged != nullptr && std::strcmp(staged, composedStaged) != 0) return false;
    if (backup != nullptr && std::strcmp(backup, composedBackup) != 0) return false;
    return true;
}

// Marks `index` as used in a bitmap of 0x10000 bits; false when it already was.
bool TakeIndex(uint8_t* used, uint16_t index) {
    uint8_t& byte = used[index >> 3];
    const uint8_t bit = static_cast<uint8_t>(1u << (index & 7));
    if (byte & bit) return false;
    byte |= bit;
    return true;
}

// Reads one stored path: a length of 1 to MEMBER_NAME_MAX and that many bytes,
// none of them 0.
bool ReadPath(const uint8_t* bytes, uint32_t end, uint32_t* at, char* path) {
    if (end - *at < 2) return false;
    const uint32_t length = LoadU16LE(bytes + *at);
    *at += 2;
    if (length == 0 || length > MEMBER_NAME_MAX || end - *at < length) return false;
    if (std::memchr(bytes + *at, 0, length) != nullptr) return false;
    std::memcpy(path, bytes + *at, length);
    path[length] = '\0';
    *at += length;
    return true;
}

uint32_t PutPath(uint8_t* out, uint32_t at, const char* path) {
    const uint32_t length = static_cast<uint32_t>(std::strlen(path));
    StoreU16LE(out + at, static_cast<uint16_t>(length));
    std::memcpy(out + at + 2, path, length);
    return at + 2 + length;
}

// Rewrites the journal in `next`, which must follow the state it has; on
// failure it keeps its state.
JournalResult ChangeState(Platform& os, Journal& journal, JournalState expected, JournalState next) {
    if (journal.state != expected) return JournalResult::WrongState;
    journal.state = next;
    const JournalResult result = WriteJournal(os, journal);
    if (result != JournalResult::Ok) journal.state = expected;
    return result;
}

// Removes every new copy left at its staged name.
void RemoveStagedCopies(Platform& os, const Journal& journal, RecoveryReport* report) {
    char staged[kMaxPath];
    char backup[kMaxPath];
    for (uint32_t i = 0; i < journal.count; ++i) {
        if (!ComposeTransactionPaths(journal.entries[i].target, journal.entries[i].index, staged, backup)) continue;
        RemoveIfPresent(os, staged, report, &report->stagedRemoved);
    }
}

// Undoes the moves of the commit, last entry first, each in the reverse
// order of the commit: the new copy from the target back to its staged name,
// then the backup back onto the target. An entry undone is on the disk as it
// was before its commit began, which these same rules leave alone (the
// argument in the header). The new copies are left at their staged names.
void UndoCommit(Platform& os, const Journal& journal, RecoveryReport* report) {
    char staged[kMaxPath];
    char backup[kMaxPath];
    for (uint32_t i = journal.count; i-- > 0;) {
        const JournalEntry& entry = journal.entries[i];
        if (!ComposeTransactionPaths(entry.target, entry.index, staged, backup)) continue;
        const bool stagedThere = Exists(os, staged);
        if (!entry.existed) {
            // The new copy left its staged name only by being moved onto the
            // target, where there was no installed copy.
            if (!stagedThere && Exists(os, entry.target)) {
                if (os.Replace(entry.target, staged)) {
                    ++report->newRemoved;
                } else {
                    NoteFailure(report, entry.target);
                }
            }
            continue;
        }
        if (!Exists(os, backup)) {
            // No backup: the installed copy was never moved aside (or is
            // back), unless the new copy was moved in, and then the backup
            // was lost: the installed copy cannot come back.
            if (!stagedThere) ++report->lost;
            continue;
        }
        if (!stagedThere && Exists(os, entry.target) && !os.Replace(entry.target, staged)) {
            NoteFailure(report, entry.target);
            continue;
        }
        if (os.Replace(backup, entry.target)) {
            ++report->restored;
        } else {
            NoteFailure(report, entry.target);
        }
    }
}

void RemoveBackups(Platform& os, const Journal& journal, RecoveryReport* report) {
    char staged[kMaxPath];
    char backup[kMaxPath];
    for (uint32_t i = 0; i < journal.count; ++i) {
        const JournalEntry& entry = journal.entries[i];
        if (!ComposeTransactionPaths(entry.target, entry.index, staged, backup)) continue;
        const bool first = report->failed == 0;
        if (!RemoveIfPresent(os, backup, report, &report->backupsRemoved) && first) {
            // Held by a running program, which the user knows by the
            // target's name rather than by the backup's.
            CopyText(report->failedPath, sizeof report->failedPath, entry.target);
        }
    }
}

// Removes the journal and any temporary one; false when one stays.
bool RemoveJournalFiles(Platform& os, const char* directory, RecoveryReport* report) {
    char path[kMaxPath];
    uint32_t removed = 0;
    bool ok = true;
    if (JournalPath(directory, JOURNAL_NEW_NAME, path)) ok = RemoveIfPresent(os, path, report, &removed) && ok;
    if (JournalPath(directory, JOURNAL_NAME, path)) ok = RemoveIfPresent(os, path, report, &removed) && ok;
    return ok;
}

// The one routine behind recovery, roll-back and finishing: brings the disk
// to a whole installation, old or new, as the journal's state says, and
// removes the journal. Touches nothing but the journal's files and the
// entries' targets and composed names.
RecoveryOutcome Settle(Platform& os, Journal& journal, RecoveryReport* report) {
    report->found = true;
    report->state = journal.state;
    RecoveryOutcome done = RecoveryOutcome::Discarded;
    switch (journal.state) {
    case JournalState::Staging:
        break;
    case JournalState::Committing:
        UndoCommit(os, journal, report);
        if (report->failed != 0) return RecoveryOutcome::Incomplete;
        // Nothing installed is changed any more. The journal says so before
        // the new copies go: a kill while they are removed must not read a
        // missing new copy as one moved onto its target.
        journal.state = JournalState::Staging;
        if (WriteJournal(os, journal) != JournalResult::Ok) {
            journal.state = JournalState::Committing;
            char path[kMaxPath];
            JournalPath(journal.directory, JOURNAL_NAME, path);
            NoteFailure(report, path);
            return RecoveryOutcome::Incomplete;
        }
        done = report->lost != 0 ? RecoveryOutcome::BackupLost : RecoveryOutcome::RolledBack;
        break;
    case JournalState::Committed:
        RemoveBackups(os, journal, report);
        done = RecoveryOutcome::RolledForward;
        break;
    }
    RemoveStagedCopies(os, journal, report);
    // Once committed, the installation is whole and new whatever stays: the
    // journal stays only to list what is left for removal.
    const RecoveryOutcome stays =
        journal.state == JournalState::Committed ? RecoveryOutcome::LeftOver : RecoveryOutcome::Incomplete;
    if (report->failed != 0) return stays;
    if (!RemoveJournalFiles(os, journal.directory, report)) return stays;
    return done;
}

}  // namespace

const char* JournalStateName(JournalState state) {
    switch (state) {
    case JournalState::Staging: return "staging";
    case JournalState::Committing: return "committing";
    case JournalState::Committed: return "committed";
    }
    return "unknown";
}

const char* JournalResultName(JournalResult result) {
    switch (result) {
    case JournalResult::Ok: return "ok";
    case JournalResult::Missing: return "no journal";
    case JournalResult::Unreadable: return "the journal cannot be read";
    case JournalResult::Damaged: return "the journal is damaged";
    case JournalResult::NoMemory: return "not enough memory";
    case JournalResult::Invalid: return "an entry cannot be journaled";
    case JournalResult::WrongState: return "a change of state out of order";
    case JournalResult::CannotCreate: return "the journal cannot be created";
    case JournalResult::WriteFailed: return "the journal cannot be written";
    case JournalResult::ReplaceFailed: return "the journal cannot be put in place";
    case JournalResult::RemoveFailed: return "the journal cannot be removed";
    }
    return "unknown";
}

const char* CommitStepName(CommitStep step) {
    switch (step) {
    case CommitStep::Done: return "done";
    case CommitStep::InstalledNotMoved: return "the installed copy cannot be moved aside";
    case CommitStep::NewCopyNotMoved: return "the new copy cannot be put in place";
    case CommitStep::BadEntry: return "the entry's names cannot be composed";
    }
    return "unknown";
}

const char* RecoveryOutcomeName(RecoveryOutcome outcome) {
    switch (outcome) {
    case RecoveryOutcome::NoJournal: return "no journal";
    case RecoveryOutcome::Discarded: return "the unfinished update was discarded";
    case RecoveryOutcome::RolledBack: return "the installation was rolled back";
    case RecoveryOutcome::RolledForward: return "the update was completed";
    case RecoveryOutcome::BackupLost: return "rolled back, but some backups were missing";
    case RecoveryOutcome::LeftOver: return "the update was completed, but a file it left is still in use";
    case RecoveryOutcome::Incomplete: return "a file could not be moved or removed";
    case RecoveryOutcome::Damaged: return "the journal is damaged";
    case RecoveryOutcome::Unreadable: return "the journal cannot be read";
    case RecoveryOutcome::NoMemory: return "not enough memory";
    case RecoveryOutcome::NotCommitted: return "the update is not committed";
    }
    return "unknown";
}

bool ComposeTransactionPaths(const char* target, uint32_t index, char* staged, char* backup) {
    staged[0] = '\0';
    backup[0] = '\0';
    const char* last = std::strrchr(target, '\\');
    if (last == nullptr || index > 0xFFFF) return false;
    const size_t directoryLength = static_cast<size_t>(last + 1 - target);
    if (directoryLength + TRANSACTION_NAME_LENGTH > MEMBER_NAME_MAX) return false;
    static const char kDigits[] = "0123456789ABCDEF";
    char name[TRANSACTION_NAME_LENGTH + 1] = "----0000.tmp";
    std::memcpy(name, STAGED_NAME_PREFIX, 4);
    for (int i = 0; i < 4; ++i) name[7 - i] = kDigits[(index >> (4 * i)) & 0xF];
    std::memcpy(staged, target, directoryLength);
    std::memcpy(staged + directoryLength, name, sizeof name);
    std::memcpy(backup, staged, directoryLength + sizeof name);
    std::memcpy(backup + directoryLength, BACKUP_NAME_PREFIX, 4);
    return true;
}

bool IsStagedCopyName(const char* name) { return IsNamePattern(name, STAGED_NAME_PREFIX); }
bool IsBackupName(const char* name) { return IsNamePattern(name, BACKUP_NAME_PREFIX); }

bool IsSoundTargetPath(const char* path) {
    const size_t length = std::strlen(path);
    if (length > MEMBER_NAME_MAX) return false;
    const char* p;
    if (((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z') && path[1] == ':' && path[2] == '\\') {
        p = path + 3;
    } else if (path[0] == '\\' && path[1] == '\\') {
        p = path + 2;  // the server and the share are parts like the others
        const char* server = std::strchr(p, '\\');
        if (server == nullptr || std::strchr(server + 1, '\\') == nullptr) return false;
    } else {
        return false;
    }
    // Every part: not empty, not "." or "..", no control or forbidden
    // character (":" included: no stream names, no second drive).
    const char* part = p;
    for (;; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c == '\\' || c == '\0') {
            const size_t partLength = static_cast<size_t>(p - part);
            if (partLength == 0) return false;
            if (part[0] == '.' && (partLength == 1 || (partLength == 2 && part[1] == '.'))) return false;
            if (c == '\0') break;
            part = p + 1;
            continue;
        }
        if (c < 0x20 || c == 0x7F || std::strchr("<>\"/|?*:", c) != nullptr) return false;
    }
    const char* base = BaseName(path);
    for (int i = 0; MEMBER_RESERVED_PREFIX[i] != '\0'; ++i) {
        if (FoldAz(static_cast<unsigned char>(base[i])) != static_cast<unsigned char>(MEMBER_RESERVED_PREFIX[i])) {
            return true;
        }
    }
    return false;
}

bool AllocJournal(Platform& os, Journal* journal, const char* directory, uint32_t count) {
    FreeJournal(os, journal);
    char path[kMaxPath];
    if (count > JOURNAL_MAX_ENTRIES || !JournalPath(directory, JOURNAL_NEW_NAME, path) ||
        !JournalPath(directory, JOURNAL_NAME, path)) {
        return false;
    }
    BlockHandle block = 0;
    void* entries = AllocGlobalBlock(os, count == 0 ? 1 : count * static_cast<uint32_t>(sizeof(JournalEntry)), &block);
    if (entries == nullptr) return false;
    CopyText(journal->directory, sizeof journal->directory, directory);
    journal->entries = static_cast<JournalEntry*>(entries);
    journal->block = block;
    journal->count = count;
    return true;
}

void FreeJournal(Platform& os, Journal* journal) {
    FreeGlobalBlock(os, &journal->block);
    journal->entries = nullptr;
    journal->count = 0;
    journal->state = JournalState::Staging;
}

uint32_t JournalSize(const Journal& journal) {
    uint32_t size = kHeaderSize + kChecksumSize;
    char staged[kMaxPath];
    char backup[kMaxPath];
    for (uint32_t i = 0; i < journal.count; ++i) {
        const JournalEntry& entry = journal.entries[i];
        ComposeTransactionPaths(entry.target, entry.index, staged, backup);
        size += kEntryFixedSize + 6 +
                static_cast<uint32_t>(std::strlen(entry.target) + std::strlen(staged) + std::strlen(backup));
    }
    return size;
}

void EncodeJournal(const Journal& journal, uint8_t* out) {
    std::memcpy(out, kMagic, 4);
    StoreU16LE(out + 4, kVersion);
    out[6] = static_cast<uint8_t>(journal.state);
    out[7] = 0;
    StoreU32LE(out + 8, journal.count);
    uint32_t at = kHeaderSize;
    char staged[kMaxPath];
    char backup[kMaxPath];
    for (uint32_t i = 0; i < journal.count; ++i) {
        const JournalEntry& entry = journal.entries[i];
        ComposeTransactionPaths(entry.target, entry.index, staged, backup);
        StoreU16LE(out + at, entry.index);
        out[at + 2] = entry.existed ? kFlagExisted : 0;
        at = PutPath(out, at + kEntryFixedSize, entry.target);
        at = PutPath(out, at, staged);
        at = PutPath(out, at, backup);
    }
    StoreU32LE(out + at, Crc32(out, at));
}

JournalResult ValidateJournal(const Journal& journal) {
    if (journal.count > JOURNAL_MAX_ENTRIES) return JournalResult::Invalid;
    if (journal.state < JournalState::Staging || journal.state > JournalState::Committed) {
        return JournalResult::Invalid;
    }
    uint8_t used[0x10000 / 8] = {};
    for (uint32_t i = 0; i < journal.count; ++i) {
        const JournalEntry& entry = journal.entries[i];
        if (std::memchr(entry.target, 0, sizeof entry.target) == nullptr) return JournalResult::Invalid;
        if (!SoundEntry(entry, nullptr, nullptr) || !TakeIndex(used, entry.index)) return JournalResult::Invalid;
    }
    return JournalResult::Ok;
}

JournalResult ParseJournal(Platform& os, const uint8_t* bytes, uint32_t size, Journal* journal) {
    FreeJournal(os, journal);
    if (size < kHeaderSize + kChecksumSize || size > kMaxJournalSize) return JournalResult::Damaged;
    const uint32_t end = size - kChecksumSize;
    if (std::memcmp(bytes, kMagic, 4) != 0 || LoadU16LE(bytes + 4) != kVersion || bytes[7] != 0 ||
        bytes[6] < static_cast<uint8_t>(JournalState::Staging) ||
        bytes[6] > static_cast<uint8_t>(JournalState::Committed) || Crc32(bytes, end) != LoadU32LE(bytes + end)) {
        return JournalResult::Damaged;
    }
    const uint32_t count = LoadU32LE(bytes + 8);
    // Every entry takes at least its fixed part and three one-byte paths.
    if (count > JOURNAL_MAX_ENTRIES || count > (end - kHeaderSize) / (kEntryFixedSize + 9)) {
        return JournalResult::Damaged;
    }
    BlockHandle block = 0;
    auto* entries = static_cast<JournalEntry*>(
        AllocGlobalBlock(os, count == 0 ? 1 : count * static_cast<uint32_t>(sizeof(JournalEntry)), &block));
    if (entries == nullptr) return JournalResult::NoMemory;

    uint8_t used[0x10000 / 8] = {};
    uint32_t at = kHeaderSize;
    bool sound = true;
    for (uint32_t i = 0; i < count && sound; ++i) {
        JournalEntry& entry = entries[i];
        char staged[kMaxPath];
        char backup[kMaxPath];
        if (end - at < kEntryFixedSize) {
            sound = false;
            break;
        }
        entry.index = LoadU16LE(bytes + at);
        const uint8_t flags = bytes[at + 2];
        entry.existed = (flags & kFlagExisted) != 0;
        at += kEntryFixedSize;
        sound = (flags & ~kFlagExisted) == 0 && ReadPath(bytes, end, &at, entry.target) &&
                ReadPath(bytes, end, &at, staged) && ReadPath(bytes, end, &at, backup) &&
                SoundEntry(entry, staged, backup) && TakeIndex(used, entry.index);
    }
    if (!sound || at != end) {
        FreeGlobalBlock(os, &block);
        return JournalResult::Damaged;
    }
    journal->state = static_cast<JournalState>(bytes[6]);
    journal->count = count;
    journal->entries = entries;
    journal->block = block;
    return JournalResult::Ok;
}

JournalResult ReadJournal(Platform& os, const char* directory, Journal* journal) {
    FreeJournal(os, journal);
    CopyText(journal->directory, sizeof journal->directory, directory);
    char path[kMaxPath];
    if (!JournalPath(directory, JOURNAL_NAME, path)) return JournalResult::Missing;
    const FileHandle file = os.Open(path, OpenMode::Read);
    if (file == kNoFile) return JournalResult::Missing;
    JournalResult result = JournalResult::Unreadable;
    BlockHandle block = 0;
    const int32_t size = os.Seek(file, 0, SeekOrigin::End);
    if (size >= 0 && static_cast<uint32_t>(size) > kMaxJournalSize) {
        result = JournalResult::Damaged;
    } else if (size >= 0 && os.Seek(file, 0, SeekOrigin::Begin) == 0) {
        auto* bytes = static_cast<uint8_t*>(AllocGlobalBlock(os, size == 0 ? 1 : static_cast<uint32_t>(size), &block));
        if (bytes == nullptr) {
            result = JournalResult::NoMemory;
        } else if (os.Read(file, bytes, static_cast<uint32_t>(size)) == size) {
            result = ParseJournal(os, bytes, static_cast<uint32_t>(size), journal);
        }
    }
    FreeGlobalBlock(os, &block);
    os.Close(file);
    return result;
}

JournalResult WriteJournal(Platform& os, const Journal& journal) {
    if (ValidateJournal(journal) != JournalResult::Ok) return JournalResult::Invalid;
    char newPath[kMaxPath];
    char path[kMaxPath];
    if (!JournalPath(journal.directory, JOURNAL_NEW_NAME, newPath) ||
        !JournalPath(journal.directory, JOURNAL_NAME, path)) {
        return JournalResult::Invalid;
    }
    const uint32_t size = JournalSize(journal);
    BlockHandle block = 0;
    auto* bytes = static_cast<uint8_t*>(AllocGlobalBlock(os, size, &block));
    if (bytes == nullptr) return JournalResult::NoMemory;
    EncodeJournal(journal, bytes);

    JournalResult result = JournalResult::Ok;
    // Create only ever makes a new file: a temporary journal left by a kill
    // goes first (removing a name never writes through what it names).
    os.Remove(newPath);
    const FileHandle file = os.Create(newPath);
    if (file == kNoFile) {
        result = JournalResult::CannotCreate;
    } else {
        const bool written = os.Write(file, bytes, size) == static_cast<int32_t>(size) && os.Flush(file);
        os.Close(file);
        if (!written) {
            result = JournalResult::WriteFailed;
        } else if (!os.Replace(newPath, path)) {
            result = JournalResult::ReplaceFailed;
        }
        if (result != JournalResult::Ok) os.Remove(newPath);
    }
    FreeGlobalBlock(os, &block);
    return result;
}

JournalResult BeginTransaction(Platform& os, Journal& journal) {
    journal.state = JournalState::Staging;
    return WriteJournal(os, journal);
}

JournalResult MarkCommitting(Platform& os, Journal& journal) {
    return ChangeState(os, journal, JournalState::Staging, JournalState::Committing);
}

JournalResult MarkCommitted(Platform& os, Journal& journal) {
    return ChangeState(os, journal, JournalState::Committing, JournalState::Committed);
}

CommitStep CommitEntry(Platform& os, const JournalEntry& entry) {
    char staged[kMaxPath];
    char backup[kMaxPath];
    if (!ComposeTransactionPaths(entry.target, entry.index, staged, backup)) return CommitStep::BadEntry;
    if (entry.existed && !os.Replace(entry.target, backup)) return CommitStep::InstalledNotMoved;
    if (!os.Replace(staged, entry.target)) return CommitStep::NewCopyNotMoved;
    return CommitStep::Done;
}

RecoveryOutcome RecoverInstallation(Platform& os, const char* directory, RecoveryReport* report) {
    RecoveryReport own;
    if (report == nullptr) report = &own;
    *report = RecoveryReport();
    Journal journal;
    const JournalResult read = ReadJournal(os, directory, &journal);
    RecoveryOutcome outcome;
    switch (read) {
    case JournalResult::Ok:
        outcome = Settle(os, journal, report);
        break;
    case JournalResult::Missing: {
        // A journal being written when the update was cut short, before
        // anything was staged under it.
        char path[kMaxPath];
        uint32_t removed = 0;
        if (JournalPath(directory, JOURNAL_NEW_NAME, path)) RemoveIfPresent(os, path, report, &removed);
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

RecoveryOutcome RollBack(Platform& os, Journal& journal, RecoveryReport* report) {
    RecoveryReport own;
    if (report == nullptr) report = &own;
    *report = RecoveryReport();
    if (ValidateJournal(journal) != JournalResult::Ok) return RecoveryOutcome::Damaged;
    return Settle(os, journal, report);
}

RecoveryOutcome FinishTransaction(Platform& os, Journal& journal, RecoveryReport* report) {
    RecoveryReport own;
    if (report == nullptr) report = &own;
    *report = RecoveryReport();
    if (journal.state != JournalState::Committed) return RecoveryOutcome::NotCommitted;
    if (ValidateJournal(journal) != JournalResult::Ok) return RecoveryOutcome::Damaged;
    return Settle(os, journal, report);
}

}  // namespace zv
