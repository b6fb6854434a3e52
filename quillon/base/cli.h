// What the commands of quillon share: exit codes, argument helpers and file
// reading.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace quillon {

// Exit codes of every command.
enum ExitCode : int {
    EXIT_OK = 0,
    EXIT_FAILED = 1,  // the input is bad, or what was asked for did not hold
    EXIT_USAGE = 2,   // the command line is wrong
};

struct Command {
    const char* name;
    const char* summary;
    int (*run)(int argc, char** argv);  // argv[0] is the command's name
};

// Every command, in the order --help lists them.
const std::vector<Command>& Commands();

// True when argv holds "--help" or "-h".
bool WantsHelp(int argc, char** argv);

// An option a command takes: "--name VALUE" or "--name=VALUE" when it takes
// a value, "--name" alone otherwise.
struct KnownOption {
    const char* name;  // with its dashes: "--output"
    bool takesValue;
};

// A command line split into options and other arguments.
struct ParsedArguments {
    std::vector<std::pair<std::string, std::string>> options;  // name, value ("" for a switch)
    std::vector<std::string> positionals;                     // in order

    bool Has(const std::string& name) const;
    // The value of option `name`, or `fallback` when it was not given.
    std::string Value(const std::string& name, const std::string& fallback = "") const;
};

// Splits argv[1..] by `known`. Every problem is listed in *errors, each naming
// the argument at fault: an unknown option (with the option likely meant), a
// missing value, a value given to a switch, an option given twice, more than
// `maxPositionals` other arguments. "--" ends the options. Options are
// lower-case; a wrong case is said so.
bool ParseArguments(int argc, char** argv, const std::vector<KnownOption>& known, size_t maxPositionals,
                    ParsedArguments* parsed, std::vector<std::string>* errors);

// "unknown option 'NAME'" with the option of `known` likely meant, if any.
std::string UnknownOption(const std::string& name, const std::vector<KnownOption>& known);

// Prints each problem of a command line as "quillon NAME: problem", then
// `usage` (the command's first usage lines) and a pointer to its help, and
// returns EXIT_USAGE.
int FailUsage(const char* command, const std::vector<std::string>& errors, const char* usage);

// Prints "quillon: " and the message to stderr; returns `code`.
int Fail(int code, const char* format, ...);

// Reads a whole file; false with errno-style text in *error on failure.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error);

}  // namespace quillon
