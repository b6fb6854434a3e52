// The program's own Authenticode signature, checked by WinVerifyTrust.
//
// wintrust.dll is not one of the libraries Windows always takes from the
// system directory, so it is neither imported nor loaded by its bare name:
// a copy planted beside the program would run with its rights. It is loaded
// from the system directory by name, and only when the program is signed.
#include <windows.h>
#include <wintrust.h>
#include <softpub.h>

#include "platform/own_signature.h"
#include "platform/signature_win32.h"

namespace zv {
namespace {

using WinVerifyTrustFunction = LONG(WINAPI*)(HWND, GUID*, LPVOID);

// Whether the running image's own header names a certificate table. The
// header in memory is the file's, as the loader mapped it.
bool HasCertificateTable() {
    const BYTE* base = reinterpret_cast<const BYTE*>(GetModuleHandleA(nullptr));
    if (base == nullptr) return false;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    if (nt->OptionalHeader.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_SECURITY) return false;
    const IMAGE_DATA_DIRECTORY& table = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY];
    return table.VirtualAddress != 0 && table.Size != 0;
}

// wintrust.dll from the system directory, or nullptr.
HMODULE LoadTrustLibrary() {
    HMODULE library = LoadLibraryExA("wintrust.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (library != nullptr || GetLastError() != ERROR_INVALID_PARAMETER) return library;
    // A system that does not know the flag: the library by its full path.
    char path[MAX_PATH + 16];
    const UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    lstrcatA(path, "\\wintrust.dll");
    return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace

Platform::SignatureState CheckOwnSignature(uint32_t* trustResult) {
    *trustResult = 0;
    if (!HasCertificateTable()) return SignatureState::Unsigned;
    WCHAR path[1024];
    const DWORD length = GetModuleFileNameW(nullptr, path, sizeof path / sizeof path[0]);
    if (length == 0 || length >= sizeof path / sizeof path[0]) return SignatureState::CannotTell;
    HMODULE library = LoadTrustLibrary();
    if (library == nullptr) return SignatureState::CannotTell;
    const auto verify =
        reinterpret_cast<WinVerifyTrustFunction>(reinterpret_cast<void*>(GetProcAddress(library, "WinVerifyTrust")));
    if (verify == nullptr) {
        FreeLibrary(library);
        return SignatureState::CannotTell;
    }
    WINTRUST_FILE_INFO file = {};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = path;
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    // Nothing is fetched from the network at start: revocation is the
    // system's to check at elevation.
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG result = verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    FreeLibrary(library);
    *trustResult = static_cast<uint32_t>(result);
    return ClassifyTrustResult(true, static_cast<uint32_t>(result));
}

}  // namespace zv
