// What the version and settings readers of a Platform answer for given
// files, and the names of languages, printed in one fixed form. The Windows probe prints it through the
// system's own calls, the host probe through the portable readers; the two
// outputs are compared line by line.
#pragma once

#include <cstdint>
#include <cstdio>

#include "platform/platform.h"

namespace zvprobe {

// For each file: the block size, the block's CRC-32 before and after the
// queries, and each query's answer (length and bytes).
void ReportVersions(zv::Platform& os, std::FILE* out, int count, char** paths);

// The whole block of each file in hexadecimal, for looking into differences.
void DumpBlocks(zv::Platform& os, std::FILE* out, int count, char** paths);

// For each settings file (a path, or a bare name looked for in the Windows
// directory): a fixed list of string and integer queries.
void ReportSettings(zv::Platform& os, std::FILE* out, int count, char** files);

// The ANSI code page of a system of a language: the system's own answer in
// the Windows probe, the portable table's in the host probe.
using LanguageCodePageFunction = uint16_t (*)(uint32_t language);

// The name and the code page of each language identifier (hexadecimal
// arguments).
void ReportLanguages(zv::Platform& os, LanguageCodePageFunction codePage, std::FILE* out, int count, char** ids);

// Runs `probe version|dump|ini|lang ARGS...`; returns the exit code.
int RunProbe(zv::Platform& os, LanguageCodePageFunction codePage, int argc, char** argv);

}  // namespace zvprobe
