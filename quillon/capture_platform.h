// A Platform that passes every call to another one, except writes to one
// pretend file (kMemberFile), which go to a MemberWriter: the decoder's output
// sink writes a member through it wherever quillon wants the bytes.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/forwarding_platform.h"

namespace quillon {

// Where a member's expanded bytes go, a block at a time. Returns false when
// they cannot be written (the decoder then asks "write error", Retry/Cancel).
using MemberWriter = std::function<bool(const uint8_t* bytes, uint32_t count)>;

class CapturePlatform : public zv::ForwardingPlatform {
public:
    static constexpr zv::FileHandle kMemberFile = -2;  // never a handle of a real file

    explicit CapturePlatform(zv::Platform& inner) : ForwardingPlatform(inner) {}

    // Sends the member's bytes to `writer` (nullptr: writes fail) from now on.
    void Capture(const MemberWriter* writer) {
        writer_ = writer;
        written_ = 0;
    }
    // Bytes taken by the writer since Capture.
    uint64_t written() const { return written_; }

    int32_t Write(zv::FileHandle file, const void* buffer, uint32_t count) override {
        if (file != kMemberFile) return ForwardingPlatform::Write(file, buffer, count);
        if (writer_ == nullptr || !(*writer_)(static_cast<const uint8_t*>(buffer), count)) return zv::kFileError;
        written_ += count;
        return static_cast<int32_t>(count);
    }

private:
    const MemberWriter* writer_ = nullptr;
    uint64_t written_ = 0;
};

}  // namespace quillon
