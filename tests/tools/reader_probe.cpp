// reader_probe [--windows-dir DIR] version|ini|lang ARGS...: the portable
// readers' answers, and the language table's names and code pages, in the
// form the Windows probe prints (probe_report.h).
// DIR is the host directory where bare settings-file names are looked for.
#include <cstring>
#include <string>

#include "platform/code_page.h"
#include "platform/posix_platform.h"
#include "tests/wintests/probe_report.h"

int main(int argc, char** argv) {
    zv::PosixLayout layout;
    if (argc >= 3 && std::strcmp(argv[1], "--windows-dir") == 0) {
        layout.windowsDir = argv[2];
        argv[2] = argv[0];
        argc -= 2;
        argv += 2;
    }
    zv::PosixPlatform os(layout);
    return zvprobe::RunProbe(os, zv::LanguageCodePage, argc, argv);
}
