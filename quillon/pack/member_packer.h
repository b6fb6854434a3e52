// Compressing a package's members, several at a time.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "quillon/pack/member_spool.h"

namespace quillon {

struct PackedMember {
    std::string sourcePath;       // the host file to pack
    uint64_t sourceSize = 0;      // its size, known before packing
    SpooledStream stream;         // where its LZHUF stream lies in the spool, once packed
    std::array<uint8_t, 32> digest{};  // SHA-256 of the source bytes, once packed
    std::string error;            // why it could not be packed
};

// Packs every member on up to `jobs` threads (each member is a stream of its
// own; the largest are started first) and appends each stream to `spool` as
// soon as it is packed, so that only the members being packed are held in
// memory. `progress` is called now and then on
// the calling thread with the source bytes packed so far. Returns false when
// a member could not be packed (see its error). `member` is the index of the
// member started last (SIZE_MAX before the first).
bool PackMembers(std::vector<PackedMember>* members, unsigned jobs, MemberSpool* spool,
                 const std::function<void(uint64_t done, size_t member)>& progress);

}  // namespace quillon
