// quillon plan's report of the installed files that running programs hold
// now, from what the system says of each file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/posix_platform.h"
#include "quillon/machine/held_files.h"
#include "tests/support/fault_platform.h"

namespace {

TEST(PlanHeldFiles, NamesTheHoldersOrSaysNoneOrNothingWhenItCannotTell) {
    zv::PosixPlatform posix;
    zvtest::FaultPlatform os(posix);
    os.scriptHolders = true;
    os.holders["zvact32.exe"] = "zvact32.exe";
    os.holders["map05.dat"] = "holdfile.exe, notepad.exe";
    os.holders["readme.txt"] = "";  // known to be held by nobody
    os.holders["PLMR.DLL"] = "";
    os.holders["zvsa.bin"] = "?";  // held, by a program the system does not name
    const std::string heading = "installed files that running programs hold now (the updater would ask to close them):\n";
    struct Case {
        const char* what;
        std::vector<const char*> files;
        zv::HolderLookup others;  // for files the script does not name
        std::string text;
    } cases[] = {
        {"two held, one free", {"C:\\ZARVEL\\zvact32.exe", "C:\\ZARVEL\\readme.txt", "C:\\ZARVEL\\data\\map05.dat"},
         zv::HolderLookup::None,
         heading + "  C:\\ZARVEL\\zvact32.exe: zvact32.exe\n  C:\\ZARVEL\\data\\map05.dat: holdfile.exe, notepad.exe\n"},
        {"none held", {"C:\\ZARVEL\\readme.txt", "C:\\WINDOWS\\SYSTEM\\PLMR.DLL"}, zv::HolderLookup::None,
         "the system knows of no running program that holds an installed file now\n"},
        {"the system cannot tell of any file", {"C:\\ZARVEL\\zvact.exe", "C:\\ZARVEL\\zvsx.bin"},
         zv::HolderLookup::Unknown, ""},
        {"nothing replaced", {}, zv::HolderLookup::None, ""},
        {"held by a program not named", {"C:\\ZARVEL\\readme.txt", "C:\\ZARVEL\\zvsa.bin"}, zv::HolderLookup::Unknown,
         heading + "  C:\\ZARVEL\\zvsa.bin: a program that the system does not name\n"},
        {"one held, one that cannot be told", {"C:\\ZARVEL\\zvact32.exe", "C:\\ZARVEL\\zvsx.bin"},
         zv::HolderLookup::Unknown, heading + "  C:\\ZARVEL\\zvact32.exe: zvact32.exe\n  (1 file could not be asked about)\n"},
        {"none held, two that cannot be told", {"C:\\ZARVEL\\readme.txt", "C:\\ZARVEL\\zvsx.bin", "C:\\ZARVEL\\zvsv.bin"},
         zv::HolderLookup::Unknown, "the system knows of no running program that holds an installed file now\n  (2 files could not be asked about)\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        os.otherHolders = c.others;
        os.holdersAsked.clear();
        quillon::HeldFiles found;
        std::vector<std::string> named;
        std::vector<bool> isHeld;
        for (const char* file : c.files) {
            std::string holders;
            isHeld.push_back(quillon::AddHeldFile(os, file, &found, &holders));
            named.push_back(holders);
        }
        EXPECT_EQ(quillon::HeldFilesText(found), c.text);
        EXPECT_EQ(os.holdersAsked, std::vector<std::string>(c.files.begin(), c.files.end()));
        for (size_t k = 0; k < c.files.size(); ++k) {
            const std::string file = c.files[k];
            const bool named_ = file.find("zvact32") != std::string::npos || file.find("map05") != std::string::npos;
            EXPECT_EQ(named[k].empty(), !named_) << file;
            EXPECT_EQ(isHeld[k], named_ || file.find("zvsa.bin") != std::string::npos) << file;
        }
    }
}

}  // namespace
