// Where and how the product is installed, and whether this package may be
// applied to it.
#pragma once

#include <cstdint>

#include "detect/file_version.h"
#include "package/format.h"
#include "package/table.h"
#include "platform/run_context.h"

namespace zv {

// InstalledProduct::variants
enum VariantFlags : uint32_t { Act16 = 0x01, Sa16 = 0x02, Act32 = 0x08, Sa32 = 0x10 };
// InstalledProduct::runtime
enum RuntimeFlags : uint32_t {
    Plmr16Found = 0x01,
    Plmr32Found = 0x02,
    Plmr16InUse = 0x04,
    Plmr32InUse = 0x08,
};

struct InstalledProduct {
    char drive[3] = {};
    char dir[256] = {};
    uint32_t inst = 0;
    char installDir[kMaxPath] = {};  // always ends with "\" once detected
    uint32_t variants = 0;
    uint32_t runtime = 0;
    FileVersionRecord act16, sa16, act32, sa32;
};

// What the detection page shows (dialog 402), item by item.
struct UpdateVerdict {
    char version16Text[256] = {};   // item 100
    char version32Text[256] = {};   // item 101
    char languageText[256] = {};    // item 102
    char installTypeText[256] = {}; // item 103
    char directoryText[kMaxPath] = {};  // item 104
    unsigned messageId = 0;         // item 120: 64, 65, 66, 68, 69, 70, 37 or 0 for an empty line
    char message[256] = {};
    unsigned hintId = 0;            // item 140: 80 or 81
    char hint[256] = {};
    bool canProceed = false;        // the Next button
};

// Sets run.programPath (the running program's own file) and run.programDir
// (its directory, up to the last "\").
void SetProgramPaths(RunContext& run);

// Reads where the product is installed from the settings file into a fresh
// *product (drive, dir, inst, installDir). False when it is not installed, or
// in a directory too long for its files' paths (installDir stays empty).
bool LocateProduct(Platform& os, InstalledProduct* product);

// Probes the files of a located product and the shared runtime libraries:
// variants, versions, languages and the runtime flags.
void ProbeProduct(Platform& os, InstalledProduct* product);

// The verdict of the detection page. `table` is the status of the package's
// file table as detection left it: a table that did not load whole and sound
// refuses the update whatever else was found (the package is damaged, or
// there was no memory for it), so that Next is never offered for a transfer
// that cannot run.
UpdateVerdict EvaluateUpdate(RunContext& run, const InstalledProduct& product, const PackageHeader& header,
                             TableStatus table);

}  // namespace zv
