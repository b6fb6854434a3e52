#include "tests/support/tool_run.h"

#include <sys/wait.h>

#include <cstdio>

namespace zvtest {

ToolRun RunTool(const std::string& command) {
    ToolRun run{-1, {}};
    std::FILE* pipe = ::popen((command + " </dev/null 2>&1").c_str(), "r");
    if (pipe == nullptr) return run;
    char block[4096];
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, pipe)) > 0) run.out.append(block, n);
    const int status = ::pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string QuillonPath() { return QUILLON_EXE; }

ToolRun RunQuillon(const std::string& args) { return RunTool(QuillonPath() + " " + args); }

}  // namespace zvtest
