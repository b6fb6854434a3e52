// winprobe: what the system's version library and profile functions answer
// for given files, in the form of probe_report.h. Run under Wine (or on
// Windows) and compared with the host probe's answers by
// tests/wine/test_readers.sh.
#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "platform/platform.h"
#include "tests/wintests/probe_report.h"

int main(int argc, char** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    return zvprobe::RunProbe(zv::HostPlatform(), argc, argv);
}
