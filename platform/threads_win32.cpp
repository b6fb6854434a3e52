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

struct Start {
    void (*run)(void*);
    void* arg;
};

unsigned __stdcall RunStart(void* start) {
    const Start s = *static_cast<Start*>(start);
    delete static_cast<Start*>(start);
    s.run(s.arg);
    return 0;
}

}  // namespace

unsigned ProcessorCount() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors < 1 ? 1u : static_cast<unsigned>(info.dwNumberOfProcessors);
}

bool StartWorker(WorkerThread* worker, void (*run)(void* arg), void* arg) {
    worker->handle = nullptr;
    Start* start = new (std::nothrow) Start{run, arg};
    if (start == nullptr) return false;
    // Started through the C runtime, whose functions the worker calls; a
    // small stack, as a worker holds its buffers on the heap.
    const uintptr_t thread =
        _beginthreadex(nullptr, 256 * 1024, RunStart, start, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread == 0) {
        delete start;
        return false;
    }
    worker->handle = reinterpret_cast<void*>(thread);
    return true;
}

void JoinWorker(WorkerThread* worker) {
    if (worker->handle == nullptr) return;
    WaitForSingleObject(static_cast<HANDLE>(worker->handle), INFINITE);
    CloseHandle(static_cast<HANDLE>(worker->handle));
    worker->handle = nullptr;
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
