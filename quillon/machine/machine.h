// The machine a support command looks at: on Windows the real one; elsewhere
// a directory tree that stands for it (its Windows directory, its system
// directory and the directories its drive letters stand for), and the
// updater file whose package is judged.
#pragma once

#include <memory>
#include <string>

#include "platform/platform.h"
#include "platform/version_resource.h"

namespace quillon {

struct MachineOptions {
    std::string windowsDir;
    std::string systemDir;
    std::string updater;
    std::string drives[26];
    bool json = false;  // --json: the result as JSON (where the command has it)
    uint16_t language = zv::kUsEnglish;  // the user's language
};

// The help text of the options below, for the commands' --help.
extern const char kMachineOptionsHelp[];

// The help text of --language alone, for commands that read version
// resources without a machine.
extern const char kLanguageOptionHelp[];

// A language id in hexadecimal ("0407" or "0x0407"), 1 to FFFF.
bool ParseLanguageId(const char* text, uint16_t* language);

// The process's own platform, with `language` as the user's language where
// version resources are read by the portable reader (on Windows the
// system's own language counts).
std::unique_ptr<zv::Platform> MakeHostPlatform(uint16_t language);

enum class OptionParse { Taken, NotMine, Bad };

// Takes argv[*i] (and its value) when it is --windows-dir, --system-dir,
// --updater, --drive or --language; *error says what is wrong on Bad.
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
