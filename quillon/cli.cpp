#include "quillon/cli.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>

namespace quillon {

bool WantsHelp(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) return true;
    }
    return false;
}

int Fail(int code, const char* format, ...) {
    std::fputs("quillon: ", stderr);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
    return code;
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        *error = std::strerror(errno);
        return false;
    }
    bytes->clear();
    uint8_t block[65536];
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, file)) > 0) bytes->insert(bytes->end(), block, block + n);
    bool ok = !std::ferror(file);
    if (!ok) *error = std::strerror(errno);
    std::fclose(file);
    return ok;
}

}  // namespace quillon
