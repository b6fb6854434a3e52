// quillon build DESCRIPTION --updater FILE --output FILE: the package of a
// description, compressed, laid out and stamped into a copy of the updater.
#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "package/table_writer.h"
#include "quillon/base/cli.h"
#include "quillon/base/host_paths.h"
#include "quillon/commands/commands.h"
#include "quillon/machine/machine.h"
#include "quillon/pack/auto_version.h"
#include "quillon/pack/description.h"
#include "quillon/pack/member_packer.h"
#include "quillon/pack/package_layout.h"
#include "quillon/pack/package_writer.h"
#include "quillon/read/member_sources.h"
#include "quillon/report/progress.h"
#include "quillon/sign/signing.h"

namespace quillon {
namespace {

const char kBuildHelp[] =
    "usage: quillon build DESCRIPTION --updater FILE --output FILE\n"
    "                     [--volume-size BYTES] [--jobs N] [--language ID]\n"
    "\n"
    "Builds the package that DESCRIPTION describes (see docs/package-\n"
    "description.md) and writes the updater FILE with it stamped in: the\n"
    "updater's image, the file table, then the members' LZHUF streams.\n"
    "\n"
    "  --updater FILE       the updater as it leaves the compiler (unstamped)\n"
    "  --output FILE        the stamped updater to write (volume 1)\n"
    "  --volume-size BYTES  cut the package into volumes of at most BYTES each\n"
    "                       (a K or M suffix counts 1024 or 1048576). Volume 1\n"
    "                       is the output file; volume n is the output's name\n"
    "                       with its extension replaced by n in three digits\n"
    "                       (SETUP.EXE: SETUP002, SETUP003, ...), the names the\n"
    "                       updater looks for, so rename them together.\n"
    "  --jobs N             members compressed at the same time (default: one\n"
    "                       per processor)\n"
    "  --sign-cert FILE     sign volume 1 after stamping, with osslsigncode, with\n"
    "  --sign-key FILE      this certificate (chain) and private key; the\n"
    "                       signature is checked with osslsigncode verify, and\n"
    "                       room for it is kept within --volume-size\n"
    "  --sign-pass TEXT     the key's password (or --sign-pass-file FILE)\n"
    "                       Only a package with integrity data is signed: its\n"
    "                       digests bind the members on every volume to the\n"
    "                       signature, and the updater refuses a signed\n"
    "                       package without them.\n"
    "  --timestamp URL      have the signature time-stamped by this server\n"
    "  --strip-signature    take the signature out of a signed updater before\n"
    "                       stamping (otherwise a signed updater is refused:\n"
    "                       stamping would break its signature)\n"
    "  --language ID        the user's language for version=auto, a hexadecimal\n"
    "                       language id (default 0409, U.S. English): of a\n"
    "                       version resource in several languages none of which\n"
    "                       is neutral, the one in this language is read, else\n"
    "                       U.S. English, else the first\n"
    "\n"
    "Behind the table's records goes the package's integrity data: the SHA-256\n"
    "of every member's bytes, which quillon verify checks.\n"
    "\n"
    "The table lists the shared files first, then the product files, then the\n"
    "ignored ones, each group in the order of the description: the order in\n"
    "which the updater reads them, so that it asks for the disks in turn.\n"
    "\n"
    "Everything that can be checked is checked before packing, and every\n"
    "problem found is listed. Two builds into one output at once each put their\n"
    "whole package in place, one after the other.\n"
    "\n"
    "Exits with 0 when the package is in place, 1 when the description, a\n"
    "source, the updater, the output or signing is not usable (nothing is then\n"
    "written), 2 for a wrong command line.\n";

const char kBuildUsage[] =
    "usage: quillon build DESCRIPTION --updater FILE --output FILE\n"
    "                     [--volume-size BYTES] [--jobs N] [--strip-signature]\n"
    "                     [--sign-cert FILE --sign-key FILE [--sign-pass TEXT |\n"
    "                      --sign-pass-file FILE] [--timestamp URL]]\n";

const std::vector<KnownOption> kBuildOptions = {
    {"--updater", true},
    {"--output", true},
    {"--volume-size", true},
    {"--jobs", true},
    {"--sign-cert", true},
    {"--sign-key", true},
    {"--sign-pass", true},
    {"--sign-pass-file", true},
    {"--timestamp", true},
    {"--strip-signature", false},
    {"--language", true},
};

struct BuildArguments {
    std::string description;
    std::string updater;
    std::string output;
    uint64_t volumeSize = 0;
    unsigned jobs = 0;
    SignOptions sign;
    bool stripSignature = false;
    uint16_t language = zv::kUsEnglish;
};

bool ParseSize(const std::string& text, uint64_t* size) {
    char* end = nullptr;
    if (text.empty() || text[0] < '0' || text[0] > '9') return false;
    unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    if (*end == 'K' || *end == 'k') {
        value *= 1024;
        ++end;
    } else if (*end == 'M' || *end == 'm') {
        value *= 1024 * 1024;
        ++end;
    }
    if (*end != '\0' || value == 0 || value > kMaxVolumeSize) return false;
    *size = value;
    return true;
}

// Every problem of the command line, each naming its argument.
int ParseBuildArguments(int argc, char** argv, BuildArguments* args) {
    if (argc == 1) {
        std::fputs(kBuildHelp, stderr);
        return EXIT_USAGE;
    }
    ParsedArguments parsed;
    std::vector<std::string> errors;
    ParseArguments(argc, argv, kBuildOptions, 1, &parsed, &errors);
    if (parsed.positionals.empty()) errors.push_back("the DESCRIPTION file is missing");
    if (!parsed.Has("--updater")) errors.push_back("--updater FILE is missing");
    if (!parsed.Has("--output")) errors.push_back("--output FILE is missing");
    if (!parsed.positionals.empty()) args->description = parsed.positionals[0];
    args->updater = parsed.Value("--updater");
    args->output = parsed.Value("--output");
    if (parsed.Has("--volume-size") && !ParseSize(parsed.Value("--volume-size"), &args->volumeSize)) {
        errors.push_back("--volume-size: '" + parsed.Value("--volume-size") + "' is not a size of 1 to " +
                         std::to_string(kMaxVolumeSize) + " bytes");
    }
    if (parsed.Has("--jobs")) {
        const std::string text = parsed.Value("--jobs");
        char* end = nullptr;
        const unsigned long jobs = std::strtoul(text.c_str(), &end, 10);
        if (text.empty() || text[0] < '0' || text[0] > '9' || *end != '\0' || jobs == 0 || jobs > 64) {
            errors.push_back("--jobs: '" + text + "' is not a number of 1 to 64");
        } else {
            args->jobs = static_cast<unsigned>(jobs);
        }
    }
    args->sign.certs = parsed.Value("--sign-cert");
    args->sign.key = parsed.Value("--sign-key");
    args->sign.pass = parsed.Value("--sign-pass");
    args->sign.passFile = parsed.Value("--sign-pass-file");
    args->sign.timestamp = parsed.Value("--timestamp");
    args->stripSignature = parsed.Has("--strip-signature");
    if (!args->sign.enabled()) {
        for (const char* option : {"--sign-pass", "--sign-pass-file", "--timestamp"}) {
            if (parsed.Has(option)) errors.push_back(std::string(option) + " is for signing: give --sign-cert and --sign-key");
        }
    }
    if (parsed.Has("--language") && !ParseLanguageId(parsed.Value("--language").c_str(), &args->language)) {
        errors.push_back("--language wants a hexadecimal language id such as 0407, not '" + parsed.Value("--language") +
                         "'");
    }
    if (parsed.Has("--sign-pass") && parsed.Has("--sign-pass-file")) {
        errors.push_back("--sign-pass and --sign-pass-file are two ways to give the password; give one");
    }
    if (!errors.empty()) return FailUsage("build", errors, kBuildUsage);
    if (args->jobs == 0) args->jobs = std::max(1u, std::thread::hardware_concurrency());
    return EXIT_OK;
}

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    return std::filesystem::equivalent(a, b, ec) && !ec;
}

// "FILE:LINE: ", or "FILE: " for the file as a whole.
std::string AtLine(const std::string& file, unsigned line) {
    return line != 0 ? file + ":" + std::to_string(line) + ": " : file + ": ";
}

// The problems that keep a build from starting, all told at once.
class Problems {
public:
    void Add(const std::string& problem) { list_.push_back(problem); }
    bool empty() const { return list_.empty(); }
    int Fail() const {
        for (const std::string& p : list_) std::fprintf(stderr, "%s\n", p.c_str());
        return quillon::Fail(EXIT_FAILED, "%zu problem%s; nothing written", list_.size(), list_.size() == 1 ? "" : "s");
    }

private:
    std::vector<std::string> list_;
};

// The number n >= 2 for which `path` could be volume n of a package (its name
// ends in digits), or 0.
uint32_t VolumeNumberOfName(const std::string& path) {
    const size_t end = path.size();
    size_t start = end;
    while (start > 0 && path[start - 1] >= '0' && path[start - 1] <= '9') --start;
    if (start == end || end - start > 5) return 0;
    const unsigned long n = std::stoul(path.substr(start));
    return n >= 2 && n <= 0xFFFF ? static_cast<uint32_t>(n) : 0;
}

// The output's folder must be there, and neither the output nor any volume
// beside it may be a file the build reads.
void CheckOutput(const std::string& output, const std::vector<std::string>& inputs, Problems* problems) {
    const std::filesystem::path folder = std::filesystem::path(output).parent_path();
    std::error_code ec;
    if (!folder.empty() && !std::filesystem::is_directory(folder, ec)) {
        problems->Add(output + ": the folder " + folder.string() + " does not exist");
    } else if (std::filesystem::is_directory(output, ec)) {
        problems->Add(output + ": is a folder; --output names the file to write");
    }
    for (const std::string& input : inputs) {
        if (input.empty()) continue;
        if (SameFile(output, input)) {
            problems->Add(output + ": the output would overwrite " + input + ", which the build reads");
            continue;
        }
        const uint32_t volume = VolumeNumberOfName(input);
        const std::string volumePath = volume != 0 ? VolumeHostPath(output, volume) : std::string();
        if (!volumePath.empty() && SameFile(volumePath, input)) {
            problems->Add(output + ": volume " + std::to_string(volume) + " (" + volumePath + ") would overwrite " +
                          input + ", which the build reads");
        }
    }
}

// The unstamped updater: exactly one header block, with entryCount 0, and no
// signature (stamping would break it), unless `stripSignature` says to take
// the signature out first.
bool LoadUpdaterImage(const std::string& path, bool stripSignature, std::vector<uint8_t>* image, std::string* error) {
    std::string why;
    if (!ReadWholeFile(path, image, &why)) {
        *error = path + ": cannot read: " + why;
        return false;
    }
    size_t at = 0;
    switch (zv::FindPackageHeader(image->data(), image->size(), &at)) {
    case zv::HeaderSearch::NotFound:
        *error = path + ": no package header block; this is not the updater program";
        return false;
    case zv::HeaderSearch::Several:
        *error = path + ": more than one package header block; the one to stamp cannot be told";
        return false;
    case zv::HeaderSearch::Found:
        break;
    }
    const zv::PackageHeader header = zv::DecodePackageHeader(image->data() + at);
    if (header.entryCount != 0) {
        *error = path + ": already stamped with a package of " + std::to_string(header.entryCount) +
                 " entries; give the updater as it leaves the compiler";
        return false;
    }
    uint32_t offset = 0;
    uint32_t size = 0;
    if (FindPeSignature(*image, &offset, &size) == PeSignature::Signed) {
        if (!stripSignature) {
            *error = path + ": it is signed, and stamping the package into it would break the signature; give it "
                            "unsigned, or add --strip-signature to take the signature out first (and sign the "
                            "package with --sign-cert)";
            return false;
        }
        std::string why;
        if (!RemovePeSignature(image, &why)) {
            *error = path + ": " + why;
            return false;
        }
    }
    return true;
}


// One build as it goes from the command line to the written package; each
// step fills in its part.
struct Build {
    BuildArguments args;
    // Problems that keep the build from going on, told together.
    Problems problems;

    // Checked: the description, the updater's image, every member's source.
    PackageDescription description;
    std::vector<uint8_t> image;
    std::vector<PackedMember> packed;
    // The packed streams, until they are written.
    MemberSpool spool;
    // Room kept on volume 1 for the signature added after writing.
    uint64_t signatureReserve = 0;

    // Packed.
    double seconds = 0;

    // Laid out: the members in reading order, over the volumes.
    std::vector<size_t> order;
    std::vector<zv::EntryDescription> entries;
    std::vector<std::string> shownNames;
    std::vector<SpooledStream> streams;
    PackageLayout layout;
    std::vector<uint8_t> table;

    // Written.
    PackageWriteReport report;
    uint64_t signedFirstVolume = 0;  // volume 1's size once signed; 0 when not signed
};

void PrintSummary(const Build& b) {
    uint64_t in = 0;
    uint64_t out = 0;
    std::printf("  %-32s %10s %10s %6s  %s\n", "name", "size", "packed", "ratio", "pieces");
    for (size_t i = 0; i < b.entries.size(); ++i) {
        const PackedMember& m = b.packed[b.order[i]];
        in += m.sourceSize;
        out += m.stream.size;
        std::string pieces;
        for (const zv::PackagePiece& p : b.entries[i].pieces) {
            if (!pieces.empty()) pieces += ' ';
            pieces += std::to_string(p.volume) + ":" + std::to_string(p.offset) + "+" + std::to_string(p.length);
        }
        std::printf("  %-32s %10" PRIu64 " %10" PRIu64 " %6.3f  %s\n", b.shownNames[i].c_str(), m.sourceSize,
                    m.stream.size,
                    m.sourceSize ? static_cast<double>(m.stream.size) / static_cast<double>(m.sourceSize) : 1.0,
                    pieces.c_str());
    }
    const double seconds = b.seconds;
    std::printf("%zu members, %" PRIu64 " bytes packed into %" PRIu64 " (%.3f) in %.2f s (%.1f MB/s)\n",
                b.entries.size(), in, out, in ? static_cast<double>(out) / static_cast<double>(in) : 1.0, seconds,
                seconds > 0 ? static_cast<double>(in) / seconds / 1e6 : 0.0);
    std::printf("table at %" PRIu32 ", %" PRIu32 " bytes; data from %" PRIu32 "\n", b.layout.tableOffset,
                b.layout.tableSize, b.layout.dataOffset);
    const std::vector<std::string>& written = b.report.written;
    for (size_t v = 0; v < written.size(); ++v) {
        const uint64_t size = v == 0 && b.signedFirstVolume != 0 ? b.signedFirstVolume : b.layout.volumeSizes[v];
        std::printf("volume %zu: %s (%" PRIu64 " bytes)\n", v + 1, written[v].c_str(), size);
    }
}

// Everything that can be checked before packing is checked, and every
// problem found is listed, before anything is compressed or written. False
// when the build cannot go on; b->problems says why.
bool CheckBuild(Build* b) {
    const BuildArguments& args = b->args;
    Problems& problems = b->problems;
    PackageDescription& description = b->description;

    std::vector<uint8_t> text;
    std::string error;
    bool described = false;
    if (!ReadWholeFile(args.description, &text, &error)) {
        problems.Add(args.description + ": cannot read: " + error);
    } else {
        std::vector<DescriptionError> found;
        described = ParseDescription(std::string(text.begin(), text.end()), &description, &found);
        for (const DescriptionError& p : found) problems.Add(AtLine(args.description, p.line) + p.message);
        for (const DescriptionError& w : description.warnings) {
            std::fprintf(stderr, "%swarning: %s\n", AtLine(args.description, w.line).c_str(), w.message.c_str());
        }
    }

    const bool haveImage = LoadUpdaterImage(args.updater, args.stripSignature, &b->image, &error);
    if (!haveImage) problems.Add(error);

    // Sources and versions.
    b->packed.assign(description.members.size(), PackedMember());
    for (size_t i = 0; described && i < description.members.size(); ++i) {
        MemberDescription& m = description.members[i];
        PackedMember& p = b->packed[i];
        p.sourcePath = DescribedSourcePath(args.description, m.source);
        const std::string at = AtLine(args.description, m.line) + p.sourcePath + ": ";
        std::error_code ec;
        const bool regular = std::filesystem::is_regular_file(p.sourcePath, ec);
        p.sourceSize = regular ? std::filesystem::file_size(p.sourcePath, ec) : 0;
        if (!regular || ec) {
            problems.Add(at + "no such file");
            continue;
        }
        if (p.sourceSize > UINT32_MAX) {
            problems.Add(at + "larger than a member can be (4 GB - 1 bytes)");
            continue;
        }
        if (m.versionSource == VersionSource::Auto && !ResolveAutoVersion(p.sourcePath, args.language, &m.version, &error)) {
            problems.Add(at + error);
        }
    }

    // The output: its folder, and no file the build reads.
    std::vector<std::string> inputs = {args.description, args.updater};
    for (const PackedMember& p : b->packed) inputs.push_back(p.sourcePath);
    CheckOutput(args.output, inputs, &problems);

    // Volume 1 holds at least the updater and the table with a piece for each
    // member; the table is known before packing.
    if (described && haveImage && args.volumeSize != 0) {
        std::vector<zv::EntryDescription> entries(description.members.size());
        for (size_t i = 0; i < entries.size(); ++i) {
            entries[i].name = description.members[i].storedName;
            entries[i].flags = description.members[i].flags;
        }
        const uint64_t table = TableRegionSize(entries);
        if (b->image.size() + table >= args.volumeSize) {
            problems.Add("--volume-size " + std::to_string(args.volumeSize) + ": volume 1 cannot hold the updater (" +
                         std::to_string(b->image.size()) + " bytes) and its table (" + std::to_string(table) +
                         " bytes) with any data; it needs more than " + std::to_string(b->image.size() + table) +
                         " bytes");
        }
    }
    if (args.sign.enabled()) {
        for (const std::string& p : SigningProblems(args.sign)) problems.Add(p);
    }
    if (!problems.empty()) return false;

    // Room for the signature on volume 1: what signing the updater alone
    // adds, and some more for a time stamp's reply, which varies.
    if (args.sign.enabled() && args.volumeSize != 0) {
        uint64_t growth = 0;
        if (!MeasureSignature(args.sign, b->image, args.output, &growth, &error)) {
            problems.Add(args.sign.certs + ": " + error);
            return false;
        }
        b->signatureReserve = growth + 1024;
    }
    return true;
}

// Compresses every member, with a progress bar. False when a member cannot
// be packed; b->problems names each one.
bool PackBuild(Build* b) {
    const auto start = std::chrono::steady_clock::now();
    uint64_t total = 0;
    for (const PackedMember& p : b->packed) total += p.sourceSize;
    const std::vector<MemberDescription>& members = b->description.members;
    std::string error;
    if (!b->spool.Open(b->args.output, &error)) {
        b->problems.Add(error);
        return false;
    }
    ProgressBar bar("packing", total);
    const bool ok = PackMembers(&b->packed, b->args.jobs, &b->spool, [&bar, &members](uint64_t done, size_t member) {
        bar.Show(done, member < members.size() ? members[member].name : std::string());
    });
    bar.Clear();
    if (!ok) {
        for (size_t i = 0; i < b->packed.size(); ++i) {
            if (b->packed[i].error.empty()) continue;
            b->problems.Add(AtLine(b->args.description, members[i].line) + b->packed[i].sourcePath + ": " +
                            b->packed[i].error);
        }
        return false;
    }
    b->seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return true;
}

// The table in reading order, laid out over the volumes. Returns the exit
// code: EXIT_OK, or EXIT_FAILED with the reason told.
int LayOutBuild(Build* b) {
    std::vector<uint16_t> flags;
    for (const MemberDescription& m : b->description.members) flags.push_back(m.flags);
    b->order = ReadingOrder(flags);
    std::vector<uint32_t> streamSizes;
    for (size_t k : b->order) {
        const MemberDescription& m = b->description.members[k];
        const PackedMember& p = b->packed[k];
        zv::EntryDescription e;
        e.name = m.storedName;
        e.flags = m.flags;
        const uint64_t kb = SizeInKB(p.sourceSize);
        if (kb > 0xFFFF) {
            std::fprintf(stderr, "quillon: note: %s: %" PRIu64 " KB do not fit the table's size field; it says 65535\n",
                         m.name.c_str(), kb);
        }
        e.sizeKB = TableSizeKB(p.sourceSize);
        e.version = m.version;
        b->entries.push_back(e);
        b->shownNames.push_back(m.name);
        streamSizes.push_back(static_cast<uint32_t>(p.stream.size));
        b->streams.push_back(p.stream);
    }
    std::string error;
    if (!LayOutPackage(b->image.size(), streamSizes, b->args.volumeSize, &b->entries, &b->layout, &error,
                       b->signatureReserve)) {
        return Fail(EXIT_FAILED, "%s; nothing written", error.c_str());
    }
    // The integrity block: each member's SHA-256, in table order.
    std::vector<uint8_t> digests;
    for (size_t k : b->order) digests.insert(digests.end(), b->packed[k].digest.begin(), b->packed[k].digest.end());
    size_t failed = 0;
    const zv::TableBuildError built =
        zv::BuildPackageTable(b->entries, b->layout.tableSize, &b->table, &failed, digests.data());
    if (built != zv::TableBuildError::None) {
        return Fail(EXIT_FAILED, "the file table cannot be built: %s; nothing written", zv::TableBuildErrorName(built));
    }
    return EXIT_OK;
}

// Stamps the package's header into the updater's image.
int StampBuild(Build* b) {
    const zv::PackageHeader header{zv::PACKAGE_MARKER,
                                   zv::PACKAGE_KEY,
                                   static_cast<uint16_t>(b->entries.size()),
                                   b->layout.tableOffset,
                                   b->layout.tableSize,
                                   b->layout.dataOffset,
                                   b->description.version,
                                   b->description.language};
    if (zv::StampPackageHeader(&b->image, header) != zv::HeaderSearch::Found) {
        return Fail(EXIT_FAILED, "%s: the header block cannot be stamped; nothing written", b->args.updater.c_str());
    }
    return EXIT_OK;
}

// Writes the volumes (volume 1 signed when asked) and tells what was written.
int WriteBuild(Build* b) {
    const BuildArguments& args = b->args;
    PackageWriteReport& report = b->report;
    report.waiting = [](const std::string& output) {
        std::fprintf(stderr, "quillon: another build is putting its package in place of %s; waiting for it\n",
                     output.c_str());
    };
    if (args.sign.enabled()) {
        const uint64_t limit = args.volumeSize;
        const SignOptions sign = args.sign;
        uint64_t* signedSize = &b->signedFirstVolume;
        report.finishFirstVolume = [sign, limit, signedSize](const std::string& path, std::string* why) {
            if (!SignFile(sign, path, why)) return false;
            std::error_code ec;
            const uint64_t size = std::filesystem::file_size(path, ec);
            *signedSize = ec ? 0 : size;
            if (limit != 0 && size > limit) {
                *why = "signed, volume 1 is " + std::to_string(size) + " bytes, more than --volume-size " +
                       std::to_string(limit) + "; the signature grew past the room kept for it";
                return false;
            }
            return true;
        };
    }
    std::string error;
    if (!WritePackage(args.output, b->image, b->table, b->entries, b->streams, &b->spool, b->layout, &report,
                      &error)) {
        return Fail(EXIT_FAILED, "%s; nothing written", error.c_str());
    }
    PrintSummary(*b);
    if (args.sign.enabled()) std::printf("volume 1 signed, and the signature checked with osslsigncode verify\n");
    if (!report.removedStale.empty()) {
        std::fprintf(stderr, "quillon: note: removed %zu volume%s left from an earlier, longer package:",
                     report.removedStale.size(), report.removedStale.size() == 1 ? "" : "s");
        for (const std::string& path : report.removedStale) std::fprintf(stderr, " %s", path.c_str());
        std::fputc('\n', stderr);
    }
    for (const std::string& path : report.keptStale) {
        std::fprintf(stderr,
                     "quillon: note: %s has the name of a volume of this package but is not one; it was left alone\n",
                     path.c_str());
    }
    return EXIT_OK;
}

}  // namespace

int RunBuild(int argc, char** argv) {
    if (WantsHelp(argc, argv)) {
        std::fputs(kBuildHelp, stdout);
        return EXIT_OK;
    }
    Build build;
    if (const int code = ParseBuildArguments(argc, argv, &build.args); code != EXIT_OK) return code;
    if (!CheckBuild(&build) || !PackBuild(&build)) return build.problems.Fail();
    if (const int code = LayOutBuild(&build); code != EXIT_OK) return code;
    if (const int code = StampBuild(&build); code != EXIT_OK) return code;
    return WriteBuild(&build);
}

}  // namespace quillon
