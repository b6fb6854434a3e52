// quillon list FILE: what a stamped updater carries.
#include <cinttypes>
#include <cstdio>
#include <string>

#include "detect/product_version.h"
#include "quillon/base/cli.h"
#include "quillon/base/name_encoding.h"
#include "quillon/report/json_reports.h"
#include "quillon/commands/commands.h"
#include "quillon/base/shown_text.h"
#include "quillon/read/updater_file.h"

namespace quillon {
namespace {

const char kListHelp[] =
    "usage: quillon list FILE [--json]\n"
    "\n"
    "Prints the package stamped into the updater FILE: its header (entries,\n"
    "table and data offsets, version, language, whether it carries integrity\n"
    "data) and one line per entry (name, flags, version, expanded size and\n"
    "where its compressed pieces lie).\n"
    "Names are shown in UTF-8, converted from the code page of the package's\n"
    "language, with control characters as \\xNN. With --json, the same as one\n"
    "JSON object (docs/json-output.md). Exits with 0, 1 when FILE is not a\n"
    "stamped updater or its table is damaged, a member's name included (one the\n"
    "updater would refuse), 2 for a wrong command line.\n";

std::string FlagNames(uint16_t flags) {
    std::string names;
    auto add = [&names](const char* name) {
        if (!names.empty()) names += ',';
        names += name;
    };
    if (flags & zv::ENTRY_IGNORED) add("ignored");
    if (flags & zv::ENTRY_SHARED) add("shared");
    if (flags & zv::ENTRY_UPDATE_ONLY) add("update-only");
    uint16_t other = flags & static_cast<uint16_t>(~(zv::ENTRY_IGNORED | zv::ENTRY_SHARED |
                                                      zv::ENTRY_UPDATE_ONLY));
    if (other != 0) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%02X", other);
        add(hex);
    }
    return names.empty() ? "-" : names;
}

std::string VersionText(zv::ProductVersion v) {
    char shown[32];
    char parts[32];
    zv::FormatVersion(v, shown, sizeof shown);
    zv::FormatVersionParts(v, parts, sizeof parts);
    return std::string(shown) + " (" + parts + ")";
}

void PrintHeader(const UpdaterFile& f) {
    const zv::PackageHeader& h = f.header;
    std::printf("%s: stamped updater, %zu bytes\n", f.path.c_str(), f.fileSize);
    std::printf("  header at     0x%08zX\n", f.headerOffset);
    std::printf("  entries       %u\n", static_cast<unsigned>(h.entryCount));
    std::printf("  table         offset 0x%08" PRIX32 ", %" PRIu32 " bytes\n", h.tableOffset, h.tableSize);
    std::printf("  data          offset 0x%08" PRIX32 "\n", h.dataOffset);
    std::printf("  version       %s\n", VersionText(h.version).c_str());
    std::printf("  language      0x%04" PRIX32 "\n", h.language);
    std::printf("  integrity     %s\n", IntegrityText(f.integrity).c_str());
}

void PrintEntries(const UpdaterFile& f) {
    std::printf("\n  %3s  %-24s %-22s %-22s %8s  %s\n", "#", "name", "flags", "version", "size KB",
                "pieces (volume:offset+length)");
    zv::PackageEntry e = zv::FirstPackageEntry(f.table);
    for (unsigned i = 0; i < f.table.entryCount; ++i, e = zv::NextPackageEntry(e)) {
        std::string pieces;
        for (const uint8_t* p = zv::EntryPieces(e);; p += zv::PACKAGE_PIECE_SIZE) {
            zv::PackagePiece piece = zv::ReadPackagePiece(p);
            if (zv::IsLastPiece(piece)) break;
            char text[48];
            std::snprintf(text, sizeof text, "%s%u:0x%08" PRIX32 "+%" PRIu32, pieces.empty() ? "" : " ",
                          static_cast<unsigned>(piece.volume), piece.offset, piece.length);
            pieces += text;
        }
        std::string version = zv::EntryHasVersion(e) ? VersionText(zv::EntryVersion(e)) : "-";
        std::printf("  %3u  %-24s %-22s %-22s %8u  %s\n", i + 1,
                    ShownMemberName(zv::EntryName(e), f.header.language).c_str(),
                    FlagNames(zv::EntryFlags(e)).c_str(), version.c_str(),
                    static_cast<unsigned>(zv::EntrySizeKB(e)), pieces.c_str());
        const zv::MemberNameProblem problem = zv::CheckMemberName(zv::EntryName(e));
        if (problem != zv::MemberNameProblem::None) {
            std::printf("       ^ refused name: %s\n", zv::MemberNameProblemName(problem));
        }
    }
}

}  // namespace

int RunList(int argc, char** argv) {
    if (WantsHelp(argc, argv)) {
        std::fputs(kListHelp, stdout);
        return EXIT_OK;
    }
    ParsedArguments parsed;
    std::vector<std::string> errors;
    ParseArguments(argc, argv, {{"--json", false}}, 1, &parsed, &errors);
    if (parsed.positionals.empty()) errors.push_back("the FILE to list is missing");
    if (!errors.empty()) return FailUsage("list", errors, "usage: quillon list FILE [--json]\n");
    zv::Platform& os = zv::HostPlatform();
    UpdaterFile file;
    std::string error;
    if (OpenUpdaterFile(os, parsed.positionals[0], &file, &error) != UpdaterOpen::Ok) {
        CloseUpdaterFile(os, &file);
        return Fail(EXIT_FAILED, "%s", error.c_str());
    }
    if (parsed.Has("--json")) {
        PrintPackageJson(file);
    } else {
        PrintHeader(file);
        PrintEntries(file);
    }
    const std::string refused = TableNameProblem(file.table);
    CloseUpdaterFile(os, &file);
    if (!refused.empty()) return Fail(EXIT_FAILED, "%s: %s", Shown(argv[1]).c_str(), refused.c_str());
    return EXIT_OK;
}

}  // namespace quillon
