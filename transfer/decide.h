// Deciding the transfer: for every entry of the package, in each of the two
// passes (shared runtime libraries first, then the product-directory files),
// whether it is written and where, or passed by and why, before anything is
// written.
#pragma once

#include <cstdint>

#include "detect/detection.h"
#include "package/member_name.h"
#include "package/table.h"
#include "platform/platform.h"

namespace zv {

// What becomes of one entry in one pass.
enum class EntryOutcome : uint8_t {
    Write,                // the member is written (after the run: it was)
    Ignored,              // ENTRY_IGNORED: neither written nor counted
    OtherPass,            // handled by the other pass
    RuntimeNotFound,      // a runtime library that detection did not find
    InstalledNewer,       // the installed copy is newer than the entry
    NotInstalled,         // update-only, and nothing is installed to update
    CarriedNotInstalled,  // a carried file with no installed copy
    InUse,                // a shared file in use: the run asks to close it
    BadName,              // the name, or the target path made from it, is refused
    KeptByIgnore,         // Ignore at the write-protection question
    Failed,               // the entry ended the transfer
    Stopped,              // a stop was requested before the entry
};
const char* EntryOutcomeName(EntryOutcome outcome);

// The decision for one entry in one pass.
struct EntryDecision {
    uint32_t index = 0;  // in the table, from 0
    uint32_t pass = 0;   // 1 or 2
    PackageEntry entry;
    const char* name = "";
    EntryOutcome outcome = EntryOutcome::OtherPass;
    bool step = false;       // counted as a progress step when its turn comes
    bool carried = false;    // the installed copy's stamped blocks go into the new copy
    bool installed = false;  // a copy is installed at the target
    MemberNameProblem nameProblem = MemberNameProblem::None;  // for BadName
    char directory[kMaxPath] = {};  // where it goes, ending in "\"; "" when passed by
    char target[kMaxPath] = {};     // directory + name; "" when passed by
    char inUse[kMaxPath] = {};      // InUse: the copy that is in use (where the lookup found it)
};

// Decides what the transfer does with `entry` (the index-th record) in
// `pass` on this installation: reads the disk (versions, the shared-file
// lookup, which files are installed), writes nothing and asks nothing.
// product.installDir ends in "\".
void DecideEntry(Platform& os, const InstalledProduct& product, uint32_t pass, uint32_t index,
                 PackageEntry entry, EntryDecision* decision);

// The pass that handles an entry: 1 for shared files, 2 for the others, 0
// for ignored ones.
uint32_t PassOf(PackageEntry entry);

// The longest target directory (its closing backslash counted) below which
// the updater can write the member `name`, a name the member name check
// accepts: the target path, and in the target's own directory the names of
// its new copy and backup, must stay within MEMBER_NAME_MAX characters.
// Negative when no directory can hold it.
int32_t LongestTargetDirectory(const char* name);

// The shortest directory a target can have: a drive's root, "C:\". A name
// that does not fit below it is refused by the updater on every machine.
constexpr int32_t SHORTEST_TARGET_DIRECTORY = 3;

// Composes directory + name into `targetPath` (kMaxPath). A name that the
// member name check refuses, or a directory longer than
// LongestTargetDirectory(name) allows, gives its problem (TooLong for the
// latter) and an empty path.
MemberNameProblem ComposeTargetPath(const char* directory, const char* name, char* targetPath);

// Every entry's decision, one per table record, each made in the entry's own
// pass (an ignored entry in none).
struct TransferPlan {
    EntryDecision* decisions = nullptr;
    BlockHandle block = 0;
    uint32_t count = 0;     // the table's entries
    uint32_t eligible = 0;  // the entries of either pass: the progress steps there can be
};

// Decides every entry of `table`. False when there is no memory for the
// decisions. Free the plan with FreeTransferPlan.
bool PlanEntries(Platform& os, const PackageTable& table, const InstalledProduct& product, TransferPlan* plan);
void FreeTransferPlan(Platform& os, TransferPlan* plan);

// The decisions as each pass meets them, in table order; `visit(pass,
// decision)` returns false to end the walk.
template <class Visit>
void WalkPlan(TransferPlan& plan, Visit visit) {
    for (uint32_t pass = 1; pass <= 2; ++pass) {
        for (uint32_t i = 0; i < plan.count; ++i) {
            if (!visit(pass, plan.decisions[i])) return;
        }
    }
}

// The first decision whose name, or the target path made from it, was
// refused (BadName), in table order; null when there is none.
const EntryDecision* FirstRefusedName(const TransferPlan& plan);

// The first decision that writes (Write, or InUse once the file is closed)
// to a target that a journal of the product directory `productDir` may not
// list (IsJournalTarget); null when there is none.
const EntryDecision* FirstTargetNotJournaled(Platform& os, const TransferPlan& plan, const char* productDir);

}  // namespace zv
