// The texts of the string table, compiled into every build from
// resources/strings.txt. The Windows program loads its strings from its own
// resources instead (LoadText in text_win32.cpp); both come from that one file.
#pragma once

#include "string_ids.h"

namespace zv {

struct StringTableEntry {
    unsigned id;
    const char* name;  // the symbolic name, IDS_...
    const char* text;
};

extern const StringTableEntry kStringTable[];
extern const unsigned kStringTableSize;

// The entry with `id`, or nullptr when the table has none.
const StringTableEntry* FindStringEntry(unsigned id);

}  // namespace zv
