// holdfile.exe [--image] PATH: holds PATH until it is killed, for the Wine
// tests of files in use, and prints "held" once it holds it.
//   PATH          open the way a program holds a document: reading and
//                 writing shared, deleting and renaming not.
//   --image PATH  mapped as a running program's own file (PATH must be a
//                 PE file): it can be renamed but not deleted.
#include <windows.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    const bool image = argc == 3 && std::strcmp(argv[1], "--image") == 0;
    if (argc != 2 && !image) {
        std::fprintf(stderr, "usage: holdfile [--image] PATH\n");
        return 2;
    }
    const char* path = argv[argc - 1];
    if (image) {
        if (LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE) == nullptr) {
            std::fprintf(stderr, "holdfile: cannot map %s (error %lu)\n", path, GetLastError());
            return 1;
        }
    } else if (CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr) == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "holdfile: cannot open %s (error %lu)\n", path, GetLastError());
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    Sleep(INFINITE);
    return 0;
}
