// Writing one member of the package onto the disk.
#pragma once

#include <cstdint>

#include "detect/stamped_blocks.h"
#include "package/member_name.h"
#include "package/lzhuf_decoder.h"
#include "package/volume_reader.h"
#include "transfer/transfer.h"

namespace zv {

// True for the six product files whose stamped blocks are carried from the
// installed copy into the new one: zvact.exe, zvsa.bin, zvsv.bin and their
// 32-bit counterparts (names without regard to case).
bool IsCarriedFile(const char* name);

// Composes directory + name into `targetPath` (kMaxPath) and the path of the
// new file written beside it into `newPath` (kMaxPath). A name that the member
// name check refuses, or a target path (or the new file beside it) over
// MEMBER_NAME_MAX characters, gives its problem and two empty paths.
MemberNameProblem ComposeTargetPaths(const char* directory, const char* name, char* targetPath, char* newPath);

// The state of one transfer that member extraction works in.
struct TransferSession {
    RunContext* run = nullptr;
    VolumeReader reader;
    LzhufDecoder* decoder = nullptr;
    StampedBlockSave save;
    char targetPath[kMaxPath] = {};  // the member being written; shown by its questions
    char newPath[kMaxPath] = {};     // the new file beside it
    bool written = false;            // the last member took the installed file's place
};

// Expands the member of `entry` into a new file beside directory + name, gives
// a carried file the saved stamped blocks there, and puts it in place of the
// installed file. Returns 0 (written, or left as it was after Ignore), -1
// (Abort), 2 (Cancel, or the member cannot be read), 35 or 37 (the stamped
// blocks cannot be written: no file, no memory), 37 (no output buffer) or 38
// (an unsafe name). On any result but a written member the installed file is
// as it was and the new file is gone.
TransferResult ExtractMember(TransferSession& session, const char* name, PackageEntry entry,
                             const char* directory, bool carried);

}  // namespace zv
