#include "quillon/pack/member_spool.h"

#include <cerrno>
#include <cstring>

#include "quillon/base/output_files.h"

namespace quillon {

namespace {

bool Seek(std::FILE* file, uint64_t offset) {
#ifdef _WIN32
    return ::_fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
#else
    return ::fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

std::string Reason() { return errno != 0 ? std::strerror(errno) : "the disk may be full"; }

}  // namespace

MemberSpool::~MemberSpool() {
    if (file_ != nullptr) std::fclose(file_);
}

bool MemberSpool::Open(const std::string& besidePath, std::string* error) {
    std::string why;
    file_ = CreateScratchFile(besidePath, &why);
    if (file_ == nullptr) {
        *error = "cannot make a scratch file beside " + besidePath + ": " + why;
        return false;
    }
    return true;
}

bool MemberSpool::Append(const std::vector<uint8_t>& stream, SpooledStream* where, std::string* error) {
    std::lock_guard<std::mutex> hold(lock_);
    errno = 0;
    if (file_ == nullptr || reading_ ||
        (!stream.empty() && std::fwrite(stream.data(), 1, stream.size(), file_) != stream.size())) {
        *error = "cannot be kept in the scratch file until it is written: " + Reason();
        return false;
    }
    where->offset = size_;
    where->size = stream.size();
    size_ += stream.size();
    return true;
}

bool MemberSpool::Read(uint64_t offset, uint8_t* out, size_t length, std::string* error) {
    std::lock_guard<std::mutex> hold(lock_);
    errno = 0;
    if (file_ == nullptr || offset > size_ || length > size_ - offset) {
        *error = "internal error: a read beyond the scratch file's end";
        return false;
    }
    // Switching from writing to reading takes a flush; a seek follows anyway.
    if (!reading_ && std::fflush(file_) != 0) {
        *error = "the scratch file cannot be written: " + Reason();
        return false;
    }
    reading_ = true;
    if (!Seek(file_, offset) || std::fread(out, 1, length, file_) != length) {
        *error = "the scratch file cannot be read back: " + Reason();
        return false;
    }
    return true;
}

}  // namespace quillon
