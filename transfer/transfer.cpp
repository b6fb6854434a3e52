#include "transfer/transfer.h"

#include "package/paths.h"
#include "platform/files.h"
#include "platform/messages.h"
#include "platform/sha256.h"
#include "string_ids.h"
#include "transfer/commit.h"
#include "transfer/decide.h"
#include "transfer/package_messages.h"
#include "transfer/space.h"
#include "transfer/stage.h"
#include "transfer/stage_ahead.h"

namespace zv {
namespace {

// One run of the transfer, or of its plan: the decisions, the writes and
// their journal, and where the run stands.
struct Transfer {
    RunContext& run;
    const PackageTable& table;
    const InstalledProduct& product;
    TransferObserver* observer;

    Transfer(RunContext& r, const PackageTable& t, const InstalledProduct& p, TransferObserver* o)
        : run(r), table(t), product(p), observer(o) {}
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    TransferPlan plan;   // one decision per table record
    CommitPlan commit;   // the members to write and their journal
    PackageIntegrity integrity;  // the members' digests, when the package has them
    uint32_t done = 0;
    TransferResult result;
    WriteResult failure;

    ~Transfer() {
        FreeCommitPlan(*run.os, &commit);
        FreeTransferPlan(*run.os, &plan);
    }

    uint32_t Percent() const { return plan.eligible == 0 ? 0 : done * 100u / plan.eligible; }

    void Begin(TransferStage stage) {
        if (observer != nullptr) observer->StageBegins(stage);
    }

    void Report(const EntryDecision& d) {
        if (observer != nullptr) observer->EntryDone(EntryReport{d, Percent(), result});
    }

    // Ends the transfer for the reason `why` gives (Done and Kept go on):
    // the one place that sets the result.
    void End(const WriteResult& why) {
        switch (why.outcome) {
        case WriteOutcome::Done:
        case WriteOutcome::Kept: break;
        case WriteOutcome::Stopped: result = TransferEnded(TransferOutcome::Stopped); break;
        // A Cancel answer, or a member that cannot be read, which the user
        // has been told of: either ends without a closing message.
        case WriteOutcome::Cancelled:
        case WriteOutcome::Unreadable: result = TransferEnded(TransferOutcome::Cancelled); break;
        case WriteOutcome::Failed:
            result = TransferFailed(why.messageId);
            failure = why;
            break;
        }
    }

    void EndAs(WriteOutcome outcome) {
        WriteResult why;
        why.outcome = outcome;
        End(why);
    }

    void Fail(unsigned messageId, const char* subject) {
        WriteResult why;
        SetFailure(&why, messageId, subject);
        End(why);
    }

    // A step that fills `why` when it ends the transfer: false then.
    bool Goes(bool ok, const WriteResult& why) {
        if (!ok) End(why);
        return ok;
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
        if (PlanEntries(*run.os, table, product, &plan)) return true;
        Fail(IDS_NO_MEMORY, "");
        return false;
    }

    // The decisions reported as the run would meet them.
    void ReportPlan() {
        WalkPlan(plan, [this](uint32_t pass, EntryDecision& d) {
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
        const EntryDecision* refused = FirstRefusedName(plan);
        if (refused == nullptr) return true;
        Fail(IDS_INVALID_DIRECTORY, refused->name);
        return false;
    }

    // Every target must be one the journal may list (the product directory,
    // or a runtime library where the shared-file lookup puts it): the next
    // start would refuse a journal with any other, so it ends the transfer
    // before anything is written.
    bool TargetsJournaled() {
        const EntryDecision* refused = FirstTargetNotJournaled(*run.os, plan, product.installDir);
        if (refused == nullptr) return true;
        Fail(IDS_INVALID_DIRECTORY, refused->name);
        return false;
    }

    // A shared file in use is asked about before anything is written: Retry
    // decides it again once the user has closed it.
    bool SharedFilesFree() {
        for (uint32_t i = 0; i < plan.count; ++i) {
            EntryDecision& d = plan.decisions[i];
            while (d.outcome == EntryOutcome::InUse) {
                run.transferView->ShowFileName(run.progressPage, d.name);
                if (AskFileInUse(run, run.progressPage, d.name, d.inUse) != ANSWER_RETRY) {
                    EndAs(WriteOutcome::Cancelled);
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
            CheckSpace(*run.os, plan.decisions, plan.count, &check);
            if (observer != nullptr) {
                for (unsigned k = 0; k < check.count; ++k) observer->VolumeChecked(check.volumes[k]);
            }
            if (check.enough) return true;
            if (AskRetryCancel(run, run.progressPage, IDS_NO_DISK_SPACE, "") != ANSWER_RETRY) {
                EndAs(WriteOutcome::Cancelled);
                return false;
            }
        }
    }

    bool ListWrites() {
        WriteResult why;
        return Goes(zv::ListWrites(*run.os, plan, product.installDir, &commit, &why), why);
    }

    bool WayClear() {
        WriteResult why;
        return Goes(CheckWays(*run.os, product.installDir, commit.writes, commit.count, &why), why);
    }

    // --- Stage -----------------------------------------------------------------

    bool BeginJournal() {
        WriteResult why;
        return Goes(zv::BeginJournal(run, commit, &why), why);
    }

    void Stage(StageSession& session) {
        StageAhead ahead;
        if (run.stageWorkers != 0 &&
            StartStageAhead(&ahead, run, &session.reader, commit.writes, commit.count, integrity, run.stageWorkers)) {
            session.ahead = &ahead;
        }
        StageEntries(session);
        if (session.ahead != nullptr) {
            StopStageAhead(&ahead);
            session.ahead = nullptr;
        }
    }

    void StageEntries(StageSession& session) {
        StampedBlockSave save;
        uint32_t next = 0;  // the walk meets the writes in the order they were listed
        WalkPlan(plan, [&](uint32_t pass, EntryDecision& d) {
            if (run.transferView->PumpMessages(run.progressPage) != 0) {
                EndAs(WriteOutcome::Stopped);
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
            if (d.outcome == EntryOutcome::Write) {
                WriteResult why;
                StageEntry(session, &save, MemberDigest(integrity, d.index), d, &commit.writes[next++], &why);
                End(why);
            }
            if (d.outcome == EntryOutcome::Failed && !d.step) {
                Report(d);  // ends at once, without a progress step
                return false;
            }
            if (d.step) {
                ++done;
                run.transferView->SetProgressPercent(Percent());
            }
            Report(d);
            return Succeeded(result);
        });
    }

    // --- Commit, finish and roll back ----------------------------------------------

    bool Commit() {
        WriteResult why;
        return Goes(CommitWrites(run, commit, &why), why);
    }

    void Finish() {
        RecoveryReport report;
        RecoveryOutcome finished = RecoveryOutcome::NoJournal;
        if (FinishCommit(run, commit, &finished, &report) && observer != nullptr) {
            observer->Finished(finished, report.failedPath);
        }
    }

    // After a failure: whether every installed file is as it was.
    bool LeftAsItWas() const { return !Succeeded(result) && CommitLeftAsItWas(commit); }
};

TransferResult TransferEntries(RunContext& run, Transfer& t, StageSession& session) {
    if (!t.Plan()) return t.result;
    ReadPackageIntegrity(t.table, &t.integrity);
    if (t.plan.eligible == 0) return TransferResult{};
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
        if (Succeeded(t.result)) {
            t.Begin(TransferStage::Commit);
            t.Commit();
        }
        if (Succeeded(t.result)) {
            t.Begin(TransferStage::Finish);
            t.Finish();
        } else {
            t.Begin(TransferStage::RollBack);
            RollBackCommit(run, t.commit);
        }
    }
    run.transferView->DestroyProgressPage(run.progressPage);
    run.progressPage = kNoWindow;
    return t.result;
}

}  // namespace

const char* TransferOutcomeName(TransferOutcome outcome) {
    switch (outcome) {
    case TransferOutcome::Done: return "done";
    case TransferOutcome::NotBegun: return "not begun";
    case TransferOutcome::Stopped: return "stopped";
    case TransferOutcome::Cancelled: return "cancelled";
    case TransferOutcome::Failed: return "failed";
    }
    return "unknown outcome";
}

int32_t TransferResultNumber(const TransferResult& result) {
    switch (result.outcome) {
    case TransferOutcome::Done: return 0;
    case TransferOutcome::NotBegun:
    case TransferOutcome::Stopped: return -1;
    case TransferOutcome::Cancelled: return ANSWER_CANCEL;
    case TransferOutcome::Failed: return static_cast<int32_t>(result.messageId);
    }
    return -1;
}

const char* TransferStageName(TransferStage stage) {
    switch (stage) {
    case TransferStage::Stage: return "stage";
    case TransferStage::Commit: return "commit";
    case TransferStage::Finish: return "finish";
    case TransferStage::RollBack: return "roll back";
    }
    return "unknown stage";
}

TransferResult PlanTransfer(RunContext& run, const PackageTable& table, InstalledProduct* product,
                            TransferObserver* observer) {
    if (table.status != TableStatus::Loaded) return TransferEnded(TransferOutcome::NotBegun);
    AppendBackslash(product->installDir, sizeof product->installDir);
    Transfer t(run, table, *product, observer);
    if (!t.Plan() || t.plan.eligible == 0) return t.result;
    t.ReportPlan();
    if (Succeeded(t.result)) t.TargetsJournaled();
    if (Succeeded(t.result) && observer != nullptr) {
        SpaceCheck check;
        CheckSpace(*run.os, t.plan.decisions, t.plan.count, &check);
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
        return TransferEnded(TransferOutcome::NotBegun);
    }
    AppendBackslash(product->installDir, sizeof product->installDir);

    StageSession session;
    session.run = &run;
    char programFile[kMaxPath] = {};
    os.ModulePath(programFile, sizeof programFile);
    MessageReadQuestions questions(run);
    if (!StartVolumeReader(&session.reader, &run, &questions, programFile, nullptr)) {
        ReportError(run, run.backdropWindow, IDS_READ_ERROR, run.programPath);
        return TransferEnded(TransferOutcome::NotBegun);
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
        return TransferEnded(TransferOutcome::NotBegun);
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
