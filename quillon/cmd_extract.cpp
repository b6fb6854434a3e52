// quillon extract FILE DIR: every member written under DIR through the
// updater's own volume reader and decoder.
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "package/member_name.h"
#include "quillon/cli.h"
#include "quillon/commands.h"
#include "quillon/description.h"
#include "quillon/host_paths.h"
#include "quillon/package_expander.h"
#include "quillon/terminal_ui.h"

namespace quillon {
namespace {

const char kExtractHelp[] =
    "usage: quillon extract FILE DIR\n"
    "\n"
    "Writes every member of the stamped updater FILE under the directory DIR\n"
    "(created when missing; a \\ in a member's name is a subdirectory), expanded\n"
    "through the updater's own volume reader and LZHUF decoder. Further volumes\n"
    "are looked for beside FILE (its name with 002, 003, ... for its\n"
    "extension); the updater's questions (insert disk, read and write errors)\n"
    "are asked on the terminal. When stdin is not a terminal they take their\n"
    "defaults: OK for a disk whose file is there, otherwise Cancel.\n"
    "\n"
    "A member that cannot be written whole is not left behind. Exits with 0\n"
    "when every member was written, 1 when one was not or FILE is not a\n"
    "stamped updater, 2 for a wrong command line.\n";

}  // namespace

int RunExtract(int argc, char** argv) {
    if (WantsHelp(argc, argv)) {
        std::fputs(kExtractHelp, stdout);
        return EXIT_OK;
    }
    if (argc != 3 || argv[1][0] == '-' || argv[2][0] == '-') {
        std::fputs(kExtractHelp, stderr);
        return EXIT_USAGE;
    }
    const std::string file = argv[1];
    const std::string dir = argv[2];

    zv::Platform& os = zv::HostPlatform();
    TerminalUi ui(true);
    PackageExpander expander(os, ui);
    std::string error;
    if (!expander.Open(file, &error)) return Fail(EXIT_FAILED, "%s", error.c_str());
    ui.WatchReader(&expander.reader(), &os);

    const zv::PackageTable& table = expander.file().table;
    unsigned bad = 0;
    zv::PackageEntry entry = zv::FirstPackageEntry(table);
    for (unsigned i = 0; i < table.entryCount; ++i, entry = zv::NextPackageEntry(entry)) {
        const std::string name = zv::EntryName(entry);
        // A name from a package is outside input: it must stay under DIR.
        const zv::MemberNameProblem nameProblem = zv::CheckMemberName(name.c_str());
        if (nameProblem != zv::MemberNameProblem::None) {
            ++bad;
            std::printf("  BAD   %-32s not written: %s\n", name.c_str(), zv::MemberNameProblemName(nameProblem));
            continue;
        }
        const std::string target = MemberHostPath(dir, name);
        std::error_code ec;
        std::filesystem::create_directories(std::filesystem::path(target).parent_path(), ec);
        std::FILE* out = std::fopen(target.c_str(), "wb");
        if (out == nullptr) {
            ++bad;
            std::printf("  BAD   %-32s cannot create %s\n", name.c_str(), target.c_str());
            continue;
        }
        const MemberWriter writer = [out](const uint8_t* bytes, uint32_t count) {
            return std::fwrite(bytes, 1, count, out) == count;
        };
        const int messagesBefore = ui.messages;
        const ExpandResult result = expander.Expand(entry, writer);
        const bool closed = std::fclose(out) == 0;
        std::string problem;
        if (!result.done) {
            problem = ui.messages > messagesBefore ? "not written: " + ui.lastMessage
                                                   : "not written: its stream ends before its size";
        } else if (!closed) {
            problem = "not written: " + target + " cannot be closed";
        } else if (result.written != result.declaredSize) {
            // The updater would write the same bytes; keep them, but say so.
            std::printf("  warning: %s: its last match runs %" PRIu64 " bytes past its size\n", name.c_str(),
                        result.written - result.declaredSize);
        }
        if (problem.empty()) {
            std::printf("  ok    %-32s %10" PRIu64 " bytes\n", name.c_str(), result.written);
        } else {
            ++bad;
            std::remove(target.c_str());
            std::printf("  BAD   %-32s %s\n", name.c_str(), problem.c_str());
        }
    }
    if (bad != 0) {
        return Fail(EXIT_FAILED, "%s: %u of %u members not written", file.c_str(), bad,
                    static_cast<unsigned>(table.entryCount));
    }
    std::printf("%s: %u members written under %s\n", file.c_str(), static_cast<unsigned>(table.entryCount),
                dir.c_str());
    return EXIT_OK;
}

}  // namespace quillon
