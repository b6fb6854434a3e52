// A Platform that passes every call to another one, except those that a test
// has marked to fail: an open, a create, a read or write (failing, or short),
// a seek, a flush, a replace, a directory operation, an allocation.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/forwarding_platform.h"

namespace zvtest {

enum class FaultOp {
    Open, Create, Read, Write, Seek, Flush, Remove, Replace, Move, FreeSpace,
    EnterDirectory, MakeDirectory, AllocBlock, LockBlock,
    Examine,   // answers Unknown
    IsFileAt,  // answers false: the handle is not where it was meant to be
    SyncDirectory,
};

struct Fault {
    FaultOp op;
    // Only calls on a path that contains this text (for Read, Write, Seek and
    // Flush: the path the handle was opened with); empty matches every call.
    std::string pathContains = {};
    int skip = 0;    // matching calls let through before the fault strikes
    int times = 1;   // calls that fail once it strikes; -1: every later call
    // Read and Write: transfer this many bytes and report them, instead of
    // failing with kFileError. -1: fail.
    int32_t shortCount = -1;
    // AllocBlock: only allocations of this many bytes; 0: any.
    uint32_t allocSize = 0;
    // Move: fail as a file that another program holds, not plainly.
    bool inUse = false;
    // Write with shortCount: report every byte asked as written, though only
    // shortCount went into the file (a write that lies about its count).
    bool silent = false;
};

class FaultPlatform : public zv::ForwardingPlatform {
public:
    explicit FaultPlatform(zv::Platform& inner) : ForwardingPlatform(inner) {}

    void Add(const Fault& fault) { faults_.push_back(Armed{fault, fault.skip, fault.times}); }
    void Clear() { faults_.clear(); }
    // How many calls each fault failed so far.
    int Struck(size_t index) const { return faults_[index].struck; }
    // Ends the process with SIGKILL at the n-th call (from 1) that changes
    // the disk (Create, Write, Flush, Remove, Replace, Move, MakeDirectory,
    // SyncDirectory), before it is carried out; 0: never. For crash tests in
    // a child process.
    int killAtChange = 0;
    int changes = 0;
    // With the kill, a power cut: first every creation, move and removal of
    // a file whose directory was not made durable since (by SyncDirectory,
    // or by a Replace into it, which is durable) is undone, last first, as
    // a disk that lost what its cache held would show it. File contents
    // stay as written (a new copy is flushed before it is moved); created
    // directories stay.
    bool powerCut = false;
    // A folder (in Windows form) whose changes the power cut spares: the
    // disk may keep the changes of one folder and lose another's.
    std::string powerCutSpares;
    // How many of the oldest changes not yet durable the power cut keeps
    // (as a disk that wrote some of its cache would); the later ones are lost.
    int powerCutKeeps = 0;
    // With powerCut, the process ends with this exit code (not SIGKILL),
    // plus 1 when the cut kept every change, plus 2 when it came after the
    // run ended (CutPowerAndExit(true)).
    static constexpr int kPowerCutExit = 90;
    [[noreturn]] void CutPowerAndExit(bool ended);
    // Every change carried out, in order, when set: "create P", "remove P",
    // "move F > T", "replace F > T", "mkdir P", "sync D" (paths as given).
    bool recordChanges = false;
    std::vector<std::string> changeLog;
    // Free space reported by FreeSpace when set (>= 0).
    int64_t freeSpaceOverride = -1;
    // Free space reported for a directory on drive 'A' + d when set (>= 0),
    // the drive then being a volume of its own; it comes before
    // freeSpaceOverride.
    int64_t freeSpaceOnDrive[26] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                    -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
    // Pretend volumes: a directory whose path begins with a key (without
    // regard to case) is on the volume of that root, with that much free
    // space; other directories are as the inner platform says.
    struct PretendVolume {
        std::string root;  // ends in ""
        uint64_t freeBytes;
    };
    std::vector<PretendVolume> volumes;
    std::vector<std::string> freeSpaceAsked;  // directories FreeSpace was asked about
    // Files opened and not yet closed.
    size_t OpenFiles() const { return paths_.size(); }
    // Blocks allocated and not yet freed.
    int liveBlocks = 0;
    // OwnSignature's answer, when scripted; else the inner platform's.
    bool scriptSignature = false;
    zv::Platform::SignatureState signature = zv::Platform::SignatureState::Unsigned;
    uint32_t signatureResult = 0;

    // FileHolders' answers, when scripted: a file whose path contains a key
    // (without regard to case) is held by the programs of its value (Named),
    // by nobody when the value is empty (None), by a program not named when
    // it is "?" (Unnamed); any other file is as
    // `otherHolders` says (the inner platform's answer when not scripted).
    bool scriptHolders = false;
    std::map<std::string, std::string> holders;
    zv::HolderLookup otherHolders = zv::HolderLookup::Unknown;
    std::vector<std::string> holdersAsked;  // paths FileHolders was asked about

    zv::FileHandle Open(const char* path, zv::OpenMode mode) override;
    zv::FileHandle Create(const char* path) override;
    zv::FileHandle CreateNew(const char* path, bool* taken) override;
    int32_t Read(zv::FileHandle file, void* buffer, uint32_t count) override;
    int32_t Write(zv::FileHandle file, const void* buffer, uint32_t count) override;
    int32_t Seek(zv::FileHandle file, int32_t offset, zv::SeekOrigin origin) override;
    void Close(zv::FileHandle file) override;
    bool Flush(zv::FileHandle file) override;
    bool Remove(const char* path) override;
    bool Replace(const char* from, const char* to) override;
    zv::MoveResult Move(const char* from, const char* to) override;
    bool SyncDirectory(const char* directory) override;
    bool FreeSpace(const char* directory, uint64_t* bytes) override;
    bool VolumeOf(const char* directory, char* root, uint32_t size) override;
    zv::PathKind Examine(const char* path) override;
    bool IsFileAt(zv::FileHandle file, const char* path, const char* trusted) override;
    bool EnterDirectory(const char* path) override;
    bool MakeDirectory(const char* path) override;
    zv::BlockHandle AllocBlock(uint32_t size) override;
    void* LockBlock(zv::BlockHandle block) override;
    void FreeBlock(zv::BlockHandle block) override;
    SignatureState OwnSignature(uint32_t* systemResult) override;
    zv::HolderLookup FileHolders(const char* path, char* names, uint32_t size) override;

private:
    struct Armed {
        Fault fault;
        int skipLeft;
        int timesLeft;
        int struck = 0;
    };
    // A change not yet durable, and how to take it back.
    struct Pending {
        enum Kind { Created, Moved, Removed } kind;
        std::string path;   // Created, Removed: the file; Moved: where it went
        std::string from;   // Moved: where it came from
        bool displaced = false;  // Moved: a file was at `path` before, holding `bytes`
        std::vector<uint8_t> bytes;  // Removed: the file's bytes
    };
    void Record(const std::string& line);
    void Note(Pending pending);
    void Synced(const std::string& directory);
    bool Snapshot(const std::string& path, std::vector<uint8_t>* bytes);
    void Restore(const std::string& path, const std::vector<uint8_t>& bytes);
    bool CutPower();  // true when it kept every change
    std::vector<Pending> pending_;

    // The fault that strikes this call, or nullptr.
    const Fault* Strike(FaultOp op, const std::string& path, uint32_t size = 0);
    void Change();
    std::string PathOf(zv::FileHandle file) const;

    std::vector<Armed> faults_;
    std::map<zv::FileHandle, std::string> paths_;
    // Every call is taken whole under it: the transfer's workers call from
    // threads of their own.
    std::recursive_mutex mutex_;
};

}  // namespace zvtest
