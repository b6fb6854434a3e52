// The free space an update needs, worked out from its decisions before
// anything is written.
#pragma once

#include <cstdint>

#include "transfer/transfer.h"

namespace zv {

// Collects the entries that a dry run would write and tells whether every
// target volume (each file system, as Platform::VolumeOf tells them apart,
// mounted folders included) has room for them at the update's peak: the expanded sizes of
// the new files (from their sizeKB) less the installed copies they replace,
// plus the largest new file while it and its installed copy both exist (twice
// that for a carried file, whose stamped blocks are written into a copy of it).
class SpacePlanner : public TransferObserver {
public:
    explicit SpacePlanner(Platform& os) : os_(os) {}
    void Reset() { count_ = 0; }
    void EntryDone(const EntryReport& report) override;
    // True when no volume falls short (a volume whose free space cannot be
    // told is taken to have room).
    bool Enough() const;

    struct Volume {
        char key[kMaxPath];        // the volume's root (Platform::VolumeOf), or the drive ("C:")
                                   // or "" when the platform cannot tell
        char directory[kMaxPath];  // where its free space is asked for
        uint64_t newBytes = 0;
        uint64_t oldBytes = 0;
        uint64_t transient = 0;
    };
    // What `volume` needs at the peak.
    static uint64_t Need(const Volume& volume);

private:
    static constexpr unsigned kMaxVolumes = 64;
    Platform& os_;
    Volume volumes_[kMaxVolumes];
    unsigned count_ = 0;
};

}  // namespace zv
