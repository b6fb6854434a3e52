#include "transfer/space.h"

#include <cstring>

#include "platform/text.h"

namespace zv {

void CheckSpace(Platform& os, const EntryDecision* decisions, uint32_t count, SpaceCheck* check) {
    check->count = 0;
    check->enough = true;
    char asked[SpaceCheck::kMaxVolumes][kMaxPath];  // where each volume's free space is asked for
    for (uint32_t i = 0; i < count; ++i) {
        const EntryDecision& d = decisions[i];
        if (d.outcome != EntryOutcome::Write && d.outcome != EntryOutcome::InUse) continue;
        // The volume the target's directory is on; when the platform cannot
        // tell, the drive letter stands for it.
        char directory[kMaxPath] = {};
        CopyText(directory, sizeof directory, d.target);
        char* slash = std::strrchr(directory, '\\');
        if (slash != nullptr) slash[1] = '\0';
        char key[kMaxPath] = {};
        const bool known = os.VolumeOf(directory, key, sizeof key);
        if (!known) {
            key[0] = '\0';
            if (d.target[0] != '\0' && d.target[1] == ':') {
                key[0] = UpperAz(d.target[0]);
                key[1] = ':';
            }
        }
        VolumeNeed* volume = nullptr;
        for (unsigned k = 0; k < check->count; ++k) {
            if (CompareNoCase(check->volumes[k].root, key) == 0) volume = &check->volumes[k];
        }
        if (volume == nullptr) {
            if (check->count == SpaceCheck::kMaxVolumes) continue;  // more volumes than any update has
            CopyText(asked[check->count], kMaxPath, known ? key : directory);
            volume = &check->volumes[check->count++];
            CopyText(volume->root, sizeof volume->root, key);
            volume->needed = 0;
            volume->free = UINT64_MAX;
        }
        volume->needed += static_cast<uint64_t>(EntrySizeKB(d.entry)) * 1024;
    }
    for (unsigned k = 0; k < check->count; ++k) {
        VolumeNeed& v = check->volumes[k];
        uint64_t free = 0;
        if (!os.FreeSpace(asked[k], &free)) continue;
        v.free = free;
        if (free < v.needed) check->enough = false;
    }
}

}  // namespace zv
