#include "transfer/space.h"

#include <cstring>

#include "platform/text.h"
#include "transfer/extract.h"

namespace zv {
namespace {

uint64_t FileSize(Platform& os, const char* path) {
    FileHandle file = os.Open(path, OpenMode::Read);
    if (file == kNoFile) return 0;
    int32_t size = os.Seek(file, 0, SeekOrigin::End);
    os.Close(file);
    return size > 0 ? static_cast<uint64_t>(size) : 0;
}

}  // namespace

void SpacePlanner::EntryDone(const EntryReport& report) {
    if (report.outcome != EntryOutcome::Written && report.outcome != EntryOutcome::InUse) return;
    const char* target = report.targetPath;
    char directory[kMaxPath] = {};
    CopyText(directory, sizeof directory, target);
    char* slash = std::strrchr(directory, '\\');
    if (slash != nullptr) slash[1] = '\0';
    // The volume the target's directory is on: a folder where another volume
    // is mounted is a volume of its own, whatever its drive letter. When the
    // platform cannot tell, the drive letter stands for it.
    char key[kMaxPath] = {};
    const bool known = os_.VolumeOf(directory, key, sizeof key);
    if (!known) {
        key[0] = '\0';
        if (target[0] != '\0' && target[1] == ':') {
            key[0] = static_cast<char>(target[0] & ~0x20);
            key[1] = ':';
            key[2] = '\0';
        }
    }
    Volume* volume = nullptr;
    for (unsigned k = 0; k < count_; ++k) {
        if (CompareNoCase(volumes_[k].key, key) == 0) volume = &volumes_[k];
    }
    if (volume == nullptr) {
        if (count_ == kMaxVolumes) return;  // more volumes than any update has: taken to have room
        volume = &volumes_[count_++];
        *volume = Volume{};
        CopyText(volume->key, sizeof volume->key, key);
        CopyText(volume->directory, sizeof volume->directory, known ? key : directory);
    }
    const uint64_t newBytes = static_cast<uint64_t>(EntrySizeKB(report.entry)) * 1024;
    volume->newBytes += newBytes;
    volume->oldBytes += FileSize(os_, target);
    const uint64_t transient = IsCarriedFile(report.name) ? 2 * newBytes : newBytes;
    if (transient > volume->transient) volume->transient = transient;
}

uint64_t SpacePlanner::Need(const Volume& v) {
    uint64_t grown = v.newBytes > v.oldBytes ? v.newBytes - v.oldBytes : 0;
    return grown + v.transient;
}

bool SpacePlanner::Enough() const {
    for (unsigned k = 0; k < count_; ++k) {
        const Volume& v = volumes_[k];
        uint64_t free = 0;
        if (os_.FreeSpace(v.directory, &free) && free < Need(v)) return false;
    }
    return true;
}

}  // namespace zv
