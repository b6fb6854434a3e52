// The LZHUF decoder on arbitrary stream bytes. The expanded size in the first
// four bytes is brought down to 8 KB, or 64 KB when its top bit is set, so
// that each input runs quickly. Checks:
// no access out of bounds (the sanitizers), the output never beyond the room
// given, and the same bytes as the one-bit-at-a-time reference decoder.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "package/lzhuf_decoder.h"
#include "tests/support/lzhuf_reference.h"

namespace {

constexpr uint32_t kMaxSize = 1u << 16;  // enough for every path; more only slows the search
constexpr uint32_t kSmallSize = 8192;
constexpr uint32_t kReferenceLimit = kSmallSize;  // the reference is slow

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    std::vector<uint8_t> stream(data, data + size);
    uint32_t expanded = 0;
    if (zv::LzhufStreamSize(stream.data(), static_cast<uint32_t>(stream.size()), &expanded)) {
        // Mostly small, which is quick; with the top bit set, big enough for
        // the tree to be rebuilt.
        expanded = (expanded & 0x80000000u) ? expanded % (kMaxSize + 1) : expanded % (kSmallSize + 1);
        for (unsigned k = 0; k < 4; ++k) stream[k] = static_cast<uint8_t>(expanded >> (8 * k));
    }

    static auto decoder = std::make_unique<zv::LzhufDecoder>();
    // Room for the size and the last match's overrun, and a guard behind it.
    const uint32_t room = expanded + zv::LZHUF_MATCH_OVERRUN;
    std::vector<uint8_t> out(room + 1, 0x5A);
    uint32_t produced = 0;
    const zv::StreamStatus status = zv::DecodeLzhufStream(
        decoder.get(), stream.data(), static_cast<uint32_t>(stream.size()), out.data(), room, &produced);
    Check(out[room] == 0x5A);
    if (size < 4) {
        Check(status == zv::StreamStatus::NoSize && produced == 0);
        return 0;
    }
    Check(status == zv::StreamStatus::Done);
    Check(produced >= expanded && produced <= room);

    if (expanded <= kReferenceLimit) {
        const zvtest::ReferenceResult reference = zvtest::ReferenceDecode(stream);
        Check(reference.ok);
        Check(reference.bytes.size() == produced);
        Check(produced == 0 || std::memcmp(reference.bytes.data(), out.data(), produced) == 0);
    }

    // Too little room: stops at the end of it, never beyond.
    if (expanded > 0 && expanded <= kSmallSize) {
        const uint32_t small = expanded / 2;
        std::vector<uint8_t> cut(small + 1, 0x5A);
        uint32_t cutProduced = 0;
        const zv::StreamStatus cutStatus = zv::DecodeLzhufStream(
            decoder.get(), stream.data(), static_cast<uint32_t>(stream.size()), cut.data(), small, &cutProduced);
        Check(cut[small] == 0x5A);
        Check(cutStatus == zv::StreamStatus::OutputFull && cutProduced == small);
        Check(small == 0 || std::memcmp(cut.data(), out.data(), small) == 0);
    }
    return 0;
}
