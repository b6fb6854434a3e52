#include <windows.h>
#include <process.h>

#include <new>

#include "platform/threads.h"

namespace zv {
namespace {

struct Win32Lock {
    CRITICAL_SECTION section;
    CONDITION_VARIABLE wake;
};
static_assert(sizeof(Win32Lock) <= 128, "the lock's storage is too small");

Win32Lock& Of(unsigned char* storage) { return *reinterpret_cast<Win32Lock*>(storage); }

unsigned __stdcall RunWorker(void* worker) {
    const WorkerThread& w = *static_cast<WorkerThread*>(worker);
    w.run(w.arg);
    return 0;
}

}  // namespace

unsigned ProcessorCount() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors < 1 ? 1u : static_cast<unsigned>(info.dwNumberOfProcessors);
}

bool StartWorker(WorkerThread* worker, void (*run)(void* arg), void* arg) {
    worker->run = run;
    worker->arg = arg;
    // Started through the C runtime, whose functions the worker calls; a
    // small stack, as a worker holds its buffers on the heap.
    const uintptr_t thread =
        _beginthreadex(nullptr, 256 * 1024, RunWorker, worker, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    worker->started = thread != 0;
    worker->handle = reinterpret_cast<void*>(thread);
    return worker->started;
}

void JoinWorker(WorkerThread* worker) {
    if (!worker->started) return;
    WaitForSingleObject(static_cast<HANDLE>(worker->handle), INFINITE);
    CloseHandle(static_cast<HANDLE>(worker->handle));
    worker->started = false;
}

WorkLock::WorkLock() {
    Win32Lock* lock = new (storage_) Win32Lock;
    InitializeCriticalSection(&lock->section);
    InitializeConditionVariable(&lock->wake);
}

WorkLock::~WorkLock() { DeleteCriticalSection(&Of(storage_).section); }

void WorkLock::Lock() { EnterCriticalSection(&Of(storage_).section); }
void WorkLock::Unlock() { LeaveCriticalSection(&Of(storage_).section); }
void WorkLock::Wait() { SleepConditionVariableCS(&Of(storage_).wake, &Of(storage_).section, INFINITE); }
void WorkLock::WakeAll() { WakeAllConditionVariable(&Of(storage_).wake); }

}  // namespace zv
