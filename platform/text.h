// Loading strings of the program's string table and formatting texts into
// fixed-size buffers. Never writes past a buffer: a text longer than its
// buffer is cut, and the buffer is always zero-terminated.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>

namespace zv {

// Copies string `id` into `buffer` (at most size - 1 characters) and returns
// its length. A string the table lacks gives an empty text and 0.
int LoadText(unsigned id, char* buffer, int size);

// Formats like the system's own formatter (wsprintfA on Windows): "%s", "%d",
// "%u" with widths and precisions such as "%.3d" and "%.2u". The result is cut
// to size - 1 characters. Returns the length written.
int FormatText(char* buffer, int size, const char* format, ...);
int FormatTextV(char* buffer, int size, const char* format, va_list args);

// Copies `source` into `buffer`, cut to size - 1 characters; returns the
// length copied.
int CopyText(char* buffer, int size, const char* source);

// Appends `source`, cut so that the whole fits in size - 1 characters;
// returns false when something had to be cut.
bool AppendText(char* buffer, int size, const char* source);

// The letters A to Z as a to z, every other value as it is: file names and
// keys are compared this way, whatever the code page (8-bit characters and
// UTF-16 units alike).
constexpr unsigned FoldAz(unsigned c) { return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c; }
// The letters a to z as A to Z, every other value as it is: drive letters.
constexpr char UpperAz(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// `text` with its letters A to Z folded as FoldAz folds them: the key under
// which a name is looked up when case does not count.
inline std::string LowerAz(std::string text) {
    for (char& c : text) c = static_cast<char>(FoldAz(static_cast<unsigned char>(c)));
    return text;
}

// Compares two texts without regard to the case of the letters A to Z only.
int CompareNoCase(const char* a, const char* b);
inline bool EqualNoCase(const char* a, const char* b) { return CompareNoCase(a, b) == 0; }

// Whether the first `length` characters of `a` and `b` are equal but for the
// case of A to Z. Both must hold that many, or differ before the shorter
// one's zero (the comparison stops at the first difference).
bool EqualPrefixNoCase(const char* a, const char* b, size_t length);
// Whether `text` begins with `prefix`, without regard to the case of A to Z.
bool StartsWithNoCase(const char* text, const char* prefix);

}  // namespace zv
