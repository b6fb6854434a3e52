// quillon lzhuf -c|-d IN OUT: one raw LZHUF stream, for use with other tools.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/bytes.h"
#include "quillon/base/cli.h"
#include "quillon/commands/commands.h"
#include "quillon/pack/lzhuf_encoder.h"
#include "quillon/read/package_expander.h"

namespace quillon {
namespace {

const char kLzhufHelp[] =
    "usage: quillon lzhuf -c IN OUT\n"
    "       quillon lzhuf -d IN OUT\n"
    "\n"
    "-c compresses the file IN into one LZHUF stream OUT: the expanded size\n"
    "   (4 bytes, little-endian) followed by the coded data, as a member of a\n"
    "   package holds it.\n"
    "-d expands such a stream with the updater's own decoder. A stream whose\n"
    "   last match runs past its size is cut to its size, with a warning (the\n"
    "   updater would write those bytes too).\n"
    "\n"
    "Exits with 1 when IN cannot be read, OUT cannot be written, or the stream\n"
    "is shorter than its 4-byte size.\n";

bool WriteWholeFile(const std::string& path, const uint8_t* bytes, size_t size, std::string* error) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        *error = std::strerror(errno);
        return false;
    }
    const bool ok = std::fwrite(bytes, 1, size, file) == size;
    if (!ok) *error = std::strerror(errno);
    if (std::fclose(file) != 0 && ok) {
        *error = std::strerror(errno);
        return false;
    }
    return ok;
}

int Compress(const std::string& in, const std::string& out) {
    std::vector<uint8_t> data;
    std::string error;
    if (!ReadWholeFile(in, &data, &error)) return Fail(EXIT_FAILED, "%s: cannot read: %s", in.c_str(), error.c_str());
    LzhufEncoderOptions options;
    options.threads = 2;
    std::vector<uint8_t> stream;
    if (!EncodeLzhuf(data.data(), data.size(), &stream, options)) {
        return Fail(EXIT_FAILED, "%s: too large for one stream (at most 4 GB - 1)", in.c_str());
    }
    if (!WriteWholeFile(out, stream.data(), stream.size(), &error)) {
        return Fail(EXIT_FAILED, "%s: cannot write: %s", out.c_str(), error.c_str());
    }
    std::printf("%s: %zu bytes -> %zu (%.3f)\n", in.c_str(), data.size(), stream.size(),
                data.empty() ? 1.0 : static_cast<double>(stream.size()) / static_cast<double>(data.size()));
    return EXIT_OK;
}

int Expand(const std::string& in, const std::string& out) {
    std::vector<uint8_t> stream;
    std::string error;
    if (!ReadWholeFile(in, &stream, &error)) return Fail(EXIT_FAILED, "%s: cannot read: %s", in.c_str(), error.c_str());
    if (stream.size() < 4) return Fail(EXIT_FAILED, "%s: shorter than a stream's 4-byte size", in.c_str());
    if (stream.size() > UINT32_MAX) return Fail(EXIT_FAILED, "%s: larger than a stream can be", in.c_str());
    const uint32_t declared = zv::LoadU32LE(stream.data());
    std::FILE* file = std::fopen(out.c_str(), "wb");
    if (file == nullptr) return Fail(EXIT_FAILED, "%s: cannot write: %s", out.c_str(), std::strerror(errno));
    uint64_t kept = 0;
    const MemberWriter writer = [&](const uint8_t* bytes, uint32_t count) {
        // Bytes past the declared size come from a last match that runs over.
        const uint64_t take = kept + count <= declared ? count : declared - kept;
        if (take != 0 && std::fwrite(bytes, 1, take, file) != take) return false;
        kept += take;
        return true;
    };
    const ExpandResult result = ExpandRawStream(stream.data(), static_cast<uint32_t>(stream.size()), writer);
    const bool closed = std::fclose(file) == 0;
    if (result.outcome == zv::DecodeOutcome::Damaged) {
        std::remove(out.c_str());
        return Fail(EXIT_FAILED, "%s: damaged: its codes run on past the stream's end", in.c_str());
    }
    if (!result.done() || !closed) {
        std::remove(out.c_str());
        return Fail(EXIT_FAILED, "%s: cannot write %s", in.c_str(), out.c_str());
    }
    if (result.written > declared) {
        std::fprintf(stderr, "quillon: warning: %s: the last match runs %llu bytes past the stream's size\n",
                     in.c_str(), static_cast<unsigned long long>(result.written - declared));
    }
    std::printf("%s: %zu bytes -> %u\n", in.c_str(), stream.size(), declared);
    return EXIT_OK;
}

}  // namespace

int RunLzhuf(int argc, char** argv) {
    if (WantsHelp(argc, argv)) {
        std::fputs(kLzhufHelp, stdout);
        return EXIT_OK;
    }
    if (argc != 4 || (std::strcmp(argv[1], "-c") != 0 && std::strcmp(argv[1], "-d") != 0)) {
        std::fputs(kLzhufHelp, stderr);
        return EXIT_USAGE;
    }
    return argv[1][1] == 'c' ? Compress(argv[2], argv[3]) : Expand(argv[2], argv[3]);
}

}  // namespace quillon
