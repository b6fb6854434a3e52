// SHA-256 from the platform's own cryptographic library: the Windows
// CryptoAPI in the Windows build, OpenSSL's libcrypto elsewhere. Nothing of
// the algorithm is implemented here.
//
// Use: Sha256Begin, then Sha256Update any number of times, then
// Sha256Finish, which gives the 32-byte digest and releases the context.
// On any failure the context is released (nothing more to call) and the
// status says what failed. Sha256Abandon releases a context that is not to
// be finished; it is safe on a released or never begun one.
//
// Contexts may be begun and used on several threads at once, each context on
// one thread at a time. What the library needs for every context (on Windows
// the cryptographic provider) is had once, at the first Sha256Begin, and kept
// for the run; Sha256EndRun releases it when the program ends, once no
// context is open (a later Sha256Begin would have it anew).
#pragma once

#include <cstddef>
#include <cstdint>

namespace zv {

constexpr size_t SHA256_DIGEST_SIZE = 32;

enum class Sha256Status : uint8_t {
    Ok,
    Unavailable,  // the platform's provider or algorithm cannot be had
    NoMemory,     // no room for the context
    Failed,       // the library refused the data or the digest
    NotBegun,     // update or finish on a context that was not begun (or was released)
};
const char* Sha256StatusName(Sha256Status status);

// The running state; its contents belong to the implementation.
struct Sha256Context {
    void* state = nullptr;
};

Sha256Status Sha256Begin(Sha256Context* context);
Sha256Status Sha256Update(Sha256Context* context, const void* bytes, size_t size);
Sha256Status Sha256Finish(Sha256Context* context, uint8_t digest[SHA256_DIGEST_SIZE]);
void Sha256Abandon(Sha256Context* context);
void Sha256EndRun();

// The digest of `size` bytes in one call.
Sha256Status Sha256Bytes(const void* bytes, size_t size, uint8_t digest[SHA256_DIGEST_SIZE]);

// A digest as 64 lower-case hexadecimal digits and a terminating zero.
constexpr size_t SHA256_HEX_SIZE = 2 * SHA256_DIGEST_SIZE + 1;
void Sha256Hex(const uint8_t digest[SHA256_DIGEST_SIZE], char hex[SHA256_HEX_SIZE]);

}  // namespace zv
