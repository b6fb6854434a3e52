// A Platform that passes every call to another one, except those that a test
// has marked to fail: an open, a create, a read or write (failing, or short),
// a seek, a flush, a replace, a directory operation, an allocation.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace zvtest {

enum class FaultOp {
    Open, Create, Read, Write, Seek, Flush, Remove, Replace, FreeSpace,
    EnterDirectory, MakeDirectory, AllocBlock, LockBlock,
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
};

class FaultPlatform : public zv::Platform {
public:
    explicit FaultPlatform(zv::Platform& inner) : inner_(inner) {}

    void Add(const Fault& fault) { faults_.push_back(Armed{fault, fault.skip, fault.times}); }
    void Clear() { faults_.clear(); }
    // How many calls each fault failed so far.
    int Struck(size_t index) const { return faults_[index].struck; }
    // Ends the process with SIGKILL at the n-th call (from 1) that changes
    // the disk (Create, Write, Flush, Remove, Replace, MakeDirectory), before
    // it is carried out; 0: never. For crash tests in a child process.
    int killAtChange = 0;
    int changes = 0;
    // Free space reported by FreeSpace when set (>= 0).
    int64_t freeSpaceOverride = -1;
    // Files opened and not yet closed.
    size_t OpenFiles() const { return paths_.size(); }
    // Blocks allocated and not yet freed.
    int liveBlocks = 0;

    zv::FileHandle Open(const char* path, zv::OpenMode mode) override;
    zv::FileHandle Create(const char* path) override;
    int32_t Read(zv::FileHandle file, void* buffer, uint32_t count) override;
    int32_t Write(zv::FileHandle file, const void* buffer, uint32_t count) override;
    int32_t Seek(zv::FileHandle file, int32_t offset, zv::SeekOrigin origin) override;
    void Close(zv::FileHandle file) override;
    bool Flush(zv::FileHandle file) override;
    bool Remove(const char* path) override;
    bool Replace(const char* from, const char* to) override;
    bool FreeSpace(const char* directory, uint64_t* bytes) override;
    bool EnterDirectory(const char* path) override;
    bool MakeDirectory(const char* path) override;
    uint32_t ModulePath(char* buffer, uint32_t size) override { return inner_.ModulePath(buffer, size); }
    uint32_t WindowsDirectory(char* buffer, uint32_t size) override {
        return inner_.WindowsDirectory(buffer, size);
    }
    uint32_t ProfileString(const char* section, const char* key, const char* fallback, char* buffer,
                           uint32_t size, const char* file) override {
        return inner_.ProfileString(section, key, fallback, buffer, size, file);
    }
    uint32_t ProfileInt(const char* section, const char* key, int32_t fallback, const char* file) override {
        return inner_.ProfileInt(section, key, fallback, file);
    }
    uint32_t VersionInfoSize(const char* path) override { return inner_.VersionInfoSize(path); }
    bool VersionInfo(const char* path, uint32_t size, void* block) override {
        return inner_.VersionInfo(path, size, block);
    }
    bool QueryVersion(const void* block, const char* subBlock, const void** value, uint32_t* length) override {
        return inner_.QueryVersion(block, subBlock, value, length);
    }
    uint32_t FindSharedFile(const char* name, const char* windowsDir, const char* appDir, char* currentDir,
                            uint32_t currentSize, char* destDir, uint32_t destSize) override {
        return inner_.FindSharedFile(name, windowsDir, appDir, currentDir, currentSize, destDir, destSize);
    }
    uint32_t LanguageName(uint32_t language, char* buffer, uint32_t size) override {
        return inner_.LanguageName(language, buffer, size);
    }
    zv::BlockHandle AllocBlock(uint32_t size) override;
    void* LockBlock(zv::BlockHandle block) override;
    void UnlockBlock(zv::BlockHandle block) override { inner_.UnlockBlock(block); }
    void FreeBlock(zv::BlockHandle block) override;

private:
    struct Armed {
        Fault fault;
        int skipLeft;
        int timesLeft;
        int struck = 0;
    };
    // The fault that strikes this call, or nullptr.
    const Fault* Strike(FaultOp op, const std::string& path, uint32_t size = 0);
    void Change();
    std::string PathOf(zv::FileHandle file) const;

    zv::Platform& inner_;
    std::vector<Armed> faults_;
    std::map<zv::FileHandle, std::string> paths_;
};

}  // namespace zvtest
