#include "quillon/commands.h"

#include "quillon/cli.h"

namespace quillon {

const std::vector<Command>& Commands() {
    static const std::vector<Command> commands = {
        {"list", "print the package stamped into an updater", RunList},
        {"version", "print what the updater reads from a file's version resource", RunVersion},
        {"detect", "print what the updater would detect on a machine", RunDetect},
        {"plan", "print what the update would do on a machine, writing nothing", RunPlan},
    };
    return commands;
}

}  // namespace quillon
