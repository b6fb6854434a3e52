// The packed members of a build, kept in a scratch file beside the output
// until the package is written.
//
// The table and the image's header need every member's packed size before
// the first member's bytes are written, so a member's stream is appended
// here as soon as it is packed (in whatever order the packing threads finish)
// and its memory freed; the package is then written by copying each stream
// back in table order. The memory a build needs is therefore that of the
// members being packed, whatever the product's size.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace quillon {

// Where a packed member's stream lies in the spool.
struct SpooledStream {
    uint64_t offset = 0;
    uint64_t size = 0;
};

class MemberSpool {
public:
    MemberSpool() = default;
    ~MemberSpool();
    MemberSpool(const MemberSpool&) = delete;
    MemberSpool& operator=(const MemberSpool&) = delete;

    // Creates the scratch file beside `besidePath` (CreateScratchFile: no
    // exit of the process leaves it behind). False with the reason in *error.
    bool Open(const std::string& besidePath, std::string* error);

    // Appends `stream` (any thread may call this; appends are one at a time).
    // False with the reason in *error when the file cannot take it.
    bool Append(const std::vector<uint8_t>& stream, SpooledStream* where, std::string* error);

    // Reads `length` bytes at `offset` into `out` (after the last Append).
    // False with the reason in *error.
    bool Read(uint64_t offset, uint8_t* out, size_t length, std::string* error);

private:
    std::FILE* file_ = nullptr;
    std::mutex lock_;
    uint64_t size_ = 0;
    bool reading_ = false;
};

}  // namespace quillon
