// The Windows language identifiers: for each, the ANSI code page of a system
// of that language and its name as the system's version library gives it on
// an English system (VerLanguageNameA). The one table of them, for the
// portable platform's language names, the code pages of package names and
// the packer's check of a package's language.
#pragma once

#include <cstdint>

namespace zv {

struct Language {
    uint16_t id;        // primary language in the low 10 bits, sublanguage above
    uint16_t codePage;  // 874, 932, 936, 949, 950 or 1250 to 1258; 0 when written in Unicode only
    const char* name;   // in code page 1252
};

// The language whose identifier is `id` (all 32 bits of it), or nullptr when
// `id` names no Windows language.
const Language* FindLanguage(uint32_t id);

}  // namespace zv
