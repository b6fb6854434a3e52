#include "quillon/read/package_expander.h"

#include <filesystem>
#include <system_error>

#include "platform/messages.h"
#include "platform/text.h"
#include "quillon/base/host_paths.h"
#include "quillon/base/shown_text.h"
#include "string_ids.h"

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
    result.failure = reader->failure;
    return result;
}

}  // namespace

std::string DiskPromptText(zv::Platform& os, const zv::ReadFailure& failure) {
    std::string path = failure.path;
#ifndef _WIN32
    for (char& c : path) {
        if (c == '\\') c = '/';  // the updater's form of a host path
    }
#endif
    path = Shown(path);
    const std::string wanted = "volume " + std::to_string(failure.volume) + " of the package";
    const zv::FileHandle file = os.Open(failure.path, zv::OpenMode::Read);
    if (file == zv::kNoFile) return wanted + " is needed, and " + path + " is not there";
    uint8_t number[2] = {};
    const int32_t got = os.Read(file, number, 2);
    os.Close(file);
    std::string why;
    if (got == 0) {
        why = "it is empty";
    } else if (got == 1) {
        why = "it is one byte long, too short for a volume number";
    } else if (got < 0) {
        why = "it cannot be read";
    } else {
        why = "it says it is volume " + std::to_string(number[0] | number[1] << 8);
    }
    return wanted + " is needed, and " + path + " is not it: " + why;
}

std::string ReadFailureText(zv::Platform& os, const zv::ReadFailure& failure) {
    if (failure.kind == zv::ReadFailureKind::DiskNotIn) return DiskPromptText(os, failure);
    char text[260] = {};
    zv::FormatSubjectMessage(zv::ReadFailureMessage(failure.kind), zv::ReadFailureSubject(failure), text, sizeof text);
    return Shown(text);
}

bool ExpanderQuestions::InsertDisk(const zv::ReadFailure& failure) {
    const std::string text = DiskPromptText(*run_.os, failure);
    const zv::MessageRequest message{run_.progressPage, zv::IDS_INSERT_DISK, text.c_str(), run_.titleText,
                                     zv::BOX_OKCANCEL};
    return run_.ui->ShowMessage(message) == zv::ANSWER_OK;
}

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
    if (!zv::StartVolumeReader(&reader_, &run_, &questions_, run_.programPath, input_.get())) {
        *error = path + ": cannot be opened as volume 1";
        return false;
    }
    opened_ = true;
    return true;
}

ExpandResult PackageExpander::Expand(zv::PackageEntry entry, const MemberWriter& writer) {
    zv::BeginMemberRead(&reader_, entry);
    const ExpandResult result = ExpandInto(decoder_.get(), &reader_, writer);
    zv::TellReadFailure(run_, result.failure);
    return result;
}

ExpandResult ExpandRawStream(const uint8_t* stream, uint32_t size, const MemberWriter& writer) {
    zv::VolumeReader reader;
    zv::BeginMemoryRead(&reader, stream, size);
    std::unique_ptr<zv::LzhufDecoder> decoder(new zv::LzhufDecoder());
    return ExpandInto(decoder.get(), &reader, writer);
}

}  // namespace quillon
