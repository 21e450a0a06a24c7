// The lock of the request registry: a recursive critical section that traces when a thread has
// to wait for it, and the scoped guard the job methods take it through.
#pragma once

#include "platform/winapi.h"

class CCoCriticalSection {
  public:
    CCoCriticalSection() noexcept { InitializeCriticalSection(&m_cs); }
    ~CCoCriticalSection() { DeleteCriticalSection(&m_cs); }
    CCoCriticalSection(const CCoCriticalSection&) = delete;
    CCoCriticalSection& operator=(const CCoCriticalSection&) = delete;

    // Enters at once when free or already held by this thread (no trace); otherwise traces the
    // wait with the holder's id, waits, and traces that it continued.
    void Lock() noexcept;
    void Unlock() noexcept { LeaveCriticalSection(&m_cs); }

  private:
    CRITICAL_SECTION m_cs;
};

// Holds the registry lock for a scope; Lock and Unlock may be called again so that a method can
// release the registry while it calls a client, and a repeated call does nothing.
class CCoLockGuard {
  public:
    explicit CCoLockGuard(CCoCriticalSection* lock) noexcept : m_lock(lock) { Lock(); }
    ~CCoLockGuard() { Unlock(); }
    CCoLockGuard(const CCoLockGuard&) = delete;
    CCoLockGuard& operator=(const CCoLockGuard&) = delete;

    void Lock() noexcept {
        if (!m_locked && m_lock != nullptr) {
            m_lock->Lock();
            m_locked = true;
        }
    }
    void Unlock() noexcept {
        if (m_locked && m_lock != nullptr) {
            m_lock->Unlock();
            m_locked = false;
        }
    }

  private:
    CCoCriticalSection* m_lock;
    bool m_locked = false;
};
