#include "quillon/sign/authenticode.h"

#include <cstring>
#include <utility>

#include "platform/bytes.h"
#include "platform/sha256.h"

namespace quillon {

size_t PeSecurityEntry(const std::vector<uint8_t>& image) {
    if (image.size() < 0x40 || image[0] != 'M' || image[1] != 'Z') return 0;
    const uint32_t pe = zv::LoadU32LE(image.data() + 0x3C);
    if (pe > image.size() || image.size() - pe < 24 + 2) return 0;
    if (std::memcmp(image.data() + pe, "PE\0\0", 4) != 0) return 0;
    const uint16_t magic = zv::LoadU16LE(image.data() + pe + 24);
    const size_t directories = pe + 24 + (magic == 0x20B ? 112 : 96);
    const size_t count = pe + 24 + (magic == 0x20B ? 108 : 92);
    if (magic != 0x10B && magic != 0x20B) return 0;
    if (count + 4 > image.size() || zv::LoadU32LE(image.data() + count) < 5) return 0;
    const size_t entry = directories + 4 * 8;
    return entry + 8 <= image.size() ? entry : 0;
}

namespace {

// A DER value: its tag and its content octets.
struct Der {
    const uint8_t* data = nullptr;
    size_t size = 0;
};

// Takes the next value off the front of *in; false when the bytes are not a
// whole definite-length value. *tag and *content describe it.
bool TakeDer(Der* in, uint8_t* tag, Der* content) {
    if (in->size < 2) return false;
    *tag = in->data[0];
    if ((*tag & 0x1F) == 0x1F) return false;  // multi-byte tags: none in a signature
    size_t length = in->data[1];
    size_t header = 2;
    if (length & 0x80) {
        const size_t bytes = length & 0x7F;
        if (bytes == 0 || bytes > 4 || in->size < 2 + bytes) return false;  // indefinite, or too long
        length = 0;
        for (size_t k = 0; k < bytes; ++k) length = (length << 8) | in->data[2 + k];
        header += bytes;
    }
    if (length > in->size - header) return false;
    content->data = in->data + header;
    content->size = length;
    in->data += header + length;
    in->size -= header + length;
    return true;
}

// Takes a value that must have tag `want`.
bool Expect(Der* in, uint8_t want, Der* content) {
    uint8_t tag = 0;
    return TakeDer(in, &tag, content) && tag == want;
}

bool IsOid(const Der& oid, const std::vector<uint8_t>& bytes) {
    return oid.size == bytes.size() && std::memcmp(oid.data, bytes.data(), bytes.size()) == 0;
}

// Object identifiers, as their content octets.
const std::vector<uint8_t> kSignedDataOid = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};
const std::vector<uint8_t> kIndirectDataOid = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x01, 0x04};
const std::vector<uint8_t> kMessageDigestOid = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x04};
const std::vector<uint8_t> kSha256Oid = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};

constexpr uint8_t kSequence = 0x30;
constexpr uint8_t kSet = 0x31;
constexpr uint8_t kOid = 0x06;
constexpr uint8_t kInteger = 0x02;
constexpr uint8_t kOctets = 0x04;
constexpr uint8_t kExplicit0 = 0xA0;
constexpr uint8_t kImplicit1 = 0xA1;

// What quillon reads of a PKCS#7 Authenticode signature.
struct SignedParts {
    Der indirectContent;  // the content octets of SpcIndirectDataContent
    Der imageDigestAlgorithm;
    Der imageDigest;
    Der signerDigestAlgorithm;
    Der messageDigest;  // the signer's attribute; size 0 when it has none
};

bool ReadAlgorithm(Der* in, Der* oid) {
    Der algorithm;
    return Expect(in, kSequence, &algorithm) && Expect(&algorithm, kOid, oid);
}

// Walks ContentInfo > SignedData > its content and its first SignerInfo.
bool ReadSignedParts(Der in, SignedParts* parts, std::string* why) {
    Der contentInfo, oid, explicit0, signedData, value;
    if (!Expect(&in, kSequence, &contentInfo) || !Expect(&contentInfo, kOid, &oid) || !IsOid(oid, kSignedDataOid) ||
        !Expect(&contentInfo, kExplicit0, &explicit0) || !Expect(&explicit0, kSequence, &signedData)) {
        *why = "the certificate table does not hold a PKCS#7 signed data structure";
        return false;
    }
    Der content, indirectWrapper, indirect;
    if (!Expect(&signedData, kInteger, &value) || !Expect(&signedData, kSet, &value) ||
        !Expect(&signedData, kSequence, &content) || !Expect(&content, kOid, &oid) || !IsOid(oid, kIndirectDataOid) ||
        !Expect(&content, kExplicit0, &indirectWrapper) || !Expect(&indirectWrapper, kSequence, &indirect)) {
        *why = "the signature does not hold Authenticode indirect data";
        return false;
    }
    parts->indirectContent = indirect;
    Der digestInfo;
    if (!Expect(&indirect, kSequence, &value) || !Expect(&indirect, kSequence, &digestInfo) ||
        !ReadAlgorithm(&digestInfo, &parts->imageDigestAlgorithm) ||
        !Expect(&digestInfo, kOctets, &parts->imageDigest)) {
        *why = "the signature's indirect data holds no image digest";
        return false;
    }
    // Certificates [0] and revocation lists [1] come before the signers.
    uint8_t tag = 0;
    Der signerInfos;
    do {
        if (!TakeDer(&signedData, &tag, &signerInfos)) {
            *why = "the signature has no signer";
            return false;
        }
    } while (tag == kExplicit0 || tag == kImplicit1);
    Der signer;
    if (tag != kSet || !Expect(&signerInfos, kSequence, &signer) || !Expect(&signer, kInteger, &value) ||
        !Expect(&signer, kSequence, &value) || !ReadAlgorithm(&signer, &parts->signerDigestAlgorithm)) {
        *why = "the signature's signer cannot be read";
        return false;
    }
    Der attributes;
    if (!Expect(&signer, kExplicit0, &attributes)) {
        *why = "the signature's signer has no signed attributes";
        return false;
    }
    while (attributes.size != 0) {
        Der attribute, values;
        if (!Expect(&attributes, kSequence, &attribute) || !Expect(&attribute, kOid, &oid) ||
            !Expect(&attribute, kSet, &values)) {
            *why = "the signer's attributes cannot be read";
            return false;
        }
        if (IsOid(oid, kMessageDigestOid) && !Expect(&values, kOctets, &parts->messageDigest)) {
            *why = "the signer's message digest cannot be read";
            return false;
        }
    }
    if (parts->messageDigest.size == 0) {
        *why = "the signer's attributes name no message digest";
        return false;
    }
    return true;
}

// SHA-256 of the ranges [from, to) of `image`, in order.
bool HashRanges(const std::vector<uint8_t>& image, const std::vector<std::pair<size_t, size_t>>& ranges,
                uint8_t digest[zv::SHA256_DIGEST_SIZE]) {
    zv::Sha256Context hash;
    if (zv::Sha256Begin(&hash) != zv::Sha256Status::Ok) return false;
    for (const auto& r : ranges) {
        if (zv::Sha256Update(&hash, image.data() + r.first, r.second - r.first) != zv::Sha256Status::Ok) return false;
    }
    return zv::Sha256Finish(&hash, digest) == zv::Sha256Status::Ok;
}

SignatureReport Report(SignatureState state, const std::string& detail) { return SignatureReport{state, detail}; }

}  // namespace

const char* SignatureStateWord(SignatureState state) {
    switch (state) {
    case SignatureState::None: return "none";
    case SignatureState::Sound: return "sound";
    case SignatureState::Broken: return "broken";
    case SignatureState::Unchecked: return "unchecked";
    }
    return "unknown";
}

SignatureReport CheckImageSignature(const std::vector<uint8_t>& image) {
    const size_t entry = PeSecurityEntry(image);
    if (entry == 0) return Report(SignatureState::None, "not a PE file");
    const uint32_t offset = zv::LoadU32LE(image.data() + entry);
    const uint32_t size = zv::LoadU32LE(image.data() + entry + 4);
    if (offset == 0 && size == 0) return Report(SignatureState::None, "");
    if (offset == 0 || size < 8 || offset > image.size() || size > image.size() - offset) {
        return Report(SignatureState::Broken, "its certificate table lies outside the file");
    }
    // Nothing may follow the table: bytes there would be covered by nothing.
    if (static_cast<uint64_t>(offset) + size != image.size()) {
        return Report(SignatureState::Broken, std::to_string(image.size() - offset - size) +
                                                  " bytes follow the signature, which it does not cover");
    }
    const uint32_t pe = zv::LoadU32LE(image.data() + 0x3C);
    const size_t checksum = pe + 24 + 64;
    if (offset < entry + 8) return Report(SignatureState::Broken, "its certificate table overlaps the header");

    // WIN_CERTIFICATE: length, revision 2.0, type PKCS#7 signed data.
    const uint8_t* certificate = image.data() + offset;
    const uint32_t length = zv::LoadU32LE(certificate);
    if (length < 8 || length > size || zv::LoadU16LE(certificate + 4) != 0x0200 ||
        zv::LoadU16LE(certificate + 6) != 0x0002) {
        return Report(SignatureState::Broken, "its certificate table does not hold a PKCS#7 signature");
    }
    SignedParts parts;
    std::string why;
    if (!ReadSignedParts(Der{certificate + 8, length - 8}, &parts, &why)) return Report(SignatureState::Broken, why);
    if (!IsOid(parts.imageDigestAlgorithm, kSha256Oid) || !IsOid(parts.signerDigestAlgorithm, kSha256Oid)) {
        return Report(SignatureState::Unchecked, "it was made with a digest other than SHA-256");
    }
    uint8_t digest[zv::SHA256_DIGEST_SIZE];
    if (!HashRanges(image, {{0, checksum}, {checksum + 4, entry}, {entry + 8, offset}}, digest)) {
        return Report(SignatureState::Unchecked, "SHA-256 is not available");
    }
    if (parts.imageDigest.size != zv::SHA256_DIGEST_SIZE ||
        std::memcmp(parts.imageDigest.data, digest, zv::SHA256_DIGEST_SIZE) != 0) {
        return Report(SignatureState::Broken, "the file's bytes are not the ones it signed (the image's SHA-256 "
                                              "differs from the one in the signature)");
    }
    // The indirect data must be what the signer signed.
    if (zv::Sha256Bytes(parts.indirectContent.data, parts.indirectContent.size, digest) != zv::Sha256Status::Ok) {
        return Report(SignatureState::Unchecked, "SHA-256 is not available");
    }
    if (parts.messageDigest.size != zv::SHA256_DIGEST_SIZE ||
        std::memcmp(parts.messageDigest.data, digest, zv::SHA256_DIGEST_SIZE) != 0) {
        return Report(SignatureState::Broken, "its indirect data is not the one its signer signed");
    }
    return Report(SignatureState::Sound, "");
}

}  // namespace quillon
