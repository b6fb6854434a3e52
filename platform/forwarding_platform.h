// A Platform that hands every call to another one. Derived platforms change
// the answers they care about: a tool's program path, a test's faults.
#pragma once

#include "platform/platform.h"

namespace zv {

class ForwardingPlatform : public Platform {
public:
    explicit ForwardingPlatform(Platform& inner) : inner_(inner) {}

    FileHandle Open(const char* path, OpenMode mode) override { return inner_.Open(path, mode); }
    FileHandle Create(const char* path) override { return inner_.Create(path); }
    FileHandle CreateNew(const char* path, bool* taken) override { return inner_.CreateNew(path, taken); }
    int32_t Read(FileHandle file, void* buffer, uint32_t count) override { return inner_.Read(file, buffer, count); }
    int32_t Write(FileHandle file, const void* buffer, uint32_t count) override {
        return inner_.Write(file, buffer, count);
    }
    int32_t Seek(FileHandle file, int32_t offset, SeekOrigin origin) override {
        return inner_.Seek(file, offset, origin);
    }
    void Close(FileHandle file) override { inner_.Close(file); }
    bool Flush(FileHandle file) override { return inner_.Flush(file); }
    bool Remove(const char* path) override { return inner_.Remove(path); }
    bool Replace(const char* from, const char* to) override { return inner_.Replace(from, to); }
    MoveResult Move(const char* from, const char* to) override { return inner_.Move(from, to); }
    bool SyncDirectory(const char* directory) override { return inner_.SyncDirectory(directory); }
    bool StoredName(const char* path, char* name, uint32_t size) override { return inner_.StoredName(path, name, size); }
    bool FreeSpace(const char* directory, uint64_t* bytes) override { return inner_.FreeSpace(directory, bytes); }
    bool VolumeOf(const char* directory, char* root, uint32_t size) override {
        return inner_.VolumeOf(directory, root, size);
    }
    PathKind Examine(const char* path) override { return inner_.Examine(path); }
    bool IsFileAt(FileHandle file, const char* path, const char* trusted) override {
        return inner_.IsFileAt(file, path, trusted);
    }
    HolderLookup FileHolders(const char* path, char* names, uint32_t size) override {
        return inner_.FileHolders(path, names, size);
    }
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
    BlockHandle AllocBlock(uint32_t size) override { return inner_.AllocBlock(size); }
    void* LockBlock(BlockHandle block) override { return inner_.LockBlock(block); }
    void UnlockBlock(BlockHandle block) override { inner_.UnlockBlock(block); }
    void FreeBlock(BlockHandle block) override { inner_.FreeBlock(block); }
    SignatureState OwnSignature(uint32_t* systemResult) override { return inner_.OwnSignature(systemResult); }

protected:
    Platform& inner_;
};

}  // namespace zv
