// Small rules about files and paths that every layer of the core shares, so
// that each is written once: whether a file is there, the last part of a
// path, a whole file in memory, and the SHA-256 of an open file.
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

// How reading a whole file went.
enum class WholeFileRead : uint8_t {
    Done,      // read whole (or, shorter than asked for, left unread)
    TooLarge,  // longer than the most the caller takes: not read
    NoMemory,  // no block for it
    Failed,    // a seek failed, or the read gave fewer bytes than the file holds
};

// Reads the open `file` whole, from its start, into a new block of its own
// (freed with FreeGlobalBlock(*handle)) in one read, and gives its length.
// A file longer than `maxLength` is TooLarge; one shorter than `minLength`
// gets no block (Done, *bytes nullptr): the caller has nothing to find in it.
// An empty file still gets a block of one byte when minLength is 0.
WholeFileRead LoadWholeFile(Platform& os, FileHandle file, uint32_t minLength, uint32_t maxLength,
                            BlockHandle* handle, uint8_t** bytes, uint32_t* length);

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
