// The update journal's reader and the recovery that acts on it, on any bytes.
//
// The first byte chooses: bit 0 puts a checksum that holds at the end, so
// that the checks of the contents are reached. The next 8 bytes are the
// disk's decisions (failing opens, reads, writes and moves); the 4 after them
// say, 4 bits an entry, which of each entry's files are on the disk (target,
// new copy, backup) and whether the target holds the new copy's bytes or
// other ones. The rest is the journal. New copies hold the bytes "new",
// backups "old", other targets "mine", so that journals whose records are of
// those bytes (the seeds' are) reach every move and removal.
//
// Properties: a journal the reader accepts is valid, and written again gives
// the same bytes; recovery never reads past the journal, touches no journal
// but the one in the Windows directory and nothing at all of a journal it
// refuses, removes only the journal's own files and the listed new copies and
// backups, moves only a backup onto its own empty target and a new copy back
// to its own empty staged name, and of a file it records moves or removes
// only one whose bytes are the recorded ones.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "fuzz/memory_platform.h"
#include "platform/bytes.h"
#include "platform/sha256.h"
#include "transfer/journal.h"
#include "transfer/recovery.h"

namespace {

using zvfuzz::Check;

const char kDirectory[] = "C:\\ZARVEL";
const char kWindows[] = "C:\\WINDOWS";
const char kSystem[] = "C:\\WINDOWS\\SYSTEM";
const std::vector<uint8_t> kNew = {'n', 'e', 'w'};
const std::vector<uint8_t> kOld = {'o', 'l', 'd'};
const std::vector<uint8_t> kMine = {'m', 'i', 'n', 'e'};

std::string Upper(const std::string& path) {
    std::string s = path;
    for (char& c : s) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return s;
}

uint32_t Crc32(const uint8_t* bytes, size_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= bytes[i];
        for (int k = 0; k < 8; ++k) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return ~crc;
}

bool IsRecorded(const std::vector<uint8_t>& bytes, const zv::FileRecord& record) {
    uint8_t digest[zv::SHA256_DIGEST_SIZE];
    Check(zv::Sha256Bytes(bytes.data(), bytes.size(), digest) == zv::Sha256Status::Ok);
    return bytes.size() == record.size && std::memcmp(digest, record.digest, sizeof digest) == 0;
}

// A disk in memory that checks every change recovery makes against the
// journal it read.
class GuardedPlatform : public zvfuzz::MemoryPlatform {
public:
    const zv::Journal* plan = nullptr;  // null: the journal is refused, and nothing may change
    std::string journal = Upper(std::string(kWindows) + "\\" + zv::JOURNAL_NAME);
    std::string journalNew = Upper(std::string(kWindows) + "\\" + zv::JOURNAL_NEW_NAME);

    uint32_t WindowsDirectory(char* buffer, uint32_t size) override { return Put(buffer, size, kWindows); }
    uint32_t FindSharedFile(const char*, const char*, const char*, char* currentDir, uint32_t currentSize,
                            char* destDir, uint32_t destSize) override {
        Put(currentDir, currentSize, "");
        Put(destDir, destSize, kSystem);
        return 0;
    }
    // A file that cannot be opened reads as absent to recovery, as to every
    // reader: one that was seen so may be moved onto.
    zv::FileHandle Open(const char* path, zv::OpenMode mode) override {
        const zv::FileHandle file = MemoryPlatform::Open(path, mode);
        if (file == zv::kNoFile && files.count(Upper(path)) != 0) hidden_.insert(Upper(path));
        return file;
    }
    zv::FileHandle Create(const char* path) override {
        Check(plan != nullptr && Upper(path) == journalNew);
        return MemoryPlatform::Create(path);
    }
    bool Remove(const char* path) override {
        Check(MayRemove(Upper(path)));
        return files.erase(Upper(path)) != 0 && (decisions.empty() || decisions[0] >= 16);
    }
    bool Replace(const char* from, const char* to) override {
        const std::string source = Upper(from);
        const std::string target = Upper(to);
        Check(MayReplace(source, target));
        auto it = files.find(source);
        if (it == files.end() || (!decisions.empty() && decisions[1] < 16)) return false;
        files[target] = it->second;
        files.erase(source);
        return true;
    }

private:
    std::set<std::string> hidden_;

    static uint32_t Put(char* buffer, uint32_t size, const char* text) {
        if (size == 0) return 0;
        std::strncpy(buffer, text, size - 1);
        buffer[size - 1] = '\0';
        return static_cast<uint32_t>(std::strlen(buffer));
    }
    bool Empty(const std::string& path) const { return files.count(path) == 0 || hidden_.count(path) != 0; }
    bool Holds(const std::string& path, const zv::JournalEntry& entry, bool fresh) const {
        if (!entry.recorded) return true;
        auto it = files.find(path);
        return it != files.end() && IsRecorded(it->second, fresh ? entry.fresh : entry.installed);
    }
    bool MayRemove(const std::string& path) const {
        // A temporary journal left of one being written is removed whatever.
        if (path == journalNew) return true;
        if (plan == nullptr) return false;
        if (path == journal) return true;
        for (uint32_t i = 0; i < plan->count; ++i) {
            char staged[zv::kMaxPath], backup[zv::kMaxPath];
            Check(zv::ComposeTransactionPaths(plan->entries[i].target, plan->entries[i].index, staged, backup));
            if (path == Upper(staged)) return Holds(path, plan->entries[i], true);
            if (path == Upper(backup)) return plan->entries[i].existed && Holds(path, plan->entries[i], false);
        }
        return false;
    }
    bool MayReplace(const std::string& from, const std::string& to) const {
        if (plan == nullptr) return false;
        if (from == journalNew && to == journal) return true;
        for (uint32_t i = 0; i < plan->count; ++i) {
            const zv::JournalEntry& entry = plan->entries[i];
            char staged[zv::kMaxPath], backup[zv::kMaxPath];
            Check(zv::ComposeTransactionPaths(entry.target, entry.index, staged, backup));
            const std::string target = Upper(entry.target);
            // A backup back onto its own empty target, a new copy back to its
            // own empty staged name; each only when it is the recorded file.
            if (entry.existed && from == Upper(backup) && to == target) {
                return Empty(target) && Holds(from, entry, false);
            }
            if (from == target && to == Upper(staged)) return Empty(to) && Holds(from, entry, true);
        }
        return false;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 13) return 0;
    const uint8_t mode = data[0];
    std::vector<uint8_t> decisions(data + 1, data + 9);
    const uint32_t layout = zv::LoadU32LE(data + 9);
    // The journal gets a buffer of its own, so reading past it is caught.
    std::vector<uint8_t> bytes(data + 13, data + size);
    if ((mode & 1) && bytes.size() >= 4) {
        zv::StoreU32LE(bytes.data() + bytes.size() - 4, Crc32(bytes.data(), bytes.size() - 4));
    }
    uint8_t* copy = new uint8_t[bytes.size() ? bytes.size() : 1];
    if (!bytes.empty()) std::memcpy(copy, bytes.data(), bytes.size());

    GuardedPlatform os;
    zv::Journal journal;
    const zv::JournalResult parsed = zv::ParseJournal(os, copy, static_cast<uint32_t>(bytes.size()), &journal);
    Check(parsed == zv::JournalResult::Ok || parsed == zv::JournalResult::Damaged);
    const bool ours = parsed == zv::JournalResult::Ok && zv::IsJournalOf(journal, kDirectory);
    if (parsed == zv::JournalResult::Ok) {
        // Accepted: valid, and its own bytes again.
        Check(zv::ValidateJournal(os, journal) == zv::JournalResult::Ok);
        Check(zv::JournalSize(journal) == bytes.size());
        std::vector<uint8_t> again(bytes.size());
        zv::EncodeJournal(journal, again.data());
        Check(again == bytes);
        // Some of the listed files on the disk, as the layout says.
        for (uint32_t i = 0; i < journal.count; ++i) {
            const zv::JournalEntry& entry = journal.entries[i];
            Check(zv::IsJournalTarget(os, journal.productDir, entry.target));
            char staged[zv::kMaxPath], backup[zv::kMaxPath];
            Check(zv::ComposeTransactionPaths(entry.target, entry.index, staged, backup));
            const uint32_t bits = layout >> (4 * (i % 8));
            if (bits & 1) os.AddFile(entry.target, (bits & 8) ? kNew : kMine);
            if (bits & 2) os.AddFile(staged, kNew);
            if (bits & 4) os.AddFile(backup, kOld);
        }
        if (ours) os.plan = &journal;
    }
    os.AddFile(std::string(kWindows) + "\\" + zv::JOURNAL_NAME, bytes);
    os.AddFile(std::string(kWindows) + "\\" + zv::JOURNAL_NEW_NAME, {});
    // A journal in the product directory is nobody's, and never read.
    os.AddFile(std::string(kDirectory) + "\\" + zv::JOURNAL_NAME, bytes);
    os.decisions = decisions;
    auto before = os.files;
    before.erase(os.journalNew);

    zv::RecoveryReport report;
    const zv::RecoveryOutcome outcome = zv::RecoverInstallation(os, kDirectory, &report);
    Check(zv::RecoveryOutcomeName(outcome)[0] != '\0');
    if (!ours) {
        Check(outcome == zv::RecoveryOutcome::Damaged || outcome == zv::RecoveryOutcome::Unreadable ||
              outcome == zv::RecoveryOutcome::NoMemory || outcome == zv::RecoveryOutcome::NoJournal);
        os.files.erase(os.journalNew);
        Check(os.files == before);
    }
    Check(os.files.count(Upper(std::string(kDirectory) + "\\" + zv::JOURNAL_NAME)) == 1);
    Check(os.openHandles == 0);
    zv::FreeJournal(os, &journal);
    delete[] copy;
    return 0;
}
