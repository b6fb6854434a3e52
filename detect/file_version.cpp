#include "detect/file_version.h"

#include <cstring>

#include "platform/bytes.h"
#include "platform/files.h"
#include "platform/text.h"

namespace zv {
namespace {

const char kFixedInfo[] = "\\";
const char kTranslation[] = "\\VarFileInfo\\Translation";
// The table consulted is always U.S. English, code page 1252, whatever the
// translation list says.
const char kInternalName[] = "\\StringFileInfo\\040904E4\\InternalName";

// VS_FIXEDFILEINFO: dwFileVersionMS at 8, dwFileVersionLS at 12.
constexpr uint32_t kFileVersionEnd = 16;

// True when the text answered for the internal name (which ends at its zero
// or after `length` bytes, whichever comes first) equals `expected`.
bool NameEquals(const char* text, uint32_t length, const char* expected) {
    uint32_t textLength = 0;
    while (textLength < length && text[textLength] != '\0') ++textLength;
    return std::strlen(expected) == textLength && EqualPrefixNoCase(text, expected, textLength);
}

// The file's version block, read into a block of its own (freed through
// *handle); nullptr when it has none, or it cannot be held or read.
void* ReadVersionBlockOf(Platform& os, const char* path, BlockHandle* handle) {
    uint32_t size = os.VersionInfoSize(path);
    if (size == 0) return nullptr;
    void* block = AllocGlobalBlock(os, size, handle);
    if (block == nullptr) return nullptr;
    if (!os.VersionInfo(path, size, block)) {
        FreeGlobalBlock(os, handle);
        return nullptr;
    }
    return block;
}

// The file version of the block's fixed information, read only as far as
// its answered length reaches; false when there is none.
bool QueryFileVersion(Platform& os, const void* block, ProductVersion* version) {
    const void* value = nullptr;
    uint32_t length = 0;
    if (!os.QueryVersion(block, kFixedInfo, &value, &length) || length < kFileVersionEnd) return false;
    const auto* fixed = static_cast<const uint8_t*>(value);
    version->high = LoadU32LE(fixed + 8);
    version->low = LoadU32LE(fixed + 12);
    return true;
}

}  // namespace

bool ReadInstalledVersion(Platform& os, const char* path, ProductVersion* version) {
    BlockHandle handle = 0;
    void* block = ReadVersionBlockOf(os, path, &handle);
    if (block == nullptr) return false;
    bool read = QueryFileVersion(os, block, version);
    FreeGlobalBlock(os, &handle);
    return read;
}

const char* VersionStatusName(VersionStatus status) {
    switch (status) {
    case Matched: return "Matched";
    case Missing: return "Missing";
    case NoVersionInfo: return "NoVersionInfo";
    case NameMismatch: return "NameMismatch";
    }
    return "?";
}

VersionStatus ReadFileVersion(Platform& os, const char* path, const char* expectedInternalName,
                              FileVersionRecord* record) {
    *record = FileVersionRecord{};
    record->status = Missing;
    if (!FileExists(os, path)) return record->status;

    record->status = NoVersionInfo;
    BlockHandle handle = 0;
    void* block = ReadVersionBlockOf(os, path, &handle);
    if (block == nullptr) return record->status;

    record->status = NameMismatch;
    // Each value is read only as far as its answered length reaches.
    QueryFileVersion(os, block, &record->version);
    const void* value = nullptr;
    uint32_t length = 0;
    if (os.QueryVersion(block, kTranslation, &value, &length) && length >= 2) {
        record->language = LoadU16LE(static_cast<const uint8_t*>(value));
    }
    if (os.QueryVersion(block, kInternalName, &value, &length) &&
        NameEquals(static_cast<const char*>(value), length, expectedInternalName)) {
        record->status = Matched;
    }
    FreeGlobalBlock(os, &handle);
    return record->status;
}

}  // namespace zv
