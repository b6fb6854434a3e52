// The Windows language identifiers a package may be built for (the ANSI code
// page of each is zv::LanguageCodePage's).
#pragma once

#include <cstdint>
#include <string>

namespace quillon {

struct WindowsLanguage {
    uint16_t id;       // primary language in the low 10 bits, sublanguage above
    const char* name;
};

// The language of `id`, or nullptr when `id` names no Windows language.
const WindowsLanguage* FindWindowsLanguage(uint32_t id);

// Why `text`, written as a language id whose value is `id`, names no Windows
// language, with a hint when one is likely meant (a number in hex written
// without its 0x: "409" for 0x0409). Empty when `id` is a language.
std::string LanguageProblem(const std::string& text, uint32_t id);

}  // namespace quillon
