// A trace of what the program shows and decides: written with
// OutputDebugStringA, which a debugger (or Wine's debug channel) receives and
// a user never sees, each line starting with "zvupdate: ". Once the run's log
// is open, every line goes into it as well, with the local time before it.
#pragma once

namespace zv {

void Trace(const char* format, ...);

// Opens the run's log: at `path` (appended to when it is there), or with no
// path a new file in the system's temporary folder named for the product and
// the time. False when it cannot be opened; the trace goes on without it.
bool OpenTraceLog(const char* path);
// The log's path; "" while none is open.
const char* TraceLogPath();
void CloseTraceLog();

}  // namespace zv
