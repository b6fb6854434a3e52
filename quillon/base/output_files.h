// Files that a build writes beside its output: temporary files of this
// process alone, and the lock that lets one build at a time put its package
// in place of the output.
#pragma once

#include <cstdio>
#include <string>

namespace quillon {

// Creates a new file for writing next to `finalPath`, under a name that no
// other process uses (the final name, this process's id, a counter and
// ".quillon-tmp"), created exclusively so that an existing file is never
// opened. Returns the open file and its name in *temporaryPath, or nullptr
// with the reason in *error.
std::FILE* CreateTemporaryFile(const std::string& finalPath, std::string* temporaryPath, std::string* error);

// Creates a file for writing and reading back next to `besidePath` (named as
// CreateTemporaryFile names its files) that no exit of the process can leave
// behind: on POSIX systems its name is removed as soon as it is open; on
// Windows the system deletes it when it is closed, which it is when the
// process ends in any way. Returns the open file, or nullptr with the reason
// in *error.
std::FILE* CreateScratchFile(const std::string& besidePath, std::string* error);

// Holds the lock of one output: while it is held, no other quillon build
// puts its files in place of that output or of its volumes. The lock is a
// file named like the output with ".quillon-lock" appended; it is removed
// when the lock is released.
class OutputLock {
public:
    OutputLock() = default;
    ~OutputLock() { Release(); }
    OutputLock(const OutputLock&) = delete;
    OutputLock& operator=(const OutputLock&) = delete;

    // Takes the lock of `outputPath`, waiting while another build holds it
    // (`waiting` is called once if so). False with the reason in *error when
    // the lock file cannot be made.
    bool Acquire(const std::string& outputPath, void (*waiting)(const std::string& outputPath), std::string* error);
    void Release();

private:
    std::string path_;
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

}  // namespace quillon
