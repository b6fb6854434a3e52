// The packer's LZHUF encoder on arbitrary data: every stream it writes must
// expand to exactly that data with the updater's decoder, within the room of
// its size (no last match may run past it). The first byte picks the chain
// limit, so that short and long searches are both tried.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "package/lzhuf_decoder.h"
#include "quillon/pack/lzhuf_encoder.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > (1u << 18)) return 0;
    quillon::LzhufEncoderOptions options;
    options.chainLimit = 1 + data[0] % 64;
    options.niceLength = 3 + data[0] % 58;
    const std::vector<uint8_t> input(data + 1, data + size);
    std::vector<uint8_t> stream;
    Check(quillon::EncodeLzhuf(input.data(), input.size(), &stream, options));

    static auto decoder = std::make_unique<zv::LzhufDecoder>();
    std::vector<uint8_t> out(input.size() + 1, 0xA5);
    uint32_t produced = 0;
    const zv::StreamStatus status =
        zv::DecodeLzhufStream(decoder.get(), stream.data(), static_cast<uint32_t>(stream.size()), out.data(),
                              static_cast<uint32_t>(input.size()), &produced);
    Check(status == zv::StreamStatus::Done);
    Check(produced == input.size());
    Check(out[input.size()] == 0xA5);
    out.resize(produced);
    Check(out == input);
    return 0;
}
