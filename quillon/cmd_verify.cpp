// quillon verify FILE [--source DIR]: every member expanded through the
// updater's own volume reader and decoder, and compared with its source.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "package/member_name.h"
#include "quillon/cli.h"
#include "quillon/commands.h"
#include "quillon/host_paths.h"
#include "quillon/package_expander.h"
#include "quillon/shown_text.h"
#include "quillon/terminal_ui.h"

namespace quillon {
namespace {

const char kVerifyHelp[] =
    "usage: quillon verify FILE [--source DIR]\n"
    "\n"
    "Expands every member of the stamped updater FILE through the updater's own\n"
    "volume reader and LZHUF decoder, taking further volumes (FILE's name with\n"
    "002, 003, ... for its extension) from beside FILE, and checks that each\n"
    "expands whole, to exactly the size its stream gives. With --source, each\n"
    "member is also compared byte for byte with the file of its name under DIR\n"
    "(a \\ in a name is a subdirectory).\n"
    "\n"
    "Every name is checked first as the updater checks it; a member whose name\n"
    "the updater refuses is BAD and its source is never looked for.\n"
    "\n"
    "Prints a line per member (control characters in names shown as \\xNN).\n"
    "Exits with 0 when every member is sound (and equal to its source), 1 when\n"
    "one is not, FILE is not a stamped updater or the updater would refuse it,\n"
    "2 for a wrong command line.\n";

// Compares what the decoder writes with a source file, as it comes.
struct SourceComparison {
    std::ifstream source;
    uint64_t offset = 0;
    bool differs = false;
    uint64_t firstDifference = 0;

    bool Take(const uint8_t* bytes, uint32_t count) {
        std::vector<char> expected(count);
        source.read(expected.data(), count);
        const uint32_t got = static_cast<uint32_t>(source.gcount());
        if (!differs) {
            uint32_t k = 0;
            while (k < got && static_cast<uint8_t>(expected[k]) == bytes[k]) ++k;
            if (k < count) {
                differs = true;
                firstDifference = offset + k;
            }
        }
        offset += count;
        return true;
    }

    bool SourceHasMore() { return source.peek() != std::char_traits<char>::eof(); }
};

}  // namespace

int RunVerify(int argc, char** argv) {
    if (WantsHelp(argc, argv)) {
        std::fputs(kVerifyHelp, stdout);
        return EXIT_OK;
    }
    std::string file;
    std::string sourceDir;
    bool haveSource = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--source") == 0 && i + 1 < argc && !haveSource) {
            sourceDir = argv[++i];
            haveSource = true;
        } else if (argv[i][0] != '-' && file.empty()) {
            file = argv[i];
        } else {
            std::fputs(kVerifyHelp, stderr);
            return EXIT_USAGE;
        }
    }
    if (file.empty()) {
        std::fputs(kVerifyHelp, stderr);
        return EXIT_USAGE;
    }

    zv::Platform& os = zv::HostPlatform();
    TerminalUi ui(false);
    PackageExpander expander(os, ui);
    std::string error;
    if (!expander.Open(file, &error)) return Fail(EXIT_FAILED, "%s", error.c_str());
    ui.WatchReader(&expander.reader(), &os);

    const zv::PackageTable& table = expander.file().table;
    unsigned bad = 0;
    zv::PackageEntry entry = zv::FirstPackageEntry(table);
    for (unsigned i = 0; i < table.entryCount; ++i, entry = zv::NextPackageEntry(entry)) {
        const std::string name = zv::EntryName(entry);
        const std::string shown = Shown(name);
        // The name first: a refused one is never joined to DIR.
        std::string refused;
        const zv::MemberNameProblem nameProblem = zv::CheckMemberName(name.c_str());
        if (nameProblem != zv::MemberNameProblem::None) {
            refused = zv::MemberNameProblemName(nameProblem);
        } else if (table.status == zv::TableStatus::NamesRefused && table.check.entryIndex == i) {
            refused = std::string(zv::MemberNameProblemName(table.check.nameProblem)) + " (entry " +
                      std::to_string(table.check.earlierIndex + 1) + ")";
        }
        if (!refused.empty()) {
            ++bad;
            std::printf("  BAD   %-32s name refused by the updater: %s\n", shown.c_str(), refused.c_str());
            continue;
        }
        SourceComparison comparison;
        bool sourceMissing = false;
        if (haveSource) {
            comparison.source.open(MemberHostPath(sourceDir, name), std::ios::binary);
            sourceMissing = !comparison.source.is_open();
        }
        const int messagesBefore = ui.messages;
        const MemberWriter writer = [&](const uint8_t* bytes, uint32_t count) {
            return !haveSource || sourceMissing || comparison.Take(bytes, count);
        };
        const ExpandResult result = expander.Expand(entry, writer);

        std::string problem;
        const uint32_t sizeKB = zv::EntrySizeKB(entry);
        if (!result.done && sizeKB != 0xFFFF && result.declaredSize > sizeKB * 1024u) {
            problem = "cannot be expanded: its stream declares " + std::to_string(result.declaredSize) +
                      " bytes, more than the " + std::to_string(sizeKB) + " KB of its record";
        } else if (!result.done) {
            problem = ui.messages > messagesBefore ? "cannot be expanded: " + ui.lastMessage
                                                   : "cannot be expanded: its stream ends before its size";
        } else if (result.written != result.declaredSize) {
            problem = "its last match runs " + std::to_string(result.written - result.declaredSize) +
                      " bytes past its size " + std::to_string(result.declaredSize);
        } else if (sourceMissing) {
            problem = "no source file " + Shown(MemberHostPath(sourceDir, name));
        } else if (haveSource && comparison.differs) {
            problem = "differs from its source from byte " + std::to_string(comparison.firstDifference) + " on";
        } else if (haveSource && comparison.SourceHasMore()) {
            problem = "its source is longer (" + std::to_string(result.declaredSize) + " bytes expanded)";
        }
        const uint64_t expectKB = (static_cast<uint64_t>(result.declaredSize) + 1023) / 1024;
        std::string note;
        if (result.done && sizeKB != (expectKB > 0xFFFF ? 0xFFFF : expectKB)) {
            note = " (the table says " + std::to_string(sizeKB) + " KB)";
        }
        if (problem.empty()) {
            std::printf("  ok    %-32s %10" PRIu32 " bytes%s%s\n", shown.c_str(), result.declaredSize,
                        haveSource ? ", equal to its source" : "", note.c_str());
        } else {
            ++bad;
            std::printf("  BAD   %-32s %s%s\n", shown.c_str(), problem.c_str(), note.c_str());
        }
    }
    if (bad != 0) {
        return Fail(EXIT_FAILED, "%s: %u of %u members are not sound", Shown(file).c_str(), bad,
                    static_cast<unsigned>(table.entryCount));
    }
    std::printf("%s: all %u members sound\n", Shown(file).c_str(), static_cast<unsigned>(table.entryCount));
    return EXIT_OK;
}

}  // namespace quillon
