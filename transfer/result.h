// What a transfer came to, and the number that stands for it in the trace,
// the plan and the exit code.
#pragma once

#include <cstdint>

namespace zv {

enum class TransferOutcome : uint8_t {
    Done,       // every member was put in place (or there was nothing to write)
    NotBegun,   // the transfer could not begin: the package or memory failed, and the user was told
    Stopped,    // a stop was asked for (the halt, the window closed), or Abort at a question
    Cancelled,  // a Cancel answer to a question
    Failed,     // ended by a failure: the closing message `messageId` tells it
};
const char* TransferOutcomeName(TransferOutcome outcome);

struct TransferResult {
    TransferOutcome outcome = TransferOutcome::Done;
    unsigned messageId = 0;  // Failed: the string id of the closing message (32, 34, 35, 37, 38, 71, 76, ...)
};

inline TransferResult TransferEnded(TransferOutcome outcome) { return TransferResult{outcome, 0}; }
inline TransferResult TransferFailed(unsigned messageId) { return TransferResult{TransferOutcome::Failed, messageId}; }
inline bool Succeeded(const TransferResult& result) { return result.outcome == TransferOutcome::Done; }

// The one number a result is shown as: 0 done, -1 not begun or stopped, 2
// (the Cancel answer) cancelled, otherwise the string id of the closing
// message.
int32_t TransferResultNumber(const TransferResult& result);

}  // namespace zv
