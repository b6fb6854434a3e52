// holdfile.exe [--image] PATH [UNTIL]: holds PATH, for the Wine tests of files
// in use, and prints "held" once it holds it.
//   PATH          open the way a program holds a document: reading and
//                 writing shared, deleting and renaming not.
//   --image PATH  mapped as a running program's own file (PATH must be a
//                 PE file): it can be renamed but not deleted.
//   UNTIL         a file to wait for: once it exists, PATH is let go, and
//                 "released" is printed when it is. Without it, PATH is held
//                 until the program is killed.
#include <windows.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    const bool image = argc >= 2 && std::strcmp(argv[1], "--image") == 0;
    const int first = image ? 2 : 1;
    if (argc < first + 1 || argc > first + 2) {
        std::fprintf(stderr, "usage: holdfile [--image] PATH [UNTIL]\n");
        return 2;
    }
    const char* path = argv[first];
    const char* until = argc == first + 2 ? argv[first + 1] : nullptr;
    HMODULE mapped = nullptr;
    HANDLE file = INVALID_HANDLE_VALUE;
    if (image) {
        mapped = LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        if (mapped == nullptr) {
            std::fprintf(stderr, "holdfile: cannot map %s (error %lu)\n", path, GetLastError());
            return 1;
        }
    } else {
        file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            std::fprintf(stderr, "holdfile: cannot open %s (error %lu)\n", path, GetLastError());
            return 1;
        }
    }
    std::printf("held\n");
    std::fflush(stdout);
    if (until == nullptr) Sleep(INFINITE);
    while (GetFileAttributesA(until) == INVALID_FILE_ATTRIBUTES) Sleep(10);
    if (mapped != nullptr) FreeLibrary(mapped);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    std::printf("released\n");
    std::fflush(stdout);
    return 0;
}
