// The operations the updater's core needs from the operating system.
//
// The core (package/, detect/, transfer/) reaches files, directories, the
// settings file, version resources, the shared-file lookup and memory only
// through a Platform. The Windows build implements it with the real Win32
// calls (platform_win32.cpp); the portable build with POSIX calls and readers
// of our own (platform_posix.cpp). Tests wrap either one to inject faults.
//
// Paths are 8-bit texts in Windows form ("C:\DIR\FILE.EXT") in buffers of
// kMaxPath characters including the terminating zero. The POSIX platform maps
// them onto the host file system (see posix_platform.h).
//
// Method names deliberately differ from the Win32 API names: many of those are
// macros in <windows.h> and would rename methods in one translation unit only.
#pragma once

#include <cstdint>

namespace zv {

constexpr unsigned kMaxPath = 260;  // path buffer size, terminating zero included

// A file handle as the "_l" file functions give it; kNoFile means none.
using FileHandle = int32_t;
constexpr FileHandle kNoFile = -1;
// What Read, Write and Seek return when the operating system reports an error.
constexpr int32_t kFileError = -1;

enum class OpenMode : uint32_t { Read = 0, Write = 1, ReadWrite = 2 };

// What is at a path, its last part not followed: a link (a symbolic link, a
// junction, any reparse point) is a Link whatever it points to, dangling or
// not. Unknown when it cannot be told.
enum class PathKind : uint8_t { Missing, File, Directory, Link, Unknown };
inline const char* PathKindName(PathKind kind) {
    switch (kind) {
    case PathKind::Missing: return "missing";
    case PathKind::File: return "file";
    case PathKind::Directory: return "directory";
    case PathKind::Link: return "link";
    case PathKind::Unknown: return "unknown";
    }
    return "unknown";
}

// What became of a Move.
enum class MoveResult : uint8_t {
    Done,
    InUse,   // another program holds one of the files open
    Failed,  // any other reason
};
enum class SeekOrigin : uint32_t { Begin = 0, Current = 1, End = 2 };

// What the system could tell of the programs that hold a file open.
enum class HolderLookup : uint8_t {
    Named,    // one or more programs hold it; their names are given
    None,     // no program holds it, as far as the system can tell
    Unnamed,  // a program holds it, but the system does not say which
    Unknown,  // the system cannot tell (no such service, or it failed)
};
inline const char* HolderLookupName(HolderLookup lookup) {
    switch (lookup) {
    case HolderLookup::Named: return "named";
    case HolderLookup::None: return "none";
    case HolderLookup::Unnamed: return "unnamed";
    case HolderLookup::Unknown: return "unknown";
    }
    return "unknown";
}

// A moveable global memory block; 0 is none.
using BlockHandle = uintptr_t;

// Bits of the shared-file lookup's result word.
constexpr uint32_t SHARED_CUR_NOT_DEST = 0x1;  // found elsewhere than where it belongs
constexpr uint32_t SHARED_FILE_IN_USE = 0x2;   // the found copy is in use
constexpr uint32_t SHARED_BUFFER_TOO_SMALL = 0x4;

class Platform {
public:
    virtual ~Platform() = default;

    // --- Files -------------------------------------------------------------
    // Opens an existing file; kNoFile on failure. For writing (Write,
    // ReadWrite) a link at `path` itself is never followed: the open fails.
    virtual FileHandle Open(const char* path, OpenMode mode) = 0;
    // Creates a new normal file, open for reading and writing. Never opens
    // what is already there: kNoFile when anything is at `path` (a file, a
    // directory, a link, dangling or not), and on any other failure (a
    // missing directory).
    virtual FileHandle Create(const char* path) = 0;
    // Create, telling in *taken whether it failed because something is at
    // `path` already, even something Examine cannot see there (Wine hides
    // a link that leads nowhere, yet will not create a file in its place).
    virtual FileHandle CreateNew(const char* path, bool* taken) {
        const FileHandle file = Create(path);
        *taken = file == kNoFile && Examine(path) != PathKind::Missing;
        return file;
    }
    // Reads up to `count` bytes; returns the number read (0 at the end of the
    // file) or kFileError.
    virtual int32_t Read(FileHandle file, void* buffer, uint32_t count) = 0;
    // Writes `count` bytes; returns the number written, which is less than
    // `count` when the disk is full, or kFileError.
    virtual int32_t Write(FileHandle file, const void* buffer, uint32_t count) = 0;
    // Moves the file position; returns the new position or kFileError.
    virtual int32_t Seek(FileHandle file, int32_t offset, SeekOrigin origin) = 0;
    virtual void Close(FileHandle file) = 0;
    // Forces what was written to the disk; false on failure.
    virtual bool Flush(FileHandle file) = 0;
    // Deletes a file; false on failure.
    virtual bool Remove(const char* path) = 0;
    // Puts the file `from` in place of `to` (which may exist) in one step and
    // makes the change durable; false on failure, leaving both as they were.
    virtual bool Replace(const char* from, const char* to) = 0;
    // Puts `from` in place of `to` in one step, as Replace does, but does not
    // wait for the change to reach the disk: it is durable once
    // SyncDirectory has made the directory that holds both durable. A power
    // cut before that may lose it, and the moves after it in that directory,
    // but never leaves half a move. Tells a file that another program holds
    // apart from other failures; a platform that cannot tell them apart
    // never says InUse.
    virtual MoveResult Move(const char* from, const char* to) {
        return Replace(from, to) ? MoveResult::Done : MoveResult::Failed;
    }
    // Makes the entries of `directory` durable: every file created, moved or
    // removed there so far is found as it is now after a power cut. False on
    // failure. A platform whose every change is durable when it is made
    // (the default Move is Replace) has nothing to do.
    virtual bool SyncDirectory(const char* directory) {
        (void)directory;
        return true;
    }
    // Free bytes available to the caller on the volume holding `directory`.
    virtual bool FreeSpace(const char* directory, uint64_t* bytes) = 0;
    // The root of the volume (file system) that holds `directory`, a path
    // that FreeSpace takes, ending in "\": the same for every directory on
    // that volume and different for directories on different ones, so that a
    // folder where another volume is mounted counts as its own. A directory
    // that does not exist yet is on the volume of the nearest one above it
    // that does. False when it cannot be told (then nothing is known).
    virtual bool VolumeOf(const char* directory, char* root, uint32_t size) {
        (void)directory;
        (void)root;
        (void)size;
        return false;
    }

    // The name of the existing file `path` as the file system stores it (its
    // last part, in the case of its letters there), into `name`; false when
    // it cannot be told. A file put in place of another under this name keeps
    // the name the user sees.
    virtual bool StoredName(const char* path, char* name, uint32_t size) {
        (void)path;
        (void)name;
        (void)size;
        return false;
    }

    // What is at `path`, its last part not followed (the parts before it
    // are). A platform that cannot tell says Unknown, which callers refuse.
    virtual PathKind Examine(const char* path) {
        (void)path;
        return PathKind::Unknown;
    }

    // Whether the open `file` is the file meant by `path`: a regular file
    // (not a link, not a directory) with that one name, in the folder
    // `trusted` (a folder that `path` lies in, its text a prefix of `path`)
    // or below it through folders that are what their names say. Links and
    // junctions at `trusted` and above it are the system's own and taken as
    // they are (as is the system's redirection of its own folders); a handle
    // that was opened through a link below `trusted`, or whose file has other
    // names (hard links) that could be the system's, is not the file meant.
    // False when it cannot be told.
    virtual bool IsFileAt(FileHandle file, const char* path, const char* trusted) {
        (void)file;
        (void)path;
        (void)trusted;
        return false;
    }

    // The programs that hold the file at `path` open now, by the names of
    // their program files ("zvact32.exe"), joined with ", " into `names` (cut
    // to `size` - 1 characters, always zero-terminated; empty unless Named).
    // A platform that cannot tell says Unknown.
    virtual HolderLookup FileHolders(const char* path, char* names, uint32_t size) {
        (void)path;
        if (size > 0) names[0] = '\0';
        return HolderLookup::Unknown;
    }

    // --- Directories ---------------------------------------------------------
    // Makes `path` the working directory; false when it is not an existing
    // directory that can be entered.
    virtual bool EnterDirectory(const char* path) = 0;
    // Creates one directory; false on failure.
    virtual bool MakeDirectory(const char* path) = 0;

    // --- Locations -----------------------------------------------------------
    // The full path of the running program's own file; returns its length, 0
    // on failure. Always zero-terminates within `size`.
    virtual uint32_t ModulePath(char* buffer, uint32_t size) = 0;
    // The Windows directory, without a trailing "\" unless it is a root.
    virtual uint32_t WindowsDirectory(char* buffer, uint32_t size) = 0;

    // --- Settings file ----------------------------------------------------------
    // A value of `key` in `section` of the settings file `file` (a bare name is
    // looked for in the Windows directory), or `fallback` when absent; cut to
    // `size` - 1 characters. Returns the length copied.
    virtual uint32_t ProfileString(const char* section, const char* key, const char* fallback,
                                   char* buffer, uint32_t size, const char* file) = 0;
    // The value of `key` read as an integer, or `fallback` when absent.
    virtual uint32_t ProfileInt(const char* section, const char* key, int32_t fallback,
                                const char* file) = 0;

    // --- Version library -----------------------------------------------------
    // Size of the file's version-information block; 0 when it has none.
    virtual uint32_t VersionInfoSize(const char* path) = 0;
    // Reads the version-information block into `block` (`size` bytes).
    virtual bool VersionInfo(const char* path, uint32_t size, void* block) = 0;
    // Looks up a value in a block read by VersionInfo: "\" for the fixed file
    // information, "\VarFileInfo\Translation", "\StringFileInfo\<table>\<name>".
    // On success *value points into `block` and *length is its length.
    virtual bool QueryVersion(const void* block, const char* subBlock, const void** value,
                              uint32_t* length) = 0;
    // The shared-file lookup: where the shared file `name` is now
    // (`currentDir`, empty when nowhere) and where it belongs (`destDir`).
    // Returns the SHARED_ result bits (the values of VerFindFileA).
    virtual uint32_t FindSharedFile(const char* name, const char* windowsDir, const char* appDir,
                                    char* currentDir, uint32_t currentSize, char* destDir,
                                    uint32_t destSize) = 0;
    // The name of a Windows language identifier; returns its length.
    virtual uint32_t LanguageName(uint32_t language, char* buffer, uint32_t size) = 0;

    // --- Memory ----------------------------------------------------------------
    // A moveable, zero-filled block; 0 on failure.
    virtual BlockHandle AllocBlock(uint32_t size) = 0;
    // The address of a block; nullptr on failure.
    virtual void* LockBlock(BlockHandle block) = 0;
    virtual void UnlockBlock(BlockHandle block) = 0;
    virtual void FreeBlock(BlockHandle block) = 0;

    // --- The program's own signature ---------------------------------------------
    // What the system's trust service says of the Authenticode signature of
    // the running program's own file (see platform/own_signature.h for what
    // counts as which).
    enum class SignatureState : uint8_t {
        Unsigned,    // the file carries no signature
        Sound,       // the signature holds over the file's bytes (whoever the signer)
        Broken,      // the file's bytes do not match it, or it is malformed or revoked
        CannotTell,  // the trust service is missing or failed
    };
    // *systemResult: the service's own answer, for the trace (0 when it was
    // not asked). A platform without a trust service has nothing signed to
    // check.
    virtual SignatureState OwnSignature(uint32_t* systemResult) {
        *systemResult = 0;
        return SignatureState::Unsigned;
    }
};

// The build's own platform: Win32 calls on Windows, POSIX elsewhere.
Platform& HostPlatform();

// Allocates a zero-filled block of `size` bytes, locks it and returns its
// address, storing the handle in *handle. On failure returns nullptr and leaves
// *handle 0 (a block that was allocated but could not be locked is freed).
void* AllocGlobalBlock(Platform& os, uint32_t size, BlockHandle* handle);
// Unlocks and frees the block if *handle is not 0, and sets *handle to 0.
void FreeGlobalBlock(Platform& os, BlockHandle* handle);

}  // namespace zv
