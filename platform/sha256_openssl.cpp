// SHA-256 through OpenSSL's libcrypto (EVP interface).
#include <openssl/evp.h>

#include "platform/sha256.h"

namespace zv {

static EVP_MD_CTX* State(Sha256Context* context) { return static_cast<EVP_MD_CTX*>(context->state); }

void Sha256Abandon(Sha256Context* context) {
    if (context->state != nullptr) EVP_MD_CTX_free(State(context));
    context->state = nullptr;
}

Sha256Status Sha256Begin(Sha256Context* context) {
    Sha256Abandon(context);
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    if (ctx == nullptr) return Sha256Status::NoMemory;
    const EVP_MD* md = EVP_sha256();
    if (md == nullptr) {
        EVP_MD_CTX_free(ctx);
        return Sha256Status::Unavailable;
    }
    if (EVP_DigestInit_ex(ctx, md, nullptr) != 1) {
        EVP_MD_CTX_free(ctx);
        return Sha256Status::Unavailable;
    }
    context->state = ctx;
    return Sha256Status::Ok;
}

Sha256Status Sha256Update(Sha256Context* context, const void* bytes, size_t size) {
    if (context->state == nullptr) return Sha256Status::NotBegun;
    if (size != 0 && EVP_DigestUpdate(State(context), bytes, size) != 1) {
        Sha256Abandon(context);
        return Sha256Status::Failed;
    }
    return Sha256Status::Ok;
}

Sha256Status Sha256Finish(Sha256Context* context, uint8_t digest[SHA256_DIGEST_SIZE]) {
    if (context->state == nullptr) return Sha256Status::NotBegun;
    unsigned int length = 0;
    const bool ok = EVP_DigestFinal_ex(State(context), digest, &length) == 1 && length == SHA256_DIGEST_SIZE;
    Sha256Abandon(context);
    return ok ? Sha256Status::Ok : Sha256Status::Failed;
}

// libcrypto keeps nothing for the run that the program must release.
void Sha256EndRun() {}

}  // namespace zv
