// A Platform that passes every call to another one, except writes to one
// pretend file (kMemberFile), which go to a MemberWriter: the decoder's output
// sink writes a member through it wherever quillon wants the bytes.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/platform.h"

namespace quillon {

// Where a member's expanded bytes go, a block at a time. Returns false when
// they cannot be written (the decoder then asks "write error", Retry/Cancel).
using MemberWriter = std::function<bool(const uint8_t* bytes, uint32_t count)>;

class CapturePlatform : public zv::Platform {
public:
    static constexpr zv::FileHandle kMemberFile = -2;  // never a handle of a real file

    explicit CapturePlatform(zv::Platform& inner) : inner_(inner) {}

    void Capture(const MemberWriter* writer) {
        writer_ = writer;
        written_ = 0;
    }
    uint64_t written() const { return written_; }

    zv::FileHandle Open(const char* path, zv::OpenMode mode) override { return inner_.Open(path, mode); }
    zv::FileHandle Create(const char* path) override { return inner_.Create(path); }
    int32_t Read(zv::FileHandle file, void* buffer, uint32_t count) override {
        return inner_.Read(file, buffer, count);
    }
    int32_t Write(zv::FileHandle file, const void* buffer, uint32_t count) override {
        if (file != kMemberFile) return inner_.Write(file, buffer, count);
        if (writer_ == nullptr || !(*writer_)(static_cast<const uint8_t*>(buffer), count)) return zv::kFileError;
        written_ += count;
        return static_cast<int32_t>(count);
    }
    int32_t Seek(zv::FileHandle file, int32_t offset, zv::SeekOrigin origin) override {
        return inner_.Seek(file, offset, origin);
    }
    void Close(zv::FileHandle file) override { inner_.Close(file); }
    bool Flush(zv::FileHandle file) override { return inner_.Flush(file); }
    bool Remove(const char* path) override { return inner_.Remove(path); }
    bool Replace(const char* from, const char* to) override { return inner_.Replace(from, to); }
    bool FreeSpace(const char* directory, uint64_t* bytes) override { return inner_.FreeSpace(directory, bytes); }
    bool EnterDirectory(const char* path) override { return inner_.EnterDirectory(path); }
    bool MakeDirectory(const char* path) override { return inner_.MakeDirectory(path); }
    uint32_t ModulePath(char* buffer, uint32_t size) override { return inner_.ModulePath(buffer, size); }
    uint32_t WindowsDirectory(char* buffer, uint32_t size) override { return inner_.WindowsDirectory(buffer, size); }
    uint32_t ProfileString(const char* section, const char* key, const char* fallback, char* buffer, uint32_t size,
                           const char* file) override {
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
    zv::BlockHandle AllocBlock(uint32_t size) override { return inner_.AllocBlock(size); }
    void* LockBlock(zv::BlockHandle block) override { return inner_.LockBlock(block); }
    void UnlockBlock(zv::BlockHandle block) override { inner_.UnlockBlock(block); }
    void FreeBlock(zv::BlockHandle block) override { inner_.FreeBlock(block); }

private:
    zv::Platform& inner_;
    const MemberWriter* writer_ = nullptr;
    uint64_t written_ = 0;
};


}  // namespace quillon
