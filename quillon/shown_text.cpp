#include "quillon/shown_text.h"

namespace quillon {

std::string Shown(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string shown;
    shown.reserve(text.size());
    for (char c : text) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b <= 0x7E) {
            shown += c;
        } else {
            shown += "\\x";
            shown += kHex[b >> 4];
            shown += kHex[b & 0xF];
        }
    }
    return shown;
}

}  // namespace quillon
