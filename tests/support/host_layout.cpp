#include "tests/support/host_layout.h"

#include "tests/support/temp_dir.h"

namespace zvtest {

zv::PosixLayout DriveLayout(char drive, const std::string& root) {
    zv::PosixLayout layout;
    layout.drives[(drive & ~0x20) - 'A'] = root;
    return layout;
}

zv::PosixLayout MachineLayout(const std::string& root, const std::string& program) {
    zv::PosixLayout layout = DriveLayout('C', root);
    layout.windowsDir = "C:\\WINDOWS";
    layout.systemDir = "C:\\WINDOWS\\SYSTEM";
    MakeDirs(root + "/WINDOWS/SYSTEM");
    if (!program.empty()) layout.modulePath = "C:\\UPDATE\\" + program;
    return layout;
}

}  // namespace zvtest
