// sha256_probe.exe [FILE...]: the digests that the Windows build's SHA-256
// (the system's CryptoAPI) gives, one line each, for the Wine test to compare
// with those of another implementation: the empty input, "abc", a million
// 'a' fed in pieces of odd sizes, then each FILE read in pieces.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/sha256.h"

namespace {

void Print(const char* what, zv::Sha256Status status, const uint8_t* digest) {
    if (status == zv::Sha256Status::Ok) {
        char hex[zv::SHA256_HEX_SIZE];
        zv::Sha256Hex(digest, hex);
        std::printf("%s %s\n", what, hex);
    } else {
        std::printf("%s FAILED: %s\n", what, zv::Sha256StatusName(status));
    }
}

}  // namespace

int main(int argc, char** argv) {
    uint8_t digest[zv::SHA256_DIGEST_SIZE] = {};
    Print("empty", zv::Sha256Bytes("", 0, digest), digest);
    Print("abc", zv::Sha256Bytes("abc", 3, digest), digest);

    const std::vector<char> million(1000000, 'a');
    const size_t steps[] = {1, 63, 64, 65, 997, 4093};
    zv::Sha256Context context;
    zv::Sha256Status status = zv::Sha256Begin(&context);
    for (size_t done = 0, k = 0; status == zv::Sha256Status::Ok && done < million.size(); ++k) {
        const size_t n = std::min(steps[k % 6], million.size() - done);
        status = zv::Sha256Update(&context, million.data() + done, n);
        done += n;
    }
    if (status == zv::Sha256Status::Ok) status = zv::Sha256Finish(&context, digest);
    zv::Sha256Abandon(&context);
    Print("million", status, digest);

    for (int i = 1; i < argc; ++i) {
        std::FILE* f = std::fopen(argv[i], "rb");
        if (f == nullptr) {
            std::printf("file FAILED: cannot open %s\n", argv[i]);
            continue;
        }
        status = zv::Sha256Begin(&context);
        std::vector<char> buffer(7777);
        size_t got = 0;
        while (status == zv::Sha256Status::Ok && (got = std::fread(buffer.data(), 1, buffer.size(), f)) != 0) {
            status = zv::Sha256Update(&context, buffer.data(), got);
        }
        std::fclose(f);
        if (status == zv::Sha256Status::Ok) status = zv::Sha256Finish(&context, digest);
        zv::Sha256Abandon(&context);
        Print("file", status, digest);
    }
    return 0;
}
