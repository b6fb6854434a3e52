// Small operations on Windows-form paths held in fixed buffers (normally
// kMaxPath characters with the terminating zero). Each takes the buffer's
// size and returns false, leaving the path as it was, when the result would
// not fit.
#pragma once

namespace zv {

// Appends "\" unless the path is empty or already ends with one.
bool AppendBackslash(char* path, int size);

// Removes one trailing "\" when the path is longer than 3 characters, so a
// root such as "C:\" keeps its backslash.
void StripTrailingBackslash(char* path);

// Replaces the extension of the file name, dot included, with `ending`: when
// the last "." of the path is not followed by a "\", the path is overwritten
// from that dot on; otherwise `ending` is appended. "C:\UPDATE\SETUP.EXE" with
// "002" gives "C:\UPDATE\SETUP002"; "C:\UPD.V1\SETUP" gives "C:\UPD.V1\SETUP002".
bool ReplaceExtension(char* path, int size, const char* ending);

}  // namespace zv
