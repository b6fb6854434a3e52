// What the commands of quillon share: exit codes, argument helpers and file
// reading.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
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

// Prints "quillon: " and the message to stderr; returns `code`.
int Fail(int code, const char* format, ...);

// Reads a whole file; false with errno-style text in *error on failure.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error);

}  // namespace quillon
