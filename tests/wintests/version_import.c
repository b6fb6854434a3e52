/* version_import.exe: a program that imports the version library the way the
 * updater once did, for tests/wine/test_imports.sh to show that its import
 * check refuses such a program. It is never run. */
#include <windows.h>

int main(int argc, char** argv) {
    DWORD handle = 0;
    return argc > 1 && GetFileVersionInfoSizeA(argv[1], &handle) != 0 ? 0 : 1;
}
