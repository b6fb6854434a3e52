#include "transfer/decide.h"

#include <cstring>
#include <new>

#include "detect/product_files.h"
#include "detect/product_version.h"
#include "package/paths.h"
#include "platform/files.h"
#include "platform/text.h"
#include "transfer/journal.h"

namespace zv {
namespace {

// True when an installed copy at `path` is newer than the entry, which then is
// not written. An installed copy without version information never is.
bool InstalledIsNewer(Platform& os, const char* path, PackageEntry entry) {
    ProductVersion installed;
    if (!ReadInstalledVersion(os, path, &installed)) return false;
    return CompareVersions(EntryVersion(entry), installed) < 0;
}

// An installed copy is replaced under the name it is stored with, so that the
// user's file keeps the case of its letters.
void KeepStoredName(Platform& os, EntryDecision* d) {
    char stored[kMaxPath];
    char* last = d->target + (LastPathPart(d->target) - d->target);
    if (os.StoredName(d->target, stored, sizeof stored) && std::strlen(stored) == std::strlen(last) &&
        EqualNoCase(stored, last)) {
        std::memcpy(last, stored, std::strlen(stored));
    }
}

// The target of a decision to write: directory + name, or BadName.
void SetTarget(const char* directory, EntryDecision* d) {
    CopyText(d->directory, sizeof d->directory, directory);
    AppendBackslash(d->directory, sizeof d->directory);
    d->nameProblem = ComposeTargetPath(d->directory, d->name, d->target);
    if (d->nameProblem != MemberNameProblem::None) {
        d->outcome = EntryOutcome::BadName;
        d->directory[0] = '\0';
    }
}

// Pass 1: a shared file goes where the shared-file lookup says.
void DecideShared(Platform& os, const InstalledProduct& product, EntryDecision* d) {
    if ((EqualNoCase(d->name, kRuntime16Name) && (product.runtime & Plmr16Found) == 0) ||
        (EqualNoCase(d->name, kRuntime32Name) && (product.runtime & Plmr32Found) == 0)) {
        d->outcome = EntryOutcome::RuntimeNotFound;  // passed by without a progress step
        return;
    }
    d->step = true;
    char windowsDir[kMaxPath] = {};
    char found[kMaxPath] = {};
    char destination[kMaxPath] = {};
    os.WindowsDirectory(windowsDir, sizeof windowsDir);
    const uint32_t lookup = os.FindSharedFile(d->name, windowsDir, product.installDir, found, sizeof found,
                                              destination, sizeof destination);
    char foundPath[kMaxPath] = {};
    bool foundFits = false;
    if (found[0] != '\0') {
        CopyText(foundPath, sizeof foundPath, found);
        foundFits = AppendBackslash(foundPath, sizeof foundPath) && AppendText(foundPath, sizeof foundPath, d->name);
        // A newer copy is passed by even when it is in use: nothing to ask.
        if (foundFits && InstalledIsNewer(os, foundPath, d->entry)) {
            d->outcome = EntryOutcome::InstalledNewer;
            return;
        }
    }
    d->outcome = (lookup & SHARED_FILE_IN_USE) != 0 ? EntryOutcome::InUse : EntryOutcome::Write;
    SetTarget(destination[0] != '\0' ? destination : product.installDir, d);
    // The copy in use is the one the lookup found, which may lie elsewhere
    // than where the new one goes.
    if (d->outcome == EntryOutcome::InUse) CopyText(d->inUse, sizeof d->inUse, foundFits ? foundPath : d->target);
    if (d->outcome != EntryOutcome::BadName) d->installed = FileExists(os, d->target);
    if (d->installed) KeepStoredName(os, d);
}

// Pass 2: a product file goes into the product directory.
void DecideProductFile(Platform& os, const InstalledProduct& product, EntryDecision* d) {
    d->step = true;
    d->outcome = EntryOutcome::Write;
    SetTarget(product.installDir, d);
    if (d->outcome == EntryOutcome::BadName) return;
    d->installed = FileExists(os, d->target);
    if (d->installed) KeepStoredName(os, d);
    if ((EntryFlags(d->entry) & ENTRY_UPDATE_ONLY) != 0) {
        if (!d->installed) {
            d->outcome = EntryOutcome::NotInstalled;
        } else if (InstalledIsNewer(os, d->target, d->entry)) {
            d->outcome = EntryOutcome::InstalledNewer;
        }
    }
    d->carried = IsCarriedFile(d->name);
    // A carried file is never written where no copy of it is installed.
    if (d->outcome == EntryOutcome::Write && d->carried && !d->installed) d->outcome = EntryOutcome::CarriedNotInstalled;
    if (d->outcome != EntryOutcome::Write) {
        d->directory[0] = '\0';
        d->target[0] = '\0';
        d->carried = false;
    }
}

}  // namespace

uint32_t PassOf(PackageEntry entry) { return EntryPass(EntryFlags(entry)); }

const char* EntryOutcomeName(EntryOutcome outcome) {
    switch (outcome) {
    case EntryOutcome::Write: return "write";
    case EntryOutcome::Ignored: return "pass by: ignored";
    case EntryOutcome::OtherPass: return "other pass";
    case EntryOutcome::RuntimeNotFound: return "pass by: runtime library not found";
    case EntryOutcome::InstalledNewer: return "pass by: installed copy newer";
    case EntryOutcome::NotInstalled: return "pass by: update-only, nothing installed";
    case EntryOutcome::CarriedNotInstalled: return "pass by: carried file not installed";
    case EntryOutcome::InUse: return "in use: the update would ask to close it";
    case EntryOutcome::BadName: return "refused: the target path";
    case EntryOutcome::KeptByIgnore: return "kept: write protected, ignored";
    case EntryOutcome::Failed: return "failed";
    case EntryOutcome::Stopped: return "stopped";
    }
    return "unknown outcome";
}

void DecideEntry(Platform& os, const InstalledProduct& product, uint32_t pass, uint32_t index, PackageEntry entry,
                 EntryDecision* decision) {
    EntryDecision& d = *decision;
    d = EntryDecision();
    d.index = index;
    d.pass = pass;
    d.entry = entry;
    d.name = EntryName(entry);
    const uint32_t own = PassOf(entry);
    if (own == 0) {
        d.outcome = EntryOutcome::Ignored;
    } else if (own != pass) {
        d.outcome = EntryOutcome::OtherPass;
    } else if (pass == 1) {
        DecideShared(os, product, &d);
    } else {
        DecideProductFile(os, product, &d);
    }
}

int32_t LongestTargetDirectory(const char* name) {
    const int32_t fileStart = static_cast<int32_t>(LastPathPart(name) - name);
    const int32_t nameLength = static_cast<int32_t>(std::strlen(name));
    const int32_t room = static_cast<int32_t>(MEMBER_NAME_MAX);
    // The target's directory also holds its new copy and backup while the
    // update runs.
    const int32_t forTarget = room - nameLength;
    const int32_t forWorkFiles = static_cast<int32_t>(LONGEST_TRANSACTION_DIRECTORY) - fileStart;
    return forTarget < forWorkFiles ? forTarget : forWorkFiles;
}

MemberNameProblem ComposeTargetPath(const char* directory, const char* name, char* targetPath) {
    targetPath[0] = '\0';
    const MemberNameProblem problem = CheckMemberName(name);
    if (problem != MemberNameProblem::None) return problem;
    const size_t directoryLength = std::strlen(directory);
    const size_t nameLength = std::strlen(name);
    if (static_cast<int64_t>(directoryLength) > LongestTargetDirectory(name)) return MemberNameProblem::TooLong;
    std::memcpy(targetPath, directory, directoryLength);
    std::memcpy(targetPath + directoryLength, name, nameLength + 1);
    return MemberNameProblem::None;
}

bool PlanEntries(Platform& os, const PackageTable& table, const InstalledProduct& product, TransferPlan* plan) {
    FreeTransferPlan(os, plan);
    if (table.entryCount == 0) return true;
    plan->decisions = static_cast<EntryDecision*>(
        AllocGlobalBlock(os, table.entryCount * static_cast<uint32_t>(sizeof(EntryDecision)), &plan->block));
    if (plan->decisions == nullptr) return false;
    plan->count = table.entryCount;
    PackageEntry entry = FirstPackageEntry(table);
    for (uint32_t i = 0; i < table.entryCount; ++i, entry = NextPackageEntry(entry)) {
        // Decided in its own pass; an ignored entry (pass 0) in none.
        const uint32_t pass = PassOf(entry);
        if (pass != 0) ++plan->eligible;
        DecideEntry(os, product, pass, i, entry, new (&plan->decisions[i]) EntryDecision());
    }
    return true;
}

void FreeTransferPlan(Platform& os, TransferPlan* plan) {
    FreeGlobalBlock(os, &plan->block);
    plan->decisions = nullptr;
    plan->count = 0;
    plan->eligible = 0;
}

const EntryDecision* FirstRefusedName(const TransferPlan& plan) {
    for (uint32_t i = 0; i < plan.count; ++i) {
        if (plan.decisions[i].outcome == EntryOutcome::BadName) return &plan.decisions[i];
    }
    return nullptr;
}

const EntryDecision* FirstTargetNotJournaled(Platform& os, const TransferPlan& plan, const char* productDir) {
    for (uint32_t i = 0; i < plan.count; ++i) {
        const EntryDecision& d = plan.decisions[i];
        if (d.outcome != EntryOutcome::Write && d.outcome != EntryOutcome::InUse) continue;
        if (!IsJournalTarget(os, productDir, d.target)) return &d;
    }
    return nullptr;
}

}  // namespace zv
