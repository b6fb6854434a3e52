// Host directories standing for a Windows machine in the tests.
#pragma once

#include <string>

#include "platform/posix_platform.h"

namespace zvtest {

// A layout in which drive `drive` (a letter) stands for the host directory
// `root`, and nothing else is set.
zv::PosixLayout DriveLayout(char drive, const std::string& root);

// The machine most tests use: drive C is `root`, the Windows directory is
// C:\WINDOWS and the system directory C:\WINDOWS\SYSTEM (both are made), and
// the running program is C:\UPDATE\`program` when a program is named.
zv::PosixLayout MachineLayout(const std::string& root, const std::string& program = "");

}  // namespace zvtest
