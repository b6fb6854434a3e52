// The settings reader on any text: the first byte gives the length of the
// section name and the second that of the key name (both taken from the
// input), the rest is the file's text. Every value found must lie inside the
// text, every answer must fit its buffer, and the integer read must agree
// with the string read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/ini_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    size_t sectionLength = data[0] % 16;
    size_t keyLength = data[1] % 16;
    if (size < 2 + sectionLength + keyLength) return 0;
    const char* p = reinterpret_cast<const char*>(data + 2);
    std::string section(p, sectionLength);
    std::string key(p + sectionLength, keyLength);
    section = section.c_str();
    key = key.c_str();
    // The text gets a buffer of its own, so reading past it is caught.
    size_t textSize = size - 2 - sectionLength - keyLength;
    std::vector<char> text(p + sectionLength + keyLength, p + sectionLength + keyLength + textSize);

    const char* value = nullptr;
    size_t length = 0;
    bool found = zv::FindIniValue(text.data(), text.size(), section.c_str(), key.c_str(), &value, &length);
    if (found && (value < text.data() || value + length > text.data() + text.size())) std::abort();

    for (uint32_t bufferSize : {1u, 3u, 30u, 256u}) {
        std::vector<char> buffer(bufferSize);
        uint32_t n = zv::IniString(text.data(), text.size(), section.c_str(), key.c_str(), "fallback ", buffer.data(),
                                   bufferSize);
        if (n >= bufferSize || buffer[n] != '\0' || std::strlen(buffer.data()) != n) std::abort();
        if (found && n != (length < bufferSize - 1 ? length : bufferSize - 1)) std::abort();
    }
    uint32_t number = zv::IniInteger(text.data(), text.size(), section.c_str(), key.c_str(), 12345);
    if (!found || length == 0) {
        if (number != 12345) std::abort();
    } else {
        size_t read = length < 29 ? length : 29;
        if (number != zv::ParseIniInteger(value, read)) std::abort();
    }
    zv::ParseIniInteger(text.data(), text.size());
    return 0;
}
