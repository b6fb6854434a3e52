#include "platform/threads.h"

namespace zv {
namespace {

struct SharedIndexes {
    WorkLock lock;
    uint32_t next = 0;
    uint32_t count = 0;
    void (*work)(void* arg, uint32_t index) = nullptr;
    void* arg = nullptr;
};

void TakeIndexes(void* shared) {
    SharedIndexes& s = *static_cast<SharedIndexes*>(shared);
    for (;;) {
        uint32_t index;
        {
            HeldLock held(s.lock);
            if (s.next == s.count) return;
            index = s.next++;
        }
        s.work(s.arg, index);
    }
}

}  // namespace

void ForEachIndex(uint32_t count, unsigned helpers, void (*work)(void* arg, uint32_t index), void* arg) {
    if (helpers > kMostHelpers) helpers = kMostHelpers;
    if (count < 2 || helpers == 0) {
        for (uint32_t i = 0; i < count; ++i) work(arg, i);
        return;
    }
    if (helpers > count - 1) helpers = count - 1;  // the calling thread takes one too
    SharedIndexes shared;
    shared.count = count;
    shared.work = work;
    shared.arg = arg;
    WorkerThread workers[kMostHelpers];
    for (unsigned k = 0; k < helpers; ++k) {
        if (!StartWorker(&workers[k], TakeIndexes, &shared)) break;
    }
    TakeIndexes(&shared);
    for (unsigned k = 0; k < helpers; ++k) JoinWorker(&workers[k]);
}

}  // namespace zv
