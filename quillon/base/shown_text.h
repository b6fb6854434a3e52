// Text from a package (members' names above all) as quillon shows it on a
// terminal: a name may hold any byte, and control characters written raw
// would move the cursor, rewrite lines or set the terminal's title.
#pragma once

#include <string>

namespace quillon {

// `text` with every byte outside printable ASCII (0x20 to 0x7E) written as
// \xNN, so that nothing in it acts on the terminal and every byte shows.
std::string Shown(const std::string& text);

// UTF-8 `text` with its control characters (C0, DEL and C1) written as \xNN
// and every other character left as it is.
std::string ShownUtf8(const std::string& text);

}  // namespace quillon
