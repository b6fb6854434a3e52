// winprobe: what the system's version library and profile functions answer
// for given files, and its language names and code pages, in the form of
// probe_report.h. Run under Wine (or on Windows) and compared with the host
// probe's answers by tests/wine/test_readers.sh.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"
#include "tests/wintests/probe_report.h"

namespace {

// The system's ANSI code page for a language; 0 when it knows none.
uint16_t SystemCodePage(uint32_t language) {
    char digits[16] = {};
    const LCID locale = MAKELCID(static_cast<LANGID>(language), SORT_DEFAULT);
    if (::GetLocaleInfoA(locale, LOCALE_IDEFAULTANSICODEPAGE, digits, sizeof digits) == 0) return 0;
    return static_cast<uint16_t>(std::strtoul(digits, nullptr, 10));
}

}  // namespace

int main(int argc, char** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    return zvprobe::RunProbe(zv::HostPlatform(), SystemCodePage, argc, argv);
}
