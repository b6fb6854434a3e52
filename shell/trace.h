// A trace of what the program shows and decides, for tests: written with
// OutputDebugStringA, which a debugger (or Wine's debug channel) receives and
// a user never sees. Each line starts with "zvupdate: ".
#pragma once

namespace zv {

void Trace(const char* format, ...);

}  // namespace zv
