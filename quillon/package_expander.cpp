#include "quillon/package_expander.h"

#include <filesystem>
#include <system_error>

#include "platform/text.h"
#include "quillon/host_paths.h"

namespace quillon {
namespace {

// The decoder's sink for quillon: every block straight to the writer.
class WriterSink : public zv::MemberSink {
public:
    explicit WriterSink(const MemberWriter& writer) : writer_(writer) {}
    uint64_t written() const { return written_; }
    uint32_t Room() const override { return kBlock; }
    bool Take(const uint8_t* bytes, uint32_t count) override {
        if (!writer_(bytes, count)) return false;
        written_ += count;
        return true;
    }
    bool Finish() override { return true; }

private:
    static constexpr uint32_t kBlock = 32000;  // as the updater writes them
    const MemberWriter& writer_;
    uint64_t written_ = 0;
};

// The one expansion both paths share: the member `reader` has been started on.
ExpandResult ExpandInto(zv::LzhufDecoder* decoder, zv::VolumeReader* reader, const MemberWriter& writer) {
    WriterSink sink(writer);
    ExpandResult result;
    result.outcome = zv::DecodeMember(decoder, reader, &sink);
    result.declaredSize = decoder->expandedSize;
    result.written = sink.written();
    return result;
}

}  // namespace

PackageExpander::PackageExpander(zv::Platform& os, zv::UserInterface& ui) : os_(os), ui_(ui) {}

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
    run_.os = &os_;
    run_.ui = &ui_;
    zv::CopyText(run_.titleText, sizeof run_.titleText, "quillon");
    zv::CopyText(run_.programPath, sizeof run_.programPath, programPath.c_str());
    // The disk prompt names the drive by the directory's first character.
    std::error_code ec;
    const std::string absolute = std::filesystem::absolute(path, ec).string();
    zv::CopyText(run_.programDir, sizeof run_.programDir, PlatformPath(DirectoryPart(ec ? path : absolute)).c_str());
    decoder_.reset(new zv::LzhufDecoder());
    input_.reset(new uint8_t[zv::INPUT_BUFFER_SIZE]);
    if (!zv::StartVolumeReader(&reader_, &run_, run_.programPath, input_.get())) {
        *error = path + ": cannot be opened as volume 1";
        return false;
    }
    opened_ = true;
    return true;
}

ExpandResult PackageExpander::Expand(zv::PackageEntry entry, const MemberWriter& writer) {
    zv::BeginMemberRead(&reader_, entry);
    return ExpandInto(decoder_.get(), &reader_, writer);
}

ExpandResult ExpandRawStream(const uint8_t* stream, uint32_t size, const MemberWriter& writer) {
    zv::VolumeReader reader;
    zv::BeginMemoryRead(&reader, stream, size);
    std::unique_ptr<zv::LzhufDecoder> decoder(new zv::LzhufDecoder());
    return ExpandInto(decoder.get(), &reader, writer);
}

}  // namespace quillon
