// The platform of the portable build, over POSIX calls.
//
// Paths come in Windows form and are mapped onto the host: "\" becomes "/",
// a drive letter "X:" stands for the host directory given for it in the
// layout, a path without a drive or leading "\" is taken relative to the
// working directory that EnterDirectory sets (kept here, not the process's),
// and a path that starts with "\" or "/" is a host path ("/tmp/x"), so tools
// can name host directories directly. As on Windows, names are found
// without regard to the case of the letters A to Z, and a file whose write
// bits are all clear counts as read-only (even for root).
#pragma once

#include <set>
#include <string>

#include "platform/platform.h"
#include "platform/version_resource.h"

namespace zv {

struct PosixLayout {
    std::string drives[26];   // host directory of each drive letter; empty: none
    std::string windowsDir;   // what WindowsDirectory reports
    std::string systemDir;    // where shared files are looked for and belong
    std::string modulePath;   // what ModulePath reports; empty: this process's file
    // The user's language, which picks among a version resource's languages.
    uint16_t userLanguage = kUsEnglish;
};

class PosixPlatform : public Platform {
public:
    explicit PosixPlatform(PosixLayout layout = PosixLayout());

    void SetLayout(const PosixLayout& layout) { layout_ = layout; }

    // The host path that `path` stands for; empty when it names an unmapped
    // drive. Existing components are matched without regard to case.
    std::string HostPath(const char* path) const;

    // Shared files reported as in use by FindSharedFile (names without regard
    // to case). There is no portable way to tell; tests set it.
    void SetSharedFileInUse(const std::string& name, bool inUse);

    FileHandle Open(const char* path, OpenMode mode) override;
    FileHandle Create(const char* path) override;
    int32_t Read(FileHandle file, void* buffer, uint32_t count) override;
    int32_t Write(FileHandle file, const void* buffer, uint32_t count) override;
    int32_t Seek(FileHandle file, int32_t offset, SeekOrigin origin) override;
    void Close(FileHandle file) override;
    bool Flush(FileHandle file) override;
    bool Remove(const char* path) override;
    bool Replace(const char* from, const char* to) override;
    MoveResult Move(const char* from, const char* to) override;
    bool SyncDirectory(const char* directory) override;
    bool FreeSpace(const char* directory, uint64_t* bytes) override;
    // The mount point of the directory's file system, as a host path in the
    // form "\mnt\data\" (which HostPath reads as a host path).
    bool VolumeOf(const char* directory, char* root, uint32_t size) override;
    bool StoredName(const char* path, char* name, uint32_t size) override;
    PathKind Examine(const char* path) override;
    bool IsFileAt(FileHandle file, const char* path, const char* trusted) override;
    bool EnterDirectory(const char* path) override;
    bool MakeDirectory(const char* path) override;
    uint32_t ModulePath(char* buffer, uint32_t size) override;
    uint32_t WindowsDirectory(char* buffer, uint32_t size) override;
    uint32_t ProfileString(const char* section, const char* key, const char* fallback, char* buffer,
                           uint32_t size, const char* file) override;
    uint32_t ProfileInt(const char* section, const char* key, int32_t fallback,
                        const char* file) override;
    uint32_t VersionInfoSize(const char* path) override;
    bool VersionInfo(const char* path, uint32_t size, void* block) override;
    bool QueryVersion(const void* block, const char* subBlock, const void** value,
                      uint32_t* length) override;
    uint32_t FindSharedFile(const char* name, const char* windowsDir, const char* appDir,
                            char* currentDir, uint32_t currentSize, char* destDir,
                            uint32_t destSize) override;
    uint32_t LanguageName(uint32_t language, char* buffer, uint32_t size) override;
    BlockHandle AllocBlock(uint32_t size) override;
    void* LockBlock(BlockHandle block) override;
    void UnlockBlock(BlockHandle block) override;
    void FreeBlock(BlockHandle block) override;

private:
    // The host path of a settings file; a bare name lies in the Windows directory.
    std::string SettingsHostPath(const char* file) const;

    PosixLayout layout_;
    std::string workingDir_;  // host form
    std::set<std::string> inUse_;  // lower-case names
};

}  // namespace zv
