// Which installed files running programs hold now, as quillon plan tells it:
// the update would stop at each of them and ask for the program to be closed.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace quillon {

struct HeldFile {
    std::string path;
    std::string holders;  // the programs' file names, ", " between them; "" when the system does not name them
};

struct HeldFiles {
    std::vector<HeldFile> held;  // in the order asked
    unsigned free = 0;           // files the system knows nobody holds
    unsigned unknown = 0;        // files it cannot tell of
};

// Asks the system who holds the file at `path` and records the answer;
// returns whether a program holds it, with the holders' names in *holders
// ("" when none, or when the system does not name them).
bool AddHeldFile(zv::Platform& os, const char* path, HeldFiles* found, std::string* holders);

// The lines plan prints: the held files with their programs, or that none
// is held; nothing when the system could not tell of any file.
std::string HeldFilesText(const HeldFiles& found);

}  // namespace quillon
