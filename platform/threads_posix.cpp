#include <pthread.h>
#include <unistd.h>

#include <cstring>
#include <new>

#include "platform/threads.h"

namespace zv {
namespace {

struct PosixLock {
    pthread_mutex_t mutex;
    pthread_cond_t wake;
};
static_assert(sizeof(PosixLock) <= 128, "the lock's storage is too small");

PosixLock& Of(unsigned char* storage) { return *reinterpret_cast<PosixLock*>(storage); }

struct Start {
    void (*run)(void*);
    void* arg;
};

void* RunStart(void* start) {
    const Start s = *static_cast<Start*>(start);
    delete static_cast<Start*>(start);
    s.run(s.arg);
    return nullptr;
}

}  // namespace

unsigned ProcessorCount() {
    const long n = ::sysconf(_SC_NPROCESSORS_ONLN);
    return n < 1 ? 1u : static_cast<unsigned>(n);
}

bool StartWorker(WorkerThread* worker, void (*run)(void* arg), void* arg) {
    worker->handle = nullptr;
    Start* start = new (std::nothrow) Start{run, arg};
    if (start == nullptr) return false;
    pthread_t thread;
    if (::pthread_create(&thread, nullptr, RunStart, start) != 0) {
        delete start;
        return false;
    }
    static_assert(sizeof(pthread_t) <= sizeof(void*), "a thread id fits a pointer");
    std::memcpy(&worker->handle, &thread, sizeof thread);
    return true;
}

void JoinWorker(WorkerThread* worker) {
    if (worker->handle == nullptr) return;
    pthread_t thread;
    std::memcpy(&thread, &worker->handle, sizeof thread);
    ::pthread_join(thread, nullptr);
    worker->handle = nullptr;
}

WorkLock::WorkLock() {
    PosixLock* lock = new (storage_) PosixLock;
    ::pthread_mutex_init(&lock->mutex, nullptr);
    ::pthread_cond_init(&lock->wake, nullptr);
}

WorkLock::~WorkLock() {
    ::pthread_cond_destroy(&Of(storage_).wake);
    ::pthread_mutex_destroy(&Of(storage_).mutex);
}

void WorkLock::Lock() { ::pthread_mutex_lock(&Of(storage_).mutex); }
void WorkLock::Unlock() { ::pthread_mutex_unlock(&Of(storage_).mutex); }
void WorkLock::Wait() { ::pthread_cond_wait(&Of(storage_).wake, &Of(storage_).mutex); }
void WorkLock::WakeAll() { ::pthread_cond_broadcast(&Of(storage_).wake); }

}  // namespace zv
