// Shared by the sources of the component object: the trace source name, the method scope and
// the null-pointer test, the job records' constants, and the steps more than one road takes.
#pragma once

#include <cstring>

#include "base/st/symcjacc/asychronrq.h"
#include "base/st/symcjacc/symcjacc_record.h"
#include "co/co_trace.h"
#include "collectionjobsymacc.h"

namespace symcjacc {

inline constexpr char kFile[] = "base/st/symcjacc/symcjacc";

inline constexpr ULONG kClientJobIDs = 0x80000000;  // newJobID hands out ids above this
inline constexpr LONG kTypeReadWrite = 8;
inline constexpr LONG kTypeUnreported = 1001;

// The IVar room limits, fixed.
inline constexpr ULONG kIVarMaxVars = 0x400;
inline constexpr ULONG kIVarMaxSize = 0x2000;

// Stops a CJ for re-creation: SJs still joined are marked, and the SJs form a ring by id
// through the CJ.
void RebuildRing(CAsyncRQEntry& cj);

// A fetched decode callback, asked for its interface (a proxy or another module's object is
// never cast).
inline platform::ComPtr<IMC_YDBDecode> AsDecode(const platform::ComPtr<IUnknown>& callback) {
    platform::ComPtr<IMC_YDBDecode> decode;
    if (callback) {
        (void)callback.query(decode);
    }
    return decode;
}

template <class... Pointee>
constexpr bool AnyNull(const Pointee*... pointers) noexcept {
    return ((pointers == nullptr) || ...);
}

enum class DecodeSide { IYDBDecode, ICB_Decode };

// Deletes exactly the CJ found under `lock` (null: none) on the target through its decode
// callback, which is fetched with revocation while `lock` is released and called outside it.
// Inside a cancel the cancel's own hold keeps the lock taken throughout. Traces as the delete
// method of its side.
HRESULT DeleteOnTarget(CAsychronRQ& rq, CAsyncRQGuard& lock, CAsyncRQEntry* cj, ULONG cjJobID,
                       ULONG reason, ULONG maxJobs, DecodeSide side, ULONG* pStatus);

}  // namespace symcjacc

#define CJ_SCOPE(scope, method) \
    CO_TRACE_SCOPE(scope, symcjacc::kFile, "CCollectionJobSymAcc::" method)
// Any number of pointers; the first null one ends the method with one trace.
#define CJ_RETURN_IF_NULL(scope, ...)                                       \
    do {                                                                    \
        if (symcjacc::AnyNull(__VA_ARGS__)) {                               \
            CO_TRACE((scope), TRACE_ERROR, "error: NULL pointer argument"); \
            return E_POINTER;                                               \
        }                                                                   \
    } while (0)

namespace symcjacc {

// The frame of a method that works on the registry of rq under its lock, tracing as `method`:
// the status word's null test, status 0, the lock, and the exception boundary.
// body(trace, lock) runs with the lock taken and may release it.
template <class Body>
HRESULT UnderRegistryLock(const char* method, CAsychronRQ* rq, ULONG* pStatus, Body&& body) {
    CO_TRACE_SCOPE(trace, kFile, method);
    try {
        CJ_RETURN_IF_NULL(trace, pStatus);
        *pStatus = 0;
        CAsyncRQGuard lock(rq);
        if (rq == nullptr) {
            return E_OUTOFMEMORY;
        }
        return body(trace, lock);
    }
    CO_CATCH_RETURN_TRACED(trace)
}

}  // namespace symcjacc
