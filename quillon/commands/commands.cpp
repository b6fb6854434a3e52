#include "quillon/commands/commands.h"

#include "quillon/base/cli.h"

namespace quillon {

const std::vector<Command>& Commands() {
    static const std::vector<Command> commands = {
        {"build", "build a package from its description and stamp it into the updater", RunBuild},
        {"list", "print the package stamped into an updater", RunList},
        {"verify", "expand every member with the updater's decoder and check it", RunVerify},
        {"extract", "write every member of a package into a directory", RunExtract},
        {"lzhuf", "compress or expand one raw LZHUF stream", RunLzhuf},
        {"version", "print what the updater reads from a file's version resource", RunVersion},
        {"detect", "print what the updater would detect on a machine", RunDetect},
        {"plan", "print what the update would do on a machine, writing nothing", RunPlan},
    };
    return commands;
}

}  // namespace quillon
