// A file being written that must not be left behind half-written when the
// user interrupts quillon (Ctrl-C) or the process is told to end.
#pragma once

#include <string>

namespace quillon {

// From now on, an interrupt removes `path` before the process ends as the
// interrupt asks. An empty path: nothing is to be removed any more.
void RemoveOnInterrupt(const std::string& path);

}  // namespace quillon
