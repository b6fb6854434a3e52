// SHA-256 through the Windows CryptoAPI: a verify-only context of the AES
// provider (the one that has SHA-256) and a hash object of CALG_SHA_256.
#include <windows.h>
#include <wincrypt.h>

#include <new>

#include "platform/sha256.h"

namespace zv {

namespace {

struct Win32Sha256 {
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
};

Win32Sha256* State(Sha256Context* context) { return static_cast<Win32Sha256*>(context->state); }

}  // namespace

void Sha256Abandon(Sha256Context* context) {
    Win32Sha256* s = State(context);
    if (s == nullptr) return;
    if (s->hash != 0) CryptDestroyHash(s->hash);
    if (s->provider != 0) CryptReleaseContext(s->provider, 0);
    delete s;
    context->state = nullptr;
}

Sha256Status Sha256Begin(Sha256Context* context) {
    Sha256Abandon(context);
    Win32Sha256* s = new (std::nothrow) Win32Sha256;
    if (s == nullptr) return Sha256Status::NoMemory;
    context->state = s;
    if (!CryptAcquireContextA(&s->provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) {
        s->provider = 0;
        Sha256Abandon(context);
        return Sha256Status::Unavailable;
    }
    if (!CryptCreateHash(s->provider, CALG_SHA_256, 0, 0, &s->hash)) {
        s->hash = 0;
        Sha256Abandon(context);
        return Sha256Status::Unavailable;
    }
    return Sha256Status::Ok;
}

Sha256Status Sha256Update(Sha256Context* context, const void* bytes, size_t size) {
    Win32Sha256* s = State(context);
    if (s == nullptr) return Sha256Status::NotBegun;
    // CryptHashData takes a 32-bit length: larger inputs go in slices.
    const BYTE* p = static_cast<const BYTE*>(bytes);
    while (size != 0) {
        const DWORD slice = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
        if (!CryptHashData(s->hash, p, slice, 0)) {
            Sha256Abandon(context);
            return Sha256Status::Failed;
        }
        p += slice;
        size -= slice;
    }
    return Sha256Status::Ok;
}

Sha256Status Sha256Finish(Sha256Context* context, uint8_t digest[SHA256_DIGEST_SIZE]) {
    Win32Sha256* s = State(context);
    if (s == nullptr) return Sha256Status::NotBegun;
    DWORD length = SHA256_DIGEST_SIZE;
    const bool ok = CryptGetHashParam(s->hash, HP_HASHVAL, digest, &length, 0) && length == SHA256_DIGEST_SIZE;
    Sha256Abandon(context);
    return ok ? Sha256Status::Ok : Sha256Status::Failed;
}

}  // namespace zv
