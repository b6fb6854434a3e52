#include "transfer/member_output.h"

#include <cstring>

#include "platform/messages.h"
#include "string_ids.h"

namespace zv {

bool FileOutput::Take(const uint8_t* bytes, uint32_t count) {
    while (count != 0) {
        if (cancelled_) return false;
        const uint32_t take = count < Room() ? count : Room();
        std::memcpy(buffer_ + held_, bytes, take);
        held_ += take;
        bytes += take;
        count -= take;
        if (held_ == OUTPUT_BUFFER_SIZE && !Flush()) return false;
    }
    return true;
}

void FileOutput::HashWritten() {
    Sha256Abandon(&hash_);
    hashing_ = true;
    hashStatus_ = Sha256Begin(&hash_);
}

Sha256Status FileOutput::FinishHash(uint8_t digest[SHA256_DIGEST_SIZE]) {
    if (!hashing_ || hashStatus_ != Sha256Status::Ok) return hashStatus_;
    hashStatus_ = Sha256Finish(&hash_, digest);
    // Finished: nothing more is hashed, and a second call is NotBegun.
    hashing_ = false;
    const Sha256Status finished = hashStatus_;
    hashStatus_ = Sha256Status::NotBegun;
    return finished;
}

void FileOutput::Accepted(const uint8_t* bytes, uint32_t count) {
    written_ += count;
    // A hashing failure releases the context; its status is kept for
    // FinishHash and nothing more is hashed.
    if (hashing_ && hashStatus_ == Sha256Status::Ok && count != 0) {
        hashStatus_ = Sha256Update(&hash_, bytes, count);
    }
}

bool FileOutput::Flush() {
    if (cancelled_) return false;
    while (held_ != 0) {
        const int32_t result = run_.os->Write(file_, buffer_, held_);
        // A platform never takes more than it was given; were it to say so,
        // no more than the bytes held count as written.
        uint32_t written = result < 0 ? 0 : static_cast<uint32_t>(result);
        if (written > held_) written = held_;
        if (result >= 0) Accepted(buffer_, written);
        if (written == held_) {
            held_ = 0;
            break;
        }
        if (askNothing_) {
            cancelled_ = true;
            return false;
        }
        unsigned question = IDS_WRITE_ERROR;
        if (result >= 0) {
            // Keep only what is still to be written, so that a retry does not
            // write the first part twice.
            std::memmove(buffer_, buffer_ + written, held_ - written);
            held_ -= written;
            question = IDS_DISK_FULL;
        }
        if (AskRetryCancel(run_, run_.progressPage, question, shownPath_) != ANSWER_RETRY) {
            cancelled_ = true;
            return false;
        }
    }
    return true;
}

}  // namespace zv
