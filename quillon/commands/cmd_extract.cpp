// quillon extract FILE DIR: every member written under DIR through the
// updater's own volume reader and decoder.
//
// A package is outside input, and DIR may hold files of the user's: each
// member is checked by the updater's own name check, written into a new file
// of extract's own beside its target, and only then put in place; a file that
// is there already is left alone unless --force is given; a symbolic link
// inside DIR is never followed; nothing extract did not create is removed.

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "package/integrity.h"
#include "package/member_name.h"
#include "platform/sha256.h"
#include "quillon/base/cli.h"
#include "quillon/commands/commands.h"
#include "quillon/base/name_encoding.h"
#include "quillon/base/host_paths.h"
#include "quillon/base/interrupt.h"
#include "quillon/base/output_files.h"
#include "quillon/read/package_expander.h"
#include "quillon/report/progress.h"
#include "quillon/base/shown_text.h"
#include "quillon/report/terminal_ui.h"

namespace quillon {
namespace {

// Why a member could not be expanded into `own`, or "" when it was.
std::string WhyNotExpanded(zv::Platform& os, const ExpandResult& result, const std::string& own) {
    switch (result.outcome) {
    case zv::DecodeOutcome::Done: return std::string();
    case zv::DecodeOutcome::NoSize: return "its stream ends before its size";
    case zv::DecodeOutcome::ReadFailed:
    case zv::DecodeOutcome::Damaged: return ReadFailureText(os, result.failure);
    case zv::DecodeOutcome::SinkFailed: break;
    }
    return Shown(own) + ": " + std::strerror(errno);
}

namespace fs = std::filesystem;

const char kExtractHelp[] =
    "usage: quillon extract [--force] FILE DIR\n"
    "\n"
    "Writes every member of the stamped updater FILE under the directory DIR\n"
    "(created when missing; a \\ in a member's name is a subdirectory), expanded\n"
    "through the updater's own volume reader and LZHUF decoder. Further volumes\n"
    "are looked for beside FILE (its name with 002, 003, ... for its\n"
    "extension); the updater's questions (insert disk, read and write errors)\n"
    "are asked on the terminal. When stdin is not a terminal they take their\n"
    "defaults: a missing volume, or a file that is not the volume asked for,\n"
    "is then an error naming the file.\n"
    "\n"
    "Names are written in UTF-8, converted from the code page of the package's\n"
    "language. A progress bar shows on a terminal.\n"
    "\n"
    "A member whose expanded bytes do not have the SHA-256 that the package's\n"
    "integrity data holds for it is damaged and not written, as the updater\n"
    "would not install it. A member whose name the updater would refuse is not\n"
    "written. A file that is already there is not overwritten without --force.\n"
    "A symbolic link in DIR is never followed. Each member is written into a\n"
    "new file beside its target and put in place only when it is whole; a\n"
    "member that fails, or whose writing is interrupted (Ctrl-C), leaves\n"
    "nothing behind and every file that was there as it was.\n"
    "\n"
    "Exits with 0 when every member was written, 1 when one was not or FILE is\n"
    "not a stamped updater, 2 for a wrong command line.\n";

// Makes the directories of `relative` (a member's name, "\" between its
// parts; the last part is the file) below `base`, one at a time. Each part
// that is there must be a directory and not a link. Returns the directory
// the file goes into, or an empty path with the reason in *why.
fs::path MakeMemberDirectories(const fs::path& base, const std::string& relative, std::string* why) {
    fs::path at = base;
    size_t start = 0;
    for (;;) {
        const size_t end = relative.find('\\', start);
        if (end == std::string::npos) return at;
        at /= relative.substr(start, end - start);
        std::error_code ec;
        const fs::file_status status = fs::symlink_status(at, ec);
        if (fs::is_symlink(status)) {
            *why = Shown(at.string()) + " is a symbolic link, which extract does not follow";
            return fs::path();
        }
        if (status.type() == fs::file_type::not_found) {
            if (!fs::create_directory(at, ec) && ec) {
                *why = "cannot create " + Shown(at.string()) + ": " + ec.message();
                return fs::path();
            }
        } else if (!fs::is_directory(status)) {
            *why = Shown(at.string()) + " is there and is not a directory";
            return fs::path();
        }
        start = end + 1;
    }
}

// Puts the whole new file in place of `target`: without `replace` only when
// no file of that name is there (never overwriting one that appeared in the
// meantime), with it in place of whatever file or link is there (a link is
// replaced, not followed).
bool PlaceFile(const fs::path& from, const fs::path& target, bool replace, std::string* why) {
#ifdef _WIN32
    std::error_code ec;
    if (replace) {
        fs::rename(from, target, ec);
    } else if (std::rename(from.string().c_str(), target.string().c_str()) != 0) {
        ec = std::error_code(errno, std::generic_category());
    }
    if (!ec) return true;
    *why = ec.message();
    return false;
#else
    if (replace) {
        if (::rename(from.c_str(), target.c_str()) == 0) return true;
    } else if (::link(from.c_str(), target.c_str()) == 0) {
        ::unlink(from.c_str());
        return true;
    }
    *why = std::strerror(errno);
    return false;
#endif
}

}  // namespace

int RunExtract(int argc, char** argv) {
    if (WantsHelp(argc, argv)) {
        std::fputs(kExtractHelp, stdout);
        return EXIT_OK;
    }
    bool force = false;
    std::string file;
    std::string dir;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--force") == 0 && !force) {
            force = true;
        } else if (argv[i][0] != '-' && file.empty()) {
            file = argv[i];
        } else if (argv[i][0] != '-' && dir.empty()) {
            dir = argv[i];
        } else {
            std::fputs(kExtractHelp, stderr);
            return EXIT_USAGE;
        }
    }
    if (file.empty() || dir.empty()) {
        std::fputs(kExtractHelp, stderr);
        return EXIT_USAGE;
    }

    zv::Platform& os = zv::HostPlatform();
    TerminalUi ui(true);
    PackageExpander expander(os, ui);
    std::string error;
    if (!expander.Open(file, &error)) return Fail(EXIT_FAILED, "%s", Shown(error).c_str());
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (!fs::is_directory(dir, ec)) return Fail(EXIT_FAILED, "%s: cannot be made a directory", Shown(dir).c_str());

    const zv::PackageTable& table = expander.file().table;
    const uint32_t language = expander.file().header.language;
    // With integrity data, a member is written only when its bytes are the
    // ones the package was built from.
    zv::PackageIntegrity integrity;
    zv::ReadPackageIntegrity(table, &integrity);
    ProgressBar bar("extracting", TableExpandedSize(table));
    uint64_t expanded = 0;
    unsigned bad = 0;
    zv::PackageEntry entry = zv::FirstPackageEntry(table);
    for (unsigned i = 0; i < table.entryCount; ++i, entry = zv::NextPackageEntry(entry)) {
        const std::string name = zv::EntryName(entry);
        const std::string shown = ShownMemberName(name.c_str(), language);
        auto refuse = [&](const std::string& why) {
            ++bad;
            std::printf("  BAD   %-32s not written: %s\n", shown.c_str(), why.c_str());
        };
        // A name from a package is outside input: the updater's own check.
        const std::string refusedName = RefusedNameReason(table, i, name.c_str());
        if (!refusedName.empty()) {
            refuse("name refused: " + refusedName);
            continue;
        }
        std::string why;
        // The name as the host's file calls take it ("\\" still between parts).
        const std::string hostName = HostMemberName(name.c_str(), language);
        const fs::path directory = MakeMemberDirectories(dir, hostName, &why);
        if (directory.empty()) {
            refuse(why);
            continue;
        }
        const fs::path target = directory / hostName.substr(hostName.rfind('\\') + 1);
        const fs::file_status there = fs::symlink_status(target, ec);
        if (there.type() != fs::file_type::not_found && !force) {
            refuse(Shown(target.string()) + " is there already (--force to overwrite it)");
            continue;
        }
        if (fs::is_directory(there)) {
            refuse(Shown(target.string()) + " is a directory");
            continue;
        }
        // A new file of extract's own beside the target, created exclusively
        // (so never through a link).
        std::string ownPath;
        std::FILE* out = CreateTemporaryFile(target.string(), &ownPath, &why);
        if (out == nullptr) {
            refuse("cannot create a new file in " + Shown(directory.string()) + ": " + why);
            continue;
        }
        const fs::path own = ownPath;
        RemoveOnInterrupt(ownPath);
        zv::MemberDigestCheck digestCheck;
        zv::BeginMemberDigestCheck(&digestCheck, zv::MemberDigest(integrity, i));
        const MemberWriter writer = [&](const uint8_t* bytes, uint32_t count) {
            expanded += count;
            bar.Show(expanded, shown);
            zv::TakeMemberBytes(&digestCheck, bytes, count);
            return std::fwrite(bytes, 1, count, out) == count;
        };
        bar.Show(expanded, shown);
        const ExpandResult result = expander.Expand(entry, writer);
        const bool closed = std::fclose(out) == 0;
        bar.Clear();
        zv::EndMemberDigestCheck(&digestCheck);
        const zv::Sha256Status hashed = digestCheck.status;
        std::string problem = WhyNotExpanded(os, result, own.string());
        if (!problem.empty()) {
            problem = "not written: " + problem;
        } else if (hashed != zv::Sha256Status::Ok) {
            problem = std::string("not written: its SHA-256 cannot be taken: ") + zv::Sha256StatusName(hashed);
        } else if (digestCheck.differs) {
            problem = "not written: damaged: its expanded bytes do not have the SHA-256 that the package's "
                      "integrity data holds for it";
        } else if (!closed) {
            problem = "not written: " + Shown(own.string()) + " cannot be closed";
        } else if (!PlaceFile(own, target, force, &why)) {
            problem = "not written: " + Shown(target.string()) + ": " + why;
        } else if (result.written != result.declaredSize) {
            // The updater would write the same bytes; keep them, but say so.
            std::printf("  warning: %s: its last match runs %" PRIu64 " bytes past its size\n", shown.c_str(),
                        result.written - result.declaredSize);
        }
        if (problem.empty()) {
            std::printf("  ok    %-32s %10" PRIu64 " bytes\n", shown.c_str(), result.written);
        } else {
            ++bad;
            fs::remove(own, ec);  // extract's own new file; what was there stays
            std::printf("  BAD   %-32s %s\n", shown.c_str(), problem.c_str());
        }
        RemoveOnInterrupt(std::string());
    }
    if (bad != 0) {
        return Fail(EXIT_FAILED, "%s: %u of %u members not written", Shown(file).c_str(), bad,
                    static_cast<unsigned>(table.entryCount));
    }
    std::printf("%s: %u members written under %s\n", Shown(file).c_str(), static_cast<unsigned>(table.entryCount),
                Shown(dir).c_str());
    return EXIT_OK;
}

}  // namespace quillon
