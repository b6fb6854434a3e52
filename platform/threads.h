// Worker threads and the one lock with a wake-up that they share, over the
// system's own primitives (CreateThread and condition variables on Windows,
// pthreads elsewhere). Nothing here throws or ends the program: a thread
// that cannot be started is reported by StartWorker, and the caller does the
// work itself.
#pragma once

#include <cstdint>

namespace zv {

// The processors the system runs this process on (at least 1).
unsigned ProcessorCount();

struct WorkerThread {
    bool started = false;
    void* handle = nullptr;  // the system's thread, while started
    void (*run)(void* arg) = nullptr;
    void* arg = nullptr;
};

// Starts `run(arg)` on a thread of its own; false, with nothing started, when
// the system refuses one. The worker stays the caller's until JoinWorker.
bool StartWorker(WorkerThread* worker, void (*run)(void* arg), void* arg);

// Waits until the worker's function has returned, then releases the thread.
// Nothing is done for a worker that was never started.
void JoinWorker(WorkerThread* worker);

// A lock, and a wake-up for the threads that wait under it.
class WorkLock {
public:
    WorkLock();
    ~WorkLock();
    WorkLock(const WorkLock&) = delete;
    WorkLock& operator=(const WorkLock&) = delete;

    void Lock();
    void Unlock();
    // Releases the lock, sleeps until WakeAll (or, rarely, for no reason:
    // callers wait in a loop over their condition), takes the lock again.
    void Wait();
    void WakeAll();

private:
    // Room for the system's lock and condition variable, aligned for either.
    alignas(16) unsigned char storage_[128];
};

// Holds a WorkLock for the life of a scope.
class HeldLock {
public:
    explicit HeldLock(WorkLock& lock) : lock_(lock) { lock_.Lock(); }
    ~HeldLock() { lock_.Unlock(); }
    HeldLock(const HeldLock&) = delete;
    HeldLock& operator=(const HeldLock&) = delete;

private:
    WorkLock& lock_;
};

// Calls work(arg, i) once for every i below `count`: on the calling thread
// and on up to `helpers` worker threads (at most kMostHelpers), each taking
// the next index as soon as it is free; returns when every call has
// returned. The calls share nothing but `arg`, which they must use safely.
// With no helpers, or none that the system gives, the calling thread makes
// every call itself, in order.
constexpr unsigned kMostHelpers = 16;
void ForEachIndex(uint32_t count, unsigned helpers, void (*work)(void* arg, uint32_t index), void* arg);

// The same with a callable, work(i), which every thread calls.
template <typename Work>
void ForEachIndex(uint32_t count, unsigned helpers, Work& work) {
    ForEachIndex(count, helpers, [](void* arg, uint32_t index) { (*static_cast<Work*>(arg))(index); }, &work);
}

}  // namespace zv
