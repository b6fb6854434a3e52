// Ordering and showing product versions.
#pragma once

#include "package/format.h"

namespace zv {

// -1, 0 or 1 as a is less than, equal to or greater than b: the high words
// decide, unsigned; the low words only when the high words are equal.
int CompareVersions(ProductVersion a, ProductVersion b);

// The form shown to the user: "%u.%.2u" of major and minor - 1 (1.2.1.31
// shows as "1.01", 1.11.0.0 as "1.10"). A version whose minor is 0 shows in
// full, "%u.%u.%u.%u" ("2.0.0.1"). Returns the length written.
int FormatVersion(ProductVersion v, char* buffer, int size);

// The full form a.b.c.d, for tools and traces.
int FormatVersionParts(ProductVersion v, char* buffer, int size);

}  // namespace zv
