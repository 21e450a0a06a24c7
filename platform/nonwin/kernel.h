// Kernel subset for non-Windows builds: critical sections, thread ids, interlocked arithmetic
// and debugger output.
#pragma once

#include "platform/nonwin/basetypes.h"

// Holds the owning thread's id where Windows keeps it, so other threads can read who holds a
// section (for contention traces). Access is atomic because, unlike on Windows, our race
// detectors would flag a plain read against the owner's write.
class CriticalSectionOwner {
  public:
    CriticalSectionOwner() = default;
    CriticalSectionOwner(const CriticalSectionOwner&) = delete;
    CriticalSectionOwner& operator=(const CriticalSectionOwner&) = delete;

    operator ULONG_PTR() const { return __atomic_load_n(&m_id, __ATOMIC_ACQUIRE); }
    operator HANDLE() const { return reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(*this)); }
    void store(ULONG_PTR id) { __atomic_store_n(&m_id, id, __ATOMIC_RELEASE); }

  private:
    ULONG_PTR m_id = 0;
};

// Layout of the public fields as on Windows; the tail keeps the native mutex.
typedef struct _RTL_CRITICAL_SECTION {
    PVOID DebugInfo;
    LONG LockCount;
    LONG RecursionCount;
    CriticalSectionOwner OwningThread;
    HANDLE LockSemaphore;
    ULONG_PTR SpinCount;
    alignas(16) unsigned char NativeMutex[64];
} CRITICAL_SECTION, *LPCRITICAL_SECTION, *PCRITICAL_SECTION;

WINBASEAPI void InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
WINBASEAPI BOOL InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION lpCriticalSection,
                                                      DWORD dwSpinCount);
WINBASEAPI void DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
WINBASEAPI void EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
WINBASEAPI BOOL TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
WINBASEAPI void LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection);

WINBASEAPI DWORD GetCurrentThreadId(void);
WINBASEAPI DWORD GetCurrentProcessId(void);
WINBASEAPI void Sleep(DWORD dwMilliseconds);

WINBASEAPI void OutputDebugStringA(LPCSTR lpOutputString);
WINBASEAPI void OutputDebugStringW(LPCWSTR lpOutputString);

inline LONG InterlockedIncrement(LONG volatile* p) {
    return __atomic_add_fetch(p, 1, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedDecrement(LONG volatile* p) {
    return __atomic_sub_fetch(p, 1, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedExchange(LONG volatile* p, LONG v) {
    return __atomic_exchange_n(p, v, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedExchangeAdd(LONG volatile* p, LONG v) {
    return __atomic_fetch_add(p, v, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedCompareExchange(LONG volatile* p, LONG exchange, LONG comparand) {
    __atomic_compare_exchange_n(p, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return comparand;
}
