#include "platform/posix_platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <vector>

#include "platform/ini_file.h"
#include "platform/languages.h"
#include "platform/text.h"
#include "platform/version_resource.h"

namespace zv {
namespace {

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool Exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

// The name in `directory` that equals `name` without regard to case, or
// `name` itself when there is none.
std::string MatchName(const std::string& directory, const std::string& name) {
    DIR* dir = ::opendir(directory.empty() ? "/" : directory.c_str());
    if (dir == nullptr) return name;
    std::string found = name;
    while (struct dirent* entry = ::readdir(dir)) {
        if (EqualNoCase(entry->d_name, name.c_str())) {
            found = entry->d_name;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

// Whether an absolute host path is made of plain names only (no empty, "."
// or ".." component, no slash at the end): its components resolved one by
// one give the path itself back.
bool IsPlainPath(const std::string& p) {
    if (p.size() < 2 || p[0] != '/' || p.back() == '/') return false;
    size_t start = 1;
    while (start <= p.size()) {
        size_t end = p.find('/', start);
        if (end == std::string::npos) end = p.size();
        const size_t length = end - start;
        if (length == 0 || (p[start] == '.' && (length == 1 || (length == 2 && p[start + 1] == '.')))) return false;
        start = end + 1;
    }
    return true;
}

// A file whose write bits are all clear carries the read-only attribute.
bool IsReadOnlyFile(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0;
}

uint32_t CopyOut(char* buffer, uint32_t size, const std::string& text) {
    if (size == 0) return 0;
    return static_cast<uint32_t>(CopyText(buffer, static_cast<int>(size), text.c_str()));
}

// A FileBytes over an open descriptor.
bool ReadDescriptorAt(const FileBytes& file, uint64_t offset, void* out, uint32_t count) {
    if (offset > file.size || count > file.size - offset) return false;
    int fd = *static_cast<const int*>(file.context);
    uint32_t got = 0;
    while (got < count) {
        ssize_t n = ::pread(fd, static_cast<char*>(out) + got, count - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        got += static_cast<uint32_t>(n);
    }
    return true;
}

// A regular file opened for reading, closed when it goes.
struct ReadOnlyFile {
    int fd = -1;
    uint64_t size = 0;
    explicit ReadOnlyFile(const std::string& host) {
        struct stat st;
        if (host.empty() || ::stat(host.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
        fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC);
        size = static_cast<uint64_t>(st.st_size);
    }
    ~ReadOnlyFile() {
        if (fd >= 0) ::close(fd);
    }
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
    FileBytes Bytes() const {
        FileBytes bytes;
        bytes.context = &fd;
        bytes.size = size;
        bytes.readAt = ReadDescriptorAt;
        return bytes;
    }
};

// A name without any directory part is a file in the Windows directory.
bool IsBareName(const char* name) {
    return std::strpbrk(name, "\\/:") == nullptr;
}

// The whole text of a settings file; false when it cannot be read.
bool ReadSettingsText(const std::string& host, std::vector<char>* text) {
    ReadOnlyFile file(host);
    if (file.fd < 0) return false;
    text->resize(static_cast<size_t>(file.size));
    return file.size == 0 || ReadDescriptorAt(file.Bytes(), 0, text->data(), static_cast<uint32_t>(file.size));
}

}  // namespace

PosixPlatform::PosixPlatform(PosixLayout layout) : layout_(std::move(layout)) {
    char cwd[PATH_MAX];
    workingDir_ = ::getcwd(cwd, sizeof cwd) ? cwd : "/";
}

std::string PosixPlatform::HostPath(const char* path) const {
    std::string p(path);
    for (char& c : p) {
        if (c == '\\') c = '/';
    }
    if (p.size() >= 2 && IsDriveLetter(p[0]) && p[1] == ':') {
        const std::string& root = layout_.drives[(p[0] | 0x20) - 'a'];
        if (root.empty()) return std::string();
        std::string rest = p.substr(2);
        p = root + (rest.empty() || rest[0] != '/' ? "/" : "") + rest;
    } else if (p.empty() || p[0] != '/') {
        p = workingDir_ + "/" + p;
    }
    // Most paths exist as written, or all but their last component do: one
    // look at the path, or at its folder, then says what matching each
    // component below would find, without listing every folder on the way.
    if (IsPlainPath(p)) {
        if (Exists(p)) return p;
        const size_t slash = p.rfind('/');
        if (slash != 0) {
            const std::string folder = p.substr(0, slash);
            if (Exists(folder)) return folder + "/" + MatchName(folder, p.substr(slash + 1));
        }
    }
    // Match each existing component without regard to case; once one is
    // missing, the rest are taken as written.
    std::string resolved;
    size_t start = 1;
    bool matching = true;
    while (start <= p.size()) {
        size_t end = p.find('/', start);
        if (end == std::string::npos) end = p.size();
        std::string part = p.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".") continue;
        if (matching && part != "..") {
            std::string candidate = resolved + "/" + part;
            if (!Exists(candidate)) {
                part = MatchName(resolved, part);
                matching = Exists(resolved + "/" + part);
            }
        }
        resolved += "/" + part;
    }
    return resolved.empty() ? "/" : resolved;
}

void PosixPlatform::SetSharedFileInUse(const std::string& name, bool inUse) {
    if (inUse) {
        inUse_.insert(LowerAz(name));
    } else {
        inUse_.erase(LowerAz(name));
    }
}

FileHandle PosixPlatform::Open(const char* path, OpenMode mode) {
    std::string host = HostPath(path);
    if (host.empty()) return kNoFile;
    int flags = O_RDONLY;
    struct stat st;
    if (mode != OpenMode::Read) {
        if (IsReadOnlyFile(host)) return kNoFile;
        // A file opened for writing is never reached through a link at its
        // own name.
        if (::lstat(host.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return kNoFile;
        flags = (mode == OpenMode::Write ? O_WRONLY : O_RDWR) | O_NOFOLLOW;
    }
    if (::stat(host.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return kNoFile;
    int fd = ::open(host.c_str(), flags | O_CLOEXEC);
    return fd < 0 ? kNoFile : fd;
}

FileHandle PosixPlatform::Create(const char* path) {
    std::string host = HostPath(path);
    if (host.empty()) return kNoFile;
    // Only ever a new file: O_EXCL fails on anything at the name, a link
    // (dangling or not) included, and O_NOFOLLOW says so twice.
    int fd = ::open(host.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    return fd < 0 ? kNoFile : fd;
}

int32_t PosixPlatform::Read(FileHandle file, void* buffer, uint32_t count) {
    if (count > INT32_MAX) count = INT32_MAX;
    uint32_t got = 0;
    while (got < count) {
        ssize_t n = ::read(file, static_cast<char*>(buffer) + got, count - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return got > 0 ? static_cast<int32_t>(got) : kFileError;
        if (n == 0) break;
        got += static_cast<uint32_t>(n);
    }
    return static_cast<int32_t>(got);
}

int32_t PosixPlatform::Write(FileHandle file, const void* buffer, uint32_t count) {
    if (count > INT32_MAX) count = INT32_MAX;
    uint32_t put = 0;
    while (put < count) {
        ssize_t n = ::write(file, static_cast<const char*>(buffer) + put, count - put);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            // A full disk after some bytes is a short write, as on Windows.
            if (put > 0 || errno == ENOSPC) return static_cast<int32_t>(put);
            return kFileError;
        }
        if (n == 0) break;
        put += static_cast<uint32_t>(n);
    }
    return static_cast<int32_t>(put);
}

int32_t PosixPlatform::Seek(FileHandle file, int32_t offset, SeekOrigin origin) {
    int whence = origin == SeekOrigin::Begin ? SEEK_SET : origin == SeekOrigin::Current ? SEEK_CUR : SEEK_END;
    off_t pos = ::lseek(file, offset, whence);
    if (pos < 0 || pos > INT32_MAX) return kFileError;
    return static_cast<int32_t>(pos);
}

void PosixPlatform::Close(FileHandle file) {
    if (file != kNoFile) ::close(file);
}

bool PosixPlatform::Flush(FileHandle file) { return ::fsync(file) == 0; }

bool PosixPlatform::Remove(const char* path) {
    std::string host = HostPath(path);
    return !host.empty() && ::unlink(host.c_str()) == 0;
}

namespace {

// The directory part of a host path ("/" for a file in the root).
std::string HostDirectoryOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

// Renames one file over another, as Windows would: a read-only target stays.
bool RenameOver(const std::string& source, const std::string& target) {
    if (source.empty() || target.empty() || IsReadOnlyFile(target)) return false;
    return ::rename(source.c_str(), target.c_str()) == 0;
}

bool FsyncDirectory(const std::string& directory) {
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

}  // namespace

bool PosixPlatform::Replace(const char* from, const char* to) {
    const std::string target = HostPath(to);
    if (!RenameOver(HostPath(from), target)) return false;
    // Make the new directory entry durable too.
    FsyncDirectory(HostDirectoryOf(target));
    return true;
}

MoveResult PosixPlatform::Move(const char* from, const char* to) {
    return RenameOver(HostPath(from), HostPath(to)) ? MoveResult::Done : MoveResult::Failed;
}

bool PosixPlatform::SyncDirectory(const char* directory) {
    const std::string host = HostPath(directory);
    return !host.empty() && FsyncDirectory(host);
}

bool PosixPlatform::FreeSpace(const char* directory, uint64_t* bytes) {
    std::string host = HostPath(directory);
    struct statvfs st;
    if (host.empty() || ::statvfs(host.c_str(), &st) != 0) return false;
    *bytes = static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
    return true;
}

bool PosixPlatform::StoredName(const char* path, char* name, uint32_t size) {
    const std::string host = HostPath(path);
    if (host.empty() || !Exists(host) || size == 0) return false;
    const std::string last = host.substr(host.find_last_of('/') + 1);
    if (last.size() >= size) return false;
    std::memcpy(name, last.c_str(), last.size() + 1);
    return true;
}

bool PosixPlatform::VolumeOf(const char* directory, char* root, uint32_t size) {
    std::string host = HostPath(directory);
    if (host.empty() || host[0] != '/') return false;
    // The nearest existing directory, then up while the device stays the same.
    struct stat st;
    while (::stat(host.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        if (host == "/") return false;
        const size_t slash = host.find_last_of('/');
        host = slash == 0 ? "/" : host.substr(0, slash);
    }
    while (host != "/") {
        const size_t slash = host.find_last_of('/');
        const std::string parent = slash == 0 ? "/" : host.substr(0, slash);
        struct stat above;
        if (::stat(parent.c_str(), &above) != 0 || above.st_dev != st.st_dev) break;
        host = parent;
    }
    std::string text = host;
    for (char& c : text) {
        if (c == '/') c = '\\';
    }
    if (text.back() != '\\') text += '\\';
    if (text.size() >= size) return false;
    std::memcpy(root, text.c_str(), text.size() + 1);
    return true;
}

PathKind PosixPlatform::Examine(const char* path) {
    const std::string host = HostPath(path);
    if (host.empty()) return PathKind::Unknown;
    struct stat st;
    if (::lstat(host.c_str(), &st) != 0) {
        return errno == ENOENT || errno == ENOTDIR ? PathKind::Missing : PathKind::Unknown;
    }
    if (S_ISLNK(st.st_mode)) return PathKind::Link;
    return S_ISDIR(st.st_mode) ? PathKind::Directory : PathKind::File;
}

bool PosixPlatform::IsFileAt(FileHandle file, const char* path, const char* trusted) {
    // The open file: a regular file with one name.
    struct stat opened;
    if (::fstat(file, &opened) != 0 || !S_ISREG(opened.st_mode) || opened.st_nlink != 1) return false;
    // The file at the path, its last part not followed, is that one.
    const std::string host = HostPath(path);
    struct stat named;
    if (host.empty() || ::lstat(host.c_str(), &named) != 0 || !S_ISREG(named.st_mode) ||
        named.st_dev != opened.st_dev || named.st_ino != opened.st_ino) {
        return false;
    }
    // And no folder below the trusted one on the way to it is a link.
    std::string p(path);
    std::string t(trusted);
    for (std::string* text : {&p, &t}) {
        for (char& c : *text) {
            if (c == '/') c = '\\';
        }
    }
    while (!t.empty() && t.back() == '\\') t.pop_back();
    const size_t trustedEnd = t.size();
    if (trustedEnd >= p.size() || p[trustedEnd] != '\\' || !EqualNoCase(p.substr(0, trustedEnd).c_str(), t.c_str())) {
        return false;
    }
    for (size_t k = trustedEnd + 1; k < p.size(); ++k) {
        if (p[k] != '\\' || p[k - 1] == '\\') continue;
        const std::string folder = HostPath(p.substr(0, k).c_str());
        struct stat st;
        if (folder.empty() || ::lstat(folder.c_str(), &st) != 0 || S_ISLNK(st.st_mode)) return false;
    }
    return true;
}

bool PosixPlatform::EnterDirectory(const char* path) {
    std::string host = HostPath(path);
    struct stat st;
    if (host.empty() || ::stat(host.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        ::access(host.c_str(), X_OK) != 0) {
        return false;
    }
    workingDir_ = host;
    return true;
}

bool PosixPlatform::MakeDirectory(const char* path) {
    std::string host = HostPath(path);
    return !host.empty() && ::mkdir(host.c_str(), 0777) == 0;
}

uint32_t PosixPlatform::ModulePath(char* buffer, uint32_t size) {
    if (!layout_.modulePath.empty()) return CopyOut(buffer, size, layout_.modulePath);
    char self[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return CopyOut(buffer, size, "");
    self[n] = '\0';
    return CopyOut(buffer, size, self);
}

uint32_t PosixPlatform::WindowsDirectory(char* buffer, uint32_t size) {
    return CopyOut(buffer, size, layout_.windowsDir);
}

std::string PosixPlatform::SettingsHostPath(const char* file) const {
    if (file == nullptr) return std::string();
    if (!IsBareName(file)) return HostPath(file);
    if (layout_.windowsDir.empty()) return std::string();
    std::string path = layout_.windowsDir;
    if (path.back() != '\\' && path.back() != '/') path += '\\';
    return HostPath((path + file).c_str());
}

uint32_t PosixPlatform::ProfileString(const char* section, const char* key, const char* fallback, char* buffer,
                                      uint32_t size, const char* file) {
    std::vector<char> text;
    if (!ReadSettingsText(SettingsHostPath(file), &text)) text.clear();
    return IniString(text.data(), text.size(), section, key, fallback, buffer, size);
}

uint32_t PosixPlatform::ProfileInt(const char* section, const char* key, int32_t fallback, const char* file) {
    std::vector<char> text;
    if (!ReadSettingsText(SettingsHostPath(file), &text)) text.clear();
    return IniInteger(text.data(), text.size(), section, key, fallback);
}

uint32_t PosixPlatform::VersionInfoSize(const char* path) {
    ReadOnlyFile file(HostPath(path));
    if (file.fd < 0) return 0;
    return VersionBlockSize(file.Bytes(), layout_.userLanguage);
}

bool PosixPlatform::VersionInfo(const char* path, uint32_t size, void* block) {
    ReadOnlyFile file(HostPath(path));
    if (file.fd < 0) return false;
    return ReadVersionBlock(file.Bytes(), layout_.userLanguage, block, size);
}

bool PosixPlatform::QueryVersion(const void* block, const char* subBlock, const void** value, uint32_t* length) {
    // A block made by VersionInfo holds at least what its own header asks
    // for, which bounds every query.
    uint8_t head[6];
    std::memcpy(head, block, sizeof head);
    uint32_t size = VersionBlockNeed(head, sizeof head);
    return QueryVersionBlock(const_cast<void*>(block), size, subBlock, value, length);
}

uint32_t PosixPlatform::FindSharedFile(const char* name, const char*, const char* appDir,
                                       char* currentDir, uint32_t currentSize, char* destDir,
                                       uint32_t destSize) {
    // Found in the system directory first, then in the application directory;
    // a shared file belongs in the system directory.
    CopyOut(currentDir, currentSize, "");
    const std::string candidates[] = {layout_.systemDir, appDir ? appDir : ""};
    for (const std::string& dir : candidates) {
        if (dir.empty()) continue;
        std::string path = dir;
        if (path.back() != '\\' && path.back() != '/') path += '\\';
        path += name;
        std::string host = HostPath(path.c_str());
        struct stat st;
        if (!host.empty() && ::stat(host.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            CopyOut(currentDir, currentSize, dir);
            break;
        }
    }
    CopyOut(destDir, destSize, layout_.systemDir);
    uint32_t result = 0;
    if (currentDir[0] != '\0' && !EqualNoCase(currentDir, destDir)) result |= SHARED_CUR_NOT_DEST;
    if (currentDir[0] != '\0' && inUse_.count(LowerAz(name)) != 0) result |= SHARED_FILE_IN_USE;
    return result;
}

uint32_t PosixPlatform::LanguageName(uint32_t language, char* buffer, uint32_t size) {
    // The identifier is the low 16 bits; the system looks no further.
    if (const Language* known = FindLanguage(language & 0xFFFF)) return CopyOut(buffer, size, known->name);
    char unknown[48];
    FormatText(unknown, sizeof unknown, "Unknown language (0x%04X)", static_cast<unsigned>(language & 0xFFFF));
    return CopyOut(buffer, size, unknown);
}

BlockHandle PosixPlatform::AllocBlock(uint32_t size) {
    return reinterpret_cast<BlockHandle>(std::calloc(size == 0 ? 1 : size, 1));
}

void* PosixPlatform::LockBlock(BlockHandle block) { return reinterpret_cast<void*>(block); }

void PosixPlatform::UnlockBlock(BlockHandle) {}

void PosixPlatform::FreeBlock(BlockHandle block) { std::free(reinterpret_cast<void*>(block)); }

Platform& HostPlatform() {
    static PosixPlatform platform;
    return platform;
}

}  // namespace zv
