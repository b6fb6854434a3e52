#include "quillon/base/output_files.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <sys/file.h>
#include <unistd.h>
#endif

namespace quillon {

namespace {

long ProcessId() {
#ifdef _WIN32
    return static_cast<long>(_getpid());
#else
    return static_cast<long>(::getpid());
#endif
}

// Opens `path` for writing only when no file of that name exists.
int OpenExclusive(const char* path) {
#ifdef _WIN32
    return ::_open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
    return ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
#endif
}

// Opens `path` for writing and reading only when no file of that name
// exists, as a file that does not outlive its descriptor (Windows: deleted
// on close; elsewhere the caller removes the name at once).
int OpenScratch(const char* path) {
#ifdef _WIN32
    return ::_open(path, _O_RDWR | _O_CREAT | _O_EXCL | _O_BINARY | _O_TEMPORARY | _O_SHORT_LIVED,
                   _S_IREAD | _S_IWRITE);
#else
    return ::open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
#endif
}

// Opens, with `open`, the first free name of `stem` followed by a number and
// ".quillon-tmp"; the descriptor, with *path its name, or -1 with *error.
int OpenFreeName(const std::string& stem, int (*open)(const char*), std::string* path, std::string* error) {
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        *path = stem + std::to_string(++counter) + ".quillon-tmp";
        const int fd = open(path->c_str());
        if (fd >= 0) return fd;
        if (errno != EEXIST) {  // not one left by a process that had our id before
            *error = std::strerror(errno);
            return -1;
        }
    }
    *error = "no free temporary name";
    return -1;
}

// The stream over `fd`, or nullptr with *error and the descriptor closed.
std::FILE* StreamOf(int fd, const char* mode, std::string* error) {
#ifdef _WIN32
    std::FILE* file = ::_fdopen(fd, mode);
#else
    std::FILE* file = ::fdopen(fd, mode);
#endif
    if (file == nullptr) {
        *error = std::strerror(errno);
#ifdef _WIN32
        ::_close(fd);
#else
        ::close(fd);
#endif
    }
    return file;
}

}  // namespace

std::FILE* CreateTemporaryFile(const std::string& finalPath, std::string* temporaryPath, std::string* error) {
    std::string path;
    const int fd = OpenFreeName(finalPath + "." + std::to_string(ProcessId()) + "-", OpenExclusive, &path, error);
    if (fd < 0) return nullptr;
    std::FILE* file = StreamOf(fd, "wb", error);
    if (file == nullptr) {
        std::remove(path.c_str());
        return nullptr;
    }
    *temporaryPath = path;
    return file;
}

std::FILE* CreateScratchFile(const std::string& besidePath, std::string* error) {
    std::string path;
    const int fd =
        OpenFreeName(besidePath + "." + std::to_string(ProcessId()) + "-scratch", OpenScratch, &path, error);
    if (fd < 0) return nullptr;
#ifndef _WIN32
    ::unlink(path.c_str());  // Windows deletes it when it is closed
#endif
    return StreamOf(fd, "w+b", error);
}

#ifdef _WIN32

bool OutputLock::Acquire(const std::string& outputPath, void (*waiting)(const std::string&), std::string* error) {
    Release();
    const std::string path = outputPath + ".quillon-lock";
    bool told = false;
    for (;;) {
        // Opened without sharing, the file is the lock; the system removes it
        // when the last handle closes, also when the process is ended.
        HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            handle_ = h;
            path_ = path;
            return true;
        }
        const DWORD why = ::GetLastError();
        if (why != ERROR_SHARING_VIOLATION && why != ERROR_ACCESS_DENIED) {
            *error = path + ": cannot be created (error " + std::to_string(why) + ")";
            return false;
        }
        if (!told && waiting != nullptr) waiting(outputPath);
        told = true;
        ::Sleep(200);
    }
}

void OutputLock::Release() {
    if (handle_ != nullptr) {
        ::CloseHandle(static_cast<HANDLE>(handle_));
        handle_ = nullptr;
    }
    path_.clear();
}

#else

bool OutputLock::Acquire(const std::string& outputPath, void (*waiting)(const std::string&), std::string* error) {
    Release();
    const std::string path = outputPath + ".quillon-lock";
    bool told = false;
    for (;;) {
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0) {
            *error = path + ": cannot be created: " + std::strerror(errno);
            return false;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            if (!told && waiting != nullptr) waiting(outputPath);
            told = true;
            if (::flock(fd, LOCK_EX) != 0) {
                *error = path + ": cannot be locked: " + std::strerror(errno);
                ::close(fd);
                return false;
            }
        }
        // The holder before us removes the file as it lets go; a lock on the
        // removed file locks nothing, so it must still be the file of the name.
        struct stat held {};
        struct stat named {};
        if (::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 && held.st_ino == named.st_ino &&
            held.st_dev == named.st_dev) {
            fd_ = fd;
            path_ = path;
            return true;
        }
        ::close(fd);
    }
}

void OutputLock::Release() {
    if (fd_ >= 0) {
        // Removed while still held, so whoever opens the name next makes a
        // new file, and whoever waits on this one sees it is gone.
        ::unlink(path_.c_str());
        ::close(fd_);
        fd_ = -1;
    }
    path_.clear();
}

#endif

}  // namespace quillon
