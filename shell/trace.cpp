#include "shell/trace.h"

#include <windows.h>

#include <cstdarg>

#include "platform/text.h"

namespace zv {

void Trace(const char* format, ...) {
    char line[1100] = "zvupdate: ";
    va_list args;
    va_start(args, format);
    int prefix = lstrlenA(line);
    FormatTextV(line + prefix, static_cast<int>(sizeof line) - prefix - 1, format, args);
    va_end(args);
    lstrcatA(line, "\n");
    OutputDebugStringA(line);
}

}  // namespace zv
