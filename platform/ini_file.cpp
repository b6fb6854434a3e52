#include "platform/ini_file.h"

#include <cstring>

#include "platform/text.h"

namespace zv {
namespace {

// Blanks as the system trims them: space, tab, vertical tab, form feed.
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

// True when the `length` bytes at `text` equal the zero-terminated `name`
// without regard to case.
bool NameEquals(const char* text, size_t length, const char* name) {
    return std::strlen(name) == length && EqualPrefixNoCase(text, name, length);
}

// [begin, end) without blanks at either side.
void Trim(const char** begin, const char** end) {
    while (*begin < *end && IsBlank(**begin)) ++*begin;
    while (*end > *begin && IsBlank((*end)[-1])) --*end;
}

constexpr uint32_t kIntegerBuffer = 30;

}  // namespace

bool FindIniValue(const char* text, size_t size, const char* section, const char* key, const char** value,
                  size_t* length) {
    const char* p = text;
    const char* end = text + size;
    if (size >= 3 && std::memcmp(p, "\xEF\xBB\xBF", 3) == 0) p += 3;
    bool inSection = false;
    while (p < end) {
        const char* lineEnd = p;
        while (lineEnd < end && *lineEnd != '\r' && *lineEnd != '\n') ++lineEnd;
        const char* next = lineEnd;
        if (next < end && *next == '\r') {
            ++next;
            if (next < end && *next == '\n') ++next;
        } else if (next < end) {
            ++next;  // LF
        }
        const char* begin = p;
        // A zero byte ends the line's text.
        const char* zero = static_cast<const char*>(std::memchr(p, '\0', static_cast<size_t>(lineEnd - p)));
        const char* stop = zero != nullptr ? zero : lineEnd;
        p = next;
        Trim(&begin, &stop);
        if (begin == stop) continue;
        const char* close = *begin == '[' ? static_cast<const char*>(std::memchr(begin, ']', static_cast<size_t>(stop - begin)))
                                          : nullptr;
        if (close != nullptr) {
            // Only the first section of the name counts: the next header ends it.
            if (inSection) return false;
            const char* nameBegin = begin + 1;
            const char* nameEnd = close;
            Trim(&nameBegin, &nameEnd);
            inSection = NameEquals(nameBegin, static_cast<size_t>(nameEnd - nameBegin), section);
            continue;
        }
        if (!inSection) continue;
        const char* equals = static_cast<const char*>(std::memchr(begin, '=', static_cast<size_t>(stop - begin)));
        if (equals == nullptr) continue;
        const char* keyEnd = equals;
        const char* keyBegin = begin;
        Trim(&keyBegin, &keyEnd);
        if (!NameEquals(keyBegin, static_cast<size_t>(keyEnd - keyBegin), key)) continue;
        const char* valueBegin = equals + 1;
        const char* valueEnd = stop;
        Trim(&valueBegin, &valueEnd);
        if (valueEnd - valueBegin >= 2 && (*valueBegin == '"' || *valueBegin == '\'') &&
            valueEnd[-1] == *valueBegin) {
            ++valueBegin;
            --valueEnd;
        }
        *value = valueBegin;
        *length = static_cast<size_t>(valueEnd - valueBegin);
        return true;
    }
    return false;
}

uint32_t ParseIniInteger(const char* value, size_t length) {
    size_t i = 0;
    while (i < length && IsBlank(value[i])) ++i;
    bool negative = false;
    if (i < length && (value[i] == '+' || value[i] == '-')) {
        negative = value[i] == '-';
        ++i;
    }
    uint32_t base = 10;
    if (i + 1 < length && value[i] == '0') {
        char prefix = value[i + 1];
        base = prefix == 'x' ? 16 : prefix == 'o' ? 8 : prefix == 'b' ? 2 : 10;
        if (base != 10) i += 2;
    }
    uint32_t result = 0;
    for (; i < length; ++i) {
        char c = value[i];
        uint32_t digit;
        if (c >= '0' && c <= '9') {
            digit = static_cast<uint32_t>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<uint32_t>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<uint32_t>(c - 'A' + 10);
        } else {
            break;
        }
        if (digit >= base) break;
        result = result * base + digit;
    }
    return negative ? 0u - result : result;
}

uint32_t IniString(const char* text, size_t size, const char* section, const char* key, const char* fallback,
                   char* buffer, uint32_t bufferSize) {
    if (bufferSize == 0) return 0;
    const char* value;
    size_t length;
    if (!FindIniValue(text, size, section, key, &value, &length)) {
        value = fallback != nullptr ? fallback : "";
        length = std::strlen(value);
        while (length > 0 && IsBlank(value[length - 1])) --length;
    }
    if (length > bufferSize - 1) length = bufferSize - 1;
    std::memcpy(buffer, value, length);
    buffer[length] = '\0';
    return static_cast<uint32_t>(length);
}

uint32_t IniInteger(const char* text, size_t size, const char* section, const char* key, int32_t fallback) {
    char buffer[kIntegerBuffer];
    uint32_t length = IniString(text, size, section, key, "", buffer, sizeof buffer);
    if (length == 0) return static_cast<uint32_t>(fallback);
    return ParseIniInteger(buffer, length);
}

}  // namespace zv
