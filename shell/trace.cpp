#include "shell/trace.h"

#include <windows.h>

#include <cstdarg>

#include "platform/platform.h"
#include "platform/run_log.h"
#include "platform/text.h"
#include "transfer/run_options.h"

namespace zv {
namespace {

RunLog g_Log;
char g_LogPath[kMaxPath] = {};

}  // namespace

void Trace(const char* format, ...) {
    char line[1100] = "zvupdate: ";
    va_list args;
    va_start(args, format);
    int prefix = lstrlenA(line);
    FormatTextV(line + prefix, static_cast<int>(sizeof line) - prefix - 1, format, args);
    va_end(args);
    if (g_Log.file != kNoFile) {
        SYSTEMTIME now;
        GetLocalTime(&now);
        char stamp[32] = {};
        FormatText(stamp, sizeof stamp, "%02u:%02u:%02u.%03u", now.wHour, now.wMinute, now.wSecond,
                   now.wMilliseconds);
        WriteRunLogLine(g_Log, stamp, line + prefix);
    }
    lstrcatA(line, "\n");
    OutputDebugStringA(line);
}

bool OpenTraceLog(const char* path) {
    Platform& os = HostPlatform();
    if (path != nullptr && path[0] != '\0') {
        if (!OpenRunLog(os, path, true, &g_Log)) return false;
        CopyText(g_LogPath, sizeof g_LogPath, path);
        return true;
    }
    char directory[kMaxPath] = {};
    const DWORD length = GetTempPathA(sizeof directory, directory);
    if (length == 0 || length >= sizeof directory) return false;
    SYSTEMTIME now;
    GetLocalTime(&now);
    // A new file only: a name already taken (by an earlier run this second,
    // or by anything planted there) gets the next number.
    for (unsigned attempt = 1; attempt <= 9; ++attempt) {
        char name[kMaxPath] = {};
        if (ComposeLogName(directory, now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, attempt,
                           name, sizeof name) == 0) {
            return false;
        }
        if (OpenRunLog(os, name, false, &g_Log)) {
            CopyText(g_LogPath, sizeof g_LogPath, name);
            return true;
        }
    }
    return false;
}

const char* TraceLogPath() { return g_LogPath; }

void CloseTraceLog() {
    CloseRunLog(g_Log);
    g_LogPath[0] = '\0';
}

}  // namespace zv
