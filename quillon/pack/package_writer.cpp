#include "quillon/pack/package_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/bytes.h"
#include "quillon/base/host_paths.h"
#include "quillon/base/output_files.h"

namespace quillon {

namespace {

// The volume files being written, one open at a time.
class VolumeFiles {
public:
    VolumeFiles(const std::string& first, std::string* error) : first_(first), error_(error) {}
    ~VolumeFiles() {
        if (file_ != nullptr) std::fclose(file_);
        if (!committed_) {
            for (const std::string& t : temporaries_) std::remove(t.c_str());
        }
    }

    // Opens volume `volume` and writes its number when it is a continuation.
    bool Begin(uint32_t volume) {
        if (!Close()) return false;
        const std::string path = VolumeHostPath(first_, volume);
        if (path.empty()) return Failed("the name of volume " + std::to_string(volume) + " is too long");
        std::string temporary;
        std::string why;
        file_ = CreateTemporaryFile(path, &temporary, &why);
        if (file_ == nullptr) return Failed(path + ": cannot be written: " + why);
        finals_.push_back(path);
        temporaries_.push_back(temporary);
        position_ = 0;
        volume_ = volume;
        if (volume == 1) return true;
        const uint8_t number[kVolumeNumberSize] = {static_cast<uint8_t>(volume), static_cast<uint8_t>(volume >> 8)};
        return Write(number, sizeof number);
    }

    bool Write(const uint8_t* bytes, size_t count) {
        if (count != 0 && std::fwrite(bytes, 1, count, file_) != count) {
            return Failed(finals_.back() + ": cannot be written: " + std::strerror(errno));
        }
        position_ += count;
        return true;
    }

    uint32_t volume() const { return volume_; }
    uint64_t position() const { return position_; }

    bool Close() {
        if (file_ == nullptr) return true;
        const bool ok = std::fclose(file_) == 0;
        file_ = nullptr;
        return ok || Failed(finals_.back() + ": cannot be written: " + std::strerror(errno));
    }

    // Puts every volume in place of its final name, holding the output's
    // lock so that no other build puts its volumes in place meanwhile, and
    // deals with volumes of an earlier, longer package of the same name.
    bool Commit(PackageWriteReport* report) {
        if (!Close()) return false;
        if (report->finishFirstVolume && !temporaries_.empty()) {
            std::string why;
            if (!report->finishFirstVolume(temporaries_.front(), &why)) return Failed(finals_.front() + ": " + why);
        }
        OutputLock lock;
        std::string why;
        if (!lock.Acquire(first_, report->waiting, &why)) return Failed(why);
        std::vector<std::string>* written = &report->written;
        for (size_t i = 0; i < finals_.size(); ++i) {
            std::error_code ec;
            std::filesystem::rename(temporaries_[i], finals_[i], ec);
            if (ec) return Failed(finals_[i] + ": cannot be put in place: " + ec.message());
            written->push_back(finals_[i]);
        }
        committed_ = true;
        SweepStaleVolumes(static_cast<uint32_t>(finals_.size()), report);
        return true;
    }

    bool Failed(const std::string& message) {
        if (error_->empty()) *error_ = message;
        return false;
    }

private:
    // Volumes numbered beyond the package's last one, left by an earlier
    // build: the updater would never read them, but a person copying the
    // folder would carry them along. A file that starts with its volume's
    // number is such a volume and is removed; another file of that name is
    // left alone and named.
    void SweepStaleVolumes(uint32_t count, PackageWriteReport* report) {
        for (uint32_t volume = count + 1; volume <= 0xFFFF; ++volume) {
            const std::string path = VolumeHostPath(first_, volume);
            std::error_code ec;
            if (path.empty() || !std::filesystem::exists(path, ec)) break;
            uint8_t number[kVolumeNumberSize] = {};
            bool isVolume = false;
            if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
                isVolume = std::fread(number, 1, sizeof number, f) == sizeof number &&
                           zv::LoadU16LE(number) == volume;
                std::fclose(f);
            }
            if (isVolume && std::filesystem::remove(path, ec) && !ec) {
                report->removedStale.push_back(path);
            } else {
                report->keptStale.push_back(path);
            }
        }
    }

    std::string first_;
    std::string* error_;
    std::FILE* file_ = nullptr;
    uint32_t volume_ = 0;
    uint64_t position_ = 0;
    std::vector<std::string> finals_;
    std::vector<std::string> temporaries_;
    bool committed_ = false;
};

}  // namespace

bool WritePackage(const std::string& outputPath, const std::vector<uint8_t>& stampedImage,
                  const std::vector<uint8_t>& table, const std::vector<zv::EntryDescription>& entries,
                  const std::vector<SpooledStream>& streams, MemberSpool* spool, const PackageLayout& layout,
                  PackageWriteReport* report, std::string* error) {
    error->clear();
    VolumeFiles volumes(outputPath, error);
    if (!volumes.Begin(1) || !volumes.Write(stampedImage.data(), stampedImage.size()) ||
        !volumes.Write(table.data(), table.size())) {
        return false;
    }
    if (volumes.position() != layout.dataOffset) return volumes.Failed("internal error: the data offset is off");
    // The streams are copied through one buffer of this size.
    constexpr size_t kCopyChunk = size_t{1} << 20;
    std::vector<uint8_t> buffer;
    for (size_t i = 0; i < entries.size(); ++i) {
        uint64_t from = 0;
        for (const zv::PackagePiece& piece : entries[i].pieces) {
            if (piece.volume != volumes.volume() && !volumes.Begin(piece.volume)) return false;
            if (volumes.position() != piece.offset || from + piece.length > streams[i].size) {
                return volumes.Failed("internal error: a piece of '" + entries[i].name + "' is out of place");
            }
            for (uint64_t left = piece.length; left != 0;) {
                const size_t chunk = static_cast<size_t>(std::min<uint64_t>(left, kCopyChunk));
                buffer.resize(std::max(buffer.size(), chunk));
                std::string why;
                if (!spool->Read(streams[i].offset + from, buffer.data(), chunk, &why)) {
                    return volumes.Failed("'" + entries[i].name + "': " + why);
                }
                if (!volumes.Write(buffer.data(), chunk)) return false;
                from += chunk;
                left -= chunk;
            }
        }
        if (from != streams[i].size) {
            return volumes.Failed("internal error: the pieces of '" + entries[i].name + "' miss bytes");
        }
    }
    if (volumes.volume() != layout.volumeCount) return volumes.Failed("internal error: a volume is missing");
    return volumes.Commit(report);
}

}  // namespace quillon
