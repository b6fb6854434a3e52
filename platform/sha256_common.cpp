// The parts of the SHA-256 interface that do not depend on the library.
#include "platform/sha256.h"

namespace zv {

const char* Sha256StatusName(Sha256Status status) {
    switch (status) {
    case Sha256Status::Ok: return "ok";
    case Sha256Status::Unavailable: return "SHA-256 is not available from the system";
    case Sha256Status::NoMemory: return "no memory for SHA-256";
    case Sha256Status::Failed: return "SHA-256 failed";
    case Sha256Status::NotBegun: return "SHA-256 context not begun";
    }
    return "unknown status";
}

Sha256Status Sha256Bytes(const void* bytes, size_t size, uint8_t digest[SHA256_DIGEST_SIZE]) {
    Sha256Context context;
    Sha256Status status = Sha256Begin(&context);
    if (status != Sha256Status::Ok) return status;
    status = Sha256Update(&context, bytes, size);
    if (status != Sha256Status::Ok) return status;
    return Sha256Finish(&context, digest);
}

void Sha256Hex(const uint8_t digest[SHA256_DIGEST_SIZE], char hex[SHA256_HEX_SIZE]) {
    static const char kDigits[] = "0123456789abcdef";
    for (size_t i = 0; i < SHA256_DIGEST_SIZE; ++i) {
        hex[2 * i] = kDigits[digest[i] >> 4];
        hex[2 * i + 1] = kDigits[digest[i] & 15];
    }
    hex[2 * SHA256_DIGEST_SIZE] = '\0';
}

}  // namespace zv
