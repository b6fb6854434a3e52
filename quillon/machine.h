// The machine a support command looks at: on Windows the real one; elsewhere
// a directory tree that stands for it (its Windows directory, its system
// directory and the directories its drive letters stand for), and the
// updater file whose package is judged.
#pragma once

#include <memory>
#include <string>

#include "platform/platform.h"

namespace quillon {

struct MachineOptions {
    std::string windowsDir;
    std::string systemDir;
    std::string updater;
    std::string drives[26];
    bool json = false;  // --json: the result as JSON (where the command has it)
};

// The help text of the options below, for the commands' --help.
extern const char kMachineOptionsHelp[];

enum class OptionParse { Taken, NotMine, Bad };

// Takes argv[*i] (and its value) when it is --windows-dir, --system-dir,
// --updater or --drive; *error says what is wrong on Bad.
OptionParse ParseMachineOption(int argc, char** argv, int* i, MachineOptions* options, std::string* error);

// The platform for `options`, whose running program is the updater file (so
// that detection and the transfer read its package), or nullptr with *error.
std::unique_ptr<zv::Platform> MakeMachinePlatform(MachineOptions* options, std::string* error);

// The start of a command that takes only the options above (and --json):
// prints `help`
// (and the options' help) for --help or a wrong command line, and makes the
// machine's platform into *machine. Returns -1 when the command goes on,
// otherwise its exit code.
int StartMachineCommand(int argc, char** argv, const char* help, MachineOptions* options,
                        std::unique_ptr<zv::Platform>* machine);

}  // namespace quillon
