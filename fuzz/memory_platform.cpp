#include "fuzz/memory_platform.h"

#include <cstdlib>
#include <cstring>

namespace zvfuzz {

namespace {

std::string Upper(const char* path) {
    std::string s(path);
    for (char& c : s) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return s;
}

uint32_t Empty(char* buffer, uint32_t size) {
    if (size > 0) buffer[0] = '\0';
    return 0;
}

}  // namespace

uint8_t MemoryPlatform::Decide() {
    if (decisions.empty()) return 0xFF;
    return decisions[decision_++ % decisions.size()];
}

void MemoryPlatform::AddFile(const std::string& name, std::vector<uint8_t> bytes) {
    files[Upper(name.c_str())] = std::move(bytes);
}

zv::FileHandle MemoryPlatform::Open(const char* path, zv::OpenMode) {
    const std::string name = Upper(path);
    if (!files.count(name) || Decide() < 8) return zv::kNoFile;
    open_[next_] = OpenFile{name, false, 0, 0};
    ++openHandles;
    return next_++;
}

zv::FileHandle MemoryPlatform::Create(const char* path) {
    open_[next_] = OpenFile{Upper(path), true, 0, 0};
    ++openHandles;
    return next_++;
}

int32_t MemoryPlatform::Read(zv::FileHandle file, void* buffer, uint32_t count) {
    auto it = open_.find(file);
    if (it == open_.end() || it->second.writing) return zv::kFileError;
    const uint8_t decision = Decide();
    if (decision < 6) return zv::kFileError;
    const std::vector<uint8_t>& bytes = files[it->second.name];
    const uint32_t position = it->second.position;
    uint32_t n = position < bytes.size() ? static_cast<uint32_t>(bytes.size() - position) : 0;
    if (n > count) n = count;
    if (decision < 10 && n > 1) n /= 2;  // a short read
    if (n > 0) std::memcpy(buffer, bytes.data() + position, n);
    it->second.position += n;
    return static_cast<int32_t>(n);
}

int32_t MemoryPlatform::Write(zv::FileHandle file, const void*, uint32_t count) {
    auto it = open_.find(file);
    if (it == open_.end() || !it->second.writing) return zv::kFileError;
    const uint8_t decision = Decide();
    if (decision < 4) return zv::kFileError;
    uint32_t n = count;
    if (it->second.written >= writeLimit) n = 0;  // the disk is full
    else if (n > writeLimit - it->second.written) n = writeLimit - it->second.written;
    if (decision < 8) n /= 2;
    it->second.written += n;
    return static_cast<int32_t>(n);
}

int32_t MemoryPlatform::Seek(zv::FileHandle file, int32_t offset, zv::SeekOrigin origin) {
    auto it = open_.find(file);
    if (it == open_.end() || Decide() < 4) return zv::kFileError;
    int64_t base = 0;
    if (origin == zv::SeekOrigin::Current) base = it->second.position;
    if (origin == zv::SeekOrigin::End) base = static_cast<int64_t>(files[it->second.name].size());
    const int64_t target = base + offset;
    if (target < 0 || target > INT32_MAX) return zv::kFileError;
    it->second.position = static_cast<uint32_t>(target);
    return static_cast<int32_t>(target);
}

void MemoryPlatform::Close(zv::FileHandle file) {
    if (open_.erase(file) == 0) std::abort();  // closing what is not open is a fault of the caller
    --openHandles;
}

uint32_t MemoryPlatform::ModulePath(char* buffer, uint32_t size) { return Empty(buffer, size); }
uint32_t MemoryPlatform::WindowsDirectory(char* buffer, uint32_t size) { return Empty(buffer, size); }
uint32_t MemoryPlatform::ProfileString(const char*, const char*, const char* fallback, char* buffer,
                                       uint32_t size, const char*) {
    if (size == 0) return 0;
    std::strncpy(buffer, fallback ? fallback : "", size - 1);
    buffer[size - 1] = '\0';
    return static_cast<uint32_t>(std::strlen(buffer));
}
uint32_t MemoryPlatform::FindSharedFile(const char*, const char*, const char*, char* currentDir,
                                        uint32_t currentSize, char* destDir, uint32_t destSize) {
    Empty(currentDir, currentSize);
    Empty(destDir, destSize);
    return 0;
}
uint32_t MemoryPlatform::LanguageName(uint32_t, char* buffer, uint32_t size) { return Empty(buffer, size); }

zv::BlockHandle MemoryPlatform::AllocBlock(uint32_t size) {
    return reinterpret_cast<zv::BlockHandle>(std::calloc(size ? size : 1, 1));
}
void* MemoryPlatform::LockBlock(zv::BlockHandle block) { return reinterpret_cast<void*>(block); }
void MemoryPlatform::FreeBlock(zv::BlockHandle block) { std::free(reinterpret_cast<void*>(block)); }

}  // namespace zvfuzz
