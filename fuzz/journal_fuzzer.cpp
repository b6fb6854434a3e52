// The update journal's reader and the recovery that acts on it, on any bytes.
//
// The first byte chooses: bit 0 puts a checksum that holds at the end, so
// that the checks of the contents are reached; bits 1 to 7 pick which of the
// listed files are on the disk. The next 8 bytes are the disk's decisions
// (failing opens, reads, writes and moves); the rest is the journal.
//
// Properties: a journal the reader accepts is valid, and written again gives
// the same bytes; recovery never reads past the journal, removes only the
// journal's own files and the listed new copies and backups, and moves only
// a backup onto its own target and a new copy back to its own staged name.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "fuzz/memory_platform.h"
#include "platform/bytes.h"
#include "transfer/journal.h"

namespace {

using zvfuzz::Check;

const char kDirectory[] = "C:\\ZARVEL";

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

// A disk in memory that checks every change recovery makes against the
// journal it read.
class GuardedPlatform : public zvfuzz::MemoryPlatform {
public:
    const zv::Journal* plan = nullptr;
    std::string journal = Upper(std::string(kDirectory) + "\\" + zv::JOURNAL_NAME);
    std::string journalNew = Upper(std::string(kDirectory) + "\\" + zv::JOURNAL_NEW_NAME);

    zv::FileHandle Create(const char* path) override {
        Check(Upper(path) == journalNew);
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
    bool MayRemove(const std::string& path) const {
        if (path == journal || path == journalNew) return true;
        for (uint32_t i = 0; plan != nullptr && i < plan->count; ++i) {
            char staged[zv::kMaxPath], backup[zv::kMaxPath];
            Check(zv::ComposeTransactionPaths(plan->entries[i].target, plan->entries[i].index, staged, backup));
            if (path == Upper(staged) || path == Upper(backup)) return true;
        }
        return false;
    }
    bool MayReplace(const std::string& from, const std::string& to) const {
        if (from == journalNew && to == journal) return true;
        for (uint32_t i = 0; plan != nullptr && i < plan->count; ++i) {
            char staged[zv::kMaxPath], backup[zv::kMaxPath];
            Check(zv::ComposeTransactionPaths(plan->entries[i].target, plan->entries[i].index, staged, backup));
            const std::string target = Upper(plan->entries[i].target);
            // A backup back onto its own target, a new copy back to its own
            // staged name.
            if (plan->entries[i].existed && from == Upper(backup) && to == target) return true;
            if (from == target && to == Upper(staged)) return true;
        }
        return false;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 9) return 0;
    const uint8_t mode = data[0];
    std::vector<uint8_t> decisions(data + 1, data + 9);
    // The journal gets a buffer of its own, so reading past it is caught.
    std::vector<uint8_t> bytes(data + 9, data + size);
    if ((mode & 1) && bytes.size() >= 4) {
        zv::StoreU32LE(bytes.data() + bytes.size() - 4, Crc32(bytes.data(), bytes.size() - 4));
    }
    uint8_t* copy = new uint8_t[bytes.size() ? bytes.size() : 1];
    if (!bytes.empty()) std::memcpy(copy, bytes.data(), bytes.size());

    GuardedPlatform os;
    zv::Journal journal;
    const zv::JournalResult parsed = zv::ParseJournal(os, copy, static_cast<uint32_t>(bytes.size()), &journal);
    Check(parsed == zv::JournalResult::Ok || parsed == zv::JournalResult::Damaged);
    if (parsed == zv::JournalResult::Ok) {
        // Accepted: valid, and its own bytes again.
        std::strcpy(journal.directory, kDirectory);
        Check(zv::ValidateJournal(journal) == zv::JournalResult::Ok);
        Check(zv::JournalSize(journal) == bytes.size());
        std::vector<uint8_t> again(bytes.size());
        zv::EncodeJournal(journal, again.data());
        Check(again == bytes);
        // Some of the listed files on the disk, chosen by the mode's bits.
        for (uint32_t i = 0; i < journal.count; ++i) {
            char staged[zv::kMaxPath], backup[zv::kMaxPath];
            Check(zv::ComposeTransactionPaths(journal.entries[i].target, journal.entries[i].index, staged, backup));
            const uint32_t bits = static_cast<uint32_t>(mode >> 1) >> (i % 3);
            if (bits & 1) os.AddFile(journal.entries[i].target, {1});
            if (bits & 2) os.AddFile(staged, {2});
            if (bits & 4) os.AddFile(backup, {3});
        }
        os.plan = &journal;
    }
    os.AddFile(std::string(kDirectory) + "\\" + zv::JOURNAL_NAME, bytes);
    os.AddFile(std::string(kDirectory) + "\\" + zv::JOURNAL_NEW_NAME, {});
    os.decisions = decisions;

    zv::RecoveryReport report;
    const zv::RecoveryOutcome outcome = zv::RecoverInstallation(os, kDirectory, &report);
    Check(zv::RecoveryOutcomeName(outcome)[0] != '\0');
    if (parsed != zv::JournalResult::Ok) {
        Check(outcome != zv::RecoveryOutcome::Discarded && outcome != zv::RecoveryOutcome::RolledBack &&
              outcome != zv::RecoveryOutcome::RolledForward && outcome != zv::RecoveryOutcome::BackupLost &&
              outcome != zv::RecoveryOutcome::Incomplete);
    }
    Check(os.openHandles == 0);
    zv::FreeJournal(os, &journal);
    delete[] copy;
    return 0;
}
