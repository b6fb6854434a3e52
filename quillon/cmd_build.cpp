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
#include "quillon/auto_version.h"
#include "quillon/cli.h"
#include "quillon/commands.h"
#include "quillon/description.h"
#include "quillon/host_paths.h"
#include "quillon/machine.h"
#include "quillon/member_packer.h"
#include "quillon/package_layout.h"
#include "quillon/package_writer.h"
#include "quillon/progress.h"

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
    "  --language ID        the user's language for version=auto, a hexadecimal\n"
    "                       language id (default 0409, U.S. English): of a\n"
    "                       version resource in several languages none of which\n"
    "                       is neutral, the one in this language is read, else\n"
    "                       U.S. English, else the first\n"
    "\n"
    "The table lists the shared files first, then the product files, then the\n"
    "ignored ones, each group in the order of the description: the order in\n"
    "which the updater reads them, so that it asks for the disks in turn.\n"
    "\n"
    "Exits with 1 when the description, a source or the updater is not usable\n"
    "(every problem is listed), 2 for a wrong command line.\n";

struct BuildArguments {
    std::string description;
    std::string updater;
    std::string output;
    uint64_t volumeSize = 0;
    unsigned jobs = 0;
    uint16_t language = zv::kUsEnglish;
};

bool ParseSize(const char* text, uint64_t* size) {
    char* end = nullptr;
    if (*text < '0' || *text > '9') return false;
    unsigned long long value = std::strtoull(text, &end, 10);
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

int ParseArguments(int argc, char** argv, BuildArguments* args) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--updater" && hasValue && args->updater.empty()) {
            args->updater = argv[++i];
        } else if (a == "--output" && hasValue && args->output.empty()) {
            args->output = argv[++i];
        } else if (a == "--volume-size" && hasValue) {
            if (!ParseSize(argv[++i], &args->volumeSize)) {
                return Fail(EXIT_USAGE, "--volume-size: '%s' is not a size of 1 to %" PRIu64 " bytes", argv[i],
                            kMaxVolumeSize);
            }
        } else if (a == "--jobs" && hasValue) {
            const char* text = argv[++i];
            char* end = nullptr;
            const unsigned long jobs = std::strtoul(text, &end, 10);
            if (*text < '0' || *text > '9' || *end != '\0' || jobs == 0 || jobs > 64) {
                return Fail(EXIT_USAGE, "--jobs: '%s' is not a number of 1 to 64", text);
            }
            args->jobs = static_cast<unsigned>(jobs);
        } else if (a == "--language" && hasValue) {
            if (!ParseLanguageId(argv[++i], &args->language)) {
                return Fail(EXIT_USAGE, "--language wants a hexadecimal language id such as 0407, not '%s'", argv[i]);
            }
        } else if (a[0] != '-' && args->description.empty()) {
            args->description = a;
        } else {
            std::fputs(kBuildHelp, stderr);
            return EXIT_USAGE;
        }
    }
    if (args->description.empty() || args->updater.empty() || args->output.empty()) {
        std::fputs(kBuildHelp, stderr);
        return EXIT_USAGE;
    }
    if (args->jobs == 0) args->jobs = std::max(1u, std::thread::hardware_concurrency());
    return EXIT_OK;
}

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    return std::filesystem::equivalent(a, b, ec) && !ec;
}

// The unstamped updater: exactly one header block, with entryCount 0.
bool LoadUpdaterImage(const std::string& path, std::vector<uint8_t>* image, std::string* error) {
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
    return true;
}

std::string SourcePath(const std::string& descriptionPath, const std::string& source) {
    const std::filesystem::path p(source);
    if (p.is_absolute()) return source;
    return (std::filesystem::path(descriptionPath).parent_path() / p).string();
}

void PrintSummary(const std::vector<zv::EntryDescription>& entries, const std::vector<PackedMember>& packed,
                  const std::vector<size_t>& order, const PackageLayout& layout,
                  const std::vector<std::string>& written, double seconds) {
    uint64_t in = 0;
    uint64_t out = 0;
    std::printf("  %-32s %10s %10s %6s  %s\n", "name", "size", "packed", "ratio", "pieces");
    for (size_t i = 0; i < entries.size(); ++i) {
        const PackedMember& m = packed[order[i]];
        in += m.sourceSize;
        out += m.stream.size();
        std::string pieces;
        for (const zv::PackagePiece& p : entries[i].pieces) {
            if (!pieces.empty()) pieces += ' ';
            pieces += std::to_string(p.volume) + ":" + std::to_string(p.offset) + "+" + std::to_string(p.length);
        }
        std::printf("  %-32s %10" PRIu64 " %10zu %6.3f  %s\n", entries[i].name.c_str(), m.sourceSize,
                    m.stream.size(),
                    m.sourceSize ? static_cast<double>(m.stream.size()) / static_cast<double>(m.sourceSize) : 1.0,
                    pieces.c_str());
    }
    std::printf("%zu members, %" PRIu64 " bytes packed into %" PRIu64 " (%.3f) in %.2f s (%.1f MB/s)\n",
                entries.size(), in, out, in ? static_cast<double>(out) / static_cast<double>(in) : 1.0, seconds,
                seconds > 0 ? static_cast<double>(in) / seconds / 1e6 : 0.0);
    std::printf("table at %" PRIu32 ", %" PRIu32 " bytes; data from %" PRIu32 "\n", layout.tableOffset,
                layout.tableSize, layout.dataOffset);
    for (size_t v = 0; v < written.size(); ++v) {
        std::printf("volume %zu: %s (%" PRIu64 " bytes)\n", v + 1, written[v].c_str(), layout.volumeSizes[v]);
    }
}

}  // namespace

int RunBuild(int argc, char** argv) {
    if (WantsHelp(argc, argv)) {
        std::fputs(kBuildHelp, stdout);
        return EXIT_OK;
    }
    BuildArguments args;
    if (const int code = ParseArguments(argc, argv, &args); code != EXIT_OK) return code;

    // The description, every problem of it at once.
    std::vector<uint8_t> text;
    std::string error;
    if (!ReadWholeFile(args.description, &text, &error)) {
        return Fail(EXIT_FAILED, "%s: cannot read: %s", args.description.c_str(), error.c_str());
    }
    PackageDescription description;
    std::vector<DescriptionError> problems;
    if (!ParseDescription(std::string(text.begin(), text.end()), &description, &problems)) {
        for (const DescriptionError& p : problems) {
            if (p.line != 0) {
                std::fprintf(stderr, "%s:%u: %s\n", args.description.c_str(), p.line, p.message.c_str());
            } else {
                std::fprintf(stderr, "%s: %s\n", args.description.c_str(), p.message.c_str());
            }
        }
        return Fail(EXIT_FAILED, "%s: %zu problem%s; nothing written", args.description.c_str(), problems.size(),
                    problems.size() == 1 ? "" : "s");
    }

    std::vector<uint8_t> image;
    if (!LoadUpdaterImage(args.updater, &image, &error)) return Fail(EXIT_FAILED, "%s", error.c_str());
    if (SameFile(args.updater, args.output)) {
        return Fail(EXIT_FAILED, "%s: the output would overwrite the updater it is built from", args.output.c_str());
    }

    // Sources and versions, every problem at once.
    std::vector<PackedMember> packed(description.members.size());
    unsigned bad = 0;
    for (size_t i = 0; i < description.members.size(); ++i) {
        MemberDescription& m = description.members[i];
        PackedMember& p = packed[i];
        p.sourcePath = SourcePath(args.description, m.source);
        std::error_code ec;
        const bool regular = std::filesystem::is_regular_file(p.sourcePath, ec);
        p.sourceSize = regular ? std::filesystem::file_size(p.sourcePath, ec) : 0;
        if (!regular || ec) {
            std::fprintf(stderr, "%s:%u: %s: no such file\n", args.description.c_str(), m.line, p.sourcePath.c_str());
            ++bad;
            continue;
        }
        if (p.sourceSize > UINT32_MAX) {
            std::fprintf(stderr, "%s:%u: %s: larger than a member can be (4 GB - 1 bytes)\n",
                         args.description.c_str(), m.line, p.sourcePath.c_str());
            ++bad;
            continue;
        }
        if (m.versionSource == VersionSource::Auto && !ResolveAutoVersion(p.sourcePath, args.language, &m.version, &error)) {
            std::fprintf(stderr, "%s:%u: %s: %s\n", args.description.c_str(), m.line, p.sourcePath.c_str(),
                         error.c_str());
            ++bad;
        }
    }
    if (bad != 0) return Fail(EXIT_FAILED, "%u member%s cannot be packed; nothing written", bad, bad == 1 ? "" : "s");

    // Compression.
    const auto start = std::chrono::steady_clock::now();
    uint64_t total = 0;
    for (const PackedMember& p : packed) total += p.sourceSize;
    {
        ProgressBar bar("packing", total);
        const bool ok = PackMembers(&packed, args.jobs, [&bar](uint64_t done) { bar.Show(done); });
        bar.Clear();
        if (!ok) {
            for (size_t i = 0; i < packed.size(); ++i) {
                if (packed[i].error.empty()) continue;
                std::fprintf(stderr, "%s:%u: %s: %s\n", args.description.c_str(), description.members[i].line,
                             packed[i].sourcePath.c_str(), packed[i].error.c_str());
            }
            return Fail(EXIT_FAILED, "members could not be packed; nothing written");
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    // The table in reading order, laid out over the volumes.
    std::vector<uint16_t> flags;
    for (const MemberDescription& m : description.members) flags.push_back(m.flags);
    const std::vector<size_t> order = ReadingOrder(flags);
    std::vector<zv::EntryDescription> entries;
    std::vector<uint32_t> streamSizes;
    std::vector<const std::vector<uint8_t>*> streams;
    for (size_t k : order) {
        const MemberDescription& m = description.members[k];
        zv::EntryDescription e;
        e.name = m.name;
        e.flags = m.flags;
        const uint64_t kb = (packed[k].sourceSize + 1023) / 1024;
        if (kb > 0xFFFF) {
            std::fprintf(stderr, "quillon: note: %s: %" PRIu64 " KB do not fit the table's size field; it says 65535\n",
                         m.name.c_str(), kb);
        }
        e.sizeKB = static_cast<uint16_t>(kb > 0xFFFF ? 0xFFFF : kb);
        e.version = m.version;
        entries.push_back(e);
        streamSizes.push_back(static_cast<uint32_t>(packed[k].stream.size()));
        streams.push_back(&packed[k].stream);
    }
    PackageLayout layout;
    if (!LayOutPackage(image.size(), streamSizes, args.volumeSize, &entries, &layout, &error)) {
        return Fail(EXIT_FAILED, "%s", error.c_str());
    }
    std::vector<uint8_t> table;
    size_t failed = 0;
    const zv::TableBuildError built = zv::BuildPackageTable(entries, layout.tableSize, &table, &failed);
    if (built != zv::TableBuildError::None) {
        return Fail(EXIT_FAILED, "the file table cannot be built: %s", zv::TableBuildErrorName(built));
    }
    const zv::PackageHeader header{zv::PACKAGE_MARKER,
                                   zv::PACKAGE_KEY,
                                   static_cast<uint16_t>(entries.size()),
                                   layout.tableOffset,
                                   layout.tableSize,
                                   layout.dataOffset,
                                   description.version,
                                   description.language};
    if (zv::StampPackageHeader(&image, header) != zv::HeaderSearch::Found) {
        return Fail(EXIT_FAILED, "%s: the header block cannot be stamped", args.updater.c_str());
    }

    std::vector<std::string> written;
    if (!WritePackage(args.output, image, table, entries, streams, layout, &written, &error)) {
        return Fail(EXIT_FAILED, "%s; nothing written", error.c_str());
    }
    PrintSummary(entries, packed, order, layout, written, seconds);
    const std::string stale = VolumeHostPath(args.output, layout.volumeCount + 1);
    std::error_code ec;
    if (!stale.empty() && std::filesystem::exists(stale, ec)) {
        std::fprintf(stderr, "quillon: note: %s is left from an earlier build and is not part of this package\n",
                     stale.c_str());
    }
    return EXIT_OK;
}

}  // namespace quillon
