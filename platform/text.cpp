// The parts of text handling that are the same on every platform.
#include "platform/text.h"

#include <cstring>

#include "platform/string_table.h"

namespace zv {

const StringTableEntry* FindStringEntry(unsigned id) {
    for (unsigned i = 0; i < kStringTableSize; ++i) {
        if (kStringTable[i].id == id) return &kStringTable[i];
    }
    return nullptr;
}

int FormatText(char* buffer, int size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int length = FormatTextV(buffer, size, format, args);
    va_end(args);
    return length;
}

int CopyText(char* buffer, int size, const char* source) {
    if (size <= 0) return 0;
    int length = 0;
    while (length < size - 1 && source[length] != '\0') {
        buffer[length] = source[length];
        ++length;
    }
    buffer[length] = '\0';
    return length;
}

bool AppendText(char* buffer, int size, const char* source) {
    if (size <= 0) return false;
    int length = 0;
    while (length < size && buffer[length] != '\0') ++length;
    if (length >= size) return false;  // not terminated within size: nothing fits
    int copied = CopyText(buffer + length, size - length, source);
    return source[copied] == '\0';
}

int CompareNoCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        int ca = static_cast<int>(FoldAz(static_cast<unsigned char>(*a)));
        int cb = static_cast<int>(FoldAz(static_cast<unsigned char>(*b)));
        if (ca != cb || ca == 0) return ca - cb;
    }
}

bool EqualPrefixNoCase(const char* a, const char* b, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (FoldAz(static_cast<unsigned char>(a[i])) != FoldAz(static_cast<unsigned char>(b[i]))) return false;
    }
    return true;
}

bool StartsWithNoCase(const char* text, const char* prefix) {
    // The text's zero differs from any character of a longer prefix.
    return EqualPrefixNoCase(text, prefix, std::strlen(prefix));
}

}  // namespace zv
