// Running a command-line tool as a release engineer would, for tests.
#pragma once

#include <string>

namespace zvtest {

struct ToolRun {
    int exitCode;     // -1 when it did not exit normally
    std::string out;  // stdout and stderr together
};

// Runs `command` through the shell, stdin from /dev/null.
ToolRun RunTool(const std::string& command);

// The quillon of this build, for commands that need more of the shell than
// RunQuillon gives.
std::string QuillonPath();

// Runs the quillon of this build with `args` (words for the shell).
ToolRun RunQuillon(const std::string& args);

}  // namespace zvtest
