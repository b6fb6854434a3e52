// The package description that `quillon build` reads: a text file that names
// the package's version and language and, one line each, its members. The
// format is documented in docs/package-description.md.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "package/format.h"

namespace quillon {

enum class VersionSource : uint8_t {
    None,   // the record carries no version
    Given,  // version=a.b.c.d
    Auto,   // version=auto: from the source file's version resource
};

struct MemberDescription {
    std::string source;  // the file to pack, as written (relative to the description)
    std::string name;    // the name in the package as written (UTF-8), with "\" between directories
    std::string storedName;  // the name as the table stores it: in the code page of the package's language
    uint16_t flags = 0;  // ENTRY_ flags
    VersionSource versionSource = VersionSource::None;
    zv::ProductVersion version{0, 0};  // when Given
    unsigned line = 0;                 // where it was described
};

struct PackageDescription {
    zv::ProductVersion version{0, 0};
    uint32_t language = 0;
    std::vector<MemberDescription> members;  // in the order of the description
    std::vector<struct DescriptionError> warnings;  // what may go wrong, though the package can be built
};

// One problem found in a description, at a line (0: the file as a whole).
struct DescriptionError {
    unsigned line;
    std::string message;
};

// The longest part of a Windows path (a directory or file name).
constexpr size_t kMaxNamePart = 255;
// The longest path the updater writes: its path buffers hold 260 characters
// with the terminating zero.
constexpr size_t kMaxWindowsPath = 259;
// The product directory that names are checked against for the warning of a
// long name: a member whose name, behind a product directory of this many
// characters (its closing "\" included), passes kMaxWindowsPath cannot be
// written there, so names of more than 195 characters are warned of.
// "C:\Program Files (x86)\Zarvel\" has 30; the margin leaves room for
// deeper installations.
constexpr size_t kTypicalProductDirectory = 64;

// Parses the text of a description (UTF-8, with or without a byte-order
// mark). Returns true when it is complete and consistent; otherwise false
// with every problem found in *errors (the description is then not to be
// used). Names are converted into the code page of the package's language
// (storedName). Source paths are not looked at here.
bool ParseDescription(const std::string& text, PackageDescription* description,
                      std::vector<DescriptionError>* errors);

// Parses "a.b.c.d" (four decimal parts of 0..65535).
bool ParseVersionText(const std::string& text, zv::ProductVersion* version);

}  // namespace quillon
