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

void* RunWorker(void* worker) {
    const WorkerThread& w = *static_cast<WorkerThread*>(worker);
    w.run(w.arg);
    return nullptr;
}

}  // namespace

unsigned ProcessorCount() {
    const long n = ::sysconf(_SC_NPROCESSORS_ONLN);
    return n < 1 ? 1u : static_cast<unsigned>(n);
}

bool StartWorker(WorkerThread* worker, void (*run)(void* arg), void* arg) {
    worker->run = run;
    worker->arg = arg;
    pthread_t thread;
    worker->started = ::pthread_create(&thread, nullptr, RunWorker, worker) == 0;
    static_assert(sizeof(pthread_t) <= sizeof(void*), "a thread id fits a pointer");
    if (worker->started) std::memcpy(&worker->handle, &thread, sizeof thread);
    return worker->started;
}

void JoinWorker(WorkerThread* worker) {
    if (!worker->started) return;
    pthread_t thread;
    std::memcpy(&thread, &worker->handle, sizeof thread);
    ::pthread_join(thread, nullptr);
    worker->started = false;
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
