#include "tests/support/fault_platform.h"

#include "platform/text.h"

#include <cctype>
#include <cstring>

#include <csignal>
#include <cstdio>
#include <mutex>

#include <unistd.h>

namespace zvtest {

void FaultPlatform::Change() {
    if (killAtChange != 0 && ++changes >= killAtChange) {
        if (powerCut) CutPowerAndExit(false);
        std::raise(SIGKILL);
    }
}

namespace {

// The directory part of a path in Windows form, without its last "\".
std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : zv::LowerAz(path.substr(0, slash));
}

std::string Trimmed(std::string directory) {
    while (directory.size() > 3 && (directory.back() == '\\' || directory.back() == '/')) directory.pop_back();
    if (directory.size() == 3 && directory[1] == ':') directory.pop_back();  // "c:\" as DirectoryOf gives it
    return zv::LowerAz(directory);
}

}  // namespace

void FaultPlatform::Record(const std::string& line) {
    if (recordChanges) changeLog.push_back(line);
}

void FaultPlatform::Note(Pending pending) {
    if (powerCut) pending_.push_back(std::move(pending));
}

void FaultPlatform::Synced(const std::string& directory) {
    const std::string synced = Trimmed(directory);
    std::vector<Pending> left;
    for (Pending& p : pending_) {
        const bool durable = DirectoryOf(p.path) == synced && (p.kind != Pending::Moved || DirectoryOf(p.from) == synced);
        if (!durable) left.push_back(std::move(p));
    }
    pending_.swap(left);
}

bool FaultPlatform::Snapshot(const std::string& path, std::vector<uint8_t>* bytes) {
    bytes->clear();
    const zv::FileHandle file = inner_.Open(path.c_str(), zv::OpenMode::Read);
    if (file == zv::kNoFile) return false;
    uint8_t buffer[4096];
    int32_t n;
    while ((n = inner_.Read(file, buffer, sizeof buffer)) > 0) bytes->insert(bytes->end(), buffer, buffer + n);
    inner_.Close(file);
    return true;
}

void FaultPlatform::Restore(const std::string& path, const std::vector<uint8_t>& bytes) {
    inner_.Remove(path.c_str());
    const zv::FileHandle file = inner_.Create(path.c_str());
    if (file == zv::kNoFile) return;
    inner_.Write(file, bytes.data(), static_cast<uint32_t>(bytes.size()));
    inner_.Close(file);
}

void FaultPlatform::CutPowerAndExit(bool ended) {
    const bool keptAll = CutPower();
    std::fflush(nullptr);
    ::_exit(kPowerCutExit + (keptAll ? 1 : 0) + (ended ? 2 : 0));
}

bool FaultPlatform::CutPower() {
    if (!powerCutSpares.empty()) Synced(powerCutSpares);
    const size_t kept = static_cast<size_t>(powerCutKeeps < 0 ? 0 : powerCutKeeps);
    const bool keptAll = kept >= pending_.size();
    for (size_t k = pending_.size(); k-- > kept;) {
        const Pending& p = pending_[k];
        switch (p.kind) {
        case Pending::Created:
            inner_.Remove(p.path.c_str());
            break;
        case Pending::Moved:
            inner_.Move(p.path.c_str(), p.from.c_str());
            if (p.displaced) Restore(p.path, p.bytes);
            break;
        case Pending::Removed:
            Restore(p.path, p.bytes);
            break;
        }
    }
    pending_.clear();
    return keptAll;
}

const Fault* FaultPlatform::Strike(FaultOp op, const std::string& path, uint32_t size) {
    for (Armed& a : faults_) {
        if (a.fault.op != op || a.timesLeft == 0) continue;
        if (a.fault.allocSize != 0 && a.fault.allocSize != size) continue;
        if (!a.fault.pathContains.empty() && path.find(a.fault.pathContains) == std::string::npos) continue;
        if (a.skipLeft > 0) {
            --a.skipLeft;
            continue;
        }
        if (a.timesLeft > 0) --a.timesLeft;
        ++a.struck;
        return &a.fault;
    }
    return nullptr;
}

std::string FaultPlatform::PathOf(zv::FileHandle file) const {
    auto it = paths_.find(file);
    return it == paths_.end() ? std::string() : it->second;
}

zv::FileHandle FaultPlatform::Open(const char* path, zv::OpenMode mode) {
    const std::lock_guard<std::recursive_mutex> hold(mutex_);
    if (Strike(FaultOp::Open, path)) return zv::kNoFile;
    zv::FileHandle file = inner_.Open(path, mode);
    if (file != zv::kNoFile) paths_[file] = path;
    return file;
}

zv::FileHandle FaultPlatform::Create(const char* path) {
    const std::lock_guard<std::recursive_mutex> hold(mutex_);
    Change();
    if (Strike(FaultOp::Create, path)) return zv::kNoFile;
    zv::FileHandle file = inner_.Create(path);
    if (file != zv::kNoFile) {
        paths_[file] = path;
        Record(std::string("create ") + path);
        Note(Pending{Pending::Created, path, {}, false, {}});
    }
    return file;
}

zv::FileHandle FaultPlatform::CreateNew(const char* path, bool* taken) {
    const std::lock_guard<std::recursive_mutex> hold(mutex_);
    *taken = false;
    Change();
    if (Strike(FaultOp::Create, path)) return zv::kNoFile;
    zv::FileHandle file = inner_.CreateNew(path, taken);
    if (file != zv::kNoFile) {
        paths_[file] = path;
        Record(std::string("create ") + path);
        Note(Pending{Pending::Created, path, {}, false, {}});
    }
    return file;
}

int32_t FaultPlatform::Read(zv::FileHandle file, void* buffer, uint32_t count) {
    const std::lock_guard<std::recursive_mutex> hold(mutex_);
    if (const Fault* f = Strike(FaultOp::Read, PathOf(file))) {
        if (f->shortCount < 0) return zv::kFileError;
        uint32_t n = static_cast<uint32_t>(f->shortCount) < count ? static_cast<uint32_t>(f->shortCount) : count;
        return inner_.Read(file, buffer, n);
    }
    return inner_.Read(file, buffer, count);
}

int32_t FaultPlatform::Write(zv::FileHandle file, const void* buffer, uint32_t count) {
    const std::lock_guard<std::recursive_mutex> hold(mutex_);
    Change();
    if (const Fault* f = Strike(FaultOp::Write, PathOf(file))) {
        if (f->shortCount < 0) return zv::kFileError;
        uint32_t n = static_cast<uint32_t>(f->shortCount) < count ? static_cast<uint32_t>(f->shortCount) : count;
        const int32_t written = inner_.Write(file, buffer, n);
        return f->silent && written >= 0 ? static_cast<int32_t>(count) : written;
    }
    return inner_.Write(file, buffer, count);
}

int32_t FaultPlatform::Seek(zv::FileHandle file, int32_t offset, zv::SeekOrigin origin) {
    const std::lock_guard<std::recursive_mutex> hold(mutex_);
    if (Strike(FaultOp::Seek, PathOf(file))) return zv::kFileError;
    return inner_.Seek(file, offset, origin);
}

void FaultPlatform::Close(zv::FileHandle file) {
    const std::lock_guard<std::recursive_mutex> hold(mutex_);
    paths_.erase(file);
    inner_.Close(file);
}

bool FaultPlatform::Flush(zv::FileHandle file) {
    const std::lock_guard<std::recursive_mutex> hold(mutex_);
    Change();
    if (Strike(FaultOp::Flush, PathOf(file))) return false;
    return inner_.Flush(file);
}

bool FaultPlatform::Remove(const char* path) {
    const std::lock_guard<std::recursive_mutex> hold(mutex_);
    Change();
    if (Strike(FaultOp::Remove, path)) return false;
    Pending removed{Pending::Removed, path, {}, false, {}};
    if (powerCut) Snapshot(path, &removed.bytes);
    if (!inner_.Remove(path)) return false;
    Record(std::string("remove ") + path);
    Note(std::move(removed));
    return true;
}

bool FaultPlatform::Replace(const char* from, const char* to) {
    const std::lock_guard<std::recursive_mutex> hold(mutex_);
    Change();
    if (Strike(FaultOp::Replace, to)) return false;
    if (!inner_.Replace(from, to)) return false;
    Record(std::string("replace ") + from + " > " + to);
    // Durable with every change in its directory before it.
    Synced(DirectoryOf(to));
    return true;
}

// A Move fault matches the path of either file.
zv::MoveResult FaultPlatform::Move(const char* from, const char* to) {
    const std::lock_guard<std::recursive_mutex> hold(mutex_);
    Change();
    const Fault* f = Strike(FaultOp::Move, std::string(from) + "|" + to);
    if (f != nullptr) return f->inUse ? zv::MoveResult::InUse : zv::MoveResult::Failed;
    Pending moved{Pending::Moved, to, from, false, {}};
    if (powerCut) moved.displaced = Snapshot(to, &moved.bytes);
    const zv::MoveResult result = inner_.Move(from, to);
    if (result != zv::MoveResult::Done) return result;
    Record(std::string("move ") + from + " > " + to);
    Note(std::move(moved));
    return result;
}

bool FaultPlatform::SyncDirectory(const char* directory) {
    const std::lock_guard<std::recursive_mutex> hold(mutex_);
    Change();
    if (Strike(FaultOp::SyncDirectory, directory)) return false;
    if (!inner_.SyncDirectory(directory)) return false;
    Record(std::string("sync ") + directory);
    Synced(directory);
    return true;
}

namespace {

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t k = 0; k < prefix.size(); ++k) {
        if (std::tolower(static_cast<unsigned char>(text[k])) != std::tolower(static_cast<unsigned char>(prefix[k]))) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool FaultPlatform::VolumeOf(const char* directory, char* root, uint32_t size) {
    const std::lock_guard<std::recursive_mutex> hold(mutex_);
    const PretendVolume* found = nullptr;
    for (const PretendVolume& v : volumes) {
        if (StartsWithNoCase(directory, v.root) && (found == nullptr || v.root.size() > found->root.size())) found = &v;
    }
    if (found == nullptr) {
        // A drive with free space of its own is a volume of its own.
        const char drive = static_cast<char>(directory[0] & ~0x20);
        if (directory[0] != '\0' && directory[1] == ':' && drive >= 'A' && drive <= 'Z' &&
            freeSpaceOnDrive[drive - 'A'] >= 0) {
            if (size < 4) return false;
            const char drivesRoot[4] = {drive, ':', '\\', '\0'};
            std::memcpy(root, drivesRoot, sizeof drivesRoot);
            return true;
        }
        return inner_.VolumeOf(directory, root, size);
    }
    if (found->root.size() >= size) return false;
    std::memcpy(root, found->root.c_str(), found->root.size() + 1);
    return true;
}

bool FaultPlatform::FreeSpace(const char* directory, uint64_t* bytes) {
    const std::lock_guard<std::recursive_mutex> hold(mutex_);
    freeSpaceAsked.push_back(directory);
    if (Strike(FaultOp::FreeSpace, directory)) return false;
    for (const PretendVolume& v : volumes) {
        if (StartsWithNoCase(directory, v.root) && StartsWithNoCase(v.root, directory)) {
            *bytes = v.freeBytes;
            return true;
        }
    }
    char drive = static_cast<char>(directory[0] & ~0x20);
    if (directory[0] != '\0' && directory[1] == ':' && drive >= 'A' && drive <= 'Z' &&
        freeSpaceOnDrive[drive - 'A'] >= 0) {
        *bytes = static_cast<uint64_t>(freeSpaceOnDrive[drive - 'A']);
        return true;
    }
    if (freeSpaceOverride >= 0) {
        *bytes = static_cast<uint64_t>(freeSpaceOverride);
        return true;
    }
    return inner_.FreeSpace(directory, bytes);
}

zv::PathKind FaultPlatform::Examine(const char* path) {
    const std::lock_guard<std::recursive_mutex> hold(mutex_);
    if (Strike(FaultOp::Examine, path)) return zv::PathKind::Unknown;
    return inner_.Examine(path);
}

bool FaultPlatform::IsFileAt(zv::FileHandle file, const char* path, const char* trusted) {
    const std::lock_guard<std::recursive_mutex> hold(mutex_);
    if (Strike(FaultOp::IsFileAt, path)) return false;
    return inner_.IsFileAt(file, path, trusted);
}

bool FaultPlatform::EnterDirectory(const char* path) {
    const std::lock_guard<std::recursive_mutex> hold(mutex_);
    if (Strike(FaultOp::EnterDirectory, path)) return false;
    return inner_.EnterDirectory(path);
}

bool FaultPlatform::MakeDirectory(const char* path) {
    const std::lock_guard<std::recursive_mutex> hold(mutex_);
    Change();
    if (Strike(FaultOp::MakeDirectory, path)) return false;
    if (!inner_.MakeDirectory(path)) return false;
    Record(std::string("mkdir ") + path);
    return true;
}

zv::BlockHandle FaultPlatform::AllocBlock(uint32_t size) {
    const std::lock_guard<std::recursive_mutex> hold(mutex_);
    if (Strike(FaultOp::AllocBlock, std::string(), size)) return 0;
    zv::BlockHandle block = inner_.AllocBlock(size);
    if (block != 0) ++liveBlocks;
    return block;
}

void* FaultPlatform::LockBlock(zv::BlockHandle block) {
    const std::lock_guard<std::recursive_mutex> hold(mutex_);
    if (Strike(FaultOp::LockBlock, std::string())) return nullptr;
    return inner_.LockBlock(block);
}

void FaultPlatform::FreeBlock(zv::BlockHandle block) {
    const std::lock_guard<std::recursive_mutex> hold(mutex_);
    if (block != 0) --liveBlocks;
    inner_.FreeBlock(block);
}

zv::Platform::SignatureState FaultPlatform::OwnSignature(uint32_t* systemResult) {
    const std::lock_guard<std::recursive_mutex> hold(mutex_);
    if (!scriptSignature) return inner_.OwnSignature(systemResult);
    *systemResult = signatureResult;
    return signature;
}

zv::HolderLookup FaultPlatform::FileHolders(const char* path, char* names, uint32_t size) {
    const std::lock_guard<std::recursive_mutex> hold(mutex_);
    holdersAsked.push_back(path);
    if (!scriptHolders) return inner_.FileHolders(path, names, size);
    if (size > 0) names[0] = '\0';
    const std::string lowered = zv::LowerAz(path);
    for (const auto& [key, value] : holders) {
        if (lowered.find(zv::LowerAz(key)) == std::string::npos) continue;
        if (value.empty()) return zv::HolderLookup::None;
        if (value == "?") return zv::HolderLookup::Unnamed;
        zv::CopyText(names, static_cast<int>(size), value.c_str());
        return zv::HolderLookup::Named;
    }
    return otherHolders;
}

}  // namespace zvtest
