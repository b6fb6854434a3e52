// The marker search and the stamped-block operations on any bytes. The input
// is: a key selector, a data length, then the bytes of an installed file and
// of a new file (split at a position given by the next two bytes). The
// installed file's blocks are read into a save area and written into the new
// file, through a platform that keeps its files in memory.
//
// Checked: a block found lies wholly inside the bytes and starts with its
// marker and key; the new file keeps its length; and the checksum relation
// (stored word minus the checksum of the file with that word as 0) is kept,
// even where a carried block lies over the checksum block.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "detect/stamped_blocks.h"
#include "transfer/carry.h"
#include "platform/bytes.h"

namespace {

// Files in memory; handles are indexes of open files.
class MemoryPlatform : public zv::Platform {
public:
    std::map<std::string, std::vector<uint8_t>> files;

    zv::FileHandle Open(const char* path, zv::OpenMode) override {
        if (files.count(path) == 0) return zv::kNoFile;
        return Add(path);
    }
    zv::FileHandle Create(const char* path) override {
        files[path].clear();
        return Add(path);
    }
    int32_t Read(zv::FileHandle file, void* buffer, uint32_t count) override {
        Handle& h = open_[file];
        std::vector<uint8_t>& bytes = files[h.path];
        uint32_t n = h.position >= bytes.size() ? 0 : static_cast<uint32_t>(bytes.size() - h.position);
        if (n > count) n = count;
        if (n != 0) std::memcpy(buffer, bytes.data() + h.position, n);
        h.position += n;
        return static_cast<int32_t>(n);
    }
    int32_t Write(zv::FileHandle file, const void* buffer, uint32_t count) override {
        Handle& h = open_[file];
        std::vector<uint8_t>& bytes = files[h.path];
        if (bytes.size() < h.position + count) bytes.resize(h.position + count);
        if (count != 0) std::memcpy(bytes.data() + h.position, buffer, count);
        h.position += count;
        return static_cast<int32_t>(count);
    }
    int32_t Seek(zv::FileHandle file, int32_t offset, zv::SeekOrigin origin) override {
        Handle& h = open_[file];
        int64_t base = origin == zv::SeekOrigin::Begin ? 0
                       : origin == zv::SeekOrigin::Current ? static_cast<int64_t>(h.position)
                                                           : static_cast<int64_t>(files[h.path].size());
        if (base + offset < 0) return zv::kFileError;
        h.position = static_cast<size_t>(base + offset);
        return static_cast<int32_t>(h.position);
    }
    void Close(zv::FileHandle file) override { open_.erase(file); }
    bool Flush(zv::FileHandle) override { return true; }
    bool Remove(const char* path) override { return files.erase(path) != 0; }
    bool Replace(const char* from, const char* to) override {
        if (files.count(from) == 0) return false;
        files[to] = files[from];
        files.erase(from);
        return true;
    }
    bool FreeSpace(const char*, uint64_t*) override { return false; }
    // Memory has no links: an open file is where its path says.
    bool IsFileAt(zv::FileHandle file, const char* path, const char*) override {
        auto it = open_.find(file);
        return it != open_.end() && it->second.path == path && files.count(path) != 0;
    }
    bool EnterDirectory(const char*) override { return false; }
    bool MakeDirectory(const char*) override { return false; }
    uint32_t ModulePath(char*, uint32_t) override { return 0; }
    uint32_t WindowsDirectory(char*, uint32_t) override { return 0; }
    uint32_t ProfileString(const char*, const char*, const char*, char*, uint32_t, const char*) override { return 0; }
    uint32_t ProfileInt(const char*, const char*, int32_t fallback, const char*) override {
        return static_cast<uint32_t>(fallback);
    }
    uint32_t VersionInfoSize(const char*) override { return 0; }
    bool VersionInfo(const char*, uint32_t, void*) override { return false; }
    bool QueryVersion(const void*, const char*, const void**, uint32_t*) override { return false; }
    uint32_t FindSharedFile(const char*, const char*, const char*, char*, uint32_t, char*, uint32_t) override {
        return 0;
    }
    uint32_t LanguageName(uint32_t, char*, uint32_t) override { return 0; }
    zv::BlockHandle AllocBlock(uint32_t size) override {
        return reinterpret_cast<zv::BlockHandle>(std::calloc(size ? size : 1, 1));
    }
    void* LockBlock(zv::BlockHandle block) override { return reinterpret_cast<void*>(block); }
    void UnlockBlock(zv::BlockHandle) override {}
    void FreeBlock(zv::BlockHandle block) override { std::free(reinterpret_cast<void*>(block)); }

private:
    struct Handle {
        std::string path;
        size_t position = 0;
    };
    zv::FileHandle Add(const char* path) {
        zv::FileHandle handle = next_++;
        open_[handle] = Handle{path, 0};
        return handle;
    }
    std::map<zv::FileHandle, Handle> open_;
    zv::FileHandle next_ = 3;
};

const uint32_t kKeys[] = {zv::KEY_MARKER_WORD, zv::KEY_CARRIED_SHORT, zv::KEY_CARRIED_FIRST, zv::KEY_CARRIED_SECOND,
                          zv::KEY_CHECKSUM};

uint16_t Difference(const std::vector<uint8_t>& bytes, uint32_t at) {
    return zv::ChecksumDifference(bytes.data(), static_cast<uint32_t>(bytes.size()), at);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    uint32_t key = kKeys[data[0] % 5];
    uint32_t dataLength = data[1] % 100;
    std::vector<uint8_t> bytes(data + 2, data + size);  // its own buffer: reads past it are caught
    uint32_t at = zv::FindMarker(bytes.data(), static_cast<uint32_t>(bytes.size()), key, dataLength);
    if (at != zv::kNoMarker) {
        if (at < zv::MARKER_HEADER_SIZE || at + dataLength > bytes.size()) std::abort();
        if (zv::LoadU16LE(bytes.data() + at - 6) != zv::MARKER_VALUE || zv::LoadU32LE(bytes.data() + at - 4) != key) {
            std::abort();
        }
    }
    zv::StampChecksum(bytes.data(), static_cast<uint32_t>(bytes.size()));

    size_t split = bytes.size() < 2 ? 0 : static_cast<size_t>(bytes[0] | (bytes[1] << 8)) % bytes.size();
    MemoryPlatform os;
    os.files["C:\\OLD\\ZVACT.EXE"] = std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(split));
    std::vector<uint8_t> fresh(bytes.begin() + static_cast<long>(split), bytes.end());
    os.files["C:\\NEW\\ZVACT.EXE"] = fresh;
    zv::RunContext run;
    run.os = &os;
    zv::StampedBlockSave save;
    if (zv::ReadCarriedBlocks(os, "C:\\OLD\\ZVACT.EXE", &save) != zv::CarryOutcome::Done) std::abort();
    if (zv::WriteCarriedBlocks(run, "C:\\NEW\\ZVACT.EXE", save, "C:\\NEW\\ZVACT.EXE") != zv::CarryOutcome::Done) {
        std::abort();
    }
    const std::vector<uint8_t>& written = os.files["C:\\NEW\\ZVACT.EXE"];
    if (written.size() != fresh.size() || os.files.size() != 2) std::abort();

    // The relation holds at the word the new file had, whatever the carried
    // blocks wrote over, its marker or the word itself included.
    uint32_t checksum = zv::FindMarker(fresh.data(), static_cast<uint32_t>(fresh.size()), zv::KEY_CHECKSUM, 2);
    if (checksum != zv::kNoMarker && Difference(written, checksum) != Difference(fresh, checksum)) std::abort();
    return 0;
}
