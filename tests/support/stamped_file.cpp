#include "tests/support/stamped_file.h"

#include "detect/stamped_blocks.h"
#include "platform/bytes.h"

namespace zvtest {
namespace {

uint32_t ChecksumWordAt(const std::vector<uint8_t>& file) {
    return zv::FindMarker(file.data(), static_cast<uint32_t>(file.size()), zv::KEY_CHECKSUM, zv::MARKER_WORD_SIZE);
}

}  // namespace

int32_t FileChecksumDifference(const std::vector<uint8_t>& file) {
    uint32_t at = ChecksumWordAt(file);
    if (at == zv::kNoMarker) return -1;
    return zv::ChecksumDifference(file.data(), static_cast<uint32_t>(file.size()), at);
}

bool SetFileChecksumDifference(std::vector<uint8_t>* file, uint16_t difference) {
    uint32_t at = ChecksumWordAt(*file);
    if (at == zv::kNoMarker) return false;
    // The word that makes the difference what is asked: the difference the
    // stored word gives now, corrected by what is missing.
    uint16_t now = zv::ChecksumDifference(file->data(), static_cast<uint32_t>(file->size()), at);
    uint16_t stored = zv::LoadU16LE(file->data() + at);
    zv::StoreU16LE(file->data() + at, static_cast<uint16_t>(stored + (difference - now)));
    return true;
}

}  // namespace zvtest
