#include "quillon/machine/held_files.h"

#include "quillon/base/shown_text.h"

namespace quillon {

bool AddHeldFile(zv::Platform& os, const char* path, HeldFiles* found, std::string* holders) {
    holders->clear();
    char names[zv::kMaxPath] = {};
    switch (os.FileHolders(path, names, sizeof names)) {
    case zv::HolderLookup::Named:
    case zv::HolderLookup::Unnamed:
        *holders = names;
        found->held.push_back({path, names});
        return true;
    case zv::HolderLookup::None: ++found->free; return false;
    case zv::HolderLookup::Unknown: break;
    }
    ++found->unknown;
    return false;
}

std::string HeldFilesText(const HeldFiles& found) {
    std::string text;
    if (!found.held.empty()) {
        text = "installed files that running programs hold now (the updater would ask to close them):\n";
        for (const HeldFile& f : found.held) {
            text += "  " + Shown(f.path) + ": " +
                    (f.holders.empty() ? std::string("a program that the system does not name") : Shown(f.holders)) +
                    "\n";
        }
    } else if (found.free > 0) {
        text = "the system knows of no running program that holds an installed file now\n";
    }
    if (found.unknown > 0 && (found.free > 0 || !found.held.empty())) {
        text += "  (" + std::to_string(found.unknown) + (found.unknown == 1 ? " file" : " files") +
                " could not be asked about)\n";
    }
    return text;
}

}  // namespace quillon
