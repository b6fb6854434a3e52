// Writing a member's expanded bytes into a file, through one 32000-byte
// buffer, and asking the user about every write that fails.
#pragma once

#include <cstdint>

#include "package/lzhuf_decoder.h"
#include "platform/run_context.h"

namespace zv {

constexpr uint32_t OUTPUT_BUFFER_SIZE = 32000;

// The decoder's sink for a member written to disk. The buffer is written out
// as soon as it is full, before the decoder reads on. A write that fails asks
// "%s: write error!" (35) about the shown path, one that falls short "Disk
// full!" (41), Retry or Cancel, owned by run.progressPage; a short write keeps
// only what is still to be written, so that Retry writes the rest once.
// Cancel fails the Take (or Finish) that met it, and every later one.
class FileOutput : public MemberSink {
public:
    // `buffer` holds OUTPUT_BUFFER_SIZE bytes and stays the caller's.
    FileOutput(RunContext& run, FileHandle file, const char* shownPath, uint8_t* buffer)
        : run_(run), file_(file), shownPath_(shownPath), buffer_(buffer) {}

    uint32_t Room() const override { return OUTPUT_BUFFER_SIZE - held_; }
    bool Take(const uint8_t* bytes, uint32_t count) override;
    bool Finish() override { return Flush(); }

    // Writes what is held; false after Cancel (the rest stays held).
    bool Flush();
    uint32_t held() const { return held_; }

private:
    RunContext& run_;
    FileHandle file_;
    const char* shownPath_;
    uint8_t* buffer_;
    uint32_t held_ = 0;
    bool cancelled_ = false;
};

}  // namespace zv
