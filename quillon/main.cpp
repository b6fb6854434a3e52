// quillon: the packer of the Zarvel Updater.
#include <cstdio>
#include <cstring>

#include "platform/sha256.h"
#include "quillon/base/cli.h"

namespace {

void PrintUsage(std::FILE* out) {
    std::fputs("usage: quillon COMMAND [ARGS...]\n"
               "       quillon --help | --version\n\n"
               "Builds the update package of the Zarvel Updater and stamps it into the\n"
               "updater program; reads packages back.\n\ncommands:\n",
               out);
    for (const quillon::Command& c : quillon::Commands()) std::fprintf(out, "  %-10s %s\n", c.name, c.summary);
    std::fputs("\n'quillon COMMAND --help' describes a command.\n", out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        PrintUsage(stderr);
        return quillon::EXIT_USAGE;
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        PrintUsage(stdout);
        return quillon::EXIT_OK;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("quillon %s\n", QUILLON_VERSION);
        return quillon::EXIT_OK;
    }
    for (const quillon::Command& c : quillon::Commands()) {
        if (std::strcmp(argv[1], c.name) != 0) continue;
        const int code = c.run(argc - 1, argv + 1);
        // The hashing provider that the command's digests shared goes with it.
        zv::Sha256EndRun();
        return code;
    }
    return quillon::Fail(quillon::EXIT_USAGE, "unknown command '%s' (see quillon --help)", argv[1]);
}
