// Carrying the stamped data blocks of an installed product file into its new
// copy, keeping the new copy's checksum relation.
//
// The three carried blocks (kCarriedBlocks) are read from the installed copy
// into a save area before that copy is touched, and written into the new
// copy once the member has been expanded. The new copy's checksum word is
// then brought up to date so that the word minus the checksum of the file
// (that word taken as 0) stays what it was in the packaged file.
#pragma once

#include <cstdint>

#include "detect/stamped_blocks.h"
#include "platform/run_context.h"

namespace zv {

enum class CarryOutcome : uint8_t {
    Done,        // carried; or nothing was to carry
    Unreadable,  // the installed copy cannot be opened or read whole
    NoMemory,    // no memory to hold the file
    Unwritable,  // the new copy cannot be opened for reading and writing or read whole
    Misplaced,   // the file opened is not the new copy meant (reached through a link)
    Cancelled,   // a write question was answered Cancel
};
const char* CarryOutcomeName(CarryOutcome outcome);

// Copies the carried blocks of the installed file `path` into *save; a block
// the file lacks leaves its array as it was. Never asks: Unreadable and
// NoMemory are the caller's to tell. Done, Unreadable or NoMemory.
CarryOutcome ReadCarriedBlocks(Platform& os, const char* path, StampedBlockSave* save);

// Writes `save` into the carried blocks of the new copy `path` (a block the
// file lacks is passed over) and brings its checksum word up to date. The new
// copy is not installed yet, so it is written in place; a file whose bytes
// would not change is not written at all. A write that fails or falls short
// asks "%s: write error!" about `shownPath` or "Disk full!", Retry or Cancel,
// owned by run.progressPage. Done, NoMemory, Unwritable, Misplaced (the file
// opened at `path` is not the one meant: nothing is written) or Cancelled.
CarryOutcome WriteCarriedBlocks(RunContext& run, const char* path, const StampedBlockSave& save,
                                const char* shownPath);
// The same into the new copy open as `file` (for reading and writing), which
// stays open: Done, NoMemory, Unwritable or Cancelled.
CarryOutcome WriteCarriedBlocksInto(RunContext& run, FileHandle file, const StampedBlockSave& save,
                                    const char* shownPath);

}  // namespace zv
