// stamp_fixture IN OUT: stamps a small package into the updater IN and writes
// OUT, through the same stamping code the packer uses. The members are filler
// bytes: enough for start-up to see a stamped program.
#include <cstdio>
#include <exception>

#include "package/format.h"
#include "tests/support/fixture_package.h"
#include "tests/support/temp_dir.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: stamp_fixture IN OUT\n");
        return 2;
    }
    try {
        std::vector<zvtest::FixtureMember> members = {
            {"plmr32.dll", 0x16, zv::MakeVersion(1, 2, 1, 28), std::vector<uint8_t>(16, 0), 1},
            {"zvact32.exe", zv::ENTRY_UPDATE_ONLY, zv::MakeVersion(1, 2, 1, 31), std::vector<uint8_t>(16, 0), 1},
        };
        zvtest::WriteFileBytes(argv[2], zvtest::StampFixturePackage(zvtest::ReadFileBytes(argv[1]), members,
                                                                    zv::MakeVersion(1, 2, 1, 31), 0x409));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "stamp_fixture: %s\n", e.what());
        return 1;
    }
    return 0;
}
