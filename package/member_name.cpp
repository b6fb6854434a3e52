#include "package/member_name.h"

#include <algorithm>
#include <cstring>

#include "platform/code_page.h"
#include "platform/text.h"

namespace zv {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// True when the `length` bytes at `text` equal the lower-case `word`, A to Z
// without regard to case.
bool EqualsWord(const char* text, size_t length, const char* word) {
    return std::strlen(word) == length && EqualPrefixNoCase(text, word, length);
}

// A Windows device name opens the device whatever extension follows it and
// whatever blanks stand before the extension: "nul", "NUL.txt", "com1 .log".
bool IsDeviceName(const char* part, size_t length) {
    size_t base = 0;
    while (base < length && part[base] != '.') ++base;
    while (base > 0 && part[base - 1] == ' ') --base;
    static const char* const kDevices[] = {"con", "prn", "aux", "nul", "conin$", "conout$"};
    for (const char* device : kDevices) {
        if (EqualsWord(part, base, device)) return true;
    }
    // COM and LPT with a digit, or with the superscript digits 1, 2 and 3 of
    // the Windows code page, which the system takes for the same devices.
    if (base == 4 && (EqualsWord(part, 3, "com") || EqualsWord(part, 3, "lpt"))) {
        const unsigned char d = static_cast<unsigned char>(part[3]);
        return (d >= '0' && d <= '9') || d == 0xB9 || d == 0xB2 || d == 0xB3;
    }
    return false;
}

bool IsReserved(const char* part, size_t length) {
    const size_t prefix = sizeof MEMBER_RESERVED_PREFIX - 1;
    return length >= prefix && EqualsWord(part, prefix, MEMBER_RESERVED_PREFIX);
}

// A member name's part: the rules of every path part, then those of a name
// the updater creates.
MemberNameProblem CheckPart(const char* part, size_t length) {
    const MemberNameProblem problem = CheckPathPart(part, length);
    if (problem != MemberNameProblem::None) return problem;
    if (part[length - 1] == '.' || part[length - 1] == ' ') return MemberNameProblem::TrailingDotOrBlank;
    if (IsDeviceName(part, length)) return MemberNameProblem::DeviceName;
    if (IsReserved(part, length)) return MemberNameProblem::Reserved;
    return MemberNameProblem::None;
}

}  // namespace

MemberNameProblem CheckPathPart(const char* part, size_t length) {
    if (length == 0) return MemberNameProblem::EmptyPart;
    if ((length == 1 && part[0] == '.') || (length == 2 && part[0] == '.' && part[1] == '.')) {
        return MemberNameProblem::DotPart;
    }
    for (size_t k = 0; k < length; ++k) {
        const unsigned char c = static_cast<unsigned char>(part[k]);
        if (c < 0x20 || c == 0x7F) return MemberNameProblem::ControlCharacter;
    }
    for (size_t k = 0; k < length; ++k) {
        if (std::strchr("<>\"/|?*", part[k]) != nullptr) return MemberNameProblem::ForbiddenCharacter;
    }
    return MemberNameProblem::None;
}

const char* MemberNameProblemName(MemberNameProblem problem) {
    switch (problem) {
    case MemberNameProblem::None: return "none";
    case MemberNameProblem::Empty: return "it is empty";
    case MemberNameProblem::TooLong: return "it is longer than a Windows path may be";
    case MemberNameProblem::Absolute: return "it is not relative to its target directory (leading \\)";
    case MemberNameProblem::Colon: return "it holds a drive letter or a colon";
    case MemberNameProblem::EmptyPart: return "it has an empty part (\\\\, or a trailing \\)";
    case MemberNameProblem::DotPart: return "it has a . or .. part";
    case MemberNameProblem::ControlCharacter: return "it holds a control character";
    case MemberNameProblem::ForbiddenCharacter: return "it holds a character Windows names cannot hold (< > \" / | ? *)";
    case MemberNameProblem::TrailingDotOrBlank: return "a part of it ends in a dot or a blank, which Windows strips";
    case MemberNameProblem::DeviceName: return "a part of it is a Windows device name (CON, NUL, COM1, ...)";
    case MemberNameProblem::Reserved: return "a part of it is kept for the updater's own files (~zv...)";
    case MemberNameProblem::Duplicate: return "an earlier member names the same file (the names are equal but for case)";
    }
    return "unknown problem";
}

int CompareMemberNames(const char* a, const char* b, uint16_t codePage) {
    for (;;) {
        if (*a == '\0' || *b == '\0') return *a == *b ? 0 : (*a == '\0' ? -1 : 1);
        size_t takenA = 0, takenB = 0;
        const uint16_t x = FoldFileNameCharacter(a, codePage, &takenA);
        const uint16_t y = FoldFileNameCharacter(b, codePage, &takenB);
        if (x != y) return x < y ? -1 : 1;
        a += takenA;
        b += takenB;
    }
}

MemberNameProblem CheckMemberName(const char* name) {
    if (name[0] == '\0') return MemberNameProblem::Empty;
    const size_t length = std::strlen(name);
    if (length > MEMBER_NAME_MAX) return MemberNameProblem::TooLong;
    if (IsSeparator(name[0])) return MemberNameProblem::Absolute;
    if (std::strchr(name, ':') != nullptr) return MemberNameProblem::Colon;
    const char* part = name;
    for (const char* p = name;; ++p) {
        if (*p != '\0' && *p != '\\') continue;
        const MemberNameProblem problem = CheckPart(part, static_cast<size_t>(p - part));
        if (problem != MemberNameProblem::None) return problem;
        if (*p == '\0') return MemberNameProblem::None;
        part = p + 1;
    }
}

MemberNamesCheck CheckMemberNames(const char* const* names, uint32_t count, uint16_t codePage,
                                  uint32_t* scratch) {
    MemberNamesCheck check;
    for (uint32_t i = 0; i < count; ++i) {
        const MemberNameProblem problem = CheckMemberName(names[i]);
        if (problem != MemberNameProblem::None) {
            check.problem = problem;
            check.index = i;
            break;
        }
    }
    // Duplicates: sorted by name, then by index, equal names stand together
    // with the earliest first. Only one before the first bad name matters.
    const uint32_t checked = check.problem == MemberNameProblem::None ? count : check.index;
    for (uint32_t i = 0; i < checked; ++i) scratch[i] = i;
    std::sort(scratch, scratch + checked, [names, codePage](uint32_t a, uint32_t b) {
        const int order = CompareMemberNames(names[a], names[b], codePage);
        return order != 0 ? order < 0 : a < b;
    });
    uint32_t first = 0;
    for (uint32_t k = 1; k < checked; ++k) {
        if (CompareMemberNames(names[scratch[first]], names[scratch[k]], codePage) != 0) {
            first = k;
            continue;
        }
        const uint32_t later = scratch[k];
        if (check.problem == MemberNameProblem::None || later < check.index) {
            check.problem = MemberNameProblem::Duplicate;
            check.index = later;
            check.earlier = scratch[first];
        }
    }
    return check;
}

}  // namespace zv
