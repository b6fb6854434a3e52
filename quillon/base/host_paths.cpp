#include "quillon/base/host_paths.h"

#include "package/volume_reader.h"
#include "platform/platform.h"

namespace quillon {

namespace {

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

}  // namespace

std::string PlatformPath(const std::string& path) {
    std::string out = path;
    for (char& c : out) {
        if (c == '/') c = '\\';
    }
    return out;
}

std::string DirectoryPart(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string VolumeHostPath(const std::string& firstVolume, uint32_t volume) {
    // Only the file name takes the number, as it does in the updater, whose
    // path has "\" between directories so that a dot in a directory name is
    // never taken for the extension's.
    const std::string directory = DirectoryPart(firstVolume);
    const std::string name = firstVolume.substr(directory.size());
    char path[zv::kMaxPath] = {};
    if (!zv::VolumeFilePath(name.c_str(), volume, path, sizeof path)) return std::string();
    const std::string full = directory + path;
    return full.size() < zv::kMaxPath ? full : std::string();
}

std::string MemberHostPath(const std::string& base, const std::string& name) {
    std::string path = base;
    if (!path.empty() && path.back() != '/' && path.back() != '\\') path += kSeparator;
    for (char c : name) path += c == '\\' ? kSeparator : c;
    return path;
}

}  // namespace quillon
