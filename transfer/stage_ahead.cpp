#include "transfer/stage_ahead.h"

#include <new>

#include "package/table.h"
#include "transfer/member_output.h"

namespace zv {

// One worker: its thread, and the decoder and output buffer it alone uses.
struct AheadWorker {
    StageAhead* ahead = nullptr;
    WorkerThread thread;
    BlockHandle decoderBlock = 0;
    LzhufDecoder* decoder = nullptr;
    BlockHandle bufferBlock = 0;
    uint8_t* buffer = nullptr;
};

namespace {

uint32_t IndexOf(const StageAhead& a, const PlannedWrite* write) { return static_cast<uint32_t>(write - a.writes); }

// The queued job of the lowest write, under the lock; nullptr when none.
AheadJob* NextQueued(StageAhead& a) {
    AheadJob* next = nullptr;
    for (AheadJob& job : a.jobs) {
        if (job.state == AheadJob::State::Queued && (next == nullptr || job.write < next->write)) next = &job;
    }
    return next;
}

void RunWorker(void* arg) {
    AheadWorker& w = *static_cast<AheadWorker*>(arg);
    StageAhead& a = *w.ahead;
    HeldLock held(a.lock);
    while (!a.stopping) {
        AheadJob* job = NextQueued(a);
        if (job == nullptr) {
            a.lock.Wait();
            continue;
        }
        job->state = AheadJob::State::Running;
        a.lock.Unlock();
        const bool staged = StageMemberQuietly(*a.run, job->request, job->bytes, job->size, w.decoder, w.buffer);
        a.lock.Lock();
        job->state = staged ? AheadJob::State::Staged : AheadJob::State::NotStaged;
        a.lock.WakeAll();
    }
}

void FreeWorker(Platform& os, AheadWorker* w) {
    FreeGlobalBlock(os, &w->decoderBlock);
    FreeGlobalBlock(os, &w->bufferBlock);
    delete w;
}

// Whether every piece of the member lies on the volume the reader has open:
// reading it then needs no other volume, and so no disk prompt.
bool OnOpenVolume(const VolumeReader& reader, PackageEntry entry) {
    if (reader.file == kNoFile) return false;
    for (const uint8_t* p = EntryPieces(entry);; p += PACKAGE_PIECE_SIZE) {
        const PackagePiece piece = ReadPackagePiece(p);
        if (IsLastPiece(piece)) return true;
        if (piece.volume != reader.volume) return false;
    }
}

// Reads the members after the one the step takes now (write `taking`) and
// hands them to the workers, as far as the bounds allow. A member the step
// stages itself is passed over; one that cannot be read without a question
// stops the reading until the step has staged it.
void ReadAhead(StageAhead& a, uint32_t taking) {
    if (a.pausedAt != UINT32_MAX) {
        if (taking <= a.pausedAt) return;
        a.pausedAt = UINT32_MAX;
    }
    if (a.nextToRead < taking) a.nextToRead = taking;
    Platform& os = *a.run->os;
    while (a.nextToRead < a.count && a.nextToRead < taking + kAheadMembers) {
        const uint32_t k = a.nextToRead;
        PlannedWrite& w = a.writes[k];
        const EntryDecision& d = *w.decision;
        const uint64_t packed = EntryPackedSize(d.entry);
        if (d.carried || d.outcome != EntryOutcome::Write || packed > kAheadBytes) {
            ++a.nextToRead;  // the step stages it
            continue;
        }
        if (!OnOpenVolume(*a.reader, d.entry)) {
            a.pausedAt = k;
            ++a.nextToRead;
            return;
        }
        if (a.heldBytes + packed > kAheadBytes) return;  // once the step has taken more
        AheadJob& job = a.jobs[k % kAheadMembers];
        job.size = static_cast<uint32_t>(packed);
        job.bytes = static_cast<uint8_t*>(AllocGlobalBlock(os, job.size == 0 ? 1 : job.size, &job.block));
        if (job.bytes == nullptr) return;  // tried again when the step takes the next
        // Read asking nothing: a question would come before its time.
        ReadQuestions* questions = a.reader->questions;
        a.reader->questions = nullptr;
        BeginMemberRead(a.reader, d.entry);
        uint64_t got = 0;
        const bool read = ReadMemberBytes(a.reader, job.bytes, job.size, &got) && got == job.size;
        a.reader->questions = questions;
        ++a.nextToRead;
        if (!read) {
            FreeGlobalBlock(os, &job.block);
            job.bytes = nullptr;
            a.pausedAt = k;
            return;
        }
        job.write = &w;
        job.request = StageRequest{d.entry,   d.directory, d.name,  d.target, w.staged, w.trusted,
                                   d.installed, MemberDigest(*a.integrity, d.index), nullptr, &w.written};
        a.heldBytes += packed;
        HeldLock held(a.lock);
        job.state = AheadJob::State::Queued;
        a.lock.WakeAll();
    }
}

}  // namespace

unsigned StageWorkerCount() {
    const unsigned processors = ProcessorCount();
    if (processors < 2) return 0;
    return processors < kMostStageWorkers / 2 ? 2 * processors : kMostStageWorkers;
}

bool StartStageAhead(StageAhead* ahead, RunContext& run, VolumeReader* reader, PlannedWrite* writes,
                     uint32_t count, const PackageIntegrity& integrity, unsigned workers) {
    StageAhead& a = *ahead;
    a.run = &run;
    a.reader = reader;
    a.writes = writes;
    a.count = count;
    a.integrity = &integrity;
    if (workers > kMostStageWorkers) workers = kMostStageWorkers;
    for (unsigned n = 0; n < workers; ++n) {
        AheadWorker* w = new (std::nothrow) AheadWorker;
        if (w == nullptr) break;
        w->ahead = ahead;
        w->decoder = static_cast<LzhufDecoder*>(AllocGlobalBlock(*run.os, sizeof(LzhufDecoder), &w->decoderBlock));
        w->buffer = static_cast<uint8_t*>(AllocGlobalBlock(*run.os, OUTPUT_BUFFER_SIZE, &w->bufferBlock));
        if (w->decoder == nullptr || w->buffer == nullptr || !StartWorker(&w->thread, RunWorker, w)) {
            FreeWorker(*run.os, w);
            break;
        }
        a.workers[a.workerCount++] = w;
    }
    return a.workerCount != 0;
}

bool TakeStagedAhead(StageAhead* ahead, const PlannedWrite* write) {
    StageAhead& a = *ahead;
    const uint32_t k = IndexOf(a, write);
    ReadAhead(a, k);
    AheadJob& job = a.jobs[k % kAheadMembers];
    if (job.write != write) return false;  // never handed out (only this thread sets it, with the job)
    bool staged = false;
    {
        HeldLock held(a.lock);
        while (job.state == AheadJob::State::Queued || job.state == AheadJob::State::Running) a.lock.Wait();
        staged = job.state == AheadJob::State::Staged;
        job.state = AheadJob::State::Empty;
    }
    job.write = nullptr;
    a.heldBytes -= job.size;
    FreeGlobalBlock(*a.run->os, &job.block);
    job.bytes = nullptr;
    return staged;
}

void StopStageAhead(StageAhead* ahead) {
    StageAhead& a = *ahead;
    {
        HeldLock held(a.lock);
        a.stopping = true;
        a.lock.WakeAll();
    }
    Platform& os = *a.run->os;
    for (unsigned n = 0; n < a.workerCount; ++n) {
        JoinWorker(&a.workers[n]->thread);
        FreeWorker(os, a.workers[n]);
        a.workers[n] = nullptr;
    }
    a.workerCount = 0;
    for (AheadJob& job : a.jobs) {
        job.state = AheadJob::State::Empty;
        job.write = nullptr;
        FreeGlobalBlock(os, &job.block);
        job.bytes = nullptr;
    }
    a.heldBytes = 0;
}

}  // namespace zv
