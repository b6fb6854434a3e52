// strings_probe: prints every string of the program's own string table as
// the Windows build loads it (LoadStringA through LoadText), one line each:
// "<id>\t<text>", and the results of formatting with the system formatter.
// Compared with resources/strings.txt by tests/wine/test_strings.sh.
#include <cstdio>

#include "platform/text.h"

int main() {
    for (unsigned id = 0; id < 200; ++id) {
        char text[300];
        if (zv::LoadText(id, text, sizeof text) > 0) std::printf("%u\t%s\n", id, text);
    }
    // Formatting cut to the buffer, with the system's wsprintfA.
    char small[8];
    zv::FormatText(small, sizeof small, "%s!", "abcdefghij");
    std::printf("cut\t%s\n", small);
    char number[16];
    zv::FormatText(number, sizeof number, "%.3d|%u.%.2u", 2, 1u, 1u);
    std::printf("format\t%s\n", number);
    return 0;
}
