// Critical sections (recursive, owner id readable), thread ids and debugger output.
#include "platform/nonwin/kernel.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

namespace {

pthread_mutex_t* native(LPCRITICAL_SECTION cs) {
    return reinterpret_cast<pthread_mutex_t*>(cs->NativeMutex);
}

static_assert(sizeof(pthread_mutex_t) <= sizeof(CRITICAL_SECTION::NativeMutex),
              "native mutex does not fit the critical section");

void take_ownership(LPCRITICAL_SECTION cs, DWORD tid) {
    cs->OwningThread.store(tid);
    cs->RecursionCount = 1;
}

}  // namespace

void InitializeCriticalSection(LPCRITICAL_SECTION cs) {
    cs->DebugInfo = nullptr;
    cs->LockCount = -1;
    cs->RecursionCount = 0;
    cs->OwningThread.store(0);
    cs->LockSemaphore = nullptr;
    cs->SpinCount = 0;
    new (cs->NativeMutex) pthread_mutex_t;
    pthread_mutex_init(native(cs), nullptr);
}

BOOL InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION cs, DWORD spin) {
    InitializeCriticalSection(cs);
    cs->SpinCount = spin;
    return TRUE;
}

void DeleteCriticalSection(LPCRITICAL_SECTION cs) {
    pthread_mutex_destroy(native(cs));
}

void EnterCriticalSection(LPCRITICAL_SECTION cs) {
    const DWORD tid = GetCurrentThreadId();
    // Only the owner can see its own id here, so this check needs no lock.
    if (static_cast<ULONG_PTR>(cs->OwningThread) == tid) {
        ++cs->RecursionCount;
        return;
    }
    pthread_mutex_lock(native(cs));
    take_ownership(cs, tid);
}

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs) {
    const DWORD tid = GetCurrentThreadId();
    if (static_cast<ULONG_PTR>(cs->OwningThread) == tid) {
        ++cs->RecursionCount;
        return TRUE;
    }
    if (pthread_mutex_trylock(native(cs)) != 0) {
        return FALSE;
    }
    take_ownership(cs, tid);
    return TRUE;
}

void LeaveCriticalSection(LPCRITICAL_SECTION cs) {
    if (--cs->RecursionCount > 0) {
        return;
    }
    cs->OwningThread.store(0);
    pthread_mutex_unlock(native(cs));
}

DWORD GetCurrentThreadId() {
    thread_local const DWORD tid = static_cast<DWORD>(syscall(SYS_gettid));
    return tid;
}

DWORD GetCurrentProcessId() {
    return static_cast<DWORD>(getpid());
}

void Sleep(DWORD ms) {
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) == -1 && errno == EINTR) {
    }
}

// Without a debugger Windows drops these messages; here they reach stderr only when
// PLATFORM_DEBUG_OUTPUT is set, so that a developer can watch them without polluting tests.
void OutputDebugStringA(LPCSTR s) {
    static const bool enabled = std::getenv("PLATFORM_DEBUG_OUTPUT") != nullptr;
    if (enabled && s != nullptr) {
        std::fputs(s, stderr);
    }
}

void OutputDebugStringW(LPCWSTR s) {
    if (s == nullptr) {
        return;
    }
    // Narrowed naively: the output is for people reading a log, not a round-trip channel.
    std::string narrow;
    for (; *s != 0; ++s) {
        narrow.push_back(*s < 0x80 ? static_cast<char>(*s) : '?');
    }
    OutputDebugStringA(narrow.c_str());
}
