#include "quillon/base/name_encoding.h"

#include <cstdio>
#include <vector>

#include "platform/languages.h"
#include "quillon/base/shown_text.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

namespace quillon {

namespace {

bool IsAscii(const std::string& text) {
    for (unsigned char c : text) {
        if (c >= 0x80) return false;
    }
    return true;
}

// The length of the UTF-8 sequence at `i`, or 0 when it is not one.
size_t Utf8Length(const std::string& s, size_t i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return 0;
    for (size_t k = 1; k < n; ++k) {
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
    }
    return n;
}

#ifdef _WIN32

// One character (its UTF-8 bytes) in the code page; false when it has none.
bool EncodeOne(const std::string& ch, uint16_t codePage, std::string* out) {
    wchar_t wide[4];
    const int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, ch.data(), static_cast<int>(ch.size()), wide, 4);
    if (n <= 0) return false;
    char bytes[8];
    BOOL usedDefault = FALSE;
    const int m = ::WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide, n, bytes, sizeof bytes, nullptr,
                                        &usedDefault);
    if (m <= 0 || usedDefault) return false;
    out->append(bytes, static_cast<size_t>(m));
    return true;
}

bool DecodeAll(const std::string& text, uint16_t codePage, std::string* out) {
    if (text.empty()) return true;
    const int n = ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                                        nullptr, 0);
    if (n <= 0) return false;
    std::vector<wchar_t> wide(static_cast<size_t>(n));
    ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), wide.data(), n);
    const int m = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), n, nullptr, 0, nullptr, nullptr);
    std::vector<char> utf8(static_cast<size_t>(m));
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), n, utf8.data(), m, nullptr, nullptr);
    out->assign(utf8.begin(), utf8.end());
    return true;
}

#else

// Converts all of `in` with iconv; false when a character does not convert.
bool Convert(const char* to, const char* from, const std::string& in, std::string* out) {
    iconv_t cd = ::iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::vector<char> buffer(in.size() * 4 + 16);
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char* dst = buffer.data();
    size_t dstLeft = buffer.size();
    const bool ok = ::iconv(cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<size_t>(-1) && srcLeft == 0 &&
                    ::iconv(cd, nullptr, nullptr, &dst, &dstLeft) != static_cast<size_t>(-1);
    ::iconv_close(cd);
    if (ok) out->assign(buffer.data(), static_cast<size_t>(dst - buffer.data()));
    return ok;
}

std::string IconvName(uint16_t codePage) { return "CP" + std::to_string(codePage); }

bool EncodeOne(const std::string& ch, uint16_t codePage, std::string* out) {
    std::string bytes;
    if (!Convert(IconvName(codePage).c_str(), "UTF-8", ch, &bytes)) return false;
    // A character that comes back as itself differently spelled is fine; one
    // that only maps to "?" is not there.
    if (bytes.empty() || (bytes == "?" && ch != "?")) return false;
    out->append(bytes);
    return true;
}

bool DecodeAll(const std::string& text, uint16_t codePage, std::string* out) {
    return Convert("UTF-8", IconvName(codePage).c_str(), text, out);
}

#endif

}  // namespace

bool EncodeForCodePage(const std::string& utf8, uint16_t codePage, std::string* encoded, std::string* error) {
    encoded->clear();
    if (IsAscii(utf8)) {
        *encoded = utf8;
        return true;
    }
    for (size_t i = 0; i < utf8.size();) {
        const size_t n = Utf8Length(utf8, i);
        if (n == 0) {
            *error = "it is not UTF-8 (save the description as UTF-8)";
            return false;
        }
        const std::string ch = utf8.substr(i, n);
        if (n == 1) {
            encoded->push_back(ch[0]);
        } else if (codePage == 0) {
            *error = "the character '" + ch + "' is not ASCII, and the package's language has no ANSI code page "
                     "for the updater's file names";
            return false;
        } else if (!EncodeOne(ch, codePage, encoded)) {
            *error = "the character '" + ch + "' cannot be written in code page " + std::to_string(codePage) +
                     ", which the updater's file names use for the package's language";
            return false;
        }
        i += n;
    }
    return true;
}

std::string DecodeFromCodePage(const std::string& text, uint16_t codePage) {
    if (IsAscii(text)) return text;
    std::string out;
    if (codePage != 0 && DecodeAll(text, codePage, &out)) return out;
    out.clear();
    for (unsigned char c : text) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

uint16_t LanguageCodePage(uint32_t language) {
    const zv::Language* known = zv::FindLanguage(language);
    return known != nullptr ? known->codePage : 0;
}

std::string ShownMemberName(const char* name, uint32_t language) {
    return ShownUtf8(DecodeFromCodePage(name, LanguageCodePage(language)));
}

std::string HostMemberName(const char* name, uint32_t language) {
#ifdef _WIN32
    (void)language;
    return name;
#else
    return DecodeFromCodePage(name, LanguageCodePage(language));
#endif
}

}  // namespace quillon
