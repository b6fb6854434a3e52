#include "quillon/base/shown_text.h"

namespace quillon {

namespace {

void AppendEscaped(std::string* shown, unsigned char b) {
    static const char kHex[] = "0123456789ABCDEF";
    *shown += "\\x";
    *shown += kHex[b >> 4];
    *shown += kHex[b & 0xF];
}

}  // namespace

std::string Shown(const std::string& text) {
    std::string shown;
    shown.reserve(text.size());
    for (char c : text) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b <= 0x7E) {
            shown += c;
        } else {
            AppendEscaped(&shown, b);
        }
    }
    return shown;
}

std::string ShownUtf8(const std::string& text) {
    std::string shown;
    shown.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char b = static_cast<unsigned char>(text[i]);
        const unsigned char next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        if (b < 0x20 || b == 0x7F) {
            AppendEscaped(&shown, b);
        } else if (b == 0xC2 && next >= 0x80 && next <= 0x9F) {
            // U+0080 to U+009F: terminals take some of them as controls too.
            AppendEscaped(&shown, b);
            AppendEscaped(&shown, next);
            ++i;
        } else {
            shown += static_cast<char>(b);
        }
    }
    return shown;
}

}  // namespace quillon
