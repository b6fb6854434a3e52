/* planted_dll.dll: a library an attacker could leave beside the updater, for
 * tests/wine/test_planted_dlls.sh. The test copies it under the names of
 * libraries the updater or the system libraries it uses might load
 * (version.dll, imm32.dll, ...). If any copy is ever loaded, its entry point
 * writes NAME.loaded beside it, holding the full path it was loaded from.
 *
 * It exports the version-library functions the updater once imported
 * statically, so that an updater that still imports them starts with this
 * copy in place of the system's (and leaves the marker) instead of failing
 * to start for want of an export. Each one fails as the system's does when
 * it finds nothing. */
#include <windows.h>

static void LeaveMarker(HINSTANCE self) {
    char path[MAX_PATH + 16];
    DWORD n = GetModuleFileNameA(self, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    char marker[MAX_PATH + 16];
    lstrcpyA(marker, path);
    lstrcatA(marker, ".loaded");
    HANDLE file = CreateFileA(marker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, path, n, &written, NULL);
    CloseHandle(file);
}

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) LeaveMarker(self);
    return TRUE;
}

__declspec(dllexport) DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR name, LPDWORD handle) {
    (void)name;
    if (handle != NULL) *handle = 0;
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return 0;
}

__declspec(dllexport) WINBOOL WINAPI GetFileVersionInfoA(LPCSTR name, DWORD handle, DWORD size, LPVOID block) {
    (void)name, (void)handle, (void)size, (void)block;
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return FALSE;
}

__declspec(dllexport) WINBOOL WINAPI VerQueryValueA(LPCVOID block, LPCSTR subBlock, LPVOID* value, PUINT length) {
    (void)block, (void)subBlock;
    if (value != NULL) *value = NULL;
    if (length != NULL) *length = 0;
    return FALSE;
}

__declspec(dllexport) DWORD WINAPI VerFindFileA(DWORD flags, LPSTR name, LPSTR windowsDir, LPSTR appDir,
                                                LPSTR currentDir, PUINT currentLength, LPSTR destDir,
                                                PUINT destLength) {
    (void)flags, (void)name, (void)windowsDir, (void)appDir;
    if (currentDir != NULL && currentLength != NULL && *currentLength > 0) currentDir[0] = '\0';
    if (destDir != NULL && destLength != NULL && *destLength > 0) destDir[0] = '\0';
    return 0;
}

__declspec(dllexport) DWORD WINAPI VerLanguageNameA(DWORD language, LPSTR buffer, DWORD size) {
    (void)language;
    if (buffer != NULL && size > 0) buffer[0] = '\0';
    return 0;
}
