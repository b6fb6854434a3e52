#include "platform/files.h"

#include <cstring>

namespace zv {

bool FileExists(Platform& os, const char* path) {
    const FileHandle file = os.Open(path, OpenMode::Read);
    if (file == kNoFile) return false;
    os.Close(file);
    return true;
}

const char* LastPathPart(const char* path) {
    const char* last = std::strrchr(path, '\\');
    return last == nullptr ? path : last + 1;
}

WholeFileRead LoadWholeFile(Platform& os, FileHandle file, uint32_t minLength, uint32_t maxLength,
                            BlockHandle* handle, uint8_t** bytes, uint32_t* length) {
    *bytes = nullptr;
    const int32_t end = os.Seek(file, 0, SeekOrigin::End);
    if (end < 0) return WholeFileRead::Failed;
    if (static_cast<uint32_t>(end) > maxLength) return WholeFileRead::TooLarge;
    if (os.Seek(file, 0, SeekOrigin::Begin) != 0) return WholeFileRead::Failed;
    *length = static_cast<uint32_t>(end);
    if (*length < minLength) return WholeFileRead::Done;
    *bytes = static_cast<uint8_t*>(AllocGlobalBlock(os, *length == 0 ? 1 : *length, handle));
    if (*bytes == nullptr) return WholeFileRead::NoMemory;
    if (os.Read(file, *bytes, *length) != end) return WholeFileRead::Failed;
    return WholeFileRead::Done;
}

FileDigest DigestOpenFile(Platform& os, FileHandle file, uint8_t* buffer, uint32_t bufferSize,
                          uint8_t digest[SHA256_DIGEST_SIZE]) {
    FileDigest result;
    Sha256Context hash;
    result.status = Sha256Begin(&hash);
    int32_t got = 0;
    while (result.status == Sha256Status::Ok && (got = os.Read(file, buffer, bufferSize)) > 0) {
        result.size += static_cast<uint32_t>(got);
        result.status = Sha256Update(&hash, buffer, static_cast<size_t>(got));
    }
    result.readFailed = got < 0;
    if (result.status == Sha256Status::Ok && got == 0) result.status = Sha256Finish(&hash, digest);
    Sha256Abandon(&hash);
    return result;
}

}  // namespace zv
