// Stamping a package into an image in a few lines, for tests and fixture
// tools. Member data is taken as it is given (already coded, or any bytes
// when only the table matters).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "package/format.h"

namespace zvtest {

struct FixtureMember {
    std::string name;
    uint16_t flags = 0;
    zv::ProductVersion version{0, 0};
    std::vector<uint8_t> data;  // the member's compressed stream
    // The record's size in KB; -1: as the packer writes it, from the size at
    // the start of `data` (the largest value, 65,535, when it has none).
    int32_t sizeKB = -1;
    // The SHA-256 of its expanded bytes (32 bytes). When every member has
    // one, the table region holds the integrity block behind its records.
    std::vector<uint8_t> digest = {};
};

// The size in KB that the packer writes for a stream: its expanded size
// rounded up, 65,535 when larger or when the stream has no whole size.
uint16_t SizeKBFromStream(const std::vector<uint8_t>& stream);

// Appends a table region (the records, the integrity block when the members
// have digests, and 10 zero bytes per entry, as the shipped packages have)
// and the members' data to `image`, all on volume 1,
// and stamps the header block that `image` must hold exactly once.
std::vector<uint8_t> StampFixturePackage(std::vector<uint8_t> image, const std::vector<FixtureMember>& members,
                                         zv::ProductVersion version, uint32_t language);

// An image of `size` bytes of filler with an unstamped header block at `at`.
std::vector<uint8_t> BlankUpdaterImage(size_t size, size_t at);

}  // namespace zvtest
