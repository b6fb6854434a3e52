// The LZHUF decoder on arbitrary stream bytes. The expanded size in the first
// four bytes is brought down to at most 1 KB and inputs are at most 8 KB, so
// that each input runs quickly (the rebuilds of the tree, which need some
// 32,000 symbols, are left to the round trips of the tests and of the
// encoder's fuzzer).
// Checks: no access out of bounds (the sanitizers), the output never beyond
// the room given, and the bytes of the one-bit-at-a-time reference decoder.
// The reference is fed the stream, three zero bytes for the end of the data,
// then a failed read: the real decoder must end as it does, having expanded
// what it expanded, or stop sooner (its codes used more than 16 bits past the
// stream) with a part of those bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "package/lzhuf_decoder.h"
#include "tests/support/lzhuf_reference.h"

namespace {

constexpr uint32_t kMaxSize = 1024;

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 8192) return 0;
    std::vector<uint8_t> stream(data, data + size);
    uint32_t expanded = 0;
    if (zv::LzhufStreamSize(stream.data(), static_cast<uint32_t>(stream.size()), &expanded)) {
        expanded %= kMaxSize + 1;
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
    Check(status == zv::StreamStatus::Done || status == zv::StreamStatus::Overrun);
    Check(produced <= room);
    if (status == zv::StreamStatus::Done) Check(produced >= expanded);
    // Each byte of output takes at least one bit of the stream or the 16
    // spare ones, and a symbol gives at most 60 bytes.
    Check(produced <= (8ull * (size - 4) + 24) * zv::lzhuf::F);

    const zvtest::ReferenceResult reference = zvtest::ReferenceDecode(stream, static_cast<int64_t>(size) + 3);
    if (status == zv::StreamStatus::Done) {
        Check(reference.ok);
        Check(reference.bytes.size() == produced);
    } else {
        Check(reference.bytes.size() >= produced);
    }
    Check(produced == 0 || std::memcmp(reference.bytes.data(), out.data(), produced) == 0);

    // Too little room: stops at the end of it, never beyond.
    if (status == zv::StreamStatus::Done && expanded > 0) {
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
