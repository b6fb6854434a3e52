// Code page 1252, the 8-bit character set of the system's "A" functions on
// a Western system, and its conversion from and to UTF-16 characters.
#pragma once

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

}  // namespace zv
