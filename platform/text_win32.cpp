// Strings and formatting for the Windows program: the strings are loaded from
// the program's own resources and formatted by the system's formatter.
#include <windows.h>

#include "platform/text.h"

namespace zv {

int LoadText(unsigned id, char* buffer, int size) {
    if (size <= 0) return 0;
    buffer[0] = '\0';
    int length = LoadStringA(GetModuleHandleA(nullptr), id, buffer, size);
    if (length <= 0) {
        buffer[0] = '\0';
        return 0;
    }
    return length;
}

int FormatTextV(char* buffer, int size, const char* format, va_list args) {
    if (size <= 0) return 0;
    // wvsprintfA takes no buffer size but never writes more than 1024
    // characters, so it formats into a buffer of that size and the result is
    // cut to the caller's.
    char wide[1025] = {};
    wvsprintfA(wide, format, args);
    wide[1024] = '\0';
    return CopyText(buffer, size, wide);
}

}  // namespace zv
