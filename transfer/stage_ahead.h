// Members expanded ahead of the stage step, on worker threads.
//
// The stage step takes the members one by one, in entry order, on the thread
// that asks the questions and shows the progress. With workers, that thread
// also reads the compressed bytes of the members that come next, as long as
// reading them needs no question, and hands them to the workers, which
// expand each into its new copy, flush it and check it against its digest,
// asking and telling nothing. When the step reaches a member, it takes the
// member's result: a member a worker staged whole is done; any other (one
// whose reading or writing met anything to ask or tell, one whose stamped
// blocks are carried, one too large to hold in memory) the step stages
// itself, exactly as it does without workers. So every question, message,
// file name, progress step and trace line comes when and as it would on one
// core, and so does the reading of the volumes: the reading ahead stops at
// the first member it cannot read without a question, until the step has
// staged that one itself.
//
// Memory stays bounded: at most kAheadBytes of compressed bytes are held at
// once, and each worker has one decoder and one output buffer (about 50 KB).
#pragma once

#include <cstdint>

#include "package/integrity.h"
#include "package/volume_reader.h"
#include "platform/run_context.h"
#include "platform/threads.h"
#include "transfer/stage.h"

namespace zv {

// The compressed bytes held for members not yet taken, at most; a member
// larger than this is staged by the step.
constexpr uint64_t kAheadBytes = 32u << 20;
// Members handed out and not yet taken, at most.
constexpr uint32_t kAheadMembers = 32;
// Workers, at most.
constexpr unsigned kMostStageWorkers = 16;

struct AheadWorker;

struct AheadJob {
    enum class State : uint8_t { Empty, Queued, Running, Staged, NotStaged };
    State state = State::Empty;
    PlannedWrite* write = nullptr;
    StageRequest request = {};
    BlockHandle block = 0;  // the compressed bytes
    uint8_t* bytes = nullptr;
    uint32_t size = 0;
};

struct StageAhead {
    RunContext* run = nullptr;
    VolumeReader* reader = nullptr;  // the step's own reader, read ahead on its thread only
    PlannedWrite* writes = nullptr;
    uint32_t count = 0;
    const PackageIntegrity* integrity = nullptr;

    uint32_t nextToRead = 0;  // the first write not yet considered for reading ahead
    uint32_t pausedAt = UINT32_MAX;  // reading ahead waits until the step has passed this write
    uint64_t heldBytes = 0;   // compressed bytes of the jobs not yet taken

    WorkLock lock;  // guards the jobs' states and `stopping`
    bool stopping = false;
    AheadJob jobs[kAheadMembers];  // a ring: write k in jobs[k % kAheadMembers]
    unsigned workerCount = 0;
    AheadWorker* workers[kMostStageWorkers] = {};
};

// The workers a run uses on this machine: none on one processor (every
// member is expanded as it is reached), otherwise two per processor, at most
// kMostStageWorkers: a worker waits for the disk as each new copy is
// flushed, and the other keeps the processor busy meanwhile.
unsigned StageWorkerCount();

// Starts up to `workers` (at most kMostStageWorkers) workers for the stage
// of `writes` (count of them, in the order the step takes them) read through
// `reader`. Returns false, with nothing started, for fewer than one worker
// or when neither memory nor a thread can be had: the step then stages every
// member itself.
bool StartStageAhead(StageAhead* ahead, RunContext& run, VolumeReader* reader, PlannedWrite* writes,
                     uint32_t count, const PackageIntegrity& integrity, unsigned workers);

// Called by the step before it stages `write`: takes the member's result.
// True when a worker staged it (write->written filled); false when the step
// is to stage it itself. Reads further members ahead, as far as allowed.
bool TakeStagedAhead(StageAhead* ahead, const PlannedWrite* write);

// Stops the workers, waits for them and frees what they held. Called once
// the stage has ended, however it ended. A new copy a worker made and the
// step never took is left only when the stage ended early: the roll back
// that follows removes every staged name the journal lists, as it does the
// step's own.
void StopStageAhead(StageAhead* ahead);

}  // namespace zv
