#include "package/paths.h"

#include <cstring>

namespace zv {

bool AppendBackslash(char* path, int size) {
    size_t length = std::strlen(path);
    if (length == 0 || path[length - 1] == '\\') return true;
    if (length + 2 > static_cast<size_t>(size)) return false;
    path[length] = '\\';
    path[length + 1] = '\0';
    return true;
}

void StripTrailingBackslash(char* path) {
    size_t length = std::strlen(path);
    if (length > 3 && path[length - 1] == '\\') path[length - 1] = '\0';
}

bool ReplaceExtension(char* path, int size, const char* ending) {
    size_t length = std::strlen(path);
    const char* dot = std::strrchr(path, '.');
    size_t keep = (dot != nullptr && std::strchr(dot, '\\') == nullptr)
                      ? static_cast<size_t>(dot - path)
                      : length;
    size_t endingLength = std::strlen(ending);
    if (keep + endingLength + 1 > static_cast<size_t>(size)) return false;
    std::memcpy(path + keep, ending, endingLength + 1);
    return true;
}

}  // namespace zv
