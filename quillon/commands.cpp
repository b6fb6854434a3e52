#include "quillon/commands.h"

#include "quillon/cli.h"

namespace quillon {

const std::vector<Command>& Commands() {
    static const std::vector<Command> commands = {
        {"list", "print the package stamped into an updater", RunList},
    };
    return commands;
}

}  // namespace quillon
