// Member names between the description's UTF-8 and the Windows ANSI code
// page that the updater's file calls use on a system of the package's
// language.
#pragma once

#include <cstdint>
#include <string>

namespace quillon {

// Converts the UTF-8 `utf8` into code page `codePage` (0: no code page, so
// only ASCII is allowed). False with the reason in *error when `utf8` is not
// UTF-8 or holds a character that the code page cannot hold; the reason
// names the character.
bool EncodeForCodePage(const std::string& utf8, uint16_t codePage, std::string* encoded, std::string* error);

// The bytes `text` of code page `codePage` in UTF-8, for showing; a byte that
// does not convert is shown as "\xNN". ASCII comes back unchanged.
std::string DecodeFromCodePage(const std::string& text, uint16_t codePage);

// The code page of the package language `language` (0 when the language has
// none or is unknown).
uint16_t LanguageCodePage(uint32_t language);

// A member name from a package, in UTF-8 for showing, its control characters
// escaped.
std::string ShownMemberName(const char* name, uint32_t language);

// A member name from a package in the form the host's file calls take: the
// code page's bytes themselves on Windows (as the updater passes them), UTF-8
// elsewhere.
std::string HostMemberName(const char* name, uint32_t language);

}  // namespace quillon
