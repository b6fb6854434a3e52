// quillon's reading of an Authenticode signature on any bytes: whatever the
// file holds, the reader stays inside it and gives one of its states; a
// file without a certificate table is never called signed, and a sound one
// has its table at the very end of the file.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "platform/bytes.h"
#include "quillon/sign/authenticode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The file gets a buffer of its own, so reading past it is caught.
    const std::vector<uint8_t> image(data, data + size);
    const quillon::SignatureReport report = quillon::CheckImageSignature(image);
    zvfuzz::Check(quillon::SignatureStateWord(report.state) != nullptr);
    const size_t entry = quillon::PeSecurityEntry(image);
    if (entry == 0) {
        zvfuzz::Check(report.state == quillon::SignatureState::None);
        return 0;
    }
    const uint32_t offset = zv::LoadU32LE(image.data() + entry);
    const uint32_t length = zv::LoadU32LE(image.data() + entry + 4);
    if (offset == 0 && length == 0) zvfuzz::Check(report.state == quillon::SignatureState::None);
    if (report.state == quillon::SignatureState::Sound) {
        zvfuzz::Check(static_cast<uint64_t>(offset) + length == image.size());
    }
    if (report.state == quillon::SignatureState::Broken || report.state == quillon::SignatureState::Unchecked) {
        zvfuzz::Check(!report.detail.empty());
    }
    return 0;
}
