#include "platform/own_signature.h"

namespace zv {

const char* SignatureStateName(SignatureState state) {
    switch (state) {
    case SignatureState::Unsigned: return "unsigned";
    case SignatureState::Sound: return "sound";
    case SignatureState::Broken: return "broken";
    case SignatureState::CannotTell: return "cannot tell";
    }
    return "unknown state";
}

SignatureState ClassifyTrustResult(bool hasCertificateTable, uint32_t result) {
    if (!hasCertificateTable) return SignatureState::Unsigned;
    // The results of WinVerifyTrust (winerror.h), by what they say of the file.
    switch (result) {
    case 0x00000000u:  // ERROR_SUCCESS: sound, and the signer trusted
    // The signature verified over the file's bytes; only the signer's chain
    // or its use is not what the machine trusts.
    case 0x800B0101u:  // CERT_E_EXPIRED
    case 0x800B0102u:  // CERT_E_VALIDITYPERIODNESTING
    case 0x800B0103u:  // CERT_E_ROLE
    case 0x800B0104u:  // CERT_E_PATHLENCONST
    case 0x800B0105u:  // CERT_E_CRITICAL
    case 0x800B0106u:  // CERT_E_PURPOSE
    case 0x800B0107u:  // CERT_E_ISSUERCHAINING
    case 0x800B0109u:  // CERT_E_UNTRUSTEDROOT
    case 0x800B010Au:  // CERT_E_CHAINING
    case 0x800B010Du:  // CERT_E_UNTRUSTEDTESTROOT
    case 0x800B010Eu:  // CERT_E_REVOCATION_FAILURE
    case 0x800B010Fu:  // CERT_E_CN_NO_MATCH
    case 0x800B0110u:  // CERT_E_WRONG_USAGE
    case 0x800B0112u:  // CERT_E_UNTRUSTEDCA
    case 0x800B0113u:  // CERT_E_INVALID_POLICY
    case 0x800B0004u:  // TRUST_E_SUBJECT_NOT_TRUSTED
    case 0x80096019u:  // TRUST_E_BASIC_CONSTRAINTS
    case 0x8009601Eu:  // TRUST_E_FINANCIAL_CRITERIA
    case 0x80092012u:  // CRYPT_E_NO_REVOCATION_CHECK
    case 0x80092013u:  // CRYPT_E_REVOCATION_OFFLINE
        return SignatureState::Sound;
    // The file's bytes are not the ones signed, or the signature itself is
    // not sound.
    case 0x80096010u:  // TRUST_E_BAD_DIGEST: the image's hash differs
    case 0x80091007u:  // CRYPT_E_HASH_VALUE
    case 0x80090006u:  // NTE_BAD_SIGNATURE
    case 0x80096004u:  // TRUST_E_CERT_SIGNATURE
    case 0x80096002u:  // TRUST_E_NO_SIGNER_CERT
    case 0x80096003u:  // TRUST_E_COUNTER_SIGNER
    case 0x80096005u:  // TRUST_E_TIME_STAMP
    case 0x800B0100u:  // TRUST_E_NOSIGNATURE, though the file has a table
    case 0x800B0108u:  // CERT_E_MALFORMED
    case 0x80092002u:  // CRYPT_E_BAD_ENCODE
    case 0x8009200Du:  // CRYPT_E_BAD_MSG
    // A certificate the system knows must not be trusted.
    case 0x800B010Cu:  // CERT_E_REVOKED
    case 0x80092010u:  // CRYPT_E_REVOKED
    case 0x800B0111u:  // TRUST_E_EXPLICIT_DISTRUST
        return SignatureState::Broken;
    default: break;
    }
    // The ASN.1 decoder's errors: the signature's encoding is damaged.
    if (result >= 0x80093100u && result <= 0x800932FFu) return SignatureState::Broken;
    return SignatureState::CannotTell;
}

}  // namespace zv
