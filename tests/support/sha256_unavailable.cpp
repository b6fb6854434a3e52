// A system without SHA-256: the library's provider cannot be had. Linked in
// place of the platform's SHA-256 (its Begin, Update, Finish, Abandon and EndRun), so
// that the tests built with it see what the updater does when it cannot hash.
#include "platform/sha256.h"

namespace zv {

Sha256Status Sha256Begin(Sha256Context* context) {
    context->state = nullptr;
    return Sha256Status::Unavailable;
}

Sha256Status Sha256Update(Sha256Context*, const void*, size_t) { return Sha256Status::NotBegun; }

Sha256Status Sha256Finish(Sha256Context*, uint8_t*) { return Sha256Status::NotBegun; }

void Sha256Abandon(Sha256Context* context) { context->state = nullptr; }

void Sha256EndRun() {}

}  // namespace zv
