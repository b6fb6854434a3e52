// Reading values from the text of a settings file (".ini"), by the rules of
// the system's private-profile functions as far as the updater relies on
// them:
//
//   - a section starts at a line "[name]" (text after the "]" is ignored; a
//     line "[name" without "]" is no header); names of sections and keys are
//     compared without regard to the case of the letters A to Z;
//   - a line "key=value" sets a key; blanks (space, tab, vertical tab, form
//     feed) around the line, the key, the value and a section's name are
//     dropped; a line without "=" sets nothing;
//   - one pair of outer quotes (both " or both ') around a value is dropped;
//     ";" starts no comment inside a line;
//   - only the first section of a name and the first key of a name in it
//     count; "key=" is present with an empty value;
//   - lines end with CR LF, LF or CR; the last one needs no end; a zero byte
//     ends a line's text; a UTF-8 byte order mark at the start is skipped.
//
// Everything here works on bytes in memory and never reads past them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zv {

// Finds `key` in `section` of the settings text (`size` bytes). On success
// *value points into the text at the value (outer quotes dropped) and
// *length is its length; false when the section or the key is missing.
bool FindIniValue(const char* text, size_t size, const char* section, const char* key, const char** value,
                  size_t* length);

// The integer of a value: blanks skipped, an optional sign, then decimal
// digits, or after the prefix "0x" hexadecimal ones ("0o" octal, "0b"
// binary, as the system reads them too), up to the first other character;
// no digits give 0; the result wraps modulo 2^32.
uint32_t ParseIniInteger(const char* value, size_t length);

// What the profile string function gives: the value cut to size - 1
// characters, or when the key is missing `fallback` without its trailing
// blanks, cut the same way. Always zero-terminates when size is not 0.
// Returns the length copied.
uint32_t IniString(const char* text, size_t size, const char* section, const char* key, const char* fallback,
                   char* buffer, uint32_t bufferSize);

// What the profile integer function gives: the value read as IniString does
// into a buffer of 30 characters, then ParseIniInteger; `fallback` when the
// key is missing or its value is empty.
uint32_t IniInteger(const char* text, size_t size, const char* section, const char* key, int32_t fallback);

}  // namespace zv
