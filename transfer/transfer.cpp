#include "transfer/transfer.h"

#include <cstring>

#include "detect/product_version.h"
#include "package/paths.h"
#include "platform/bytes.h"
#include "platform/messages.h"
#include "platform/text.h"
#include "string_ids.h"
#include "transfer/extract.h"
#include "transfer/space.h"

namespace zv {
namespace {

// True when an installed copy at `path` is newer than the entry, which then is
// not written. An installed copy without version information never is.
bool InstalledIsNewer(Platform& os, const char* path, PackageEntry entry) {
    ProductVersion installed;
    if (!ReadInstalledVersion(os, path, &installed)) return false;
    return CompareVersions(EntryVersion(entry), installed) < 0;
}

struct Driver {
    RunContext& run;
    const PackageTable& table;
    InstalledProduct& product;
    const TransferOptions& options;
    TransferSession& session;
    uint32_t eligible = 0;
    uint32_t done = 0;
    TransferResult result = 0;
    MemberNameProblem nameProblem = MemberNameProblem::None;  // of the last entry written

    uint32_t Percent() const { return eligible == 0 ? 0 : done * 100u / eligible; }

    void Report(uint32_t index, uint32_t pass, PackageEntry entry, EntryOutcome outcome, const char* target) {
        if (options.observer == nullptr) return;
        EntryReport report{index, pass,    entry,  EntryName(entry), outcome, target ? target : "",
                           Percent(), result, outcome == EntryOutcome::Failed ? nameProblem : MemberNameProblem::None};
        options.observer->EntryDone(report);
    }

    void Step() {
        ++done;
        if (!options.dryRun) run.transferView->SetProgressPercent(Percent());
    }

    bool StopRequested() {
        return !options.dryRun && run.transferView->PumpMessages(run.progressPage) != 0;
    }

    void ShowName(PackageEntry entry) {
        if (!options.dryRun) run.ui->SetItemText(run.progressPage, 101, 0, EntryName(entry));
    }

    // Pass 1: the shared files, placed where the shared-file lookup says.
    void SharedPass() {
        PackageEntry entry = FirstPackageEntry(table);
        for (uint32_t i = 0; i < table.entryCount && result == 0; ++i, entry = NextPackageEntry(entry)) {
            if (StopRequested()) {
                result = -1;
                Report(i, 1, entry, EntryOutcome::Stopped, nullptr);
                break;
            }
            uint16_t flags = EntryFlags(entry);
            const char* name = EntryName(entry);
            if ((flags & ENTRY_IGNORED) != 0 || (flags & ENTRY_SHARED) == 0) {
                Report(i, 1, entry, (flags & ENTRY_IGNORED) ? EntryOutcome::Ignored : EntryOutcome::OtherPass, nullptr);
                continue;
            }
            if ((EqualNoCase(name, kRuntime16Name) && (product.runtime & Plmr16Found) == 0) ||
                (EqualNoCase(name, kRuntime32Name) && (product.runtime & Plmr32Found) == 0)) {
                Report(i, 1, entry, EntryOutcome::RuntimeNotFound, nullptr);
                continue;
            }
            ShowName(entry);
            EntryOutcome outcome = EntryOutcome::Written;
            char destination[kMaxPath] = {};
            for (;;) {
                result = 0;
                char windowsDir[kMaxPath] = {};
                char found[kMaxPath] = {};
                destination[0] = '\0';
                run.os->WindowsDirectory(windowsDir, sizeof windowsDir);
                uint32_t lookup = run.os->FindSharedFile(name, windowsDir, product.installDir, found, sizeof found,
                                                         destination, sizeof destination);
                bool write = true;
                if (found[0] != '\0') {
                    char foundPath[kMaxPath] = {};
                    CopyText(foundPath, sizeof foundPath, found);
                    bool fits = AppendBackslash(foundPath, sizeof foundPath) &&
                                AppendText(foundPath, sizeof foundPath, name);
                    if (fits && InstalledIsNewer(*run.os, foundPath, entry)) write = false;
                }
                if (!write) {
                    outcome = EntryOutcome::InstalledNewer;
                    break;
                }
                if ((lookup & SHARED_FILE_IN_USE) == 0) break;
                if (options.dryRun) {
                    outcome = EntryOutcome::InUse;
                    break;
                }
                result = ANSWER_CANCEL;
                if (AskRetryCancel(run, run.progressPage, IDS_FILE_IN_USE, name) != ANSWER_RETRY) break;
            }
            char directory[kMaxPath] = {};
            CopyText(directory, sizeof directory, destination[0] != '\0' ? destination : product.installDir);
            AppendBackslash(directory, sizeof directory);
            if (result == 0 && outcome != EntryOutcome::InstalledNewer) outcome = Write(entry, directory, false);
            if (result != 0) outcome = EntryOutcome::Failed;
            Step();
            Report(i, 1, entry, outcome, outcome == EntryOutcome::InstalledNewer ? nullptr : session.targetPath);
        }
    }

    // Pass 2: the product-directory files.
    void ProductPass() {
        PackageEntry entry = FirstPackageEntry(table);
        for (uint32_t i = 0; i < table.entryCount && result == 0; ++i, entry = NextPackageEntry(entry)) {
            if (StopRequested()) {
                result = -1;
                Report(i, 2, entry, EntryOutcome::Stopped, nullptr);
                break;
            }
            uint16_t flags = EntryFlags(entry);
            if ((flags & (ENTRY_IGNORED | ENTRY_SHARED)) != 0) {
                Report(i, 2, entry, (flags & ENTRY_IGNORED) ? EntryOutcome::Ignored : EntryOutcome::OtherPass, nullptr);
                continue;
            }
            const char* name = EntryName(entry);
            char target[kMaxPath] = {};
            CopyText(target, sizeof target, product.installDir);
            bool fits = AppendText(target, sizeof target, name);
            EntryOutcome outcome = EntryOutcome::Written;
            if ((flags & ENTRY_UPDATE_ONLY) != 0 && fits) {
                FileHandle installed = run.os->Open(target, OpenMode::Read);
                if (installed == kNoFile) {
                    outcome = EntryOutcome::NotInstalled;
                } else {
                    run.os->Close(installed);
                    if (InstalledIsNewer(*run.os, target, entry)) outcome = EntryOutcome::InstalledNewer;
                }
            }
            bool carried = IsCarriedFile(name);
            if (outcome == EntryOutcome::Written && carried) {
                if (options.dryRun) {
                    FileHandle installed = run.os->Open(target, OpenMode::Read);
                    if (installed == kNoFile) outcome = EntryOutcome::CarriedNotInstalled;
                    run.os->Close(installed);
                } else {
                    result = static_cast<TransferResult>(ReadStampedBlocks(run, target, &session.save));
                    if (result == IDS_NO_MEMORY) {
                        Report(i, 2, entry, EntryOutcome::Failed, nullptr);
                        break;  // ends at once, without a progress step
                    }
                    if (result == IDS_READ_ERROR) {
                        result = 0;
                        outcome = EntryOutcome::CarriedNotInstalled;
                    }
                }
            }
            if (outcome == EntryOutcome::Written) {
                ShowName(entry);
                outcome = Write(entry, product.installDir, carried);
            }
            Step();
            Report(i, 2, entry, outcome, outcome == EntryOutcome::Written ? session.targetPath : nullptr);
        }
    }

    EntryOutcome Write(PackageEntry entry, const char* directory, bool carried) {
        if (options.dryRun) {
            char newPath[kMaxPath];
            nameProblem = ComposeTargetPaths(directory, EntryName(entry), session.targetPath, newPath);
            if (nameProblem != MemberNameProblem::None) {
                result = IDS_INVALID_DIRECTORY;
                return EntryOutcome::Failed;
            }
            return EntryOutcome::Written;
        }
        result = ExtractMember(session, EntryName(entry), entry, directory, carried);
        if (result == IDS_INVALID_DIRECTORY) {
            char target[kMaxPath], newPath[kMaxPath];
            nameProblem = ComposeTargetPaths(directory, EntryName(entry), target, newPath);
        }
        if (result != 0) return EntryOutcome::Failed;
        return session.written ? EntryOutcome::Written : EntryOutcome::KeptByIgnore;
    }

    // Before the first write: enough free space for what the update needs at
    // its peak on each target volume, or the user's Cancel.
    void CheckSpace() {
        TransferOptions dry;
        dry.dryRun = true;
        SpacePlanner planner(*run.os);
        dry.observer = &planner;
        for (;;) {
            planner.Reset();
            TransferSession probe;
            probe.run = &run;
            Driver decide{run, table, product, dry, probe};
            decide.eligible = eligible;
            decide.SharedPass();
            if (decide.result == 0) decide.ProductPass();
            if (planner.Enough()) return;
            if (AskRetryCancel(run, run.progressPage, IDS_NO_DISK_SPACE, "") != ANSWER_RETRY) {
                result = ANSWER_CANCEL;
                return;
            }
        }
    }
};

uint32_t CountEligible(const PackageTable& table) {
    uint32_t count = 0;
    PackageEntry entry = FirstPackageEntry(table);
    for (uint32_t i = 0; i < table.entryCount; ++i, entry = NextPackageEntry(entry)) {
        if ((EntryFlags(entry) & ENTRY_IGNORED) == 0) ++count;
    }
    return count;
}

TransferResult TransferEntries(RunContext& run, const PackageTable& table, InstalledProduct& product,
                               const TransferOptions& options, TransferSession& session) {
    AppendBackslash(product.installDir, sizeof product.installDir);
    Driver driver{run, table, product, options, session};
    driver.eligible = CountEligible(table);
    if (driver.eligible == 0) return 0;
    if (options.dryRun) {
        driver.SharedPass();
        if (driver.result == 0) driver.ProductPass();
        return driver.result;
    }
    run.transferView->ClearPageResult();
    run.progressPage = run.transferView->CreateProgressPage();
    if (run.progressPage == kNoWindow) return IDS_WINDOW_PROBLEM;
    run.transferView->SetProgressPercent(0);
    driver.CheckSpace();
    if (driver.result == 0) driver.SharedPass();
    if (driver.result == 0) driver.ProductPass();
    run.transferView->DestroyProgressPage(run.progressPage);
    run.progressPage = kNoWindow;
    return driver.result;
}

}  // namespace

const char* EntryOutcomeName(EntryOutcome outcome) {
    switch (outcome) {
    case EntryOutcome::Written: return "write";
    case EntryOutcome::Ignored: return "pass by: ignored";
    case EntryOutcome::OtherPass: return "other pass";
    case EntryOutcome::RuntimeNotFound: return "pass by: runtime library not found";
    case EntryOutcome::InstalledNewer: return "pass by: installed copy newer";
    case EntryOutcome::NotInstalled: return "pass by: update-only, nothing installed";
    case EntryOutcome::CarriedNotInstalled: return "pass by: carried file not installed";
    case EntryOutcome::KeptByIgnore: return "kept: write protected, ignored";
    case EntryOutcome::InUse: return "in use: the update would ask to close it";
    case EntryOutcome::Failed: return "failed";
    case EntryOutcome::Stopped: return "stopped";
    }
    return "unknown outcome";
}

TransferResult RunTransfer(RunContext& run, const PackageTable& table,
                           InstalledProduct* product, const TransferOptions& options) {
    Platform& os = *run.os;
    if (table.status != TableStatus::Loaded) {
        // Never walk a table that was not read whole and found sound.
        CopyText(run.errorFileName, sizeof run.errorFileName, run.programPath);
        if (!options.dryRun) ReportError(run, run.backdropWindow, TableStatusMessage(table.status));
        return -1;
    }
    if (options.dryRun) {
        TransferSession session;
        session.run = &run;
        return TransferEntries(run, table, *product, options, session);
    }

    TransferSession session;
    session.run = &run;
    CopyText(run.errorFileName, sizeof run.errorFileName, run.programPath);
    char programFile[kMaxPath] = {};
    os.ModulePath(programFile, sizeof programFile);
    if (!StartVolumeReader(&session.reader, &run, programFile, nullptr)) {
        ReportError(run, run.backdropWindow, IDS_READ_ERROR);
        return -1;
    }
    BlockHandle inputBlock = 0;
    session.reader.buffer = static_cast<uint8_t*>(AllocGlobalBlock(os, INPUT_BUFFER_SIZE, &inputBlock));
    BlockHandle decoderBlock = 0;
    session.decoder = static_cast<LzhufDecoder*>(AllocGlobalBlock(os, sizeof(LzhufDecoder), &decoderBlock));
    if (session.reader.buffer == nullptr || session.decoder == nullptr) {
        CloseVolumeReader(&session.reader);
        FreeGlobalBlock(os, &inputBlock);
        FreeGlobalBlock(os, &decoderBlock);
        // The information icon, not the stop sign, on purpose: nothing has been
        // written yet, and closing other programs is all the user need do.
        ShowTitledMessage(run, run.backdropWindow, IDS_NO_MEMORY, BOX_OK | BOX_ICONINFORMATION);
        return -1;
    }

    TransferResult result = TransferEntries(run, table, *product, options, session);

    CloseVolumeReader(&session.reader);
    FreeGlobalBlock(os, &inputBlock);
    FreeGlobalBlock(os, &decoderBlock);
    if (result > 0 && result != ANSWER_CANCEL) ReportError(run, run.backdropWindow, static_cast<unsigned>(result));
    return result;
}

}  // namespace zv
