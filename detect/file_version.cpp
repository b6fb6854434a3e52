#include "detect/file_version.h"

#include "platform/bytes.h"
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
    uint32_t i = 0;
    for (; i < length && text[i] != '\0'; ++i) {
        if (FoldAz(static_cast<unsigned char>(text[i])) != FoldAz(static_cast<unsigned char>(expected[i]))) {
            return false;
        }
    }
    return expected[i] == '\0';
}

}  // namespace

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
    FileHandle file = os.Open(path, OpenMode::Read);
    if (file == kNoFile) return record->status;
    os.Close(file);

    record->status = NoVersionInfo;
    uint32_t size = os.VersionInfoSize(path);
    if (size == 0) return record->status;
    BlockHandle handle = 0;
    void* block = AllocGlobalBlock(os, size, &handle);
    if (block == nullptr) return record->status;
    if (!os.VersionInfo(path, size, block)) {
        FreeGlobalBlock(os, &handle);
        return record->status;
    }

    record->status = NameMismatch;
    const void* value = nullptr;
    uint32_t length = 0;
    // Each value is read only as far as its answered length reaches.
    if (os.QueryVersion(block, kFixedInfo, &value, &length) && length >= kFileVersionEnd) {
        const auto* fixed = static_cast<const uint8_t*>(value);
        record->version.high = LoadU32LE(fixed + 8);
        record->version.low = LoadU32LE(fixed + 12);
    }
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
