// Shared by the sources of the component object: the trace source name, the method scope and
// the null-pointer test, and the job records' constants.
#pragma once

#include <cstring>

#include "base/st/symcjacc/asychronrq.h"
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

// Frees what a client's record holds and leaves it zeroed with an empty VARIANT (the joins).
void ResetRecord(CJAsyncRQRecord* record) noexcept;
// Zeroes a record without reading it, for the calls that accept an unzeroed one.
void ZeroRecord(CJAsyncRQRecord* record) noexcept;

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

// A record filled for the component's own use and freed when it goes.
struct LocalRecord {
    LocalRecord() noexcept { ZeroRecord(&record); }
    ~LocalRecord() { ResetRecord(&record); }
    LocalRecord(const LocalRecord&) = delete;
    LocalRecord& operator=(const LocalRecord&) = delete;
    CJAsyncRQRecord record;
};

}  // namespace symcjacc

#define CJ_SCOPE(scope, method) \
    CO_TRACE_SCOPE(scope, symcjacc::kFile, "CCollectionJobSymAcc::" method)
#define CJ_RETURN_IF_NULL(scope, p)                                         \
    do {                                                                    \
        if ((p) == nullptr) {                                               \
            CO_TRACE((scope), TRACE_ERROR, "error: NULL pointer argument"); \
            return E_POINTER;                                               \
        }                                                                   \
    } while (0)
