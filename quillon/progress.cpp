#include "quillon/progress.h"

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#define ZV_ISATTY _isatty
#define ZV_FILENO _fileno
#else
#include <unistd.h>
#define ZV_ISATTY isatty
#define ZV_FILENO fileno
#endif

namespace quillon {

bool StderrIsTerminal() { return ZV_ISATTY(ZV_FILENO(stderr)) != 0; }
bool StdinIsTerminal() { return ZV_ISATTY(ZV_FILENO(stdin)) != 0; }

ProgressBar::ProgressBar(const std::string& label, uint64_t total)
    : label_(label), total_(total), enabled_(StderrIsTerminal()) {}

ProgressBar::~ProgressBar() { Clear(); }

void ProgressBar::Show(uint64_t done) {
    if (!enabled_) return;
    if (done > total_) done = total_;
    const int perMille = total_ == 0 ? 1000 : static_cast<int>(done * 1000 / total_);
    if (perMille == shown_) return;
    shown_ = perMille;
    constexpr int kWidth = 40;
    char bar[kWidth + 1];
    const int filled = perMille * kWidth / 1000;
    for (int i = 0; i < kWidth; ++i) bar[i] = i < filled ? '#' : '.';
    bar[kWidth] = '\0';
    std::fprintf(stderr, "\r%s [%s] %3d.%d%%", label_.c_str(), bar, perMille / 10, perMille % 10);
    std::fflush(stderr);
}

void ProgressBar::Clear() {
    if (!enabled_ || shown_ < 0) return;
    std::fprintf(stderr, "\r%*s\r", static_cast<int>(label_.size()) + 52, "");
    std::fflush(stderr);
    shown_ = -1;
}

}  // namespace quillon
