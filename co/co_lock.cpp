// The registry lock's contention trace.
#include "co/co_lock.h"

#include "co/co_trace.h"

void CCoCriticalSection::Lock() noexcept {
    if (TryEnterCriticalSection(&m_cs)) {
        return;
    }
    CO_TRACE_SCOPE(trace, "co/co_lock", "CCoCriticalSection::Lock");
    // The holder may leave before this read; the message then names thread 0.
    const auto holder = static_cast<unsigned int>(
        reinterpret_cast<ULONG_PTR>(static_cast<HANDLE>(m_cs.OwningThread)));
    CO_TRACE(trace, TRACE_INFO, "thread 0x%X is waiting for thread 0x%X",
             static_cast<unsigned int>(GetCurrentThreadId()), holder);
    EnterCriticalSection(&m_cs);
    CO_TRACE(trace, TRACE_INFO, "thread 0x%X continued",
             static_cast<unsigned int>(GetCurrentThreadId()));
}
