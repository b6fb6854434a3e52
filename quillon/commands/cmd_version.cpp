// quillon version FILE [--expect NAME]: what the updater reads from a file's
// version resource.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "detect/file_version.h"
#include "detect/product_version.h"
#include "quillon/base/cli.h"
#include "quillon/commands/commands.h"
#include "quillon/machine/machine.h"

namespace quillon {
namespace {

const char kVersionHelp[] =
    "usage: quillon version FILE [--expect NAME] [--language ID]\n"
    "\n"
    "Reads the version resource of FILE (a PE32, PE32+ or 16-bit NE executable,\n"
    "whatever its name ends with) as the updater does, and prints the status\n"
    "(0 Matched, 1 Missing, 2 NoVersionInfo, 3 NameMismatch), the file version\n"
    "(a.b.c.d and the form the updater shows), the language of the first\n"
    "translation (hexadecimal and name) and the InternalName of string table\n"
    "040904E4. The internal name is compared with NAME, without regard to case;\n"
    "without --expect, with the file's own name.\n"
    "Exits with 0 when the status is Matched (without --expect: also when only\n"
    "the name differs), with 1 otherwise.\n"
    "\n";

std::string BaseName(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The InternalName of table 040904E4 as the platform answers it; false when
// the file has no resource or the resource has no such text.
bool InternalName(zv::Platform& os, const char* path, std::string* name) {
    uint32_t size = os.VersionInfoSize(path);
    if (size == 0) return false;
    std::vector<uint8_t> block(size, 0);
    if (!os.VersionInfo(path, size, block.data())) return false;
    const void* value = nullptr;
    uint32_t length = 0;
    if (!os.QueryVersion(block.data(), "\\StringFileInfo\\040904E4\\InternalName", &value, &length)) return false;
    const char* text = static_cast<const char*>(value);
    name->assign(text, strnlen(text, length));
    return true;
}

int Usage(std::FILE* out, int code) {
    std::fputs(kVersionHelp, out);
    std::fputs(kLanguageOptionHelp, out);
    return code;
}

}  // namespace

int RunVersion(int argc, char** argv) {
    if (WantsHelp(argc, argv)) return Usage(stdout, EXIT_OK);
    const char* path = nullptr;
    const char* expected = nullptr;
    uint16_t language = zv::kUsEnglish;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--expect") == 0 && i + 1 < argc) {
            expected = argv[++i];
        } else if (std::strcmp(argv[i], "--language") == 0 && i + 1 < argc) {
            if (!ParseLanguageId(argv[++i], &language)) {
                return Fail(EXIT_USAGE, "--language wants a hexadecimal language id such as 0407, not '%s'", argv[i]);
            }
        } else if (path == nullptr && argv[i][0] != '-') {
            path = argv[i];
        } else {
            return Usage(stderr, EXIT_USAGE);
        }
    }
    if (path == nullptr) return Usage(stderr, EXIT_USAGE);
    std::string expectedName = expected != nullptr ? expected : BaseName(path);
    std::unique_ptr<zv::Platform> host = MakeHostPlatform(language);
    zv::Platform& os = *host;
    zv::FileVersionRecord record;
    zv::VersionStatus status = zv::ReadFileVersion(os, path, expectedName.c_str(), &record);

    char shown[32];
    char parts[32];
    zv::FormatVersion(record.version, shown, sizeof shown);
    zv::FormatVersionParts(record.version, parts, sizeof parts);
    std::printf("file          %s\n", path);
    std::printf("status        %u %s\n", static_cast<unsigned>(status), zv::VersionStatusName(status));
    std::printf("version       %s (shown as %s)\n", parts, shown);
    if (record.language != 0) {
        char language[256] = {};
        os.LanguageName(record.language, language, 255);
        std::printf("language      0x%04X %s\n", static_cast<unsigned>(record.language), language);
    } else {
        std::printf("language      0x0000 (none)\n");
    }
    std::string name;
    if (InternalName(os, path, &name)) {
        std::printf("internal name \"%s\"\n", name.c_str());
    } else {
        std::printf("internal name (none)\n");
    }
    std::printf("expected      \"%s\"\n", expectedName.c_str());
    bool ok = status == zv::Matched || (expected == nullptr && status == zv::NameMismatch);
    return ok ? EXIT_OK : EXIT_FAILED;
}

}  // namespace quillon
