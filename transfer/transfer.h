// The transfer: writing the package's files over the installed ones.
//
// RunTransfer walks the file table twice, shared runtime libraries first, then
// the product-directory files, and decides for every entry whether it is
// written and where. Each member is expanded into a new file beside its
// target and only then put in its place, so whatever happens (a Cancel, a
// failed write, a full disk, a crash) every installed file is either as it was
// or wholly new.
#pragma once

#include <cstdint>

#include "detect/detection.h"
#include "package/member_name.h"
#include "package/table.h"
#include "platform/run_context.h"

namespace zv {

// 0 done, -1 stopped, 2 a Cancel answer, otherwise the string id of the
// closing message (32, 34, 35, 37, 38).
using TransferResult = int32_t;

// What became of one entry.
enum class EntryOutcome : uint8_t {
    Written,              // the member was written (dry run: would be)
    Ignored,              // ENTRY_IGNORED: neither written nor counted
    OtherPass,            // handled by the other pass
    RuntimeNotFound,      // a runtime library that detection did not find
    InstalledNewer,       // the installed copy is newer than the entry
    NotInstalled,         // update-only, and nothing is installed to update
    CarriedNotInstalled,  // a carried file with no installed copy
    KeptByIgnore,         // Ignore at the write-protection question
    InUse,                // dry run: a shared file in use; the run would ask
    Failed,               // the entry ended the transfer (see result)
    Stopped,              // a stop was requested before the entry
};
const char* EntryOutcomeName(EntryOutcome outcome);

struct EntryReport {
    uint32_t index;  // in the table, from 0
    uint32_t pass;   // 1 or 2
    PackageEntry entry;
    const char* name;
    EntryOutcome outcome;
    const char* targetPath;  // where it is (or would be) written; "" when passed by
    uint32_t percent;        // the percentage after the entry
    TransferResult result;   // the transfer's result after the entry
    // Failed with IDS_INVALID_DIRECTORY: what is wrong with the name or the
    // target path composed from it.
    MemberNameProblem nameProblem;
};

// Told about every entry each pass looks at, for traces and dry runs.
class TransferObserver {
public:
    virtual ~TransferObserver() = default;
    virtual void EntryDone(const EntryReport& report) = 0;
};

struct TransferOptions {
    // Decide everything, write nothing, ask nothing, show no page: what the
    // transfer would do on this installation.
    bool dryRun = false;
    TransferObserver* observer = nullptr;
};

// The whole transfer: opens the program file as volume 1, runs both passes
// with the transfer page shown through run.transferView and the questions
// asked through run.ui, and shows the closing message. A table that was not
// loaded whole is never walked: the user is told (34 or 37) and the result is -1.
TransferResult RunTransfer(RunContext& run, const PackageTable& table,
                           InstalledProduct* product, const TransferOptions& options = TransferOptions());

}  // namespace zv
