#include "transfer/journal.h"

#include <algorithm>
#include <cstring>

#include "detect/product_files.h"
#include "package/member_name.h"
#include "platform/bytes.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform/threads.h"

namespace zv {
namespace {

// The journal's bytes, all little-endian:
//
//   0   4  "ZVJN"
//   4   2  format version (2); any other is refused
//   6   1  state (JournalState)
//   7   1  0
//   8   4  entry count
//   12     the product directory: a length (1 to MEMBER_NAME_MAX), then its
//          bytes, a drive's root or a path without a trailing "\"
//   then   the entries, each:
//            2  index
//            1  flags (bit 0: an installed copy existed; bit 1: the records
//               hold, as they must from the state Committing on; the others 0)
//            4+32  the new copy's size and SHA-256 (all 0 when not recorded)
//            4+32  the installed copy's size and SHA-256 (all 0 when not
//                  recorded or when there was none)
//            3× 2  length (1 to MEMBER_NAME_MAX), then the bytes of a path
//                  (no terminator): the target, the new copy, the backup
//   end-4  4  CRC-32 of every byte before it
const uint8_t kMagic[4] = {'Z', 'V', 'J', 'N'};
constexpr uint16_t kVersion = 2;
constexpr uint32_t kHeaderSize = 12;
constexpr uint32_t kRecordSize = 4 + SHA256_DIGEST_SIZE;
constexpr uint32_t kEntryFixedSize = 3 + 2 * kRecordSize;
constexpr uint32_t kChecksumSize = 4;
constexpr uint8_t kFlagExisted = 0x01;
constexpr uint8_t kFlagRecorded = 0x02;

// The largest journal there can be; a bigger file is not one of ours.
constexpr uint32_t kMaxJournalSize = kHeaderSize + 2 + MEMBER_NAME_MAX +
                                     JOURNAL_MAX_ENTRIES * (kEntryFixedSize + 3 * (2 + MEMBER_NAME_MAX)) +
                                     kChecksumSize;

// The size of the blocks in which a file is read to be hashed.
constexpr uint32_t kHashBlockSize = 32000;

bool IsNamePattern(const char* name, const char* prefix) {
    if (std::strlen(name) != TRANSACTION_NAME_LENGTH) return false;
    if (!EqualPrefixNoCase(name, prefix, 4)) return false;
    for (int i = 4; i < 8; ++i) {
        const unsigned c = FoldAz(static_cast<unsigned char>(name[i]));
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return EqualNoCase(name + 8, ".tmp");
}

// Whether `path` starts with a drive's root, "X:\".
bool HasDriveRoot(const char* path) {
    const unsigned c = FoldAz(static_cast<unsigned char>(path[0]));
    return c >= 'a' && c <= 'z' && path[1] == ':' && path[2] == '\\';
}

// Whether the parts of a path after its root are sound: none empty, none "."
// or "..", no control or forbidden character (":" included: no stream names,
// no second drive).
bool SoundParts(const char* p) {
    const char* part = p;
    for (;; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c == '\\' || c == '\0') {
            if (CheckPathPart(part, static_cast<size_t>(p - part)) != MemberNameProblem::None) return false;
            if (c == '\0') return true;
            part = p + 1;
            continue;
        }
        if (c == ':') return false;
    }
}

// The length of a directory without its trailing "\" (a drive's root keeps it).
size_t DirectoryLength(const char* directory, size_t length) {
    if (length > 3 && directory[length - 1] == '\\') --length;
    return length;
}

// Whether two directories are the same, with or without a trailing "\".
bool SameDirectory(const char* a, const char* b) {
    const size_t lengthA = DirectoryLength(a, std::strlen(a));
    return lengthA == DirectoryLength(b, std::strlen(b)) && EqualPrefixNoCase(a, b, lengthA);
}

// Checks an entry's target and, when given, its stored names against those
// composed from the target and the index.
bool SoundEntry(Platform& os, const char* productDir, const JournalEntry& entry, const char* staged,
                const char* backup) {
    if (!IsJournalTarget(os, productDir, entry.target)) return false;
    char composedStaged[kMaxPath];
    char composedBackup[kMaxPath];
    if (!ComposeTransactionPaths(entry.target, entry.index, composedStaged, composedBackup)) return false;
    if (staged != nullptr && std::strcmp(staged, composedStaged) != 0) return false;
    if (backup != nullptr && std::strcmp(backup, composedBackup) != 0) return false;
    return true;
}

bool IsZero(const uint8_t* bytes, uint32_t size) {
    for (uint32_t i = 0; i < size; ++i) {
        if (bytes[i] != 0) return false;
    }
    return true;
}

bool IsEmptyRecord(const FileRecord& record) {
    return record.size == 0 && IsZero(record.digest, SHA256_DIGEST_SIZE);
}

// The records of an entry hold together with its flags and the state: none
// before the commit (all zero), every entry's from the commit on, and an
// installed copy's exactly when there was one. A record of a file is never
// all zero: no file's SHA-256 is, not even an empty file's.
bool SoundRecords(const JournalEntry& entry, JournalState state) {
    if (!entry.recorded) return state == JournalState::Staging && IsEmptyRecord(entry.fresh) &&
                                IsEmptyRecord(entry.installed);
    return !IsEmptyRecord(entry.fresh) && entry.existed != IsEmptyRecord(entry.installed);
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

uint32_t PutRecord(uint8_t* out, uint32_t at, const FileRecord& record) {
    StoreU32LE(out + at, record.size);
    std::memcpy(out + at + 4, record.digest, SHA256_DIGEST_SIZE);
    return at + kRecordSize;
}

uint32_t GetRecord(const uint8_t* bytes, uint32_t at, FileRecord* record) {
    record->size = LoadU32LE(bytes + at);
    std::memcpy(record->digest, bytes + at + 4, SHA256_DIGEST_SIZE);
    return at + kRecordSize;
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
    case JournalResult::CannotRecord: return "a file cannot be read to be recorded";
    }
    return "unknown";
}

bool JournalFilePath(Platform& os, const char* name, char* path) {
    path[0] = '\0';
    char directory[kMaxPath] = {};
    const uint32_t length = os.WindowsDirectory(directory, sizeof directory);
    if (length == 0 || length >= sizeof directory || !HasDriveRoot(directory)) return false;
    const bool slash = directory[length - 1] == '\\';
    if (length + (slash ? 0 : 1) + std::strlen(name) > MEMBER_NAME_MAX) return false;
    std::memcpy(path, directory, length);
    size_t at = length;
    if (!slash) path[at++] = '\\';
    std::strcpy(path + at, name);
    return true;
}

void JournalPath(Platform& os, char* path) { JournalFilePath(os, JOURNAL_NAME, path); }

bool ComposeTransactionPaths(const char* target, uint32_t index, char* staged, char* backup) {
    staged[0] = '\0';
    backup[0] = '\0';
    const char* last = std::strrchr(target, '\\');
    if (last == nullptr || index > 0xFFFF) return false;
    const size_t directoryLength = static_cast<size_t>(last + 1 - target);
    if (directoryLength > LONGEST_TRANSACTION_DIRECTORY) return false;
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
    // Only "X:\...": a UNC path ("\\server\share\...") would reach another
    // machine with the user's credentials, a device path ("\\.\", "\\?\")
    // escapes every rule of names, and a relative or drive-relative one
    // depends on the working directory.
    if (std::strlen(path) > MEMBER_NAME_MAX || !HasDriveRoot(path) || !SoundParts(path + 3)) return false;
    return !StartsWithNoCase(LastPathPart(path), MEMBER_RESERVED_PREFIX);
}

bool IsSoundProductDir(const char* path) {
    const size_t length = std::strlen(path);
    if (!HasDriveRoot(path) || length > MEMBER_NAME_MAX) return false;
    if (length == 3) return true;
    // One trailing "\" is allowed; SoundParts refuses an empty last part.
    char copy[kMaxPath];
    std::memcpy(copy, path, length + 1);
    if (copy[length - 1] == '\\') copy[length - 1] = '\0';
    return SoundParts(copy + 3);
}

bool IsJournalTarget(Platform& os, const char* productDir, const char* target) {
    if (!IsSoundProductDir(productDir) || !IsSoundTargetPath(target)) return false;
    // Inside the product directory: its path, a "\" (a root has it), a name.
    const size_t directoryLength = DirectoryLength(productDir, std::strlen(productDir));
    const size_t prefix = directoryLength == 3 ? 3 : directoryLength + 1;
    if (std::strlen(target) > prefix && EqualPrefixNoCase(target, productDir, directoryLength) &&
        target[prefix - 1] == '\\') {
        return true;
    }
    // A runtime library goes where the shared-file lookup puts it.
    const char* base = LastPathPart(target);
    if (!EqualNoCase(base, kRuntime16Name) && !EqualNoCase(base, kRuntime32Name)) return false;
    char windowsDir[kMaxPath] = {};
    char appDir[kMaxPath] = {};
    char current[kMaxPath] = {};
    char destination[kMaxPath] = {};
    os.WindowsDirectory(windowsDir, sizeof windowsDir);
    CopyText(appDir, sizeof appDir, productDir);
    if (directoryLength != 3 && !AppendText(appDir, sizeof appDir, "\\")) return false;
    os.FindSharedFile(base, windowsDir, appDir, current, sizeof current, destination, sizeof destination);
    const size_t targetDirectoryLength = DirectoryLength(target, static_cast<size_t>(base - target));
    const size_t destinationLength = DirectoryLength(destination, std::strlen(destination));
    return destination[0] != '\0' && HasDriveRoot(destination) && targetDirectoryLength == destinationLength &&
           EqualPrefixNoCase(target, destination, destinationLength);
}

bool AllocJournal(Platform& os, Journal* journal, const char* productDir, uint32_t count) {
    FreeJournal(os, journal);
    if (count > JOURNAL_MAX_ENTRIES || !IsSoundProductDir(productDir)) return false;
    BlockHandle block = 0;
    void* entries = AllocGlobalBlock(os, count == 0 ? 1 : count * static_cast<uint32_t>(sizeof(JournalEntry)), &block);
    if (entries == nullptr) return false;
    // Kept without a trailing "\" (a root keeps its own), as the journal stores it.
    CopyText(journal->productDir, sizeof journal->productDir, productDir);
    journal->productDir[DirectoryLength(productDir, std::strlen(productDir))] = '\0';
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
    uint32_t size = kHeaderSize + 2 + static_cast<uint32_t>(std::strlen(journal.productDir)) + kChecksumSize;
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
    uint32_t at = PutPath(out, kHeaderSize, journal.productDir);
    char staged[kMaxPath];
    char backup[kMaxPath];
    for (uint32_t i = 0; i < journal.count; ++i) {
        const JournalEntry& entry = journal.entries[i];
        ComposeTransactionPaths(entry.target, entry.index, staged, backup);
        StoreU16LE(out + at, entry.index);
        out[at + 2] = static_cast<uint8_t>((entry.existed ? kFlagExisted : 0) | (entry.recorded ? kFlagRecorded : 0));
        at = PutRecord(out, at + 3, entry.fresh);
        at = PutRecord(out, at, entry.installed);
        at = PutPath(out, at, entry.target);
        at = PutPath(out, at, staged);
        at = PutPath(out, at, backup);
    }
    StoreU32LE(out + at, Crc32(out, at));
}

JournalResult ValidateJournal(Platform& os, const Journal& journal) {
    if (journal.count > JOURNAL_MAX_ENTRIES) return JournalResult::Invalid;
    if (journal.state < JournalState::Staging || journal.state > JournalState::Committed) {
        return JournalResult::Invalid;
    }
    if (std::memchr(journal.productDir, 0, sizeof journal.productDir) == nullptr ||
        !IsSoundProductDir(journal.productDir) ||
        DirectoryLength(journal.productDir, std::strlen(journal.productDir)) != std::strlen(journal.productDir)) {
        return JournalResult::Invalid;
    }
    uint8_t used[0x10000 / 8] = {};
    for (uint32_t i = 0; i < journal.count; ++i) {
        const JournalEntry& entry = journal.entries[i];
        if (std::memchr(entry.target, 0, sizeof entry.target) == nullptr) return JournalResult::Invalid;
        if (!SoundEntry(os, journal.productDir, entry, nullptr, nullptr) || !TakeIndex(used, entry.index) ||
            !SoundRecords(entry, journal.state)) {
            return JournalResult::Invalid;
        }
    }
    return JournalResult::Ok;
}

JournalResult ParseJournal(Platform& os, const uint8_t* bytes, uint32_t size, Journal* journal) {
    FreeJournal(os, journal);
    journal->productDir[0] = '\0';
    if (size < kHeaderSize + kChecksumSize || size > kMaxJournalSize) return JournalResult::Damaged;
    const uint32_t end = size - kChecksumSize;
    if (std::memcmp(bytes, kMagic, 4) != 0 || LoadU16LE(bytes + 4) != kVersion || bytes[7] != 0 ||
        bytes[6] < static_cast<uint8_t>(JournalState::Staging) ||
        bytes[6] > static_cast<uint8_t>(JournalState::Committed) || Crc32(bytes, end) != LoadU32LE(bytes + end)) {
        return JournalResult::Damaged;
    }
    const JournalState state = static_cast<JournalState>(bytes[6]);
    char productDir[kMaxPath];
    uint32_t at = kHeaderSize;
    if (!ReadPath(bytes, end, &at, productDir) || !IsSoundProductDir(productDir) ||
        DirectoryLength(productDir, std::strlen(productDir)) != std::strlen(productDir)) {
        return JournalResult::Damaged;
    }
    const uint32_t count = LoadU32LE(bytes + 8);
    // Every entry takes at least its fixed part and three one-byte paths.
    if (count > JOURNAL_MAX_ENTRIES || count > (end - at) / (kEntryFixedSize + 9)) {
        return JournalResult::Damaged;
    }
    BlockHandle block = 0;
    auto* entries = static_cast<JournalEntry*>(
        AllocGlobalBlock(os, count == 0 ? 1 : count * static_cast<uint32_t>(sizeof(JournalEntry)), &block));
    if (entries == nullptr) return JournalResult::NoMemory;

    uint8_t used[0x10000 / 8] = {};
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
        entry.recorded = (flags & kFlagRecorded) != 0;
        at = GetRecord(bytes, at + 3, &entry.fresh);
        at = GetRecord(bytes, at, &entry.installed);
        sound = (flags & ~(kFlagExisted | kFlagRecorded)) == 0 && SoundRecords(entry, state) &&
                ReadPath(bytes, end, &at, entry.target) && ReadPath(bytes, end, &at, staged) &&
                ReadPath(bytes, end, &at, backup) && SoundEntry(os, productDir, entry, staged, backup) &&
                TakeIndex(used, entry.index);
    }
    if (!sound || at != end) {
        FreeGlobalBlock(os, &block);
        return JournalResult::Damaged;
    }
    CopyText(journal->productDir, sizeof journal->productDir, productDir);
    journal->state = state;
    journal->count = count;
    journal->entries = entries;
    journal->block = block;
    return JournalResult::Ok;
}

JournalResult ReadJournal(Platform& os, Journal* journal) {
    FreeJournal(os, journal);
    journal->productDir[0] = '\0';
    char path[kMaxPath];
    if (!JournalFilePath(os, JOURNAL_NAME, path)) return JournalResult::Missing;
    const FileHandle file = os.Open(path, OpenMode::Read);
    if (file == kNoFile) return JournalResult::Missing;
    JournalResult result = JournalResult::Unreadable;
    BlockHandle block = 0;
    uint8_t* bytes = nullptr;
    uint32_t size = 0;
    switch (LoadWholeFile(os, file, 0, kMaxJournalSize, &block, &bytes, &size)) {
    case WholeFileRead::Done: result = ParseJournal(os, bytes, size, journal); break;
    case WholeFileRead::TooLarge: result = JournalResult::Damaged; break;
    case WholeFileRead::NoMemory: result = JournalResult::NoMemory; break;
    case WholeFileRead::Failed: break;
    }
    FreeGlobalBlock(os, &block);
    os.Close(file);
    return result;
}

bool IsJournalOf(const Journal& journal, const char* productDir) {
    return productDir != nullptr && SameDirectory(journal.productDir, productDir);
}

JournalResult WriteJournal(Platform& os, const Journal& journal) {
    if (ValidateJournal(os, journal) != JournalResult::Ok) return JournalResult::Invalid;
    char newPath[kMaxPath];
    char path[kMaxPath];
    if (!JournalFilePath(os, JOURNAL_NEW_NAME, newPath) || !JournalFilePath(os, JOURNAL_NAME, path)) {
        return JournalResult::CannotCreate;
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

namespace {

// One entry's record, taken on any thread: what RecordJournalFiles puts into
// the entry, or why it cannot.
struct EntryRecord {
    FileCheck check = FileCheck::Missing;
    bool atTarget = false;  // the installed copy, not the new one, failed the check
    FileRecord fresh = {};
    FileRecord installed = {};
};

void RecordEntry(Platform& os, const Journal& journal, uint32_t i, const WrittenCopies* written, EntryRecord* out) {
    const JournalEntry& entry = journal.entries[i];
    char staged[kMaxPath];
    char backup[kMaxPath];
    *out = EntryRecord();
    if (!ComposeTransactionPaths(entry.target, entry.index, staged, backup)) return;
    out->check = written != nullptr && written->Written(i, &out->fresh) ? FileCheck::Matches
                                                                        : HashFile(os, staged, &out->fresh);
    if (out->check == FileCheck::Matches && entry.existed) {
        out->check = HashFile(os, entry.target, &out->installed);
        out->atTarget = true;
    }
}

}  // namespace

JournalResult RecordJournalFiles(Platform& os, Journal& journal, char* failedPath, const WrittenCopies* written,
                                 unsigned helpers) {
    if (failedPath != nullptr) failedPath[0] = '\0';
    // With helpers every entry is hashed at once, and the records are then
    // taken in entry order up to the first that fails, as one thread takes
    // them: the entries after it are hashed again when they are recorded.
    BlockHandle block = 0;
    EntryRecord* records = nullptr;
    if (helpers != 0 && journal.count > 1) {
        records = static_cast<EntryRecord*>(
            AllocGlobalBlock(os, journal.count * static_cast<uint32_t>(sizeof(EntryRecord)), &block));
        auto record = [&](uint32_t i) {
            if (!journal.entries[i].recorded) RecordEntry(os, journal, i, written, &records[i]);
        };
        if (records != nullptr) ForEachIndex(journal.count, helpers, record);
    }
    JournalResult result = JournalResult::Ok;
    for (uint32_t i = 0; i < journal.count && result == JournalResult::Ok; ++i) {
        JournalEntry& entry = journal.entries[i];
        if (entry.recorded) continue;
        char staged[kMaxPath];
        char backup[kMaxPath];
        if (!ComposeTransactionPaths(entry.target, entry.index, staged, backup)) {
            result = JournalResult::Invalid;
            break;
        }
        EntryRecord one;
        if (records == nullptr) RecordEntry(os, journal, i, written, &one);
        const EntryRecord& r = records != nullptr ? records[i] : one;
        if (r.check == FileCheck::NoMemory) {
            result = JournalResult::NoMemory;
        } else if (r.check != FileCheck::Matches) {
            if (failedPath != nullptr) CopyText(failedPath, kMaxPath, r.atTarget ? entry.target : staged);
            result = JournalResult::CannotRecord;
        } else {
            entry.fresh = r.fresh;
            entry.installed = r.installed;
            entry.recorded = true;
        }
    }
    FreeGlobalBlock(os, &block);
    return result;
}

JournalResult MarkCommitting(Platform& os, Journal& journal) {
    if (journal.state != JournalState::Staging) return JournalResult::WrongState;
    const JournalResult recorded = RecordJournalFiles(os, journal, nullptr);
    if (recorded != JournalResult::Ok) return recorded;
    return ChangeState(os, journal, JournalState::Staging, JournalState::Committing);
}

JournalResult MarkCommitted(Platform& os, Journal& journal) {
    return ChangeState(os, journal, JournalState::Committing, JournalState::Committed);
}

namespace {

// One folder to make durable: the first `length` characters of an entry's
// target (a folder's path without its trailing "\", a drive's root with it).
struct FolderOf {
    uint32_t entry;
    uint32_t length;
};

// The length of the folder whose closing backslash is at `slash` in `path`.
uint32_t FolderLength(const char* path, uint32_t slash) { return slash == 2 && path[1] == ':' ? 3 : slash; }

// Calls `take(entry, length)` for each folder of the journal's entries that
// `which` asks for, nearest the file first; stops when it returns false.
template <typename Take>
bool ForEachFolder(const Journal& journal, JournalFolders which, Take take) {
    const uint32_t productLength = static_cast<uint32_t>(
        DirectoryLength(journal.productDir, std::strlen(journal.productDir)));
    for (uint32_t i = 0; i < journal.count; ++i) {
        const char* target = journal.entries[i].target;
        const uint32_t length = static_cast<uint32_t>(std::strlen(target));
        uint32_t slash = length;
        while (slash > 0 && target[slash - 1] != '\\') --slash;
        if (slash < 3) continue;  // no folder: refused before anything is written
        --slash;
        if (!take(i, FolderLength(target, slash))) return false;
        // The folders below the product directory that lead to this one.
        const bool inside = which == JournalFolders::AndParents && productLength < FolderLength(target, slash) &&
                            EqualPrefixNoCase(target, journal.productDir, productLength) &&
                            (target[productLength] == '\\' || target[productLength - 1] == '\\');
        if (!inside) continue;
        while (slash-- > 0) {
            if (target[slash] != '\\') continue;
            const uint32_t folder = FolderLength(target, slash);
            if (folder < productLength) break;
            if (!take(i, folder)) return false;
        }
    }
    return true;
}

const char* FolderText(const Journal& journal, const FolderOf& folder) {
    return journal.entries[folder.entry].target;
}

bool SameFolder(const Journal& journal, const FolderOf& a, const FolderOf& b) {
    return a.length == b.length && EqualPrefixNoCase(FolderText(journal, a), FolderText(journal, b), a.length);
}

// Orders folders by their text, without regard to case.
bool FolderBefore(const Journal& journal, const FolderOf& a, const FolderOf& b) {
    const char* textA = FolderText(journal, a);
    const char* textB = FolderText(journal, b);
    const uint32_t shorter = a.length < b.length ? a.length : b.length;
    for (uint32_t k = 0; k < shorter; ++k) {
        const unsigned ca = FoldAz(static_cast<unsigned char>(textA[k]));
        const unsigned cb = FoldAz(static_cast<unsigned char>(textB[k]));
        if (ca != cb) return ca < cb;
    }
    return a.length < b.length;
}

bool SyncFolder(Platform& os, const Journal& journal, const FolderOf& folder, char* failedFolder) {
    char path[kMaxPath];
    if (folder.length >= kMaxPath) return false;
    std::memcpy(path, FolderText(journal, folder), folder.length);
    path[folder.length] = '\0';
    // A folder that is not there holds nothing to make durable: one that a
    // staging cut short never created.
    if (os.SyncDirectory(path) || os.Examine(path) == PathKind::Missing) return true;
    if (failedFolder != nullptr) CopyText(failedFolder, kMaxPath, path);
    return false;
}

}  // namespace

bool SyncJournalFolders(Platform& os, const Journal& journal, JournalFolders which, char* failedFolder) {
    if (failedFolder != nullptr) failedFolder[0] = '\0';
    uint32_t count = 0;
    ForEachFolder(journal, which, [&](uint32_t, uint32_t) {
        ++count;
        return true;
    });
    if (count == 0) return true;
    BlockHandle block = 0;
    auto* folders = static_cast<FolderOf*>(
        AllocGlobalBlock(os, count * static_cast<uint32_t>(sizeof(FolderOf)), &block));
    if (folders == nullptr) {
        // Every folder still, some more than once.
        FolderOf previous{0, 0};
        return ForEachFolder(journal, which, [&](uint32_t entry, uint32_t length) {
            const FolderOf folder{entry, length};
            if (previous.length != 0 && SameFolder(journal, previous, folder)) return true;
            previous = folder;
            return SyncFolder(os, journal, folder, failedFolder);
        });
    }
    uint32_t n = 0;
    ForEachFolder(journal, which, [&](uint32_t entry, uint32_t length) {
        folders[n++] = FolderOf{entry, length};
        return true;
    });
    std::sort(folders, folders + n,
              [&](const FolderOf& a, const FolderOf& b) { return FolderBefore(journal, a, b); });
    bool synced = true;
    for (uint32_t k = 0; k < n && synced; ++k) {
        if (k > 0 && SameFolder(journal, folders[k - 1], folders[k])) continue;
        synced = SyncFolder(os, journal, folders[k], failedFolder);
    }
    FreeGlobalBlock(os, &block);
    return synced;
}

// Reads the file at `path` whole and gives its size and SHA-256 in *record.
FileCheck HashFile(Platform& os, const char* path, FileRecord* record) {
    // A file that cannot be opened counts as absent, as everywhere here.
    const FileHandle file = os.Open(path, OpenMode::Read);
    if (file == kNoFile) return FileCheck::Missing;
    BlockHandle block = 0;
    auto* buffer = static_cast<uint8_t*>(AllocGlobalBlock(os, kHashBlockSize, &block));
    FileCheck result = FileCheck::NoMemory;
    if (buffer != nullptr) {
        uint8_t digest[SHA256_DIGEST_SIZE];
        const FileDigest read = DigestOpenFile(os, file, buffer, kHashBlockSize, digest);
        if (read.ok() && read.size <= UINT32_MAX) {
            std::memcpy(record->digest, digest, SHA256_DIGEST_SIZE);
            record->size = static_cast<uint32_t>(read.size);
            result = FileCheck::Matches;
        } else {
            result = read.status == Sha256Status::NoMemory ? FileCheck::NoMemory : FileCheck::Unreadable;
        }
    }
    FreeGlobalBlock(os, &block);
    os.Close(file);
    return result;
}

// Whether the file at `path` is the one `expected` records: its size first
// (no need to read a file of another size), then its SHA-256.
FileCheck CheckFile(Platform& os, const char* path, const FileRecord& expected) {
    const FileHandle file = os.Open(path, OpenMode::Read);
    if (file == kNoFile) return FileCheck::Missing;
    const int32_t size = os.Seek(file, 0, SeekOrigin::End);
    os.Close(file);
    if (size < 0) return FileCheck::Unreadable;
    if (static_cast<uint32_t>(size) != expected.size) return FileCheck::Differs;
    FileRecord found;
    const FileCheck hashed = HashFile(os, path, &found);
    if (hashed != FileCheck::Matches) return hashed;
    const bool same = found.size == expected.size &&
                      std::memcmp(found.digest, expected.digest, SHA256_DIGEST_SIZE) == 0;
    return same ? FileCheck::Matches : FileCheck::Differs;
}

}  // namespace zv
