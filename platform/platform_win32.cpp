// The platform of the Windows program: the real Win32 calls.
#include <windows.h>

#include <restartmanager.h>

#include "platform/platform.h"
#include "platform/signature_win32.h"

namespace zv {
namespace {

static_assert(sizeof(HFILE) == sizeof(FileHandle), "file handles are HFILE values");
static_assert(SHARED_CUR_NOT_DEST == VFF_CURNEDEST && SHARED_FILE_IN_USE == VFF_FILEINUSE &&
                  SHARED_BUFFER_TOO_SMALL == VFF_BUFFTOOSMALL,
              "shared-file lookup bits are the platform's");

// A file handle as the "_l" functions hold it (an HFILE is the handle's
// value), and back.
HANDLE ToHandle(FileHandle file) { return reinterpret_cast<HANDLE>(static_cast<INT_PTR>(file)); }
FileHandle ToFileHandle(HANDLE handle) { return static_cast<FileHandle>(reinterpret_cast<INT_PTR>(handle)); }

bool StartsWith(const char* text, const char* prefix) {
    while (*prefix != '\0') {
        if (*text++ != *prefix++) return false;
    }
    return true;
}

// The full path of an open file or folder with every link resolved, in the
// usual form ("C:\...", "\\server\share\..."); false when it cannot be told.
bool FinalPath(HANDLE handle, char* out, DWORD size) {
    char final[2 * MAX_PATH];
    const DWORD n = GetFinalPathNameByHandleA(handle, final, sizeof final, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0 || n >= sizeof final) return false;
    const char* from = final;
    if (StartsWith(final, "\\\\?\\UNC\\")) {
        from = final + 7;  // "\\server..." from its second backslash on
        if (size < 2) return false;
        out[0] = '\\';
        ++out;
        --size;
    } else if (StartsWith(final, "\\\\?\\")) {
        from = final + 4;
    }
    if (static_cast<DWORD>(lstrlenA(from)) >= size) return false;
    lstrcpyA(out, from);
    return true;
}

// A path made full, with long names where the file system has them.
bool LongFullPath(const char* path, char* out, DWORD size) {
    char full[2 * MAX_PATH];
    DWORD n = GetFullPathNameA(path, sizeof full, full, nullptr);
    if (n == 0 || n >= sizeof full) return false;
    n = GetLongPathNameA(full, out, size);
    if (n != 0 && n < size) return true;
    if (static_cast<DWORD>(lstrlenA(full)) >= size) return false;
    lstrcpyA(out, full);
    return true;
}

// The version library (version.dll) is not one of the libraries Windows
// always takes from the system directory: linked as an import, a copy beside
// the updater (often a download folder anyone can write) would be loaded in
// its place and run with the updater's rights. It is loaded here, by its full
// path in the system directory, when it is first needed; if it cannot be, every
// call below fails as it does for a file without version information.
struct VersionLibrary {
    bool loaded = false;
    decltype(&GetFileVersionInfoSizeA) infoSize = nullptr;
    decltype(&GetFileVersionInfoA) info = nullptr;
    decltype(&VerQueryValueA) query = nullptr;
    decltype(&VerFindFileA) findFile = nullptr;
    decltype(&VerLanguageNameA) languageName = nullptr;
};

template <typename Function>
bool Resolve(HMODULE module, const char* name, Function* function) {
    *function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return *function != nullptr;
}

VersionLibrary LoadSystemVersionLibrary() {
    VersionLibrary version;
    static const char kName[] = "\\version.dll";
    char path[MAX_PATH];
    const UINT n = GetSystemDirectoryA(path, MAX_PATH);
    if (n == 0 || n + sizeof kName > MAX_PATH) return version;
    lstrcpyA(path + n, kName);
    // The full path names the file; the altered search takes the libraries it
    // needs from its own directory, the system directory, too.
    HMODULE module = LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == nullptr) return version;
    version.loaded = Resolve(module, "GetFileVersionInfoSizeA", &version.infoSize) &&
                     Resolve(module, "GetFileVersionInfoA", &version.info) &&
                     Resolve(module, "VerQueryValueA", &version.query) &&
                     Resolve(module, "VerFindFileA", &version.findFile) &&
                     Resolve(module, "VerLanguageNameA", &version.languageName);
    if (!version.loaded) FreeLibrary(module);
    return version;
}

// Loaded once, on the first call that needs it (the programs make their
// version-library calls from one thread); it stays for the program's life.
const VersionLibrary& SystemVersionLibrary() {
    static bool tried = false;
    static VersionLibrary version;
    if (!tried) {
        tried = true;
        version = LoadSystemVersionLibrary();
    }
    return version;
}

// The Restart Manager (rstrtmgr.dll) lists the processes that hold a file.
// Like the version library it is no library Windows always takes from the
// system directory, so it is loaded from there alone, when first needed, and
// never linked as an import. Where it is missing (before Windows Vista) who
// holds a file cannot be told.
struct RestartManager {
    bool loaded = false;
    decltype(&RmStartSession) startSession = nullptr;
    decltype(&RmRegisterResources) registerResources = nullptr;
    decltype(&RmGetList) getList = nullptr;
    decltype(&RmEndSession) endSession = nullptr;
};

const RestartManager& SystemRestartManager() {
    static bool tried = false;
    static RestartManager manager;
    if (tried) return manager;
    tried = true;
    HMODULE module = LoadLibraryExA("rstrtmgr.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr) return manager;
    manager.loaded = Resolve(module, "RmStartSession", &manager.startSession) &&
                     Resolve(module, "RmRegisterResources", &manager.registerResources) &&
                     Resolve(module, "RmGetList", &manager.getList) &&
                     Resolve(module, "RmEndSession", &manager.endSession);
    if (!manager.loaded) FreeLibrary(module);
    return manager;
}

// The name of a process's program file ("zvact32.exe"); false when the
// process cannot be asked (it has ended, or belongs to a higher level).
bool ProcessFileName(DWORD id, char* name, DWORD size) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    if (process == nullptr) return false;
    char path[2 * MAX_PATH];
    DWORD n = sizeof path;
    const BOOL known = QueryFullProcessImageNameA(process, 0, path, &n);
    CloseHandle(process);
    if (!known || n == 0) return false;
    const char* last = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '\\' || *p == '/') last = p + 1;
    }
    if (*last == '\0' || static_cast<DWORD>(lstrlenA(last)) >= size) return false;
    lstrcpyA(name, last);
    return true;
}

// Appends `name` to the list `names` (", " between names); a name already in
// it is not repeated. The list is cut, never overrun.
void AddHolderName(char* names, uint32_t size, const char* name) {
    const int length = lstrlenA(name);
    if (length == 0) return;
    for (const char* p = names; *p != '\0';) {
        const char* end = p;
        while (*end != '\0' && !(end[0] == ',' && end[1] == ' ')) ++end;
        if (end - p == length && CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, p, length, name, length) == CSTR_EQUAL) {
            return;
        }
        p = *end == '\0' ? end : end + 2;
    }
    int used = lstrlenA(names);
    const char* parts[2] = {used > 0 ? ", " : "", name};
    for (const char* part : parts) {
        for (; *part != '\0' && static_cast<uint32_t>(used) + 1 < size; ++part) names[used++] = *part;
    }
    names[used] = '\0';
}

// The directory part of a path ("C:\\DIR" of "C:\\DIR\\FILE", "C:\\" of
// "C:\\FILE"); false when it has none or it does not fit.
bool DirectoryOf(const char* path, char* out, DWORD size) {
    const char* last = nullptr;
    for (const char* p = path; *p != '\0'; p = CharNextA(p)) {
        if (*p == '\\' || *p == '/') last = p;
    }
    if (last == nullptr) return false;
    DWORD length = static_cast<DWORD>(last - path);
    if (length == 0 || path[length - 1] == ':') ++length;  // a root keeps its backslash
    if (length >= size) return false;
    lstrcpynA(out, path, static_cast<int>(length) + 1);
    return true;
}

class Win32Platform : public Platform {
public:
    FileHandle Open(const char* path, OpenMode mode) override {
        if (mode == OpenMode::Read) {
            HFILE file = _lopen(path, static_cast<int>(mode));
            return file == HFILE_ERROR ? kNoFile : file;
        }
        // For writing, a reparse point at the name is opened itself, not
        // followed, and then refused: nothing is written through a link.
        // The sharing is that of _lopen's.
        const DWORD access = mode == OpenMode::Write ? GENERIC_WRITE : GENERIC_READ | GENERIC_WRITE;
        HANDLE file = CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (file == INVALID_HANDLE_VALUE) return kNoFile;
        BY_HANDLE_FILE_INFORMATION info;
        if (!GetFileInformationByHandle(file, &info) ||
            (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
            CloseHandle(file);
            return kNoFile;
        }
        return ToFileHandle(file);
    }

    FileHandle Create(const char* path) override {
        // CREATE_NEW fails on anything at the name, and with
        // FILE_FLAG_OPEN_REPARSE_POINT a link there is never followed: only
        // a new file is ever opened. Others may read it, not write it.
        HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        return file == INVALID_HANDLE_VALUE ? kNoFile : ToFileHandle(file);
    }

    FileHandle CreateNew(const char* path, bool* taken) override {
        const FileHandle file = Create(path);
        const DWORD error = file == kNoFile ? GetLastError() : ERROR_SUCCESS;
        *taken = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ||
                 (file == kNoFile && Examine(path) != PathKind::Missing);
        return file;
    }

    int32_t Read(FileHandle file, void* buffer, uint32_t count) override {
        long n = _hread(file, buffer, static_cast<long>(count));
        return n == HFILE_ERROR ? kFileError : static_cast<int32_t>(n);
    }

    int32_t Write(FileHandle file, const void* buffer, uint32_t count) override {
        long n = _hwrite(file, static_cast<LPCCH>(buffer), static_cast<long>(count));
        return n == HFILE_ERROR ? kFileError : static_cast<int32_t>(n);
    }

    int32_t Seek(FileHandle file, int32_t offset, SeekOrigin origin) override {
        LONG pos = _llseek(file, offset, static_cast<int>(origin));
        return pos == HFILE_ERROR ? kFileError : static_cast<int32_t>(pos);
    }

    void Close(FileHandle file) override {
        if (file != kNoFile) _lclose(file);
    }

    bool Flush(FileHandle file) override { return FlushFileBuffers(ToHandle(file)) != 0; }

    bool Remove(const char* path) override { return DeleteFileA(path) != 0; }

    bool Replace(const char* from, const char* to) override {
        // MOVEFILE_WRITE_THROUGH waits only for a move done as a copy (to
        // another volume); a rename within one is made durable by flushing
        // its directory, as SyncDirectory does.
        if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0) return false;
        char directory[MAX_PATH];
        if (DirectoryOf(to, directory, sizeof directory)) SyncDirectory(directory);
        return true;
    }

    bool SyncDirectory(const char* directory) override {
        // A folder's handle (backup semantics) with write access, which a
        // flush requires; flushing it writes the folder's entries.
        HANDLE folder = CreateFileA(directory, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (folder == INVALID_HANDLE_VALUE) return false;
        bool flushed = FlushFileBuffers(folder) != 0;
        // A file system that has no flush of a folder keeps renames as
        // durable as it makes them by itself: nothing more can be asked.
        if (!flushed) {
            const DWORD error = GetLastError();
            flushed = error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED;
        }
        CloseHandle(folder);
        return flushed;
    }

    bool StoredName(const char* path, char* name, uint32_t size) override {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA(path, &found);
        if (search == INVALID_HANDLE_VALUE) return false;
        FindClose(search);
        if (static_cast<uint32_t>(lstrlenA(found.cFileName)) >= size) return false;
        lstrcpyA(name, found.cFileName);
        return true;
    }

    MoveResult Move(const char* from, const char* to) override {
        if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0) return MoveResult::Done;
        const DWORD error = GetLastError();
        return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ? MoveResult::InUse
                                                                                  : MoveResult::Failed;
    }

    bool FreeSpace(const char* directory, uint64_t* bytes) override {
        ULARGE_INTEGER available;
        if (!GetDiskFreeSpaceExA(directory, &available, nullptr, nullptr)) return false;
        *bytes = available.QuadPart;
        return true;
    }

    bool VolumeOf(const char* directory, char* root, uint32_t size) override {
        // The nearest directory that exists, so that the volume of a folder
        // that is still to be made is that of the folder it goes into.
        char path[MAX_PATH] = {};
        if (lstrlenA(directory) >= MAX_PATH) return false;
        lstrcpyA(path, directory);
        for (;;) {
            const DWORD attributes = GetFileAttributesA(path);
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) break;
            int n = lstrlenA(path);
            while (n > 0 && path[n - 1] == '\\') path[--n] = '\0';
            while (n > 0 && path[n - 1] != '\\') --n;
            if (n <= 0) return false;
            path[n] = '\0';
        }
        return GetVolumePathNameA(path, root, size) != 0;
    }

    PathKind Examine(const char* path) override {
        // GetFileAttributesA does not follow a reparse point at the name
        // itself (it reports its attributes); those on the way it follows.
        const DWORD attributes = GetFileAttributesA(path);
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            const DWORD error = GetLastError();
            if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return PathKind::Unknown;
            // A name its folder lists, though nothing can be reached under
            // it, is a link that leads nowhere (Wine answers a dangling
            // link so).
            WIN32_FIND_DATAA found;
            const HANDLE search = FindFirstFileA(path, &found);
            if (search == INVALID_HANDLE_VALUE) return PathKind::Missing;
            FindClose(search);
            return PathKind::Link;
        }
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return PathKind::Link;
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathKind::Directory : PathKind::File;
    }

    bool IsFileAt(FileHandle file, const char* path, const char* trusted) override {
        const HANDLE handle = ToHandle(file);
        BY_HANDLE_FILE_INFORMATION info;
        if (!GetFileInformationByHandle(handle, &info) || info.nNumberOfLinks != 1 ||
            (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
            return false;
        }
        // Where the file really is, every link and junction on the way
        // resolved...
        char opened[2 * MAX_PATH];
        if (!FinalPath(handle, opened, sizeof opened)) return false;
        // ...against the trusted folder as the system resolves it (its own
        // links and redirection included), followed by the rest of the path
        // as named, in long names.
        const HANDLE folder = CreateFileA(trusted, FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (folder == INVALID_HANDLE_VALUE) return false;
        char meant[3 * MAX_PATH];
        const bool resolved = FinalPath(folder, meant, 2 * MAX_PATH);
        CloseHandle(folder);
        if (!resolved) return false;
        char longPath[2 * MAX_PATH];
        char longTrusted[2 * MAX_PATH];
        if (!LongFullPath(path, longPath, sizeof longPath) || !LongFullPath(trusted, longTrusted, sizeof longTrusted)) {
            return false;
        }
        int trustedEnd = lstrlenA(longTrusted);
        while (trustedEnd > 0 && longTrusted[trustedEnd - 1] == '\\') longTrusted[--trustedEnd] = '\0';
        if (lstrlenA(longPath) <= trustedEnd || longPath[trustedEnd] != '\\' ||
            CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, longPath, trustedEnd, longTrusted, trustedEnd) !=
                CSTR_EQUAL) {
            return false;
        }
        int n = lstrlenA(meant);
        while (n > 0 && meant[n - 1] == '\\') meant[--n] = '\0';
        if (n + lstrlenA(longPath + trustedEnd) >= static_cast<int>(sizeof meant)) return false;
        lstrcatA(meant, longPath + trustedEnd);
        return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, opened, -1, meant, -1) == CSTR_EQUAL;
    }

    HolderLookup FileHolders(const char* path, char* names, uint32_t size) override {
        if (size == 0) return HolderLookup::Unknown;
        names[0] = '\0';
        HolderLookup lookup = ListHolders(path, names, size);
        if (lookup == HolderLookup::Named) return lookup;
        // Nobody named: a file that cannot be opened for reading without
        // sharing it is held all the same (the Restart Manager may not know
        // every holder, or answer without looking, as Wine's does); one that
        // can is open in no program.
        const HANDLE file = CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
            return HolderLookup::None;
        }
        return GetLastError() == ERROR_SHARING_VIOLATION ? HolderLookup::Unnamed : lookup;
    }

private:
    // The Restart Manager's list of the programs that hold `path`.
    static HolderLookup ListHolders(const char* path, char* names, uint32_t size) {
        const RestartManager& manager = SystemRestartManager();
        if (!manager.loaded) return HolderLookup::Unknown;
        WCHAR widePath[2 * MAX_PATH];
        if (MultiByteToWideChar(CP_ACP, 0, path, -1, widePath, 2 * MAX_PATH) == 0) return HolderLookup::Unknown;
        DWORD session = 0;
        WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
        if (manager.startSession(&session, 0, key) != ERROR_SUCCESS) return HolderLookup::Unknown;
        HolderLookup lookup = HolderLookup::Unknown;
        LPCWSTR files[1] = {widePath};
        if (manager.registerResources(session, 1, files, 0, nullptr, 0, nullptr) == ERROR_SUCCESS) {
            // A few holders are named; more than that is asked again with
            // room for all, once: the list may change between the calls.
            RM_PROCESS_INFO some[8] = {};
            RM_PROCESS_INFO* found = some;
            UINT room = sizeof some / sizeof some[0];
            UINT needed = 0;
            UINT count = room;
            DWORD reasons = 0;
            DWORD status = manager.getList(session, &needed, &count, found, &reasons);
            RM_PROCESS_INFO* more = nullptr;
            if (status == ERROR_MORE_DATA && needed > room && needed < 1024) {
                more = static_cast<RM_PROCESS_INFO*>(LocalAlloc(LMEM_FIXED | LMEM_ZEROINIT, needed * sizeof *more));
                if (more != nullptr) {
                    found = more;
                    room = needed;
                    count = room;
                    status = manager.getList(session, &needed, &count, found, &reasons);
                }
            }
            if (status == ERROR_SUCCESS) {
                // Only entries the system says it filled are read (a service
                // that answers without filling any leaves the counts at 0).
                if (count > room) count = room;
                if (count > needed) count = needed;
                for (UINT k = 0; k < count; ++k) {
                    char name[MAX_PATH] = {};
                    if (!ProcessFileName(found[k].Process.dwProcessId, name, sizeof name)) {
                        // The name the system gives the application.
                        WideCharToMultiByte(CP_ACP, 0, found[k].strAppName, -1, name, sizeof name, nullptr, nullptr);
                        name[sizeof name - 1] = '\0';
                    }
                    AddHolderName(names, size, name);
                }
                lookup = names[0] != '\0' ? HolderLookup::Named : HolderLookup::None;
            }
            if (more != nullptr) LocalFree(more);
        }
        manager.endSession(session);
        return lookup;
    }

public:
    bool EnterDirectory(const char* path) override { return SetCurrentDirectoryA(path) != 0; }

    bool MakeDirectory(const char* path) override { return CreateDirectoryA(path, nullptr) != 0; }

    uint32_t ModulePath(char* buffer, uint32_t size) override {
        if (size == 0) return 0;
        DWORD n = GetModuleFileNameA(nullptr, buffer, size);
        if (n >= size) n = size - 1;  // cut: older systems leave it unterminated
        buffer[n] = '\0';
        return n;
    }

    uint32_t WindowsDirectory(char* buffer, uint32_t size) override {
        if (size == 0) return 0;
        UINT n = GetWindowsDirectoryA(buffer, size);
        if (n == 0 || n >= size) {
            buffer[0] = '\0';
            return 0;
        }
        return n;
    }

    uint32_t ProfileString(const char* section, const char* key, const char* fallback, char* buffer,
                           uint32_t size, const char* file) override {
        return GetPrivateProfileStringA(section, key, fallback, buffer, size, file);
    }

    uint32_t ProfileInt(const char* section, const char* key, int32_t fallback,
                        const char* file) override {
        return GetPrivateProfileIntA(section, key, fallback, file);
    }

    uint32_t VersionInfoSize(const char* path) override {
        const VersionLibrary& version = SystemVersionLibrary();
        if (!version.loaded) return 0;
        DWORD unused = 0;
        return version.infoSize(path, &unused);
    }

    bool VersionInfo(const char* path, uint32_t size, void* block) override {
        const VersionLibrary& version = SystemVersionLibrary();
        return version.loaded && version.info(path, 0, size, block) != 0;
    }

    bool QueryVersion(const void* block, const char* subBlock, const void** value,
                      uint32_t* length) override {
        const VersionLibrary& version = SystemVersionLibrary();
        if (!version.loaded) return false;
        void* found = nullptr;
        UINT foundLength = 0;
        if (!version.query(block, subBlock, &found, &foundLength)) return false;
        *value = found;
        *length = foundLength;
        return true;
    }

    uint32_t FindSharedFile(const char* name, const char* windowsDir, const char* appDir,
                            char* currentDir, uint32_t currentSize, char* destDir,
                            uint32_t destSize) override {
        const VersionLibrary& version = SystemVersionLibrary();
        if (!version.loaded) {
            // Found nowhere, and nowhere to go: the lookup failed.
            if (currentSize > 0) currentDir[0] = '\0';
            if (destSize > 0) destDir[0] = '\0';
            return 0;
        }
        UINT currentLength = currentSize;
        UINT destLength = destSize;
        return version.findFile(VFFF_ISSHAREDFILE, const_cast<char*>(name), const_cast<char*>(windowsDir),
                                const_cast<char*>(appDir), currentDir, &currentLength, destDir, &destLength);
    }

    uint32_t LanguageName(uint32_t language, char* buffer, uint32_t size) override {
        const VersionLibrary& version = SystemVersionLibrary();
        if (!version.loaded) {
            if (size > 0) buffer[0] = '\0';
            return 0;
        }
        return version.languageName(language, buffer, size);
    }

    BlockHandle AllocBlock(uint32_t size) override {
        return reinterpret_cast<BlockHandle>(GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size));
    }

    void* LockBlock(BlockHandle block) override {
        return GlobalLock(reinterpret_cast<HGLOBAL>(block));
    }

    void UnlockBlock(BlockHandle block) override { GlobalUnlock(reinterpret_cast<HGLOBAL>(block)); }

    void FreeBlock(BlockHandle block) override { GlobalFree(reinterpret_cast<HGLOBAL>(block)); }

    SignatureState OwnSignature(uint32_t* systemResult) override { return CheckOwnSignature(systemResult); }
};

// Set up before main runs (it holds nothing but its table of operations).
Win32Platform hostPlatform;

}  // namespace

Platform& HostPlatform() { return hostPlatform; }

}  // namespace zv
