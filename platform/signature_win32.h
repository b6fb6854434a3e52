// The Windows platform's check of the program's own signature.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace zv {

// WinVerifyTrust on the running program's file; *trustResult is its result
// (0 when it was not called).
Platform::SignatureState CheckOwnSignature(uint32_t* trustResult);

}  // namespace zv
