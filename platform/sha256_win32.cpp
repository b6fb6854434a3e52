// SHA-256 through the Windows CryptoAPI: a verify-only context of the AES
// provider (the one that has SHA-256) and a hash object of CALG_SHA_256.
//
// Acquiring the provider is by far the dearest step (it loads the provider's
// library and reads its settings: milliseconds, against microseconds for the
// hash object), so one provider serves the whole run: it is acquired by the
// first Sha256Begin that needs it and kept until Sha256EndRun. Each context
// has a hash object of its own, created from the shared provider. A provider
// handle may be used from several threads at once (only a hash object must
// not be shared), so contexts may be begun and used on any thread.
#include <windows.h>
#include <wincrypt.h>

#include <atomic>
#include <new>

#include "platform/sha256.h"

namespace zv {

namespace {

struct Win32Sha256 {
    HCRYPTHASH hash = 0;
};

Win32Sha256* State(Sha256Context* context) { return static_cast<Win32Sha256*>(context->state); }

// The run's provider, 0 until one is acquired.
std::atomic<HCRYPTPROV> g_provider{0};

// The run's provider, acquired on first use. Threads that meet no provider
// each acquire one and publish it only if none was published meanwhile; the
// ones that lose release their own and take the winner's. A failure is not
// remembered: the next call tries again, as each call did when every context
// acquired a provider of its own.
bool SharedProvider(HCRYPTPROV* provider) {
    HCRYPTPROV current = g_provider.load(std::memory_order_acquire);
    if (current == 0) {
        HCRYPTPROV acquired = 0;
        if (!CryptAcquireContextA(&acquired, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) return false;
        if (g_provider.compare_exchange_strong(current, acquired, std::memory_order_acq_rel,
                                               std::memory_order_acquire)) {
            current = acquired;
        } else {
            CryptReleaseContext(acquired, 0);
        }
    }
    *provider = current;
    return true;
}

}  // namespace

void Sha256Abandon(Sha256Context* context) {
    Win32Sha256* s = State(context);
    if (s == nullptr) return;
    if (s->hash != 0) CryptDestroyHash(s->hash);
    delete s;
    context->state = nullptr;
}

Sha256Status Sha256Begin(Sha256Context* context) {
    Sha256Abandon(context);
    Win32Sha256* s = new (std::nothrow) Win32Sha256;
    if (s == nullptr) return Sha256Status::NoMemory;
    context->state = s;
    HCRYPTPROV provider = 0;
    if (!SharedProvider(&provider)) {
        Sha256Abandon(context);
        return Sha256Status::Unavailable;
    }
    if (!CryptCreateHash(provider, CALG_SHA_256, 0, 0, &s->hash)) {
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

void Sha256EndRun() {
    const HCRYPTPROV provider = g_provider.exchange(0, std::memory_order_acq_rel);
    if (provider != 0) CryptReleaseContext(provider, 0);
}

}  // namespace zv
