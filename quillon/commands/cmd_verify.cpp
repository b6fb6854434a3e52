// quillon verify FILE [--source DIR]: every member expanded through the
// updater's own volume reader and decoder, checked against the SHA-256 that
// the package's integrity data holds for it, and compared with its source.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "package/member_name.h"
#include "platform/sha256.h"
#include "quillon/base/cli.h"
#include "quillon/commands/commands.h"
#include "quillon/pack/description.h"
#include "quillon/base/name_encoding.h"
#include "quillon/base/host_paths.h"
#include "quillon/report/json.h"
#include "quillon/read/member_sources.h"
#include "quillon/pack/package_layout.h"
#include "quillon/report/progress.h"
#include "quillon/read/package_expander.h"
#include "quillon/base/shown_text.h"
#include "quillon/sign/signing.h"
#include "quillon/report/terminal_ui.h"
#include "transfer/stage.h"

namespace quillon {
namespace {

const char kVerifyHelp[] =
    "usage: quillon verify FILE [--source DIR | --description FILE] [--json]\n"
    "\n"
    "Expands every member of the stamped updater FILE through the updater's own\n"
    "volume reader and LZHUF decoder, taking further volumes (FILE's name with\n"
    "002, 003, ... for its extension) from beside FILE, and checks that each\n"
    "expands whole, to exactly the size its stream gives. When the package\n"
    "carries integrity data (quillon build writes it), the SHA-256 of each\n"
    "member's expanded bytes must be the one stored for it; damaged integrity\n"
    "data fails the whole package. The Authenticode signature of FILE, if it\n"
    "has one, is checked as well: the SHA-256 of the bytes it covers must be the\n"
    "one it signed (the signer's trust is left to osslsigncode verify). A\n"
    "broken signature, or a signed package without integrity data (which the\n"
    "updater refuses), fails the whole package. With --source, each\n"
    "member is also compared byte for byte with the file of its name under DIR\n"
    "(a \\ in a name is a subdirectory). With --description, each member is\n"
    "compared with the source file that the package's description names for\n"
    "it, and a member the description has and the package has not is a fault.\n"
    "With --json, the result is one JSON object (docs/json-output.md). A\n"
    "progress bar shows on a terminal.\n"
    "\n"
    "Every name is checked first as the updater checks it; a member whose name\n"
    "the updater refuses (on every machine: too long even below a drive's\n"
    "root) is BAD and its source is never looked for.\n"
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

// The signature's state in words.
std::string SignatureText(const SignatureReport& signature) {
    switch (signature.state) {
    case SignatureState::None: return "none";
    case SignatureState::Sound:
        return "present and sound: the file's bytes are the ones it signed (its signer's trust is for "
               "osslsigncode verify and Windows to tell)";
    case SignatureState::Broken: return "BROKEN: " + signature.detail;
    case SignatureState::Unchecked: return "present, not checked: " + signature.detail;
    }
    return "unknown";
}

// Why the updater refuses the file for its signature, or empty: a broken
// signature, or a signed package whose members nothing binds to it.
std::string SignatureRefusal(const SignatureReport& signature, const zv::PackageIntegrity& integrity) {
    if (signature.state == SignatureState::Broken) return "its signature is broken; the updater refuses to run";
    if (signature.state != SignatureState::None && integrity.status != zv::IntegrityStatus::Present) {
        return "it is signed but carries no integrity data that binds its members to the signature; the updater "
               "refuses it";
    }
    return std::string();
}

// The verdict on each member: a line each, or one JSON object at the end.
class VerifyReport {
public:
    explicit VerifyReport(bool json) : json_(json) {}

    void Member(const std::string& name, uint32_t size, const std::string& problem, bool equalToSource,
                const std::string& note, bool digestChecked = false) {
        if (json_) {
            members_.push_back(Line{name, size, problem, equalToSource, note, digestChecked});
        } else if (problem.empty()) {
            std::printf("  ok    %-32s %10" PRIu32 " bytes%s%s%s\n", name.c_str(), size,
                        digestChecked ? ", SHA-256 matches" : "", equalToSource ? ", equal to its source" : "",
                        note.c_str());
        } else {
            std::printf("  BAD   %-32s %s%s\n", name.c_str(), problem.c_str(), note.c_str());
        }
    }

    int Finish(const std::string& file, unsigned bad, unsigned entries, const zv::PackageIntegrity& integrity,
               const SignatureReport& signature) {
        const std::string refusal = SignatureRefusal(signature, integrity);
        if (json_) {
            JsonWriter json;
            json.BeginObject();
            json.Key("file").String(file);
            json.Key("sound").Bool(bad == 0 && refusal.empty());
            json.Key("bad").Number(bad);
            json.Key("integrity").String(IntegrityWord(integrity));
            json.Key("signature").String(SignatureStateWord(signature.state));
            json.Key("signatureProblem");
            if (refusal.empty()) {
                json.Null();
            } else {
                json.String(refusal);
            }
            json.Key("members").BeginArray();
            for (const Line& m : members_) {
                json.BeginObject();
                json.Key("name").String(m.name);
                json.Key("ok").Bool(m.problem.empty());
                json.Key("size").Number(m.size);
                json.Key("equalToSource").Bool(m.equalToSource);
                json.Key("digestChecked").Bool(m.digestChecked);
                json.Key("problem");
                if (m.problem.empty()) {
                    json.Null();
                } else {
                    json.String(m.problem);
                }
                json.EndObject();
            }
            json.EndArray();
            json.EndObject();
            return bad == 0 && refusal.empty() ? EXIT_OK : EXIT_FAILED;
        }
        if (integrity.status == zv::IntegrityStatus::Present) {
            std::printf("integrity data: every member's SHA-256 checked\n");
        } else {
            std::printf("integrity data: %s; members checked for sound expansion only\n",
                        IntegrityText(integrity).c_str());
        }
        std::printf("signature: %s\n", SignatureText(signature).c_str());
        if (!refusal.empty()) return Fail(EXIT_FAILED, "%s: %s", file.c_str(), refusal.c_str());
        if (bad != 0) return Fail(EXIT_FAILED, "%s: %u of %u members are not sound", file.c_str(), bad, entries);
        std::printf("%s: all %u members sound\n", file.c_str(), entries);
        return EXIT_OK;
    }

private:
    struct Line {
        std::string name;
        uint32_t size;
        std::string problem;
        bool equalToSource;
        std::string note;
        bool digestChecked;
    };
    bool json_;
    std::vector<Line> members_;
};

}  // namespace

int RunVerify(int argc, char** argv) {
    if (WantsHelp(argc, argv)) {
        std::fputs(kVerifyHelp, stdout);
        return EXIT_OK;
    }
    ParsedArguments parsed;
    std::vector<std::string> errors;
    ParseArguments(argc, argv, {{"--source", true}, {"--description", true}, {"--json", false}}, 1, &parsed, &errors);
    if (parsed.positionals.empty()) errors.push_back("the FILE to verify is missing");
    if (parsed.Has("--source") && parsed.Has("--description")) {
        errors.push_back("--source and --description are two ways to find the sources; give one");
    }
    if (!errors.empty()) {
        return FailUsage("verify", errors, "usage: quillon verify FILE [--source DIR | --description FILE] [--json]\n");
    }
    const std::string file = parsed.positionals[0];
    const bool haveSource = parsed.Has("--source") || parsed.Has("--description");
    const bool json = parsed.Has("--json");
    MemberSources sources;
    if (parsed.Has("--description")) {
        std::string why;
        if (!sources.UseDescription(parsed.Value("--description"), &why)) return Fail(EXIT_FAILED, "%s", why.c_str());
    } else {
        sources.UseDirectory(parsed.Value("--source"));
    }

    zv::Platform& os = zv::HostPlatform();
    TerminalUi ui(false);
    PackageExpander expander(os, ui);
    std::string error;
    if (!expander.Open(file, &error)) return Fail(EXIT_FAILED, "%s", error.c_str());

    const zv::PackageTable& table = expander.file().table;
    const zv::PackageIntegrity& integrity = expander.file().integrity;
    const uint32_t language = expander.file().header.language;
    VerifyReport report(json);
    ProgressBar bar("verifying", TableExpandedSize(table));
    uint64_t expanded = 0;
    unsigned bad = 0;
    zv::PackageEntry entry = zv::FirstPackageEntry(table);
    for (unsigned i = 0; i < table.entryCount; ++i, entry = zv::NextPackageEntry(entry)) {
        const char* rawName = zv::EntryName(entry);
        const std::string name = ShownMemberName(rawName, language);
        // The name first: a refused one is never joined to DIR.
        std::string refused = RefusedNameReason(table, i, rawName);
        if (refused.empty() && zv::LongestTargetDirectory(rawName) < zv::SHORTEST_TARGET_DIRECTORY) {
            // The transfer's own rule: no target directory, not even a
            // drive's root, leaves room for this name.
            refused = std::string(zv::MemberNameProblemName(zv::MemberNameProblem::TooLong)) +
                      ": below any directory, even a drive's root";
        }
        if (!refused.empty()) {
            ++bad;
            report.Member(name, 0, "name refused by the updater: " + refused, false, "");
            continue;
        }
        SourceComparison comparison;
        bool sourceMissing = false;
        const std::string sourcePath = haveSource ? sources.SourceOf(zv::EntryName(entry), language) : std::string();
        if (haveSource) {
            if (!sourcePath.empty()) comparison.source.open(sourcePath, std::ios::binary);
            sourceMissing = !comparison.source.is_open();
        }
        // The digest of exactly what the decoder writes, when the package
        // holds one to compare it with.
        const uint8_t* expectedDigest = zv::MemberDigest(integrity, i);
        zv::MemberDigestCheck digestCheck;
        zv::BeginMemberDigestCheck(&digestCheck, expectedDigest);
        const MemberWriter writer = [&](const uint8_t* bytes, uint32_t count) {
            expanded += count;
            bar.Show(expanded, name);
            zv::TakeMemberBytes(&digestCheck, bytes, count);
            return !haveSource || sourceMissing || comparison.Take(bytes, count);
        };
        bar.Show(expanded, name);
        const ExpandResult result = expander.Expand(entry, writer);
        zv::EndMemberDigestCheck(&digestCheck);
        const zv::Sha256Status hashed = digestCheck.status;
        const bool digestDiffers = digestCheck.differs;

        std::string problem;
        const uint32_t sizeKB = zv::EntrySizeKB(entry);
        if (!result.done() && result.declaredSize > zv::EntrySizeLimit(entry)) {
            problem = "cannot be expanded: its stream declares " + std::to_string(result.declaredSize) +
                      " bytes, more than the " + std::to_string(sizeKB) + " KB of its record";
        } else if (result.outcome == zv::DecodeOutcome::ReadFailed || result.outcome == zv::DecodeOutcome::Damaged) {
            problem = "cannot be expanded: " + ReadFailureText(os, result.failure);
        } else if (!result.done()) {
            problem = std::string("cannot be expanded: ") + zv::DecodeOutcomeName(result.outcome);
        } else if (result.written != result.declaredSize) {
            problem = "its last match runs " + std::to_string(result.written - result.declaredSize) +
                      " bytes past its size " + std::to_string(result.declaredSize);
        } else if (hashed != zv::Sha256Status::Ok) {
            problem = std::string("its SHA-256 cannot be taken: ") + zv::Sha256StatusName(hashed);
        } else if (digestDiffers) {
            problem = "damaged: its expanded bytes do not have the SHA-256 that the package's integrity data holds "
                      "for it";
        } else if (sourceMissing) {
            problem = sourcePath.empty() ? "the description has no member of this name"
                                         : "no source file " + ShownUtf8(sourcePath);
        } else if (haveSource && comparison.differs) {
            problem = "differs from its source from byte " + std::to_string(comparison.firstDifference) + " on";
        } else if (haveSource && comparison.SourceHasMore()) {
            problem = "its source is longer (" + std::to_string(result.declaredSize) + " bytes expanded)";
        }
        std::string note;
        if (result.done() && sizeKB != TableSizeKB(result.declaredSize)) {
            note = " (the table says " + std::to_string(sizeKB) + " KB)";
        }
        // A name that fits only below a short product directory: plan tells
        // whether it fits on a given machine.
        const int32_t longestDirectory = zv::LongestTargetDirectory(rawName);
        if (longestDirectory < static_cast<int32_t>(kTypicalProductDirectory)) {
            note += " (the updater can write it only below a directory of at most " +
                    std::to_string(longestDirectory) + " characters)";
        }
        bar.Clear();
        if (!problem.empty()) ++bad;
        report.Member(name, result.declaredSize, problem, haveSource && problem.empty(), note,
                      expectedDigest != nullptr && problem.empty());
    }
    bar.Clear();
    for (const std::string& missing : sources.NotAskedFor()) {
        ++bad;
        report.Member(missing, 0, "in the description, but not in the package", false, "");
    }
    return report.Finish(file, bad, static_cast<unsigned>(table.entryCount), integrity, CheckFileSignature(file));
}

}  // namespace quillon
