// Reading a PE file's Authenticode signature and checking it against the
// file's bytes, without the system's trust service: what quillon verify
// says of a signed updater. Bounds-safe on any bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quillon {

// The file offset of the PE's data directory entry of the certificate
// table, or 0 when `image` is not a PE file that has one.
size_t PeSecurityEntry(const std::vector<uint8_t>& image);

// The state of a PE file's Authenticode signature, as quillon checks it
// itself: the SHA-256 of the file's bytes that a signature covers (every
// byte but the header's checksum, the certificate table's directory entry
// and the table itself) must be the digest in the signature's indirect
// data, and that indirect data must be the one its signer's attributes
// name (their message digest). The signer's RSA signature over those
// attributes is the part left to the system's trust service (and to
// osslsigncode verify): quillon does not hold the public-key algorithms.
enum class SignatureState {
    None,       // no certificate table
    Sound,      // the file's bytes are the ones the signature names
    Broken,     // they are not, or the signature is malformed, or bytes follow it
    Unchecked,  // a signature of a digest other than SHA-256
};
const char* SignatureStateWord(SignatureState state);  // "none", "sound", "broken", "unchecked"

struct SignatureReport {
    SignatureState state = SignatureState::None;
    std::string detail;  // why Broken or Unchecked, in words for the user
};

// Checks the signature over a file's whole contents.
SignatureReport CheckImageSignature(const std::vector<uint8_t>& image);

}  // namespace quillon
