#include "transfer/transfer.h"

#include <cstring>
#include <new>

#include "detect/product_files.h"
#include "detect/product_version.h"
#include "package/paths.h"
#include "platform/files.h"
#include "platform/messages.h"
#include "platform/sha256.h"
#include "platform/text.h"
#include "string_ids.h"
#include "transfer/carry.h"
#include "transfer/extract.h"
#include "transfer/journal.h"
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

// The pass that handles an entry: 1 for shared files, 2 for the others, 0
// for ignored ones.
uint32_t PassOf(PackageEntry entry) { return EntryPass(EntryFlags(entry)); }

// One member to put in place, beside the decision that wants it and its
// entry in the journal.
struct PlannedWrite {
    EntryDecision* decision;
    char staged[kMaxPath];  // the new copy beside the target
    char backup[kMaxPath];  // the installed copy's name during the commit
    char trusted[kMaxPath]; // the folder whose links are the system's own: above the
                            // product directory, or the system directory
    bool isStaged;          // the new copy is complete
};

struct Transfer {
    RunContext& run;
    const PackageTable& table;
    const InstalledProduct& product;
    TransferObserver* observer;

    Transfer(RunContext& r, const PackageTable& t, const InstalledProduct& p, TransferObserver* o)
        : run(r), table(t), product(p), observer(o) {}
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    EntryDecision* decisions = nullptr;  // one per table record
    BlockHandle decisionsBlock = 0;
    PlannedWrite* writes = nullptr;  // in the order of journal.entries
    BlockHandle writesBlock = 0;
    uint32_t writeCount = 0;
    Journal journal;
    bool journalWritten = false;
    PackageIntegrity integrity;  // the members' digests, when the package has them
    uint32_t eligible = 0;
    uint32_t done = 0;
    TransferResult result = 0;
    WriteResult failure;
    RecoveryOutcome rolledBack = RecoveryOutcome::Incomplete;  // what RollBack made of the journal

    ~Transfer() {
        FreeJournal(*run.os, &journal);
        FreeGlobalBlock(*run.os, &writesBlock);
        FreeGlobalBlock(*run.os, &decisionsBlock);
    }

    uint32_t Percent() const { return eligible == 0 ? 0 : done * 100u / eligible; }

    void Begin(TransferStage stage) {
        if (observer != nullptr) observer->StageBegins(stage);
    }

    void Report(const EntryDecision& d) {
        if (observer != nullptr) observer->EntryDone(EntryReport{d, Percent(), result});
    }

    // Ends the transfer for the reason `why` gives (Done and Kept go on).
    void End(const WriteResult& why) {
        switch (why.outcome) {
        case WriteOutcome::Done:
        case WriteOutcome::Kept: break;
        case WriteOutcome::Stopped: result = -1; break;
        case WriteOutcome::Cancelled: result = ANSWER_CANCEL; break;
        case WriteOutcome::Failed:
            result = static_cast<TransferResult>(why.messageId);
            failure = why;
            break;
        }
    }

    void Fail(unsigned messageId, const char* subject) {
        WriteResult why;
        SetFailure(&why, messageId, subject);
        End(why);
    }

    // Every update needs SHA-256: the journal records the digest of each file
    // it may later move, so that a later start undoes only the updater's own
    // files, and members that carry digests are installed only once checked.
    // A system that cannot take it stops the update before anything is written.
    bool CanHashFiles() {
        Sha256Context probe;
        const Sha256Status status = Sha256Begin(&probe);
        Sha256Abandon(&probe);
        if (status == Sha256Status::Ok) return true;
        Fail(status == Sha256Status::NoMemory ? IDS_NO_MEMORY : IDS_CANNOT_HASH, "");
        return false;
    }

    // --- Plan ------------------------------------------------------------------

    bool Plan() {
        Platform& os = *run.os;
        if (table.entryCount == 0) return true;
        decisions = static_cast<EntryDecision*>(
            AllocGlobalBlock(os, table.entryCount * static_cast<uint32_t>(sizeof(EntryDecision)), &decisionsBlock));
        if (decisions == nullptr) {
            Fail(IDS_NO_MEMORY, "");
            return false;
        }
        PackageEntry entry = FirstPackageEntry(table);
        for (uint32_t i = 0; i < table.entryCount; ++i, entry = NextPackageEntry(entry)) {
            // Decided in its own pass; an ignored entry (pass 0) in none.
            const uint32_t pass = PassOf(entry);
            if (pass != 0) ++eligible;
            DecideEntry(os, product, pass, i, entry, new (&decisions[i]) EntryDecision());
        }
        return true;
    }

    // The entries as each pass meets them, in table order; `visit` returns
    // false to end the walk.
    template <class Visit>
    void Walk(Visit visit) {
        for (uint32_t pass = 1; pass <= 2; ++pass) {
            for (uint32_t i = 0; i < table.entryCount; ++i) {
                if (!visit(pass, decisions[i])) return;
            }
        }
    }

    // The decisions reported as the run would meet them.
    void ReportPlan() {
        Walk([this](uint32_t pass, EntryDecision& d) {
            if (d.pass == pass || d.outcome == EntryOutcome::Ignored) {
                if (d.outcome == EntryOutcome::BadName) {
                    Fail(IDS_INVALID_DIRECTORY, d.name);
                    EntryDecision failed = d;
                    failed.outcome = EntryOutcome::Failed;
                    Report(failed);
                    return false;
                }
                if (d.step) ++done;
                EntryDecision shown = d;
                shown.pass = pass;
                Report(shown);
                return true;
            }
            EntryDecision other = d;
            other.pass = pass;
            other.outcome = EntryOutcome::OtherPass;
            Report(other);
            return true;
        });
    }

    // A name refused when the target path was made ends the transfer before
    // anything is written.
    bool NamesFit() {
        for (uint32_t i = 0; i < table.entryCount; ++i) {
            if (decisions[i].outcome == EntryOutcome::BadName) {
                Fail(IDS_INVALID_DIRECTORY, decisions[i].name);
                return false;
            }
        }
        return true;
    }

    // Every target must be one the journal may list (the product directory,
    // or a runtime library where the shared-file lookup puts it): the next
    // start would refuse a journal with any other, so it ends the transfer
    // before anything is written.
    bool TargetsJournaled() {
        for (uint32_t i = 0; i < table.entryCount; ++i) {
            const EntryDecision& d = decisions[i];
            if (d.outcome != EntryOutcome::Write && d.outcome != EntryOutcome::InUse) continue;
            if (!IsJournalTarget(*run.os, product.installDir, d.target)) {
                Fail(IDS_INVALID_DIRECTORY, d.name);
                return false;
            }
        }
        return true;
    }

    // A shared file in use is asked about before anything is written: Retry
    // decides it again once the user has closed it.
    bool SharedFilesFree() {
        for (uint32_t i = 0; i < table.entryCount; ++i) {
            EntryDecision& d = decisions[i];
            while (d.outcome == EntryOutcome::InUse) {
                run.transferView->ShowFileName(run.progressPage, d.name);
                if (AskFileInUse(run, run.progressPage, d.name, d.inUse) != ANSWER_RETRY) {
                    result = ANSWER_CANCEL;
                    return false;
                }
                DecideEntry(*run.os, product, d.pass, i, d.entry, &d);
                if (d.outcome == EntryOutcome::BadName) return NamesFit();
            }
        }
        return true;
    }

    bool EnoughSpace() {
        for (;;) {
            SpaceCheck check;
            CheckSpace(*run.os, decisions, table.entryCount, &check);
            if (observer != nullptr) {
                for (unsigned k = 0; k < check.count; ++k) observer->VolumeChecked(check.volumes[k]);
            }
            if (check.enough) return true;
            if (AskRetryCancel(run, run.progressPage, IDS_NO_DISK_SPACE, "") != ANSWER_RETRY) {
                result = ANSWER_CANCEL;
                return false;
            }
        }
    }

    // The members to write, in the order the passes meet them, each with
    // its new copy's and backup's names, and the journal that lists them.
    bool ListWrites() {
        Platform& os = *run.os;
        writeCount = 0;
        for (uint32_t i = 0; i < table.entryCount; ++i) {
            if (decisions[i].outcome == EntryOutcome::Write) ++writeCount;
        }
        if (writeCount == 0) return true;
        writes = static_cast<PlannedWrite*>(
            AllocGlobalBlock(os, writeCount * static_cast<uint32_t>(sizeof(PlannedWrite)), &writesBlock));
        if (writes == nullptr || !AllocJournal(os, &journal, product.installDir, writeCount)) {
            Fail(IDS_NO_MEMORY, "");
            return false;
        }
        uint32_t n = 0;
        Walk([&](uint32_t pass, EntryDecision& d) {
            if (d.pass != pass || d.outcome != EntryOutcome::Write) return true;
            PlannedWrite* w = new (&writes[n]) PlannedWrite();
            w->decision = &d;
            JournalEntry& entry = journal.entries[n];
            CopyText(entry.target, sizeof entry.target, d.target);
            entry.index = static_cast<uint16_t>(n);
            entry.existed = d.installed;
            // The journal lists only files in the product directory and the
            // runtime libraries where the shared-file lookup puts them; the
            // next start would refuse any other, so none is written.
            if (!IsJournalTarget(os, journal.productDir, d.target) ||
                !ComposeTransactionPaths(d.target, n, w->staged, w->backup)) {
                Fail(IDS_INVALID_DIRECTORY, d.name);
                return false;
            }
            ++n;
            return true;
        });
        return result == 0;
    }

    // No folder on the way to a target is a link or junction, and no target
    // is one, before anything is written (the journal included). The way
    // starts at the product directory, which is checked itself: a folder
    // made directly under a drive's root lets its users rename it and put a
    // junction in its place. The folders above it were chosen by the
    // administrator who installed the product, and the system directory a
    // shared file goes into is the system's own: a link there is the
    // system's business, so only what lies below them is checked.
    bool WayClear() {
        const bool productKnown = product.installDir[0] != '\0';
        for (uint32_t k = 0; k < writeCount; ++k) {
            PlannedWrite& w = writes[k];
            const EntryDecision& d = *w.decision;
            const bool inProduct = productKnown && StartsWithNoCase(d.directory, product.installDir);
            CopyText(w.trusted, sizeof w.trusted, inProduct ? product.installDir : d.directory);
            if (inProduct) {
                // The folder that holds the product directory.
                size_t n = std::strlen(w.trusted);
                while (n > 0 && w.trusted[n - 1] == '\\') --n;
                while (n > 0 && w.trusted[n - 1] != '\\') --n;
                if (n > 0) w.trusted[n] = '\0';
            }
            char where[kMaxPath];
            const WayProblem problem =
                CheckWay(*run.os, inProduct ? product.installDir : d.directory, inProduct, d.target, where);
            if (problem != WayProblem::None) {
                Fail(IDS_LINK_REFUSED, where);
                return false;
            }
        }
        return true;
    }

    // The names the update creates beside each target are free: anything
    // there (a file, a link, dangling or not) is not ours to open or clear.
    // Checked once an earlier journal, which may still name some, is settled.
    bool NamesVacant() {
        for (uint32_t k = 0; k < writeCount; ++k) {
            char where[kMaxPath];
            if (CheckVacant(*run.os, writes[k].staged, where) != WayProblem::None ||
                CheckVacant(*run.os, writes[k].backup, where) != WayProblem::None) {
                Fail(IDS_LINK_REFUSED, where);
                return false;
            }
        }
        return true;
    }

    bool Journaled(JournalResult written) {
        if (written == JournalResult::Ok) return true;
        // The journal's own path, which its failures name.
        char path[kMaxPath];
        JournalFilePath(*run.os, JOURNAL_NAME, path);
        Fail(written == JournalResult::NoMemory ? IDS_NO_MEMORY : IDS_WRITE_ERROR, path);
        return false;
    }

    // Before the first new copy is made: the journal names every file the
    // update may leave, so that the next start can clean up after a kill.
    bool BeginJournal() {
        if (writeCount == 0) return true;
        if (!ClearEarlierJournal() || !NamesVacant()) return false;
        journalWritten = Journaled(BeginTransaction(*run.os, journal));
        return journalWritten;
    }

    // Another update must not write over an earlier journal. One of an update
    // cut short stays until the next start settles it. One of a completed
    // update stays while a file it left is in use (Windows renames a running
    // program's file but does not delete it): that one is finished here,
    // asking the user to close the program that holds it.
    bool ClearEarlierJournal() {
        for (;;) {
            Journal earlier;
            JournalResult found = ReadJournal(*run.os, &earlier);
            if (found == JournalResult::Missing) return true;
            if (found == JournalResult::Ok && !IsJournalOf(earlier, journal.productDir)) found = JournalResult::Damaged;
            RecoveryReport report;
            RecoveryOutcome finished = RecoveryOutcome::Incomplete;
            char held[kMaxPath] = {};  // the old copy that stays: the file a program holds
            if (found == JournalResult::Ok && earlier.state == JournalState::Committed) {
                finished = FinishTransaction(*run.os, earlier, &report);
                HeldBackup(earlier, report.failedPath, held);
            }
            FreeJournal(*run.os, &earlier);
            if (finished == RecoveryOutcome::RolledForward || finished == RecoveryOutcome::NotOurs) return true;
            if (found == JournalResult::Damaged || found == JournalResult::Unreadable) {
                // Refused: only the user can tell whether it may go.
                char path[kMaxPath];
                JournalFilePath(*run.os, JOURNAL_NAME, path);
                Fail(IDS_JOURNAL_REFUSED, path);
                return false;
            }
            if (finished != RecoveryOutcome::LeftOver) {
                Fail(IDS_UPDATE_UNFINISHED, "");
                return false;
            }
            if (AskFileInUse(run, run.progressPage, report.failedPath, held[0] != '\0' ? held : report.failedPath) !=
                ANSWER_RETRY) {
                result = ANSWER_CANCEL;
                return false;
            }
        }
    }

    // The backup name of the journal's entry for `target`, into `backup`
    // (left empty when the journal has none): a completed update names the
    // target whose old copy stays, and that old copy is what a program holds.
    static void HeldBackup(const Journal& journal, const char* target, char* backup) {
        for (uint32_t k = 0; k < journal.count; ++k) {
            const JournalEntry& entry = journal.entries[k];
            if (!EqualNoCase(entry.target, target)) continue;
            char staged[kMaxPath];
            if (!ComposeTransactionPaths(entry.target, entry.index, staged, backup)) backup[0] = '\0';
            return;
        }
    }

    // Only the staged members are committed: one kept by Ignore, or one whose
    // installed copy went away since the plan, leaves the journal.
    void KeepStagedOnly() {
        uint32_t kept = 0;
        for (uint32_t k = 0; k < writeCount; ++k) {
            if (!writes[k].isStaged) continue;
            writes[kept] = writes[k];
            journal.entries[kept] = journal.entries[k];
            ++kept;
        }
        writeCount = kept;
        journal.count = kept;
    }

    // --- Stage -----------------------------------------------------------------

    void Stage(StageSession& session) {
        StampedBlockSave save;
        uint32_t next = 0;  // the walk meets the writes in the order they were listed
        Walk([&](uint32_t pass, EntryDecision& d) {
            if (run.transferView->PumpMessages(run.progressPage) != 0) {
                result = -1;
                EntryDecision stopped = d;
                stopped.pass = pass;
                stopped.outcome = EntryOutcome::Stopped;
                Report(stopped);
                return false;
            }
            if (d.pass != pass) {
                EntryDecision other = d;
                other.pass = pass;
                other.outcome = d.outcome == EntryOutcome::Ignored ? EntryOutcome::Ignored : EntryOutcome::OtherPass;
                Report(other);
                return true;
            }
            if (d.outcome == EntryOutcome::Write) StageEntry(session, &save, d, &writes[next++]);
            if (d.outcome == EntryOutcome::Failed && !d.step) {
                Report(d);  // ends at once, without a progress step
                return false;
            }
            if (d.step) {
                ++done;
                run.transferView->SetProgressPercent(Percent());
            }
            Report(d);
            return result == 0;
        });
    }

    void StageEntry(StageSession& session, StampedBlockSave* save, EntryDecision& d, PlannedWrite* w) {
        if (d.carried) {
            // The installed copy is read before anything could change it.
            switch (ReadCarriedBlocks(*run.os, d.target, save)) {
            case CarryOutcome::Done: break;
            case CarryOutcome::NoMemory:
                Fail(IDS_NO_MEMORY, d.target);
                d.outcome = EntryOutcome::Failed;
                d.step = false;
                return;
            default:
                d.outcome = EntryOutcome::CarriedNotInstalled;  // it went away since the plan
                return;
            }
        }
        run.transferView->ShowFileName(run.progressPage, d.name);
        StageRequest request{d.entry,     d.directory, d.name,  d.target, w->staged, w->trusted, d.installed,
                             MemberDigest(integrity, d.index), d.carried ? save : nullptr};
        WriteResult staged;
        StageMember(session, request, &staged);
        if (staged.outcome == WriteOutcome::Kept) {
            d.outcome = EntryOutcome::KeptByIgnore;
            return;
        }
        if (staged.outcome != WriteOutcome::Done) {
            End(staged);
            d.outcome = EntryOutcome::Failed;
            return;
        }
        w->isStaged = true;
    }

    // --- Commit and roll back -----------------------------------------------------

    // Moves `from` to `to`, asking while it fails: 39 when another program
    // holds the file, 35 otherwise, about the target. False after Cancel.
    bool MoveAsking(const char* from, const char* to, const EntryDecision& d) {
        for (;;) {
            const MoveResult moved = run.os->Move(from, to);
            if (moved == MoveResult::Done) return true;
            // The page's file field shows the file the question is about.
            run.transferView->ShowFileName(run.progressPage, d.name);
            const int answer = moved == MoveResult::InUse
                                   ? AskFileInUse(run, run.progressPage, d.target, d.target)
                                   : AskRetryCancel(run, run.progressPage, IDS_WRITE_ERROR, d.target);
            if (answer != ANSWER_RETRY) return false;
        }
    }

    // Every installed copy to its backup, every new copy into its place,
    // under the journal. False (result set) when it stops on the way.
    bool Commit() {
        if (writeCount == 0) return true;
        KeepStagedOnly();
        // Every new copy and every installed copy about to be moved aside is
        // recorded, so that nothing but these very files is ever undone.
        // A file that was there but cannot be read now is held by another
        // program, most likely: the user is asked to close it.
        char unreadable[kMaxPath];
        JournalResult recorded;
        while ((recorded = RecordJournalFiles(*run.os, journal, unreadable)) == JournalResult::CannotRecord) {
            if (AskFileInUse(run, run.progressPage, unreadable, unreadable) != ANSWER_RETRY) {
                result = ANSWER_CANCEL;
                return false;
            }
        }
        if (!Journaled(recorded) || !Journaled(MarkCommitting(*run.os, journal))) return false;
        for (uint32_t k = 0; k < writeCount; ++k) {
            const PlannedWrite& w = writes[k];
            const EntryDecision& d = *w.decision;
            if (d.installed && !MoveAsking(d.target, w.backup, d)) {
                result = ANSWER_CANCEL;
                return false;
            }
            if (!MoveAsking(w.staged, d.target, d)) {
                result = ANSWER_CANCEL;
                return false;
            }
        }
        return Journaled(MarkCommitted(*run.os, journal));
    }

    // Removes the backups and the journal. A backup that cannot be removed
    // is left to the next start, which finishes the job.
    void Finish() {
        if (!journalWritten) return;
        RecoveryReport report;
        const RecoveryOutcome finished = FinishTransaction(*run.os, journal, &report);
        if (observer != nullptr) observer->Finished(finished, report.failedPath);
    }

    // Undoes whatever was done: every new copy removed, every backup moved
    // back, the journal removed. What cannot be undone now (a file that
    // cannot be moved back) stays in the journal for the next start.
    void RollBack() {
        if (journalWritten) rolledBack = zv::RollBack(*run.os, journal, nullptr);
    }

    // After a failure: whether every installed file is as it was. Nothing is
    // moved before the journal is written, and a roll back that settled the
    // journal whole (the new copies removed, every backup back in place) is
    // the installation as it was.
    bool LeftAsItWas() const {
        if (result == 0) return false;
        if (!journalWritten) return true;
        return rolledBack == RecoveryOutcome::Discarded || rolledBack == RecoveryOutcome::RolledBack;
    }
};

TransferResult TransferEntries(RunContext& run, Transfer& t, StageSession& session) {
    if (!t.Plan()) return t.result;
    ReadPackageIntegrity(t.table, &t.integrity);
    if (t.eligible == 0) return 0;
    if (!t.CanHashFiles()) return t.result;
    run.transferView->ClearPageResult();
    run.progressPage = run.transferView->CreateProgressPage();
    if (run.progressPage == kNoWindow) {
        t.Fail(IDS_WINDOW_PROBLEM, "");
        return t.result;
    }
    run.transferView->SetProgressPercent(0);
    if (t.NamesFit() && t.TargetsJournaled() && t.SharedFilesFree() && t.EnoughSpace() && t.ListWrites() &&
        t.WayClear()) {
        t.Begin(TransferStage::Stage);
        if (t.BeginJournal()) t.Stage(session);
        if (t.result == 0) {
            t.Begin(TransferStage::Commit);
            t.Commit();
        }
        if (t.result == 0) {
            t.Begin(TransferStage::Finish);
            t.Finish();
        } else {
            t.Begin(TransferStage::RollBack);
            t.RollBack();
        }
    }
    run.transferView->DestroyProgressPage(run.progressPage);
    run.progressPage = kNoWindow;
    return t.result;
}

}  // namespace

const char* TransferStageName(TransferStage stage) {
    switch (stage) {
    case TransferStage::Stage: return "stage";
    case TransferStage::Commit: return "commit";
    case TransferStage::Finish: return "finish";
    case TransferStage::RollBack: return "roll back";
    }
    return "unknown stage";
}

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

TransferResult PlanTransfer(RunContext& run, const PackageTable& table, InstalledProduct* product,
                            TransferObserver* observer) {
    if (table.status != TableStatus::Loaded) return -1;
    AppendBackslash(product->installDir, sizeof product->installDir);
    Transfer t(run, table, *product, observer);
    if (!t.Plan() || t.eligible == 0) return t.result;
    t.ReportPlan();
    if (t.result == 0) t.TargetsJournaled();
    if (t.result == 0 && observer != nullptr) {
        SpaceCheck check;
        CheckSpace(*run.os, t.decisions, table.entryCount, &check);
        for (unsigned k = 0; k < check.count; ++k) observer->VolumeChecked(check.volumes[k]);
    }
    return t.result;
}

TransferResult RunTransfer(RunContext& run, const PackageTable& table, InstalledProduct* product,
                           TransferObserver* observer, bool* leftAsItWas) {
    Platform& os = *run.os;
    // Every way out before the transfer proper changes nothing.
    if (leftAsItWas != nullptr) *leftAsItWas = true;
    if (table.status != TableStatus::Loaded) {
        // Never walk a table that was not read whole and found sound.
        ReportError(run, run.backdropWindow, TableStatusMessage(table.status), run.programPath);
        return -1;
    }
    AppendBackslash(product->installDir, sizeof product->installDir);

    StageSession session;
    session.run = &run;
    char programFile[kMaxPath] = {};
    os.ModulePath(programFile, sizeof programFile);
    if (!StartVolumeReader(&session.reader, &run, programFile, nullptr)) {
        ReportError(run, run.backdropWindow, IDS_READ_ERROR, run.programPath);
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

    TransferResult result;
    WriteResult failure;
    {
        Transfer t(run, table, *product, observer);
        result = TransferEntries(run, t, session);
        failure = t.failure;
        if (leftAsItWas != nullptr) *leftAsItWas = t.LeftAsItWas();
    }

    CloseVolumeReader(&session.reader);
    FreeGlobalBlock(os, &inputBlock);
    FreeGlobalBlock(os, &decoderBlock);
    // A failure found on the way is told now, once the page is gone; a Cancel
    // or a stop was the user's own answer and needs no message.
    if (failure.outcome == WriteOutcome::Failed) {
        ReportError(run, run.backdropWindow, failure.messageId, failure.subject);
    }
    return result;
}

}  // namespace zv
