#include "quillon/package_expander.h"

#include <filesystem>
#include <system_error>

#include "platform/text.h"
#include "quillon/capture_platform.h"
#include "quillon/host_paths.h"

namespace quillon {

PackageExpander::PackageExpander(zv::Platform& os, zv::UserInterface& ui)
    : os_(os), ui_(ui), capture_(new CapturePlatform(os)) {}

PackageExpander::~PackageExpander() {
    if (opened_) zv::CloseVolumeReader(&reader_);
    CloseUpdaterFile(os_, &file_);
}

bool PackageExpander::Open(const std::string& path, std::string* error) {
    if (OpenUpdaterFile(os_, path, &file_, error) != UpdaterOpen::Ok) return false;
    const std::string programPath = PlatformPath(path);
    if (programPath.size() >= zv::kMaxPath) {
        *error = path + ": the path is too long for the updater's volume reader";
        return false;
    }
    run_.os = capture_.get();
    run_.ui = &ui_;
    zv::CopyText(run_.titleText, sizeof run_.titleText, "quillon");
    zv::CopyText(run_.programPath, sizeof run_.programPath, programPath.c_str());
    // The disk prompt names the drive by the directory's first character.
    std::error_code ec;
    const std::string absolute = std::filesystem::absolute(path, ec).string();
    zv::CopyText(run_.programDir, sizeof run_.programDir, PlatformPath(DirectoryPart(ec ? path : absolute)).c_str());
    decoder_.reset(new zv::LzhufDecoder());
    input_.reset(new uint8_t[zv::INPUT_BUFFER_SIZE]);
    output_.reset(new uint8_t[zv::OUTPUT_BUFFER_SIZE]);
    if (!zv::StartVolumeReader(&reader_, &run_, run_.programPath, input_.get())) {
        *error = path + ": cannot be opened as volume 1";
        return false;
    }
    opened_ = true;
    return true;
}

ExpandResult PackageExpander::Expand(zv::PackageEntry entry, const MemberWriter& writer) {
    ExpandResult result;
    zv::OutputSink sink;
    sink.run = &run_;
    sink.file = CapturePlatform::kMemberFile;
    sink.targetPath = zv::EntryName(entry);
    sink.buffer = output_.get();
    sink.held = 0;
    capture_->Capture(&writer);
    decoder_->expandedSize = 0;
    zv::BeginMemberRead(&reader_, entry);
    result.done = zv::DecodeMember(decoder_.get(), &reader_, &sink) == 0;
    result.declaredSize = decoder_->expandedSize;
    result.written = capture_->written();
    capture_->Capture(nullptr);
    return result;
}

ExpandResult ExpandRawStream(const uint8_t* stream, uint32_t size, zv::UserInterface& ui,
                             const MemberWriter& writer) {
    CapturePlatform capture(zv::HostPlatform());
    zv::RunContext run;
    run.os = &capture;
    run.ui = &ui;
    zv::CopyText(run.titleText, sizeof run.titleText, "quillon");
    zv::VolumeReader reader;
    zv::BeginMemoryRead(&reader, stream, size);
    std::unique_ptr<zv::LzhufDecoder> decoder(new zv::LzhufDecoder());
    std::unique_ptr<uint8_t[]> output(new uint8_t[zv::OUTPUT_BUFFER_SIZE]);
    zv::OutputSink sink;
    sink.run = &run;
    sink.file = CapturePlatform::kMemberFile;
    sink.targetPath = "output";
    sink.buffer = output.get();
    sink.held = 0;
    capture.Capture(&writer);
    decoder->expandedSize = 0;
    ExpandResult result;
    result.done = zv::DecodeMember(decoder.get(), &reader, &sink) == 0;
    result.declaredSize = decoder->expandedSize;
    result.written = capture.written();
    return result;
}

}  // namespace quillon
