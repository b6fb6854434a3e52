// Names of Windows language identifiers, as the system's version library
// gives them on an English system (VerLanguageNameA). Texts are in code page
// 1252.
#pragma once

#include <cstdint>

namespace zv {

// The name of the language in the low 16 bits of `language`, or nullptr when
// the table does not know it.
const char* KnownLanguageName(uint32_t language);

}  // namespace zv
