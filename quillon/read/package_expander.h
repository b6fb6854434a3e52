// Reading the members of a stamped updater back through the updater's own
// volume reader and LZHUF decoder, as the updater does when it installs them:
// volume 1 is the updater file, further volumes are looked for beside it, and
// the reader's questions (a read error, the disk prompt) and the telling of a
// damaged member go to the UserInterface given. The expanded bytes go to a
// MemberWriter of quillon's.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "package/lzhuf_decoder.h"
#include "package/volume_reader.h"
#include "platform/run_context.h"
#include "quillon/read/updater_file.h"
#include "transfer/package_messages.h"

namespace quillon {

// Where a member's expanded bytes go, a block at a time. Returns false when
// they cannot be written; the expansion then stops (SinkFailed).
using MemberWriter = std::function<bool(const uint8_t* bytes, uint32_t count)>;

struct ExpandResult {
    zv::DecodeOutcome outcome = zv::DecodeOutcome::NoSize;
    uint32_t declaredSize = 0;  // the stream's expanded size (0 when it could not be read)
    uint64_t written = 0;       // bytes the writer took; more than declared when the
                                // stream's last match runs past its size
    zv::ReadFailure failure;    // why reading failed (ReadFailed, Damaged)
    bool done() const { return outcome == zv::DecodeOutcome::Done; }
};

// The reader's questions as the updater asks them, through the
// UserInterface of `run`, except the disk prompt: a drive tells nothing to a
// tool, so it names the file that is wanted and why the one there is not it.
class ExpanderQuestions : public zv::MessageReadQuestions {
public:
    explicit ExpanderQuestions(zv::RunContext& run) : MessageReadQuestions(run) {}
    bool InsertDisk(const zv::ReadFailure& failure) override;
};

// The disk prompt in words for a terminal: which volume is wanted, and
// whether its file is missing or why the file there is not that volume.
std::string DiskPromptText(zv::Platform& os, const zv::ReadFailure& failure);

// Why a member could not be read, in the words the user was given: the disk
// prompt's for a volume that was not at hand, otherwise the updater's message
// about the failure's subject (control characters shown as \xNN).
std::string ReadFailureText(zv::Platform& os, const zv::ReadFailure& failure);

class PackageExpander {
public:
    // `os` for the files, `ui` for the reader's questions; both outlive the expander.
    PackageExpander(zv::Platform& os, zv::UserInterface& ui);
    ~PackageExpander();
    PackageExpander(const PackageExpander&) = delete;
    PackageExpander& operator=(const PackageExpander&) = delete;

    // Loads the header and table of the updater at `path` (a host path) and
    // opens it as volume 1. False with the reason in *error.
    bool Open(const std::string& path, std::string* error);

    const UpdaterFile& file() const { return file_; }

    // Expands `entry` (a record of the loaded table) into `writer`. A
    // damaged member, or one cut short, is told through the UserInterface as
    // the updater tells it, and recorded in the result's failure.
    ExpandResult Expand(zv::PackageEntry entry, const MemberWriter& writer);

private:
    zv::Platform& os_;
    zv::UserInterface& ui_;
    zv::RunContext run_;
    ExpanderQuestions questions_{run_};
    UpdaterFile file_;
    bool opened_ = false;
    zv::VolumeReader reader_;
    std::unique_ptr<zv::LzhufDecoder> decoder_;
    std::unique_ptr<uint8_t[]> input_;
};

// Expands one raw stream (expanded size, then coded data) held in memory
// through the same decoder into `writer`.
ExpandResult ExpandRawStream(const uint8_t* stream, uint32_t size, const MemberWriter& writer);

}  // namespace quillon
