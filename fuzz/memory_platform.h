// A Platform over files held in memory, for fuzzing the code that reads the
// package: no disk, no state between inputs. Files are found by name without
// regard to case. Every decision that a real disk could make differently
// (a failing read, a short read, a failing seek) is taken from a list of
// decision bytes, so an input also chooses its faults.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace zvfuzz {

class MemoryPlatform : public zv::Platform {
public:
    std::map<std::string, std::vector<uint8_t>> files;  // by upper-case name
    std::vector<uint8_t> decisions;                    // used in turn, cyclically
    uint32_t writeLimit = 1u << 18;                    // bytes a created file takes at most
    size_t openHandles = 0;

    void AddFile(const std::string& name, std::vector<uint8_t> bytes);

    zv::FileHandle Open(const char* path, zv::OpenMode mode) override;
    zv::FileHandle Create(const char* path) override;
    int32_t Read(zv::FileHandle file, void* buffer, uint32_t count) override;
    int32_t Write(zv::FileHandle file, const void* buffer, uint32_t count) override;
    int32_t Seek(zv::FileHandle file, int32_t offset, zv::SeekOrigin origin) override;
    void Close(zv::FileHandle file) override;
    bool Flush(zv::FileHandle) override { return true; }
    bool Remove(const char*) override { return false; }
    bool Replace(const char*, const char*) override { return false; }
    bool FreeSpace(const char*, uint64_t*) override { return false; }
    bool EnterDirectory(const char*) override { return false; }
    bool MakeDirectory(const char*) override { return false; }
    uint32_t ModulePath(char* buffer, uint32_t size) override;
    uint32_t WindowsDirectory(char* buffer, uint32_t size) override;
    uint32_t ProfileString(const char*, const char*, const char* fallback, char* buffer, uint32_t size,
                           const char*) override;
    uint32_t ProfileInt(const char*, const char*, int32_t fallback, const char*) override {
        return static_cast<uint32_t>(fallback);
    }
    uint32_t VersionInfoSize(const char*) override { return 0; }
    bool VersionInfo(const char*, uint32_t, void*) override { return false; }
    bool QueryVersion(const void*, const char*, const void**, uint32_t*) override { return false; }
    uint32_t FindSharedFile(const char*, const char*, const char*, char* currentDir, uint32_t currentSize,
                            char* destDir, uint32_t destSize) override;
    uint32_t LanguageName(uint32_t, char* buffer, uint32_t size) override;
    zv::BlockHandle AllocBlock(uint32_t size) override;
    void* LockBlock(zv::BlockHandle block) override;
    void UnlockBlock(zv::BlockHandle) override {}
    void FreeBlock(zv::BlockHandle block) override;

private:
    struct OpenFile {
        std::string name;
        bool writing;
        uint32_t position;
        uint32_t written;
    };
    uint8_t Decide();
    std::map<zv::FileHandle, OpenFile> open_;
    zv::FileHandle next_ = 3;
    size_t decision_ = 0;
};

}  // namespace zvfuzz
