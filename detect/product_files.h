// The files of the installed product that the updater knows by name.
#pragma once

namespace zv {

// The files of the 16-bit variant in the product directory; each file's
// name is also the internal name its version resource must give.
constexpr char kAct16Name[] = "zvact.exe";  // the main program
constexpr char kSa16Name[] = "zvsa.bin";
constexpr char kSv16Name[] = "zvsv.bin";
// Their 32-bit counterparts.
constexpr char kAct32Name[] = "zvact32.exe";
constexpr char kSa32Name[] = "zvsa32.bin";
constexpr char kSv32Name[] = "zvsv32.bin";

// The runtime libraries of the two variants, in the system's shared-file
// directory.
constexpr char kRuntime16Name[] = "PLMR.DLL";
constexpr char kRuntime32Name[] = "PLMR32.DLL";

// True for the six product files whose stamped blocks are carried from the
// installed copy into the new one: zvact.exe, zvsa.bin, zvsv.bin and their
// 32-bit counterparts (names without regard to the case of A to Z).
bool IsCarriedFile(const char* name);

}  // namespace zv
