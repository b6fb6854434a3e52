// Strings and formatting for the portable build: the texts are compiled in
// from the string table, and the C library's bounded formatter does the rest
// (for the formats the updater uses it behaves as wsprintfA does).
#include <cstdio>

#include "platform/string_table.h"
#include "platform/text.h"

namespace zv {

int LoadText(unsigned id, char* buffer, int size) {
    if (size <= 0) return 0;
    const StringTableEntry* entry = FindStringEntry(id);
    return CopyText(buffer, size, entry ? entry->text : "");
}

int FormatTextV(char* buffer, int size, const char* format, va_list args) {
    if (size <= 0) return 0;
    int length = std::vsnprintf(buffer, static_cast<size_t>(size), format, args);
    if (length < 0) {
        buffer[0] = '\0';
        return 0;
    }
    return length < size ? length : size - 1;
}

}  // namespace zv
