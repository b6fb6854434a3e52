#include "quillon/signing.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

#include "platform/bytes.h"
#include "platform/sha256.h"
#include "quillon/cli.h"
#include "quillon/output_files.h"
#include "quillon/updater_file.h"

#ifdef _WIN32
#include <process.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace quillon {

namespace {

// The PE's data directory entry of the certificate table: its file offset
// (the entry's position in `image`), or 0 when `image` is not a PE.
size_t SecurityEntry(const std::vector<uint8_t>& image) {
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

// A temporary file beside `near` holding `bytes`; its name, or empty.
std::string WriteTemporary(const std::string& near, const void* bytes, size_t size, std::string* error) {
    std::string path;
    std::FILE* f = CreateTemporaryFile(near, &path, error);
    if (f == nullptr) return std::string();
    const bool ok = std::fwrite(bytes, 1, size, f) == size;
    if (std::fclose(f) != 0 || !ok) {
        *error = path + ": cannot be written";
        std::remove(path.c_str());
        return std::string();
    }
    return path;
}

// osslsigncode sign of `in` into `out`.
bool Sign(const SignOptions& o, const std::string& in, const std::string& out, std::string* error) {
    std::vector<std::string> args = {SigningTool(), "sign", "-certs", o.certs, "-key", o.key, "-h", "sha256"};
    // The password goes in a file of this process, never on osslsigncode's
    // command line, where others could read it.
    std::string passFile = o.passFile;
    bool ownPassFile = false;
    if (!o.pass.empty()) {
        passFile = WriteTemporary(out, o.pass.data(), o.pass.size(), error);
        if (passFile.empty()) return false;
        ownPassFile = true;
    }
    if (!passFile.empty()) {
        args.push_back("-readpass");
        args.push_back(passFile);
    }
    if (!o.timestamp.empty()) {
        args.push_back("-ts");  // RFC 3161
        args.push_back(o.timestamp);
    }
    args.insert(args.end(), {"-in", in, "-out", out});
    std::remove(out.c_str());  // osslsigncode will not write over a file
    std::string output;
    const int code = RunProgram(args, &output);
    if (ownPassFile) std::remove(passFile.c_str());
    if (code != 0) {
        while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.pop_back();
        *error = "osslsigncode sign failed" + (output.empty() ? std::string() : ": " + output);
        std::remove(out.c_str());
        return false;
    }
    return true;
}

// --- Reading the signature --------------------------------------------------

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
    const size_t entry = SecurityEntry(image);
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

SignatureReport CheckFileSignature(const std::string& path) {
    std::vector<uint8_t> image;
    std::string why;
    if (!ReadWholeFile(path, &image, &why)) return Report(SignatureState::Unchecked, path + ": cannot read: " + why);
    return CheckImageSignature(image);
}

std::string SigningTool() {
    const char* tool = std::getenv("QUILLON_OSSLSIGNCODE");
    return tool != nullptr && *tool != '\0' ? tool : "osslsigncode";
}

std::vector<std::string> SigningProblems(const SignOptions& o) {
    std::vector<std::string> problems;
    if (o.certs.empty()) problems.push_back("--sign-key needs --sign-cert");
    if (o.key.empty()) problems.push_back("--sign-cert needs --sign-key");
    for (const std::string* file : {&o.certs, &o.key, &o.passFile}) {
        std::error_code ec;
        if (!file->empty() && !std::filesystem::is_regular_file(*file, ec)) {
            problems.push_back(*file + ": no such file");
        }
    }
    std::string output;
    if (RunProgram({SigningTool(), "--version"}, &output) != 0) {
        problems.push_back("signing needs osslsigncode (" + SigningTool() +
                           "), which cannot be run; install it (the Debian package osslsigncode)");
    }
    return problems;
}

PeSignature FindPeSignature(const std::vector<uint8_t>& image, uint32_t* offset, uint32_t* size) {
    const size_t entry = SecurityEntry(image);
    if (entry == 0) return PeSignature::NotPe;
    *offset = zv::LoadU32LE(image.data() + entry);
    *size = zv::LoadU32LE(image.data() + entry + 4);
    return *offset != 0 && *size != 0 ? PeSignature::Signed : PeSignature::Unsigned;
}

bool RemovePeSignature(std::vector<uint8_t>* image, std::string* error) {
    uint32_t offset = 0;
    uint32_t size = 0;
    if (FindPeSignature(*image, &offset, &size) != PeSignature::Signed) return true;
    // Signing tools pad the file to 8 bytes before the table; both go.
    if (static_cast<uint64_t>(offset) + size != image->size()) {
        *error = "its signature is not at the end of the file, so it cannot be taken out safely";
        return false;
    }
    const size_t entry = SecurityEntry(*image);
    image->resize(offset);
    std::memset(image->data() + entry, 0, 8);
    // The checksum covered the signature; 0 is "none", which Windows accepts
    // for programs.
    const uint32_t pe = zv::LoadU32LE(image->data() + 0x3C);
    std::memset(image->data() + pe + 24 + 64, 0, 4);
    return true;
}

bool MeasureSignature(const SignOptions& options, const std::vector<uint8_t>& image, const std::string& near,
                      uint64_t* bytes, std::string* error) {
    const std::string in = WriteTemporary(near, image.data(), image.size(), error);
    if (in.empty()) return false;
    const std::string out = in + ".signed";
    const bool ok = Sign(options, in, out, error);
    std::error_code ec;
    const uint64_t signedSize = ok ? std::filesystem::file_size(out, ec) : 0;
    std::remove(in.c_str());
    std::remove(out.c_str());
    if (!ok) return false;
    *bytes = signedSize > image.size() ? signedSize - image.size() : 0;
    return true;
}

bool PackageBindsMembers(const std::string& path, std::string* error) {
    zv::Platform& os = zv::HostPlatform();
    UpdaterFile file;
    std::string why;
    if (OpenUpdaterFile(os, path, &file, &why) != UpdaterOpen::Ok) {
        CloseUpdaterFile(os, &file);
        *error = why;
        return false;
    }
    const bool bound = file.integrity.status == zv::IntegrityStatus::Present;
    if (!bound) {
        *error = "its package carries no integrity data that this quillon reads (" +
                 std::string(zv::IntegrityStatusName(file.integrity.status)) +
                 "), so a signature would not cover its members on later volumes; it is not signed";
    }
    CloseUpdaterFile(os, &file);
    return bound;
}

bool SignFile(const SignOptions& options, const std::string& path, std::string* error) {
    if (!PackageBindsMembers(path, error)) return false;
    const std::string out = path + ".signed";
    if (!Sign(options, path, out, error)) return false;
    std::error_code ec;
    std::filesystem::rename(out, path, ec);
    if (ec) {
        std::remove(out.c_str());
        *error = "the signed file cannot be put in place: " + ec.message();
        return false;
    }
    std::string output;
    if (!VerifySignature(path, options.certs, &output)) {
        *error = "osslsigncode verify does not accept the signature: " + output;
        return false;
    }
    return true;
}

bool VerifySignature(const std::string& path, const std::string& caFile, std::string* output) {
    std::vector<std::string> args = {SigningTool(), "verify"};
    if (!caFile.empty()) args.insert(args.end(), {"-CAfile", caFile});
    args.insert(args.end(), {"-in", path});
    return RunProgram(args, output) == 0;
}

#ifdef _WIN32

int RunProgram(const std::vector<std::string>& arguments, std::string* output) {
    // The arguments quoted as the C runtime of the started program splits them.
    std::vector<std::string> quoted;
    for (const std::string& a : arguments) {
        std::string q = "\"";
        size_t slashes = 0;
        for (char c : a) {
            if (c == '\\') {
                ++slashes;
                continue;
            }
            q.append(c == '"' ? slashes * 2 + 1 : slashes, '\\');
            slashes = 0;
            q += c;
        }
        q.append(slashes * 2, '\\');
        quoted.push_back(q + "\"");
    }
    std::vector<const char*> argv;
    for (const std::string& q : quoted) argv.push_back(q.c_str());
    argv.push_back(nullptr);
    output->clear();
    const intptr_t code = ::_spawnvp(_P_WAIT, arguments[0].c_str(), argv.data());
    return code < 0 ? -1 : static_cast<int>(code);
}

#else

int RunProgram(const std::vector<std::string>& arguments, std::string* output) {
    output->clear();
    int fds[2];
    if (::pipe(fds) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    std::vector<char*> argv;
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (spawned != 0) {
        ::close(fds[0]);
        return -1;
    }
    char block[4096];
    ssize_t n;
    while ((n = ::read(fds[0], block, sizeof block)) > 0 || (n < 0 && errno == EINTR)) {
        if (n > 0) output->append(block, static_cast<size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status) == 127 ? -1 : WEXITSTATUS(status);
    return -1;
}

#endif

}  // namespace quillon
