// The checksum relation of whole product files, for tests and fixtures.
#pragma once

#include <cstdint>
#include <vector>

namespace zvtest {

// The checksum difference at the file's first checksum block (the relation
// that carrying blocks keeps), or -1 when the file has no checksum block.
int32_t FileChecksumDifference(const std::vector<uint8_t>& file);

// Stores the checksum word that gives the file the difference `difference`;
// false when the file has no checksum block.
bool SetFileChecksumDifference(std::vector<uint8_t>* file, uint16_t difference);

}  // namespace zvtest
