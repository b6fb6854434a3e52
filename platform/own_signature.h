// What the system's trust service said of the program's own signature, in
// the terms the updater decides on (Platform::SignatureState).
//
// The updater checks its signature to learn whether its bytes, and so the
// package in them, are the ones that were signed. Whether the signer is
// someone this machine trusts is the system's question at elevation, not
// this one: a signature that holds over the file but whose chain ends in a
// root the machine does not know (a self-signed test certificate, a
// private CA), has expired or is not meant for code is Sound. What makes it
// Broken is a file that does not match it (the image's hash differs from the
// one it signed), a signature that is malformed or whose own signature does
// not verify, and a certificate the system knows to be revoked or
// distrusted. Anything else the service answers (it is missing, it fails, it
// does not know the file's form) is CannotTell.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace zv {

using SignatureState = Platform::SignatureState;

const char* SignatureStateName(SignatureState state);

// The state for WinVerifyTrust's result `result` (an HRESULT) on a file
// whose PE header does (`hasCertificateTable`) or does not name a
// certificate table. A file without one is Unsigned whatever the service
// said; one with a table that the service calls unsigned is malformed.
SignatureState ClassifyTrustResult(bool hasCertificateTable, uint32_t result);

}  // namespace zv
