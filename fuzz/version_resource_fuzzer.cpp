// The version-resource reader on any bytes. The first byte picks how the rest
// is used:
//   0  the bytes of a file: the block is made and queried as the updater does
//   1  edits of a well-formed PE32, PE32+ or NE file (second byte), given as
//      (offset low, offset high, xor) triples, so the fuzzer reaches deep into
//      valid structures
//   2  a block as it is: a query path (its length in the second byte), then
//      the block's bytes
// Every answer must lie inside the block, and nothing may be read or written
// outside the file's bytes or the block (the sanitizers watch both).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/version_resource.h"
#include "tests/support/pe_builder.h"

namespace {

const char* const kQueries[] = {
    "\\",
    "\\VarFileInfo\\Translation",
    "\\StringFileInfo\\040904E4\\InternalName",
    "\\StringFileInfo\\040904E4\\CompanyName",
    "\\StringFileInfo\\040904e4",
    "\\VarFileInfo",
    "\\\\x\\",
};

void CheckAnswer(const uint8_t* block, uint32_t size, const void* value, uint32_t length) {
    const auto* p = static_cast<const uint8_t*>(value);
    bool inside = p >= block && p <= block + size && length <= static_cast<uint32_t>(block + size - p);
    if (!inside && !(length == 0 && *p == 0)) std::abort();
}

void Query(uint8_t* block, uint32_t size, const char* path) {
    const void* value = nullptr;
    uint32_t length = 0;
    if (zv::QueryVersionBlock(block, size, path, &value, &length)) CheckAnswer(block, size, value, length);
}

void ReadFile(const uint8_t* bytes, size_t size) {
    // A copy of its own, so reading past the file's bytes is caught.
    std::vector<uint8_t> file(bytes, bytes + size);
    zv::FileBytes source = zv::MemoryFileBytes(file.data(), file.size());
    // Users of two languages may be given different resources of one file.
    for (uint16_t language : {zv::kUsEnglish, uint16_t{0x0407}}) {
        uint32_t blockSize = zv::VersionBlockSize(source, language);
        if (blockSize == 0 || blockSize > (1u << 20)) continue;
        auto* block = static_cast<uint8_t*>(std::malloc(blockSize));
        if (zv::ReadVersionBlock(source, language, block, blockSize)) {
            if (zv::VersionBlockNeed(block, blockSize) > blockSize) std::abort();
            for (const char* q : kQueries) Query(block, blockSize, q);
        }
        std::free(block);
    }
}

std::vector<uint8_t> Template(uint8_t pick) {
    zvtest::ExeFormat format = pick % 3 == 0 ? zvtest::ExeFormat::Pe32
                               : pick % 3 == 1 ? zvtest::ExeFormat::Pe32Plus
                                               : zvtest::ExeFormat::Ne;
    zvtest::VersionInfoDescription info =
        zvtest::ProductVersionInfo(zv::MakeVersion(1, 2, 1, 31), 0x409, "zvact.exe");
    return zvtest::BuildVersionedExecutable(format, info);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    switch (data[0] % 3) {
    case 0:
        ReadFile(data + 1, size - 1);
        break;
    case 1: {
        static const std::vector<uint8_t> templates[3] = {Template(0), Template(1), Template(2)};
        std::vector<uint8_t> file = templates[data[1] % 3];
        for (size_t i = 2; i + 2 < size; i += 3) {
            size_t at = static_cast<size_t>(data[i] | (data[i + 1] << 8)) % file.size();
            file[at] ^= data[i + 2];
        }
        ReadFile(file.data(), file.size());
        break;
    }
    default: {
        size_t pathLength = data[1] % 64;
        if (size < 2 + pathLength) return 0;
        std::string path(reinterpret_cast<const char*>(data + 2), pathLength);
        path = path.c_str();  // up to a zero, as the query would read it
        size_t blockSize = size - 2 - pathLength;
        auto* block = static_cast<uint8_t*>(std::malloc(blockSize ? blockSize : 1));
        std::memcpy(block, data + 2 + pathLength, blockSize);
        Query(block, static_cast<uint32_t>(blockSize), path.c_str());
        for (const char* q : kQueries) Query(block, static_cast<uint32_t>(blockSize), q);
        std::free(block);
        break;
    }
    }
    return 0;
}
