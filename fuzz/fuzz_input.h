// What the fuzz targets over the package reader share: the input taken front
// to back, the user's answers taken from it, and a check that stops the run.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "package/lzhuf_decoder.h"
#include "platform/run_context.h"
#include "platform/ui.h"

namespace zvfuzz {

// Stops the run (a finding) when a property does not hold.
inline void Check(bool condition) {
    if (!condition) std::abort();
}

// Takes the input front to back; what runs out reads as zeros or nothing.
struct Input {
    const uint8_t* data;
    size_t size;
    size_t at = 0;

    uint32_t Byte() { return at < size ? data[at++] : 0; }
    uint32_t U16() { return Byte() | Byte() << 8; }
    std::vector<uint8_t> Bytes(size_t n) {
        n = std::min(n, size - at);
        std::vector<uint8_t> bytes(data + at, data + at + n);
        at += n;
        return bytes;
    }
    bool Empty() const { return at >= size; }
};

// Answers every question from the decision bytes, but gives up (Cancel)
// after `limit` of them, so that Retry cannot go on for ever. A text is
// checked to be there and to fit the updater's message buffer.
class AnsweringUi : public zv::UserInterface {
public:
    explicit AnsweringUi(int limit) : limit_(limit) {}
    std::vector<uint8_t> answers;
    int asked = 0;

    int ShowMessage(const zv::MessageRequest& m) override {
        Check(m.text != nullptr && std::strlen(m.text) < 300);
        const uint8_t a = answers.empty() ? 0 : answers[static_cast<size_t>(asked) % answers.size()];
        const bool giveUp = ++asked > limit_ || (a & 3) == 0;
        switch (m.style & zv::BOX_BUTTONS_MASK) {
        case zv::BOX_OK: return zv::ANSWER_OK;
        case zv::BOX_OKCANCEL: return giveUp ? zv::ANSWER_CANCEL : zv::ANSWER_OK;
        case zv::BOX_RETRYCANCEL: return giveUp ? zv::ANSWER_CANCEL : zv::ANSWER_RETRY;
        default: return zv::ANSWER_CANCEL;
        }
    }
    void SetItemText(zv::WindowRef, int, unsigned, const char*) override {}

private:
    int limit_;
};

// A run of the updater from A:\SETUP.EXE over `os`, asking `ui`, with the
// transfer page up (questions are owned by it).
inline void StartRun(zv::RunContext* run, zv::Platform* os, zv::UserInterface* ui) {
    run->os = os;
    run->ui = ui;
    run->progressPage = 1;
    std::strcpy(run->programPath, "A:\\SETUP.EXE");
    std::strcpy(run->programDir, "A:\\");
    std::strcpy(run->titleText, "Fuzz");
}

// The reader's record of a member's failure agrees with the decoder's
// outcome: none when the member expanded, ended before its size or was
// refused by the sink; a read failure for ReadFailed; a damaged member for
// Damaged, and nothing else.
inline void CheckRecordedFailure(zv::DecodeOutcome result, const zv::ReadFailure& failure) {
    const bool damaged = failure.kind == zv::ReadFailureKind::SizeOverRecord ||
                         failure.kind == zv::ReadFailureKind::CodesOverrun;
    switch (result) {
    case zv::DecodeOutcome::ReadFailed: Check(failure.kind != zv::ReadFailureKind::None && !damaged); break;
    case zv::DecodeOutcome::Damaged: Check(damaged); break;
    default: Check(failure.kind == zv::ReadFailureKind::None); break;
    }
}

}  // namespace zvfuzz
