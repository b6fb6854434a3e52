#include "quillon/report/progress.h"

#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#define ZV_ISATTY _isatty
#define ZV_FILENO _fileno
#else
#include <sys/ioctl.h>
#include <unistd.h>
#define ZV_ISATTY isatty
#define ZV_FILENO fileno
#endif

namespace quillon {

namespace {

bool IsTerminal(FILE* stream) {
    const int fd = ZV_FILENO(stream);
    if (ZV_ISATTY(fd) == 0) return false;
#ifdef _WIN32
    // The C library calls every character device a terminal, NUL included;
    // only a console is one.
    DWORD mode = 0;
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (handle == INVALID_HANDLE_VALUE || !::GetConsoleMode(handle, &mode)) return false;
#endif
    return true;
}

}  // namespace

bool StderrIsTerminal() { return IsTerminal(stderr); }
bool StdinIsTerminal() { return IsTerminal(stdin); }

int TerminalColumns() {
#ifdef _WIN32
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (::GetConsoleScreenBufferInfo(::GetStdHandle(STD_ERROR_HANDLE), &info)) {
        return info.srWindow.Right - info.srWindow.Left + 1;
    }
#else
    struct winsize size {};
    if (::ioctl(ZV_FILENO(stderr), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
#endif
    if (const char* columns = std::getenv("COLUMNS")) {
        const int n = std::atoi(columns);
        if (n > 0) return n;
    }
    return 80;
}

std::string ProgressLine(const std::string& label, int perMille, const std::string& item, int columns) {
    if (perMille < 0) perMille = 0;
    if (perMille > 1000) perMille = 1000;
    char percent[16];
    std::snprintf(percent, sizeof percent, "%3d.%d%%", perMille / 10, perMille % 10);
    const size_t room = columns > 1 ? static_cast<size_t>(columns - 1) : 0;

    // label [####....] 100.0% item: the bar takes up to 40 columns and
    // shrinks to 10 before it goes; the item takes what is left.
    std::string line = label + " ";
    constexpr size_t kMaxBar = 40;
    constexpr size_t kMinBar = 10;
    const size_t fixed = line.size() + 2 + 1 + std::string(percent).size();  // "[" "]" " " percent
    // Room for the item's first 24 characters is taken from the bar.
    const size_t itemWant = item.empty() ? 0 : 1 + (item.size() < 24 ? item.size() : 24);
    size_t bar = 0;
    if (room >= fixed + kMinBar) {
        bar = room - fixed;
        bar = bar >= kMinBar + itemWant ? bar - itemWant : kMinBar;
        if (bar > kMaxBar) bar = kMaxBar;
        line += "[";
        const size_t filled = static_cast<size_t>(perMille) * bar / 1000;
        line.append(filled, '#');
        line.append(bar - filled, '.');
        line += "] ";
    }
    line += percent;
    if (line.size() > room) {
        // Too narrow even for the label: the percentage alone, cut to fit.
        line = std::string(percent).substr(0, room);
        return line;
    }
    if (!item.empty() && line.size() + 1 < room) {
        const size_t left = room - line.size() - 1;
        if (item.size() <= left) {
            line += " " + item;
        } else if (left > 3) {
            line += " ..." + item.substr(item.size() - (left - 3));  // the end of a name says most
        }
    }
    return line;
}

ProgressBar::ProgressBar(const std::string& label, uint64_t total)
    : label_(label), total_(total), enabled_(StderrIsTerminal()) {}

ProgressBar::~ProgressBar() { Clear(); }

void ProgressBar::Show(uint64_t done, const std::string& item) {
    if (!enabled_) return;
    if (done > total_) done = total_;
    const int perMille = total_ == 0 ? 1000 : static_cast<int>(done * 1000 / total_);
    if (perMille == shown_ && item == shownItem_) return;
    shown_ = perMille;
    shownItem_ = item;
    // The width is asked once for each line drawn: the window may be resized
    // meanwhile.
    const int columns = TerminalColumns();
    const std::string line = ProgressLine(label_, perMille, item, columns);
    // Blanks over the rest of a longer line drawn before, within the width.
    const size_t room = static_cast<size_t>(columns > 1 ? columns - 1 : 0);
    size_t pad = length_ > line.size() ? length_ - line.size() : 0;
    if (line.size() + pad > room) pad = room > line.size() ? room - line.size() : 0;
    std::fprintf(stderr, "\r%s%*s", line.c_str(), static_cast<int>(pad), "");
    std::fflush(stderr);
    length_ = line.size();
}

void ProgressBar::Clear() {
    if (!enabled_ || shown_ < 0) return;
    std::fprintf(stderr, "\r%*s\r", static_cast<int>(length_), "");
    std::fflush(stderr);
    shown_ = -1;
    shownItem_.clear();
    length_ = 0;
}

}  // namespace quillon
