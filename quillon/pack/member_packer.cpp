#include "quillon/pack/member_packer.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/sha256.h"
#include "quillon/base/cli.h"
#include "quillon/pack/lzhuf_encoder.h"

namespace quillon {

namespace {

struct SharedWork {
    std::vector<PackedMember>* members;
    MemberSpool* spool;
    std::vector<size_t> order;       // largest first
    std::atomic<size_t> next{0};     // index into order of the next member to take
    std::atomic<uint64_t> done{0};   // source bytes packed
    std::atomic<size_t> latest{SIZE_MAX};  // the member started last
    size_t pipelined = SIZE_MAX;     // the member coded with a thread for each half, if any
    std::mutex lock;
    std::condition_variable finished;
    unsigned running = 0;
};

void PackOne(SharedWork* work, size_t index) {
    PackedMember* const m = &(*work->members)[index];
    std::vector<uint8_t> data;
    std::string why;
    if (!ReadWholeFile(m->sourcePath, &data, &why)) {
        m->error = "cannot read: " + why;
        return;
    }
    // The digest of exactly the bytes that are packed, which are the bytes
    // the decoder writes back.
    const zv::Sha256Status hashed = zv::Sha256Bytes(data.data(), data.size(), m->digest.data());
    if (hashed != zv::Sha256Status::Ok) {
        m->error = std::string("cannot take its SHA-256: ") + zv::Sha256StatusName(hashed);
        return;
    }
    LzhufEncoderOptions options;
    options.threads = index == work->pipelined ? 2 : 1;
    options.progress = &work->done;
    std::vector<uint8_t> stream;
    if (!EncodeLzhuf(data.data(), data.size(), &stream, options)) {
        m->error = "larger than a member can be (4 GB - 1 bytes)";
        return;
    }
    // The source's bytes are no longer needed while the stream is kept.
    std::vector<uint8_t>().swap(data);
    work->spool->Append(stream, &m->stream, &m->error);
}

void Worker(SharedWork* work) {
    for (;;) {
        const size_t k = work->next.fetch_add(1);
        if (k >= work->order.size()) break;
        work->latest.store(work->order[k]);
        PackOne(work, work->order[k]);
    }
    std::lock_guard<std::mutex> hold(work->lock);
    --work->running;
    work->finished.notify_all();
}

}  // namespace

bool PackMembers(std::vector<PackedMember>* members, unsigned jobs, MemberSpool* spool,
                 const std::function<void(uint64_t done, size_t member)>& progress) {
    SharedWork work;
    work.members = members;
    work.spool = spool;
    for (size_t i = 0; i < members->size(); ++i) work.order.push_back(i);
    std::stable_sort(work.order.begin(), work.order.end(), [members](size_t a, size_t b) {
        return (*members)[a].sourceSize > (*members)[b].sourceSize;
    });
    // A member larger than all others together would be left running alone
    // at the end: it gets a thread for each half of the encoder's pipeline.
    uint64_t total = 0;
    for (const PackedMember& m : *members) total += m.sourceSize;
    if (jobs >= 2 && !work.order.empty() && (*members)[work.order[0]].sourceSize * 2 > total) {
        work.pipelined = work.order[0];
    }
    jobs = std::max(1u, std::min<unsigned>(jobs, static_cast<unsigned>(members->size())));

    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> hold(work.lock);
        work.running = jobs;
    }
    for (unsigned t = 0; t < jobs; ++t) {
        try {
            threads.emplace_back(Worker, &work);
        } catch (const std::exception&) {
            std::lock_guard<std::mutex> hold(work.lock);
            --work.running;  // the others, or this thread below, do the work
        }
    }
    if (threads.empty()) {
        {
            std::lock_guard<std::mutex> hold(work.lock);
            ++work.running;
        }
        Worker(&work);
    }
    {
        std::unique_lock<std::mutex> hold(work.lock);
        while (work.running != 0) {
            work.finished.wait_for(hold, std::chrono::milliseconds(100));
            if (progress) progress(work.done.load(), work.latest.load());
        }
    }
    for (std::thread& t : threads) t.join();
    if (progress) progress(work.done.load(), work.latest.load());
    for (const PackedMember& m : *members) {
        if (!m.error.empty()) return false;
    }
    return true;
}

}  // namespace quillon
