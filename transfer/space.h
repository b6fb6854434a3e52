// The free space an update needs, worked out from its decisions before
// anything is written.
#pragma once

#include <cstdint>

#include "transfer/transfer.h"

namespace zv {

// Every member to be written is staged as a new copy beside its target while
// the installed copy is still there, and the installed copies become backups
// by renaming, so a volume needs room for the sum of the new copies written
// onto it (each as its record's sizeKB × 1024 bytes says). Volumes are told
// apart as Platform::VolumeOf does (a folder where another volume is mounted
// is a volume of its own), or by drive letter when the platform cannot tell.
struct SpaceCheck {
    static constexpr unsigned kMaxVolumes = 64;
    VolumeNeed volumes[kMaxVolumes];
    unsigned count = 0;
    bool enough = true;  // no volume falls short (one whose free space cannot be told has room)
};

// Checks the decisions that write (Write, and InUse, which writes once the
// user has closed the file). More volumes than kMaxVolumes are taken to have
// room.
void CheckSpace(Platform& os, const EntryDecision* decisions, uint32_t count, SpaceCheck* check);

}  // namespace zv
