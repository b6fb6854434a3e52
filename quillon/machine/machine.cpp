#include "quillon/machine/machine.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/forwarding_platform.h"
#include "platform/text.h"
#include "quillon/base/cli.h"

#ifndef _WIN32
#include <climits>
#include <cstdlib>

#include "platform/posix_platform.h"
#endif

namespace quillon {

const char kMachineOptionsHelp[] =
    "  --windows-dir DIR   the Windows directory: zvact.ini is read from it\n"
    "  --system-dir DIR    where the shared runtime libraries are looked for\n"
    "  --drive L=DIR       the directory that drive letter L stands for; drive C\n"
    "                      is the directory above the Windows directory unless\n"
    "                      given. Paths without a drive letter are host paths.\n"
    "  --language ID       the user's language, a hexadecimal language id\n"
    "                      (default 0409, U.S. English): of a version resource\n"
    "                      in several languages none of which is neutral, the\n"
    "                      one in this language is read, else U.S. English,\n"
    "                      else the first\n"
    "\n"
    "On Windows the system's own directories, language and calls are used and\n"
    "the directory and language options are ignored.\n";

const char kLanguageOptionHelp[] =
    "  --language ID   the user's language, a hexadecimal language id (default\n"
    "                  0409, U.S. English): of a version resource in several\n"
    "                  languages none of which is neutral, the one in this\n"
    "                  language is read, else U.S. English, else the first.\n"
    "                  On Windows the system's own language counts.\n";

namespace {

// The running program's path is the updater's, so that detection loads the
// package's table from it and the transfer reads its members.
class UpdaterPlatform : public zv::ForwardingPlatform {
public:
    UpdaterPlatform(std::unique_ptr<zv::Platform> inner, std::string updater)
        : ForwardingPlatform(*inner), owned_(std::move(inner)), updater_(std::move(updater)) {}
    uint32_t ModulePath(char* buffer, uint32_t size) override {
        if (updater_.empty()) return ForwardingPlatform::ModulePath(buffer, size);
        if (size == 0) return 0;
        size_t n = updater_.size() < size - 1 ? updater_.size() : size - 1;
        std::memcpy(buffer, updater_.data(), n);
        buffer[n] = '\0';
        return static_cast<uint32_t>(n);
    }

private:
    std::unique_ptr<zv::Platform> owned_;
    std::string updater_;
};

// Borrows the process-wide platform without owning it.
class HostPlatformRef : public zv::ForwardingPlatform {
public:
    HostPlatformRef() : ForwardingPlatform(zv::HostPlatform()) {}
};

#ifndef _WIN32
std::string Absolute(const std::string& path) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) != nullptr) return resolved;
    return path;
}

// The Windows form of a host directory that lies under a drive's directory;
// the host path itself otherwise.
std::string WindowsForm(const std::string& host, const std::string (&drives)[26]) {
    for (int d = 0; d < 26; ++d) {
        const std::string& root = drives[d];
        if (root.empty()) continue;
        if (host == root || (host.compare(0, root.size(), root) == 0 && host[root.size()] == '/')) {
            std::string rest = host.substr(root.size());
            for (char& c : rest) {
                if (c == '/') c = '\\';
            }
            return std::string(1, static_cast<char>('A' + d)) + ":" + (rest.empty() ? "\\" : rest);
        }
    }
    return host;
}
#endif

}  // namespace

bool ParseLanguageId(const char* text, uint16_t* language) {
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text += 2;
    size_t digits = std::strlen(text);
    if (digits == 0 || digits > 4 || std::strspn(text, "0123456789abcdefABCDEF") != digits) return false;
    unsigned long value = std::strtoul(text, nullptr, 16);
    if (value == 0) return false;
    *language = static_cast<uint16_t>(value);
    return true;
}

std::unique_ptr<zv::Platform> MakeHostPlatform(uint16_t language) {
#ifdef _WIN32
    (void)language;
    return std::unique_ptr<zv::Platform>(new HostPlatformRef());
#else
    zv::PosixLayout layout;
    layout.userLanguage = language;
    return std::unique_ptr<zv::Platform>(new zv::PosixPlatform(layout));
#endif
}

OptionParse ParseMachineOption(int argc, char** argv, int* i, MachineOptions* o, std::string* error) {
    std::string arg = argv[*i];
    bool hasValue = *i + 1 < argc;
    if (!hasValue) return OptionParse::NotMine;
    if (arg == "--windows-dir") {
        o->windowsDir = argv[++*i];
    } else if (arg == "--system-dir") {
        o->systemDir = argv[++*i];
    } else if (arg == "--updater") {
        o->updater = argv[++*i];
    } else if (arg == "--drive") {
        std::string value = argv[++*i];
        const char letter = value.empty() ? '\0' : zv::UpperAz(value[0]);
        if (value.size() < 3 || letter < 'A' || letter > 'Z' || value[1] != '=') {
            *error = "--drive wants LETTER=DIR, not '" + value + "'";
            return OptionParse::Bad;
        }
        o->drives[letter - 'A'] = value.substr(2);
    } else if (arg == "--language") {
        const char* value = argv[++*i];
        if (!ParseLanguageId(value, &o->language)) {
            *error = std::string("--language wants a hexadecimal language id such as 0407, not '") + value + "'";
            return OptionParse::Bad;
        }
    } else {
        return OptionParse::NotMine;
    }
    return OptionParse::Taken;
}

std::unique_ptr<zv::Platform> MakeMachinePlatform(MachineOptions* o, std::string* error) {
#ifdef _WIN32
    (void)error;
    std::unique_ptr<zv::Platform> host(new HostPlatformRef());
#else
    if (o->windowsDir.empty() || o->systemDir.empty()) {
        *error = "--windows-dir and --system-dir are needed";
        return nullptr;
    }
    zv::PosixLayout layout;
    layout.userLanguage = o->language;
    for (int d = 0; d < 26; ++d) {
        if (!o->drives[d].empty()) layout.drives[d] = Absolute(o->drives[d]);
    }
    std::string windowsDir = Absolute(o->windowsDir);
    if (layout.drives['C' - 'A'].empty()) {
        size_t slash = windowsDir.find_last_of('/');
        layout.drives['C' - 'A'] = slash == 0 || slash == std::string::npos ? "/" : windowsDir.substr(0, slash);
    }
    layout.windowsDir = WindowsForm(windowsDir, layout.drives);
    layout.systemDir = WindowsForm(Absolute(o->systemDir), layout.drives);
    if (!o->updater.empty()) o->updater = Absolute(o->updater);
    std::unique_ptr<zv::PosixPlatform> host(new zv::PosixPlatform(layout));
    if (!host->EnterDirectory("C:\\")) {
        *error = "drive C (" + layout.drives[2] + ") is not a directory";
        return nullptr;
    }
#endif
    return std::unique_ptr<zv::Platform>(new UpdaterPlatform(std::move(host), o->updater));
}

int StartMachineCommand(int argc, char** argv, const char* help, MachineOptions* options,
                        std::unique_ptr<zv::Platform>* machine) {
    if (WantsHelp(argc, argv)) {
        std::fputs(help, stdout);
        std::fputs(kMachineOptionsHelp, stdout);
        return EXIT_OK;
    }
    std::string error;
    std::vector<std::string> errors;
    const std::vector<KnownOption> machineOptions = {
        {"--windows-dir", true}, {"--system-dir", true}, {"--updater", true}, {"--drive", true}, {"--language", true},
        {"--json", false}};
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--json") == 0) {
            options->json = true;
            continue;
        }
        switch (ParseMachineOption(argc, argv, &i, options, &error)) {
        case OptionParse::Taken: continue;
        case OptionParse::Bad: errors.push_back(error); continue;
        case OptionParse::NotMine: break;
        }
        const std::string arg = argv[i];
        bool known = false;
        for (const KnownOption& s : machineOptions) known = known || arg == s.name;
        errors.push_back(known ? arg + " needs a value"
                               : arg.size() > 1 && arg[0] == '-' ? UnknownOption(arg, machineOptions)
                                                                 : "unexpected argument '" + arg + "'");
    }
    if (!errors.empty()) {
        const char* name = argc > 0 ? argv[0] : "";
        for (const std::string& e : errors) std::fprintf(stderr, "quillon %s: %s\n", name, e.c_str());
        std::fprintf(stderr, "(see quillon %s --help)\n", name);
        return EXIT_USAGE;
    }
    *machine = MakeMachinePlatform(options, &error);
    if (!*machine) return Fail(EXIT_USAGE, "%s", error.c_str());
    return -1;
}

}  // namespace quillon
