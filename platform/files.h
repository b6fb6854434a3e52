// Small rules about files and paths that every layer of the core shares, so
// that each is written once: whether a file is there, the last part of a
// path, and the SHA-256 of an open file.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "platform/sha256.h"

namespace zv {

// Whether a file at `path` can be opened for reading. A file that cannot be
// opened counts as absent everywhere in the core.
bool FileExists(Platform& os, const char* path);

// The start of the last part of a Windows path: what follows its last "\",
// or the whole path when it has none.
const char* LastPathPart(const char* path);

// What DigestOpenFile found.
struct FileDigest {
    bool readFailed = false;                 // a read reported an error
    Sha256Status status = Sha256Status::Ok;  // the hashing's own failure
    uint64_t size = 0;                       // the bytes read and hashed
    bool ok() const { return !readFailed && status == Sha256Status::Ok; }
};

// Reads the open `file` from where it stands to its end in pieces of
// `bufferSize` bytes through `buffer` and gives the SHA-256 of those bytes
// in `digest` (only when the result is ok()). Stops at the first failure,
// of the reading or of the hashing; the context is always released.
FileDigest DigestOpenFile(Platform& os, FileHandle file, uint8_t* buffer, uint32_t bufferSize,
                          uint8_t digest[SHA256_DIGEST_SIZE]);

}  // namespace zv
