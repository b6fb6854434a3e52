// The ANSI code pages, the 8-bit character sets of the system's "A"
// functions: which one a language's system uses, how its file names compare
// without regard to case, and code page 1252 (a Western system's) from and to
// UTF-16 characters.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zv {

// The character that a byte of code page 1252 stands for. The five bytes the
// code page leaves undefined stand for the characters of the same number.
uint16_t Cp1252ToUnicode(uint8_t byte);

// The byte that the system's conversion gives for a UTF-16 character: the
// code page's own byte, else the system's published best-fit byte (accented
// letters without their accent, full-width forms as ASCII, and so on), else
// "?".
uint8_t UnicodeToCp1252(uint16_t character);

// The ANSI code page of a system of the Windows language `language` (its
// primary language in the low 10 bits, the sublanguage above): 874, 932,
// 936, 949, 950 or 1250 to 1258; 0 for a language written in Unicode only.
uint16_t LanguageCodePage(uint32_t language);

// True when `byte` begins a two-byte character in code page `codePage` (932,
// 936, 949 and 950 have them).
bool IsLeadByte(uint16_t codePage, uint8_t byte);

// The character at `text` (not at its terminating zero) as the file systems
// compare names: NTFS and FAT's long names upper-case every character through
// the simple upper-case mapping of Unicode, so a character and its upper-case
// form, where the code page can write it, name the same file ("\xE9" and
// "\xC9" in 1252; "\x9A" and "\x8A" in 1250; "\xFD" and "I" in 1254). The
// result is the same for both: the byte of the upper-case form, or for a
// two-byte character lead byte << 8 | trail byte. *length is the number of
// bytes the character takes (2 for a lead byte that a trail byte follows).
// In a code page of no case rules of its own (0, or unknown) only A to Z
// fold.
uint16_t FoldFileNameCharacter(const char* text, uint16_t codePage, size_t* length);

}  // namespace zv
