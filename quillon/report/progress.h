// A progress bar on stderr, drawn only when stderr is a terminal, on one line
// that always fits the terminal's width.
#pragma once

#include <cstdint>
#include <string>

namespace quillon {

class ProgressBar {
public:
    ProgressBar(const std::string& label, uint64_t total);
    ~ProgressBar();

    // Redraws the bar for `done` of the total and the item being worked on
    // (a member's name; may be empty), when what is shown changes.
    void Show(uint64_t done, const std::string& item = std::string());
    // Clears the bar's line, so that what is printed next starts clean.
    void Clear();

private:
    std::string label_;
    uint64_t total_;
    bool enabled_;
    int shown_ = -1;  // per mille shown last
    std::string shownItem_;
    size_t length_ = 0;  // characters of the line drawn last
};

// The bar's line for `perMille` of the work and `item`, in fewer than
// `columns` characters (the last column is left free, so that no terminal
// wraps the line): the label, the bar, the percentage and as much of the item
// as fits, parts dropped from the end as the width shrinks.
std::string ProgressLine(const std::string& label, int perMille, const std::string& item, int columns);

// The width of the terminal on stderr (80 when it cannot be told).
int TerminalColumns();

// True when stderr is a terminal.
bool StderrIsTerminal();
// True when stdin is a terminal.
bool StdinIsTerminal();

}  // namespace quillon
