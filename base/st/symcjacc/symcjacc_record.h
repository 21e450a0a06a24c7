// The flat job records the component hands out: zeroing, freeing and filling one from a CJ.
// Clients own their records (CJAsyncRQRecordHolder in the public header does it for them).
#pragma once

#include "base/st/symcjacc/asychronrq.h"
#include "collectionjobsymacc.h"

namespace symcjacc {

// Frees what a client's record holds and leaves it zeroed with an empty VARIANT (the joins).
void ResetRecord(CJAsyncRQRecord* record) noexcept;
// Zeroes a record without reading it, for the calls that accept an unzeroed one.
void ZeroRecord(CJAsyncRQRecord* record) noexcept;
// Flat copy of a CJ for a client; the caller holds the registry lock and has reset the record.
HRESULT FillCJAsychronRQEntry(CJAsyncRQRecord* pRecord, const CAsyncRQEntry& cj);

}  // namespace symcjacc
