// A progress bar on stderr, drawn only when stderr is a terminal.
#pragma once

#include <cstdint>
#include <string>

namespace quillon {

class ProgressBar {
public:
    ProgressBar(const std::string& label, uint64_t total);
    ~ProgressBar();

    // Redraws the bar for `done` of the total, when the shown part changes.
    void Show(uint64_t done);
    // Clears the bar's line, so that what is printed next starts clean.
    void Clear();

    bool drawn() const { return enabled_; }

private:
    std::string label_;
    uint64_t total_;
    bool enabled_;
    int shown_ = -1;  // per mille shown last
};

// True when stderr is a terminal.
bool StderrIsTerminal();
// True when stdin is a terminal.
bool StdinIsTerminal();

}  // namespace quillon
