// Reading the members of a stamped updater back through the updater's own
// volume reader and LZHUF decoder, as the updater does when it installs them:
// volume 1 is the updater file, further volumes are looked for beside it, and
// every question goes to the UserInterface given.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "package/lzhuf_decoder.h"
#include "package/volume_reader.h"
#include "platform/run_context.h"
#include "quillon/capture_platform.h"
#include "quillon/updater_file.h"

namespace quillon {

struct ExpandResult {
    bool done = false;          // the decoder expanded and wrote the whole member
    uint32_t declaredSize = 0;  // the stream's expanded size (0 when it could not be read)
    uint64_t written = 0;       // bytes the decoder wrote; more than declared when the
                                // stream's last match runs past its size
};

class PackageExpander {
public:
    // `os` for the files, `ui` for the questions; both outlive the expander.
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
    std::unique_ptr<CapturePlatform> capture_;
    zv::RunContext run_;
    UpdaterFile file_;
    bool opened_ = false;
    zv::VolumeReader reader_;
    std::unique_ptr<zv::LzhufDecoder> decoder_;
    std::unique_ptr<uint8_t[]> input_;
    std::unique_ptr<uint8_t[]> output_;
};

// Expands one raw stream (expanded size, then coded data) held in memory
// through the same decoder into `writer`; `ui` answers the write question.
ExpandResult ExpandRawStream(const uint8_t* stream, uint32_t size, zv::UserInterface& ui,
                             const MemberWriter& writer);

}  // namespace quillon
