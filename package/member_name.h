// The one check of the names of a package's members, shared by the updater
// (when it loads the file table), the packer (before it writes one) and the
// packer's verify and extract.
//
// A member's name is a path relative to its target directory, with "\"
// between its parts. Every name the updater would write must stay inside
// that directory, name the file it appears to name (Windows strips a
// trailing dot or blank, and opens a device for CON, NUL, COM1 and the
// like), and leave the updater's own working files alone. Names are compared
// without regard to the case of the letters A to Z, as everywhere else.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zv {

// The longest name, and the longest target path, in characters.
constexpr uint32_t MEMBER_NAME_MAX = 259;

// Every part that begins with this text (without regard to case) is kept for
// the updater's own temporary and backup files; no member may use one.
constexpr const char MEMBER_RESERVED_PREFIX[] = "~zv";

// What is wrong with a name, in the order the check looks for it.
enum class MemberNameProblem : uint8_t {
    None,
    Empty,               // no name at all
    TooLong,             // more than MEMBER_NAME_MAX characters (or, composed, the target path)
    Absolute,            // begins with "\" or "/"
    Colon,               // a drive letter, or any other ":"
    EmptyPart,           // "a\\b", or a trailing "\"
    DotPart,             // a "." or ".." part
    ControlCharacter,    // a byte below 0x20, or 0x7F
    ForbiddenCharacter,  // one of < > " / | ? *
    TrailingDotOrBlank,  // a part ending in "." or " ", which Windows strips
    DeviceName,          // CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-9, LPT0-9, with any extension
    Reserved,            // a part kept for the updater's own files
    Duplicate,           // the same file as an earlier member's name, by the file system's case rules
};

// A short phrase for messages ("it has a . or .. part").
const char* MemberNameProblemName(MemberNameProblem problem);

// The rules every part of a Windows path obeys, in a member's name and in
// any path the journal records: not empty, not "." or "..", no control
// character, none of < > " / | ? *. Gives EmptyPart, DotPart,
// ControlCharacter, ForbiddenCharacter or None.
MemberNameProblem CheckPathPart(const char* part, size_t length);

// Checks one name (zero-terminated). Never looks past its terminator.
MemberNameProblem CheckMemberName(const char* name);

// The result of checking a list of names: the first problem in list order.
struct MemberNamesCheck {
    MemberNameProblem problem = MemberNameProblem::None;
    uint32_t index = 0;    // the name with the problem, counted from 0
    uint32_t earlier = 0;  // for Duplicate: the earlier name it equals
};

// Checks every name of `names` (count of them) and that no two name the same
// file in code page `codePage` (CompareMemberNames). `scratch` is room for
// `count` indexes, which the check sorts (so that a long list costs
// count × log(count) comparisons).
// The problem reported is the one at the lowest index; a name that is a
// duplicate counts at its own (the later) index.
MemberNamesCheck CheckMemberNames(const char* const* names, uint32_t count, uint16_t codePage,
                                  uint32_t* scratch);

// Compares two names of code page `codePage` as the file system does: 0 when
// they name the same file ("\xE9t\xE9.txt" and "\xC9T\xC9.TXT" in 1252), else
// an order (for sorting).
int CompareMemberNames(const char* a, const char* b, uint16_t codePage);

}  // namespace zv
