// Reading the members of a stamped updater back through the updater's own
// volume reader and LZHUF decoder, as the updater does when it installs them:
// volume 1 is the updater file, further volumes are looked for beside it, and
// the reader's questions (a read error, the disk prompt) go to the
// UserInterface given. The expanded bytes go to a MemberWriter of quillon's.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "package/lzhuf_decoder.h"
#include "package/volume_reader.h"
#include "platform/run_context.h"
#include "quillon/read/updater_file.h"

namespace quillon {

// Where a member's expanded bytes go, a block at a time. Returns false when
// they cannot be written; the expansion then stops (SinkFailed).
using MemberWriter = std::function<bool(const uint8_t* bytes, uint32_t count)>;

struct ExpandResult {
    zv::DecodeOutcome outcome = zv::DecodeOutcome::NoSize;
    uint32_t declaredSize = 0;  // the stream's expanded size (0 when it could not be read)
    uint64_t written = 0;       // bytes the writer took; more than declared when the
                                // stream's last match runs past its size
    bool done() const { return outcome == zv::DecodeOutcome::Done; }
};

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
    const zv::VolumeReader& reader() const { return reader_; }

    // Expands `entry` (a record of the loaded table) into `writer`.
    ExpandResult Expand(zv::PackageEntry entry, const MemberWriter& writer);

private:
    zv::Platform& os_;
    zv::UserInterface& ui_;
    zv::RunContext run_;
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
