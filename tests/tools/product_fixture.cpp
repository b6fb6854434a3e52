// product_fixture: the sample Zarvel installation and the sample package
// that the Wine scenarios and the main job update, and the check of a file
// after an update.
//
//   product_fixture make DIR [--large-kb N] [--medium-kb N]
//       DIR/installed/  an installation at 1.2.1.20: zvact.ini, ZARVEL/ with
//                       the product files and data files, SYSTEM/ with
//                       PLMR.DLL and PLMR32.DLL
//       DIR/new/        the files of the package at 1.2.1.31, same layout
//       DIR/variants/   files laid over an installation for the refusals:
//                       newer/ (main programs at 1.2.1.40), translated/ (all
//                       versioned product files in German), cd/ (main
//                       programs of a CD installation: marker word bit 2 set)
//       DIR/package.txt the package description for quillon build
//     The entries of the package, in table order: PLMR.DLL, PLMR32.DLL, the
//     six carried files, help\zvact.hlp, data\intro.dat (after these ten of
//     twenty the bar stands at 50 %), data\world.map (N large KB),
//     data\map01.dat to map09.dat (N medium KB each). The maps are aerial
//     photographs that hardly compress, so that the transfer takes a few
//     seconds in which it can be cancelled.
//
//   product_fixture state INSTALLED_DIR NEW_DIR TARGET_DIR NAME...
//       prints "NAME old", "NAME new", "NAME missing" or "NAME other" for each
//       file NAME ("/" between directories) of TARGET_DIR: old when it equals
//       the installed copy (missing when there was none and there is none),
//       new when it is what the update makes of the package's copy. For the
//       six carried files that is the package's copy with the installed
//       copy's three carried blocks in place and its checksum word brought
//       up to date: the checksum word less the stamp checksum of the file
//       (that word taken as 0) is the same as in the package's copy. Why a
//       file is "other" goes to stderr. Exits 1 when any file is other.
#include <cstdio>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include "detect/stamped_blocks.h"
#include "platform/bytes.h"
#include "tests/support/pe_builder.h"
#include "tests/support/stamped_file.h"
#include "tests/support/temp_dir.h"

using namespace zvtest;

namespace {

const zv::ProductVersion kInstalledVersion = zv::MakeVersion(1, 2, 1, 20);
const zv::ProductVersion kNewVersion = zv::MakeVersion(1, 2, 1, 31);
const zv::ProductVersion kNewerVersion = zv::MakeVersion(1, 2, 1, 40);
constexpr uint16_t kEnglish = 0x409;
constexpr uint16_t kGerman = 0x407;

// Marker words: bit 2 set marks a main program installed to run from the CD.
constexpr uint16_t kMarkerHardDisk = 0x0001;
constexpr uint16_t kMarkerCd = 0x0005;

// A small generator, so that every run writes the same bytes.
struct Random {
    explicit Random(uint32_t seed) : state(seed * 2654435761u ^ 0x9E3779B9u) {
        if (state == 0) state = 1;
    }
    uint32_t state;
    uint32_t Next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
};

// Bytes that look like program code: compressible, but not much.
std::vector<uint8_t> CodeBytes(uint32_t seed, size_t size) {
    Random r(seed);
    std::vector<uint8_t> out(size);
    for (size_t i = 0; i < size; ++i) {
        uint32_t v = r.Next();
        out[i] = (v & 0x300) == 0 && i >= 64 ? out[i - 1 - (v >> 26)] : static_cast<uint8_t>(v & 0x7F);
    }
    return out;
}

// Map data: rows of 256 tiles, each row much like the one above it.
std::vector<uint8_t> MapBytes(uint32_t seed, size_t size) {
    Random r(seed);
    std::vector<uint8_t> out(size);
    for (size_t i = 0; i < size; ++i) {
        uint32_t v = r.Next();
        out[i] = i >= 256 && (v & 3) != 0 ? out[i - 256] : static_cast<uint8_t>(0x20 + (v >> 28));
    }
    return out;
}

// An aerial photograph: each byte a small step from the one before, so that
// hardly anything repeats and the coder stores it byte by byte.
std::vector<uint8_t> PhotoBytes(uint32_t seed, size_t size) {
    Random r(seed);
    std::vector<uint8_t> out(size);
    uint8_t level = 0x80;
    for (size_t i = 0; i < size; ++i) {
        level = static_cast<uint8_t>(level + static_cast<int>(r.Next() >> 27) - 16);
        out[i] = level;
    }
    return out;
}

std::vector<uint8_t> Padded(const std::string& text, size_t size) {
    std::vector<uint8_t> out(size, 0);
    std::memcpy(out.data(), text.data(), text.size() < size ? text.size() : size);
    return out;
}

// The three carried blocks of one installation: its registration.
struct Registration {
    std::vector<uint8_t> shortBlock, firstBlock, secondBlock;
};

Registration InstalledRegistration() {
    return {Padded("ZV-4711-0815", 12), Padded("Registered to: Ada Example, Survey Office North", 88),
            Padded("Licence 25 seats; maps of the northern districts enabled", 88)};
}

// The package's copies carry placeholders where the registration goes.
Registration PackageRegistration() {
    return {Padded("", 12), Padded("unregistered", 88), Padded("", 88)};
}

// Stores a checksum word that makes the file's difference `difference`.
void StampChecksumWord(std::vector<uint8_t>* file, uint16_t difference) {
    if (!SetFileChecksumDifference(file, difference)) throw std::runtime_error("no checksum block");
}

struct ProductFile {
    const char* name;
    ExeFormat format;  // NE for the 16-bit variant, PE for the 32-bit one
    bool mainProgram;
    bool probed;  // read by detection (its language shows on the page)
    size_t codeKB;
};

const ProductFile kProductFiles[] = {
    {"zvact.exe", ExeFormat::Ne, true, true, 48},
    {"zvsa.bin", ExeFormat::Ne, false, true, 12},
    {"zvsv.bin", ExeFormat::Ne, false, false, 8},
    {"zvact32.exe", ExeFormat::Pe32, true, true, 96},
    {"zvsa32.bin", ExeFormat::Pe32, false, true, 16},
    {"zvsv32.bin", ExeFormat::Pe32, false, false, 8},
};

struct Release {
    zv::ProductVersion version;
    uint16_t language;
    uint16_t markerWord;
    Registration registration;
    uint32_t seed;
    uint16_t differenceBase;
};

// A carried product file: a version resource, program bytes, and in its data
// the marker word (main programs), the three carried blocks and the checksum.
std::vector<uint8_t> MakeProductFile(const ProductFile& f, const Release& release, unsigned index,
                                     zv::ProductVersion version) {
    std::vector<uint8_t> data = CodeBytes(release.seed + index * 977, f.codeKB * 1024 / 2);
    if (f.mainProgram) {
        AppendBytes(&data, MarkerBlockBytes(zv::KEY_MARKER_WORD, {static_cast<uint8_t>(release.markerWord),
                                                                  static_cast<uint8_t>(release.markerWord >> 8)}));
    }
    AppendBytes(&data, MarkerBlockBytes(zv::KEY_CARRIED_SHORT, release.registration.shortBlock));
    AppendBytes(&data, CodeBytes(release.seed + index * 31, 40));
    AppendBytes(&data, MarkerBlockBytes(zv::KEY_CARRIED_FIRST, release.registration.firstBlock));
    AppendBytes(&data, MarkerBlockBytes(zv::KEY_CARRIED_SECOND, release.registration.secondBlock));
    AppendBytes(&data, MarkerBlockBytes(zv::KEY_CHECKSUM, {0, 0}));
    AppendBytes(&data, CodeBytes(release.seed + index * 7919, f.codeKB * 1024 / 2));
    std::vector<uint8_t> file =
        BuildVersionedExecutable(f.format, ProductVersionInfo(version, release.language, f.name), data);
    StampChecksumWord(&file, static_cast<uint16_t>(release.differenceBase + index));
    return file;
}

std::vector<uint8_t> MakeRuntime(const char* name, ExeFormat format, zv::ProductVersion version, uint32_t seed) {
    return BuildVersionedExecutable(format, ProductVersionInfo(version, kEnglish, name), CodeBytes(seed, 24 * 1024));
}

struct Sizes {
    size_t largeKB = 12288;
    size_t mediumKB = 1024;
};

void WriteRelease(const std::string& dir, const Release& release, const Sizes& sizes, bool isNew) {
    MakeDirs(dir + "/ZARVEL/data");
    MakeDirs(dir + "/SYSTEM");
    for (unsigned i = 0; i < 6; ++i) {
        WriteFileBytes(dir + "/ZARVEL/" + kProductFiles[i].name,
                       MakeProductFile(kProductFiles[i], release, i, release.version));
    }
    WriteFileBytes(dir + "/SYSTEM/PLMR.DLL", MakeRuntime("PLMR.DLL", ExeFormat::Ne, release.version, release.seed + 1));
    WriteFileBytes(dir + "/SYSTEM/PLMR32.DLL",
                   MakeRuntime("PLMR32.DLL", ExeFormat::Pe32, release.version, release.seed + 2));
    WriteFileBytes(dir + "/ZARVEL/data/intro.dat", MapBytes(release.seed + 3, 20 * 1024));
    WriteFileBytes(dir + "/ZARVEL/data/world.map", PhotoBytes(release.seed + 4, sizes.largeKB * 1024));
    for (unsigned i = 1; i <= 9; ++i) {
        WriteFileBytes(dir + "/ZARVEL/data/map0" + std::to_string(i) + ".dat",
                       PhotoBytes(release.seed + 10 + i, sizes.mediumKB * 1024));
    }
    if (isNew) {
        // New in this release: the help file, in a directory of its own.
        MakeDirs(dir + "/ZARVEL/help");
        WriteFileBytes(dir + "/ZARVEL/help/zvact.hlp", MapBytes(release.seed + 5, 64 * 1024));
    }
}

// Main programs (and, for a translation, every versioned product file) of
// another installation, to lay over the usual one.
void WriteVariant(const std::string& dir, const Release& release, bool allProbed) {
    MakeDirs(dir + "/ZARVEL");
    for (unsigned i = 0; i < 6; ++i) {
        const ProductFile& f = kProductFiles[i];
        if (!(f.mainProgram || (allProbed && f.probed))) continue;
        WriteFileBytes(dir + "/ZARVEL/" + f.name, MakeProductFile(f, release, i, release.version));
    }
}

const char kDescription[] =
    "# The sample package: Zarvel 1.2.1.31 (shown as 1.01), US English.\n"
    "version 1.2.1.31\n"
    "language 0x0409\n"
    "\n"
    "# The runtime libraries, placed where the system keeps shared files.\n"
    "file new/SYSTEM/PLMR.DLL PLMR.DLL shared version=auto\n"
    "file new/SYSTEM/PLMR32.DLL PLMR32.DLL shared version=auto\n"
    "\n"
    "# The product files, written only over installed copies that are not newer;\n"
    "# the six that carry the registration blocks keep them.\n"
    "file new/ZARVEL/zvact.exe zvact.exe update-only version=auto\n"
    "file new/ZARVEL/zvsa.bin zvsa.bin update-only version=auto\n"
    "file new/ZARVEL/zvsv.bin zvsv.bin update-only version=auto\n"
    "file new/ZARVEL/zvact32.exe zvact32.exe update-only version=auto\n"
    "file new/ZARVEL/zvsa32.bin zvsa32.bin update-only version=auto\n"
    "file new/ZARVEL/zvsv32.bin zvsv32.bin update-only version=auto\n"
    "\n"
    "# New in this release, written in any case.\n"
    "file new/ZARVEL/help/zvact.hlp help\\zvact.hlp\n"
    "\n"
    "# The data files: no version resources, so the conventional 0.1.0.0.\n"
    "file new/ZARVEL/data/intro.dat data\\intro.dat update-only version=0.1.0.0\n"
    "file new/ZARVEL/data/world.map data\\world.map update-only version=0.1.0.0\n"
    "file new/ZARVEL/data/map01.dat data\\map01.dat update-only version=0.1.0.0\n"
    "file new/ZARVEL/data/map02.dat data\\map02.dat update-only version=0.1.0.0\n"
    "file new/ZARVEL/data/map03.dat data\\map03.dat update-only version=0.1.0.0\n"
    "file new/ZARVEL/data/map04.dat data\\map04.dat update-only version=0.1.0.0\n"
    "file new/ZARVEL/data/map05.dat data\\map05.dat update-only version=0.1.0.0\n"
    "file new/ZARVEL/data/map06.dat data\\map06.dat update-only version=0.1.0.0\n"
    "file new/ZARVEL/data/map07.dat data\\map07.dat update-only version=0.1.0.0\n"
    "file new/ZARVEL/data/map08.dat data\\map08.dat update-only version=0.1.0.0\n"
    "file new/ZARVEL/data/map09.dat data\\map09.dat update-only version=0.1.0.0\n";

int Make(const std::string& dir, const Sizes& sizes) {
    const Release installed{kInstalledVersion, kEnglish, kMarkerHardDisk, InstalledRegistration(), 0x1200, 0};
    const Release fresh{kNewVersion, kEnglish, kMarkerHardDisk, PackageRegistration(), 0x3100, 0x1310};
    WriteRelease(dir + "/installed", installed, sizes, false);
    WriteFileText(dir + "/installed/zvact.ini", "[setup]\r\ndrive=C:\r\ndir=\\ZARVEL\\\r\ninst=2\r\n");
    WriteRelease(dir + "/new", fresh, sizes, true);
    Release newer = installed;
    newer.version = kNewerVersion;
    WriteVariant(dir + "/variants/newer", newer, false);
    Release translated = installed;
    translated.language = kGerman;
    WriteVariant(dir + "/variants/translated", translated, true);
    Release cd = installed;
    cd.markerWord = kMarkerCd;
    WriteVariant(dir + "/variants/cd", cd, false);
    WriteFileText(dir + "/package.txt", kDescription);
    return 0;
}

bool IsCarried(const std::string& name) {
    std::string base = name.substr(name.find_last_of('/') + 1);
    for (const ProductFile& f : kProductFiles) {
        if (base == f.name) return true;
    }
    return false;
}

// Why `target` is not what the update makes of `fresh` over `installed`, or
// "" when it is.
std::string NotUpdated(const std::vector<uint8_t>& installed, const std::vector<uint8_t>& fresh,
                       const std::vector<uint8_t>& target) {
    if (target.size() != fresh.size()) return "its length is not the package copy's";
    std::vector<bool> stamped(target.size(), false);
    const uint32_t size = static_cast<uint32_t>(target.size());
    for (const zv::CarriedBlock& block : zv::kCarriedBlocks) {
        uint32_t at = zv::FindMarker(target.data(), size, block.key, block.length);
        uint32_t from = zv::FindMarker(installed.data(), static_cast<uint32_t>(installed.size()), block.key, block.length);
        if (at == zv::kNoMarker || from == zv::kNoMarker) return "a carried block is missing";
        if (at != zv::FindMarker(fresh.data(), size, block.key, block.length)) return "a carried block moved";
        if (std::memcmp(target.data() + at, installed.data() + from, block.length) != 0) {
            return "a carried block is not the installed copy's";
        }
        for (uint32_t i = 0; i < block.length; ++i) stamped[at + i] = true;
    }
    uint32_t sum = zv::FindMarker(target.data(), size, zv::KEY_CHECKSUM, 2);
    if (sum == zv::kNoMarker) return "the checksum block is missing";
    stamped[sum] = stamped[sum + 1] = true;
    for (size_t i = 0; i < target.size(); ++i) {
        if (!stamped[i] && target[i] != fresh[i]) return "a byte outside the stamped blocks is not the package copy's";
    }
    if (FileChecksumDifference(target) != FileChecksumDifference(fresh)) return "the checksum relation is not the package copy's";
    return "";
}

int State(const std::string& installedDir, const std::string& newDir, const std::string& targetDir,
          const std::vector<std::string>& names) {
    int status = 0;
    for (const std::string& name : names) {
        const bool wasInstalled = FileExists(installedDir + "/" + name);
        const std::vector<uint8_t> installed = ReadFileBytes(installedDir + "/" + name);
        const std::vector<uint8_t> fresh = ReadFileBytes(newDir + "/" + name);
        const std::string targetPath = targetDir + "/" + name;
        const char* state = "other";
        std::string why;
        if (!FileExists(targetPath)) {
            state = wasInstalled ? "other" : "missing";
            why = "it is gone";
        } else {
            const std::vector<uint8_t> target = ReadFileBytes(targetPath);
            if (wasInstalled && target == installed) {
                state = "old";
            } else if (!IsCarried(name)) {
                if (target == fresh) state = "new";
                else why = "it is neither the installed copy nor the package's";
            } else {
                why = NotUpdated(installed, fresh, target);
                if (why.empty()) state = "new";
            }
        }
        std::printf("%s %s\n", name.c_str(), state);
        if (std::strcmp(state, "other") == 0) {
            std::fprintf(stderr, "product_fixture: %s: %s\n", name.c_str(), why.c_str());
            status = 1;
        }
    }
    return status;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: product_fixture make DIR [--large-kb N] [--medium-kb N]\n"
                 "       product_fixture state INSTALLED_DIR NEW_DIR TARGET_DIR NAME...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    try {
        const std::string command = argv[1];
        if (command == "make") {
            Sizes sizes;
            for (int i = 3; i < argc; ++i) {
                const std::string option = argv[i];
                if (i + 1 >= argc) return Usage();
                const size_t value = std::stoul(argv[++i]);
                if (option == "--large-kb") sizes.largeKB = value;
                else if (option == "--medium-kb") sizes.mediumKB = value;
                else return Usage();
            }
            return Make(argv[2], sizes);
        }
        if (command == "state" && argc >= 6) {
            return State(argv[2], argv[3], argv[4], std::vector<std::string>(argv + 5, argv + argc));
        }
        return Usage();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "product_fixture: %s\n", e.what());
        return 1;
    }
}
