// The log of a run: plain text, one line per event, each line written to the
// file as it happens so that a run that is killed leaves its log up to there.
#pragma once

#include "platform/platform.h"

namespace zv {

struct RunLog {
    Platform* os = nullptr;
    FileHandle file = kNoFile;
    bool failed = false;  // a write failed: nothing more is written
};

// Opens the log at `path`. A new file is created; a file the administrator
// named with /log that is already there is appended to (`append`), else the
// open fails. A link at `path` is never followed. False when it cannot be
// opened; the log then stays closed and writes do nothing.
bool OpenRunLog(Platform& os, const char* path, bool append, RunLog* log);

// Writes `stamp` (may be "" or null), a space when it is not empty, and `text`
// as one line ending in CR LF. Line breaks at the end of `text` are dropped and those inside become spaces so that
// one event stays one line; a line longer than 1023 characters is cut.
void WriteRunLogLine(RunLog& log, const char* stamp, const char* text);

// Forces the log to the disk and closes it.
void CloseRunLog(RunLog& log);

}  // namespace zv
