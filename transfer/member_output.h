// Writing a member's expanded bytes into a file, through one 32000-byte
// buffer, and asking the user about every write that fails.
#pragma once

#include <cstdint>

#include "package/lzhuf_decoder.h"
#include "platform/run_context.h"
#include "platform/sha256.h"

namespace zv {

constexpr uint32_t OUTPUT_BUFFER_SIZE = 32000;

// The decoder's sink for a member written to disk. The buffer is written out
// as soon as it is full, before the decoder reads on. A write that fails asks
// "%s: write error!" (35) about the shown path, one that falls short "Disk
// full!" (41), Retry or Cancel, owned by run.progressPage; a short write keeps
// only what is still to be written, so that Retry writes the rest once.
// Cancel fails the Take (or Finish) that met it, and every later one.
//
// With HashWritten the output also takes the SHA-256 of what it writes: of
// exactly the bytes each write reports the system accepted, in the order
// they went into the file, so that a written copy need not be read back to
// be checked. A failure of the hashing does not stop the writing (its
// questions stay what they are); FinishHash tells it.
class FileOutput : public MemberSink {
public:
    // `buffer` holds OUTPUT_BUFFER_SIZE bytes and stays the caller's.
    FileOutput(RunContext& run, FileHandle file, const char* shownPath, uint8_t* buffer)
        : run_(run), file_(file), shownPath_(shownPath), buffer_(buffer) {}
    ~FileOutput() override { Sha256Abandon(&hash_); }
    FileOutput(const FileOutput&) = delete;
    FileOutput& operator=(const FileOutput&) = delete;

    // Hashes every byte written from here on; called before the first Take.
    void HashWritten();
    // Asks nothing: a write that fails or falls short fails the output at
    // once, as Cancel would (for a worker, which has no one to ask).
    void AskNothing() { askNothing_ = true; }
    // Once everything is written: the SHA-256 of the bytes written since
    // HashWritten, or why there is none (NotBegun without HashWritten).
    Sha256Status FinishHash(uint8_t digest[SHA256_DIGEST_SIZE]);
    // The bytes the system reported written, in all.
    uint64_t written() const { return written_; }

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
    bool askNothing_ = false;
    uint64_t written_ = 0;
    bool hashing_ = false;
    Sha256Status hashStatus_ = Sha256Status::NotBegun;
    Sha256Context hash_;

    // `count` bytes from `bytes` went into the file.
    void Accepted(const uint8_t* bytes, uint32_t count);
};

}  // namespace zv
