// The YDB service: a client's request, held as a debug-service message in a YDB data object, is
// merged into the message of a collection job of the same cycle and type or starts one; the
// single job joins its collection job, and the job's service is started through its callback.
#include <cstdint>
#include <list>
#include <vector>

#include "base/st/symcjacc/symcjacc.h"
#include "base/st/symcjacc/symcjacc_internal.h"
#include "onl/ydbservice/upp_debservice.h"
#include "onl/ydbservice/yrterrordecode.h"
#include "platform/raii.h"

using namespace symcjacc;
using platform::ComPtr;

namespace {

// Context of the data object class: in-process server and handler, local and remote server.
constexpr DWORD kYDBContext = 0x17;
// The data header stands here; the record header and the message follow it.
constexpr ULONG kDataHeaderOffset = 16;
// The contents record a collection job's message is written in.
constexpr ULONG kRecordFormat = 1;
constexpr ULONG kDataHeaderFirstWord = 4;
constexpr uint16_t kCmdVarService = 0xC101;
// A collection job's message: a cyclic read of all its variables.
constexpr uint32_t kMessageVariant = 1;
constexpr int32_t kListTag = -1;
constexpr uint32_t kServiceCyclicRead = 2;
constexpr uint32_t kJobTypeCycle = 1;
// A cyclic job's values: service type 11, in a record of the CJ's command with sub-command 1.
constexpr uint32_t kServiceValues = 11;
constexpr uint16_t kSubCmdValues = 1;
// Answers that go to the consumer as they came.
constexpr uint32_t kServicePassedOn = 12;
constexpr uint32_t kQualifierPassedOn = 7;
// The UPP response of a failed stream, for a message whose position could not be put back.
constexpr int32_t kStreamFailed = 4;
// The YDB marks of a single job.
constexpr ULONG kSJServiceYDB = 0;
constexpr LONG kSJTypeYDB = 1;

using SJIterator = std::list<SAsyncSymRQEntry>::iterator;

ComPtr<IYDB_Data> AsYDB(IUnknown* object) {
    ComPtr<IYDB_Data> data;
    if (object != nullptr) {
        (void)ComPtr<IUnknown>(object).query(data);  // adds a reference for the query's span
    }
    return data;
}

// A request that goes no further answers S_OK with its status word.
HRESULT Refuse(ULONG* pStatus, ULONG status) {
    *pStatus = status;
    return S_OK;
}

// A data object's message with the object's size before the read and the result of putting its
// position back.
struct SYDBMessage {
    SYDBMessage() : message(kMessageVariant, kListTag) {}
    Upp_DebVarService message;
    YDB_DataHeader dataHeader;
    YDB_RecordHeader recordHeader;
    ULONG size = 0;
    HRESULT restored = E_FAIL;
};

// Reads the message behind the headers and puts the object's position and size back. A failed
// call leaves the message with a stream status; a size that could not be read is not put back,
// so that a failed query never cuts a client's data.
void ReadMessage(IYDB_Data* data, SYDBMessage& out) {
    Gen_ExStream stream(data);
    ULONG position = 0;
    ULONG ignored = 0;
    const bool sized = SUCCEEDED(data->GetByteCount(&out.size));
    const bool placed = SUCCEEDED(data->GetPosition(&position));
    if (!sized || !placed || FAILED(data->Seek(kDataHeaderOffset, 0, &ignored))) {
        stream.setBad();
    }
    out.dataHeader.read(stream);
    out.recordHeader.read(stream);
    (void)out.message.read(stream);  // a failed read leaves m_Status set
    out.restored = placed ? data->Seek(position, 0, &ignored) : E_FAIL;
    if (sized) {
        (void)data->SetByteCount(out.size);
    } else {
        out.size = 0;
    }
}

// Replaces one data object's contents by another's. A failed read writes nothing; the buffer is
// freed on every path.
HRESULT CopyContents(IYDB_Data* from, IYDB_Data* to, ULONG length) {
    platform::UniqueTaskMem<BYTE> buffer;
    ULONG unused = 0;
    const HRESULT hr = from->ReadContents(&unused, buffer.put());
    if (FAILED(hr)) {
        return hr;
    }
    if (buffer.get() == nullptr && length != 0) {
        return E_POINTER;
    }
    return to->WriteContents(buffer.get(), length, 0, 0);
}

// The contents base keeps the object it wrote last; a CJ's data object must not outlive the CJ
// through it.
class ContentsUse {
  public:
    explicit ContentsUse(YDB_Contents& contents) noexcept : m_contents(contents) {}
    ~ContentsUse() {
        m_contents.m_pStream.reset();
        m_contents.m_spData.reset();
    }
    ContentsUse(const ContentsUse&) = delete;
    ContentsUse& operator=(const ContentsUse&) = delete;

  private:
    YDB_Contents& m_contents;
};

// Rewrites a CJ's data object as one contents record holding the message, if it may be written.
bool WriteMessage(YDB_Contents& contents, IYDB_Data* data, Upp_DebVarService& message) {
    ULONG writable = 0;
    if (data->IsWritable(&writable) != S_OK || writable == 0) {
        return false;
    }
    ContentsUse use(contents);
    if (!contents.openRecordJob(kRecordFormat, kDataHeaderFirstWord, 0, 0, 0, kCmdVarService,
                                data)) {
        return false;
    }
    message.write(*contents.m_pStream);
    return contents.m_pStream->ok() && contents.finishRecord(data);
}

// What one adding call brings.
struct SYDBAddition {
    LONG cycle;
    LONG typ;
    ULONG sjJobID;
    ULONG count;  // variables of the SJ's message
    ULONG size;   // their data size
};

// Each SJ of the CJ owns the next run of its variable count in the CJ's message (an SJ of count
// 0 owns none). Copies the runs of live SJs in order and returns the cancelled SJs, whose runs
// are dropped.
std::vector<SJIterator> KeepLiveRuns(CAsyncRQEntry& cj, const Upp_DebVarList& current,
                                     Upp_DebVarList& merged) {
    std::vector<SJIterator> cancelled;
    const Gen_ExListElem* e = current.m_pHead;
    for (SJIterator it = cj.m_SJList.begin(); it != cj.m_SJList.end(); ++it) {
        const bool live = it->RQStatus != SJ_CANCELLED;
        for (ULONG k = 0; k < it->dwVarCount && e != nullptr; ++k, e = e->m_pNext) {
            if (live) {
                merged.add(static_cast<const Upp_DebVar&>(*e));
            }
        }
        if (!live) {
            cancelled.push_back(it);
        }
    }
    return cancelled;
}

void AppendAll(const Upp_DebVarList& from, Upp_DebVarList& to) {
    for (const Gen_ExListElem* e = from.m_pHead; e != nullptr; e = e->m_pNext) {
        to.add(static_cast<const Upp_DebVar&>(*e));
    }
}

// Cancelled SJs leave once their runs are gone from the CJ's data object. Exactly their own
// callbacks are released: an SJ's id may be some CJ's id as well.
void DropCancelled(CCoTrace& trace, CAsyncRQEntry& cj, const std::vector<SJIterator>& sjs) {
    for (const SJIterator& it : sjs) {
        CAsychronRQ::CallbackICB_Interface(nullptr, *it);
        CAsychronRQ::CallbackDisp(nullptr, *it);
        CO_TRACE(trace, TRACE_INFO, "SJ ES_JobID: %u removed from CJ ES_JobID: %u",
                 static_cast<unsigned>(it->ES_JobID), static_cast<unsigned>(cj.m_ES_JobID));
        cj.m_SJList.erase(it);
    }
}

// The message a merge writes: the live SJs' runs, then the new SJ's variables.
void BuildMerged(CAsyncRQEntry& cj, const Upp_DebVarService& current,
                 const Upp_DebVarService& request, Upp_DebVarService& merged,
                 std::vector<SJIterator>& cancelled, LONG cycle) {
    merged.setServiceType(kServiceCyclicRead);
    merged.m_JobDescr.m_JobType = kJobTypeCycle;
    merged.m_JobDescr.m_Param = static_cast<uint32_t>(cycle);
    cancelled = KeepLiveRuns(cj, current.m_VarList, merged.m_VarList);
    AppendAll(request.m_VarList, merged.m_VarList);
}

HRESULT MergeYDB(CCoTrace& trace, CAsychronRQ& rq, YDB_Contents& contents, CAsyncRQEntry& cj,
                 const SYDBMessage& request, const SYDBAddition& add, ULONG* pStatus) {
    const ULONG cjID = cj.m_ES_JobID;
    cj.m_RQStatus = STATE_STOP;
    cj.ticks += 1;
    CO_TRACE(trace, TRACE_INFO, "collection job %u -> STATE_STOP; ticks: %d",
             static_cast<unsigned>(cjID), static_cast<int>(cj.ticks));
    cj.m_dwVarCountAdded = add.count;
    const ComPtr<IYDB_Data> cjData = AsYDB(cj.m_spYDBData.get());
    if (!cjData) {
        CO_TRACE(trace, TRACE_ERROR, "invalid interface");
        return request.restored;
    }
    SYDBMessage current;
    ReadMessage(cjData.get(), current);
    if (current.message.m_Status != 0) {
        return Refuse(pStatus, CRTErrorDecoder::mapUPPErrorOnESError(
                                   static_cast<int32_t>(current.message.m_Status)));
    }
    Upp_DebVarService merged(kMessageVariant, kListTag);
    std::vector<SJIterator> cancelled;
    BuildMerged(cj, current.message, request.message, merged, cancelled, add.cycle);
    cj.m_dwVarCount = merged.m_VarList.m_Count;
    cj.m_dwDataSize = merged.m_VarList.m_DataSize;
    cj.m_dwLastSJ_ES_JobID = add.sjJobID;
    rq.Reindex(cj);
    // A variable that could not be copied would be lost without a word.
    if (merged.m_VarList.m_Error != 0 || !WriteMessage(contents, cjData.get(), merged)) {
        // The old message stays, and with it the cancelled SJs whose runs it still holds.
        CO_TRACE(trace, TRACE_ERROR,
                 "Asynchron read/write extension of job creation for JobID %u, cycle %d, Typ %d "
                 "failed.",
                 static_cast<unsigned>(cjID), static_cast<int>(add.cycle),
                 static_cast<int>(add.typ));
        return E_FAIL;
    }
    DropCancelled(trace, cj, cancelled);
    CO_TRACE(trace, TRACE_INFO,
             "Asynchron read: %d variable(s) added to collection-job %u (now %u), sum of CJs %d , "
             "cycle %d, Typ %d",
             static_cast<int>(add.count), static_cast<unsigned>(cjID),
             static_cast<unsigned>(cj.m_dwVarCount), static_cast<int>(rq.Entries().size()),
             static_cast<int>(add.cycle), static_cast<int>(add.typ));
    return S_OK;
}

HRESULT CreateYDB(CCoTrace& trace, CAsychronRQ& rq, ULONG maxJobs, IYDB_Data* sjData,
                  ULONG sjLength, const SYDBAddition& add) {
    CAsyncRQEntry entry;
    // Once every id below the job limit is taken, the limit itself, which later CJs share.
    entry.m_ES_JobID = rq.GetFreeJobID(add.typ, maxJobs);
    entry.m_Typ = add.typ;
    entry.m_RQStatus = STATE_CREATED;
    entry.ms = add.cycle;
    const ULONG id = entry.m_ES_JobID;
    CO_TRACE(trace, TRACE_INFO, "collection job %u -> %d", static_cast<unsigned>(id),
             static_cast<int>(STATE_CREATED));
    // Complete before it is stored, so that the index learns its ids once.
    entry.m_dwVarCountAdded = add.count;
    entry.m_dwVarCount = add.count;
    entry.m_dwDataSize = add.size;
    entry.m_dwLastSJ_ES_JobID = add.sjJobID;
    entry.m_dwPrev_ES_JobID = 0;
    entry.m_dwReserved = 0;
    CAsyncRQEntry& cj = *rq.AddAsychronRQ(entry);
    ComPtr<IYDB_Data> cjData;
    if (FAILED(CoCreateInstance(CLSID_YDB_Data, nullptr, kYDBContext, IID_IYDB_Data,
                                cjData.put_void())) ||
        !cjData) {
        CO_TRACE(trace, TRACE_ERROR, "YDB creation failed");
        return E_FAIL;
    }
    const HRESULT hr = CopyContents(sjData, cjData.get(), sjLength);
    if (FAILED(hr)) {
        return hr;  // an object without the request would be handed to joining clients
    }
    cj.m_spYDBData = ComPtr<IUnknown>(cjData.get());  // adds the entry's reference
    CO_TRACE(trace, TRACE_INFO, "Asynchron read: %d variable(s) added to job %d , cycle %d, Typ %d",
             static_cast<int>(add.count), static_cast<int>(id), static_cast<int>(add.cycle),
             static_cast<int>(add.typ));
    return hr;
}

// Hands the CJ's complete data to the joining SJ's data object, when that may be written. False
// when either object cannot be reached or a call failed; nothing stale is written then.
bool CopyCJDataToSJ(const CAsyncRQEntry& cj, IUnknown* sjData) {
    const ComPtr<IYDB_Data> sj = AsYDB(sjData);
    const ComPtr<IYDB_Data> cjData = AsYDB(cj.m_spYDBData.get());
    if (!sj || !cjData) {
        return false;
    }
    ULONG writable = 0;
    if (sj->IsWritable(&writable) != S_OK || writable == 0) {
        return true;
    }
    ULONG length = 0;
    return SUCCEEDED(cjData->GetByteCount(&length)) &&
           SUCCEEDED(CopyContents(cjData.get(), sj.get(), length));
}

// A CJ named by a client whose SJ was not found has one join less to wait for.
void CountDownNamedCJ(CAsychronRQ& rq, ULONG cjJobID) {
    CAsyncRQEntry* named = rq.GetAsychronRQArray(cjJobID);
    if (named != nullptr && named->ticks > 0) {
        named->ticks -= 1;
    }
}

// What one YDB join works with.
struct SYDBJoin {
    LONG cycle;
    ULONG sjJobID;
    IUnknown* sjDisp;
    IUnknown* sjICB;
};

void AddSingleJob(CAsychronRQ& rq, CAsyncRQEntry& cj, const SYDBJoin& join) {
    SAsyncSymRQEntry sj;
    sj.ES_JobID = join.sjJobID;
    sj.dwService = kSJServiceYDB;
    sj.Typ = kSJTypeYDB;
    sj.RQStatus = SJ_JOINED;
    sj.parent_ES_JobID = cj.m_ES_JobID;
    sj.next_ES_JobID = 2;
    sj.dwVarCount = cj.m_dwVarCountAdded;
    if (join.sjICB != nullptr) {
        CAsychronRQ::CallbackICB_Interface(join.sjICB, sj);
    }
    if (join.sjDisp != nullptr) {
        // Asked for, never cast: the callback may live in another module or behind a proxy.
        const ComPtr<IMC_YDBDecode> decode = AsDecode(ComPtr<IUnknown>(join.sjDisp));
        CAsychronRQ::CallbackDisp(decode.get(), sj);
    }
    try {
        (void)rq.AddAsyncSymRQ(cj, sj);
    } catch (...) {
        CAsychronRQ::CallbackICB_Interface(nullptr, sj);  // nowhere to keep the cookies
        CAsychronRQ::CallbackDisp(nullptr, sj);
        throw;
    }
}

// Adds the SJ unless the CJ holds it already. False when it is skipped: a client job that is
// held but not the last to have joined, which only uses up one tick.
bool EnterSingleJob(CCoTrace& trace, CAsychronRQ& rq, CAsyncRQEntry& cj, const SYDBJoin& join,
                    ULONG cjJobID) {
    const SAsyncSymRQEntry* present = CAsychronRQ::GetAsychronSymRQArray(&cj, join.sjJobID);
    if (present == nullptr) {
        AddSingleJob(rq, cj, join);
        return true;
    }
    if (join.sjJobID <= kClientJobIDs || present == &cj.m_SJList.back()) {
        return true;
    }
    if (cj.ticks > 0) {
        cj.ticks -= 1;
    }
    CO_TRACE(trace, TRACE_INFO,
             "cycle: %d, single job skipped %u, collection job %u, dwaction %x, ticks: %d",
             static_cast<int>(join.cycle), static_cast<unsigned>(join.sjJobID),
             static_cast<unsigned>(cjJobID), 0u, static_cast<int>(cj.ticks));
    return false;
}

// Stops the CJ for re-creation with its SJs; returns the join's action word so far.
ULONG StopForRecreation(CCoTrace& trace, CAsyncRQEntry& cj, ULONG sjJobID) {
    ULONG action = CJ_ACTION_ALONE;
    if (cj.containing() > 2 || sjJobID > kClientJobIDs) {
        action |= CJ_ACTION_EXTRA;
    }
    action |= CJ_ACTION_STOP;
    cj.m_RQStatus = STATE_STOP;
    CO_TRACE(trace, TRACE_INFO, "collection job %u -> STATE_STOP",
             static_cast<unsigned>(cj.m_ES_JobID));
    RebuildRing(cj);
    return action;
}

}  // namespace

HRESULT STDMETHODCALLTYPE CCollectionJobSymAcc::addSymbolsYDB(LONG cycle, LONG typ,
                                                              IUnknown* sjData, ULONG sjJobID,
                                                              ULONG* pStatus) {
    CJ_SCOPE(trace, "addSymbolsYDB");
    try {
        CJ_RETURN_IF_NULL(trace, pStatus);
        *pStatus = 0;
        const ComPtr<IYDB_Data> data = AsYDB(sjData);
        if (!data) {
            CO_TRACE(trace, TRACE_ERROR, "error accessing YDB");
            return S_OK;
        }
        CAsyncRQGuard lock(m_pRQ.get());
        if (!m_pRQ) {
            return E_OUTOFMEMORY;
        }
        SYDBMessage request;
        ReadMessage(data.get(), request);
        // An unreadable request would make a CJ whose every later merge fails.
        if (request.message.m_Status != 0) {
            return Refuse(pStatus, CRTErrorDecoder::mapUPPErrorOnESError(
                                       static_cast<int32_t>(request.message.m_Status)));
        }
        const SYDBAddition add{cycle, typ, sjJobID, request.message.m_VarList.m_Count,
                               request.message.m_VarList.m_DataSize};
        CAsyncRQEntry* cj =
            m_pRQ->GetAsyncCJRQArray(cycle, typ, m_dwMaxVars, m_dwMaxSize, add.count, add.size);
        if (cj != nullptr) {
            return MergeYDB(trace, *m_pRQ, *this, *cj, request, add, pStatus);
        }
        return CreateYDB(trace, *m_pRQ, m_dwMaxJobs, data.get(), request.size, add);
    }
    CO_CATCH_RETURN_TRACED(trace)
}

HRESULT STDMETHODCALLTYPE CCollectionJobSymAcc::UpdateYDBJobEntry(LONG cycle, LONG typ,
                                                                  IUnknown* sjDisp, ULONG* pSJJobID,
                                                                  ULONG* pCJJobID, IUnknown* sjData,
                                                                  CJAsyncRQRecord* pRecord,
                                                                  ULONG* pAction, ULONG* pStatus) {
    CJ_SCOPE(trace, "UpdateYDBJobEntry");
    try {
        CJ_RETURN_IF_NULL(trace, pStatus, pRecord, pAction, pSJJobID, pCJJobID);
        *pStatus = 0;
        if ((*pAction & CJ_ACTION_UNCHANGED) == 0) {
            *pAction = CJ_ACTION_ALONE;
        }
        CAsyncRQGuard lock(m_pRQ.get());
        if (!m_pRQ) {
            return E_OUTOFMEMORY;
        }
        const CAsyncRQEntry* cj = m_pRQ->GetAsyncCJRQArray(cycle, typ, *pSJJobID);
        if (cj == nullptr) {
            CountDownNamedCJ(*m_pRQ, *pCJJobID);
            CO_TRACE(trace, TRACE_ERROR, "single job: %u collection job: %u not found",
                     static_cast<unsigned>(*pSJJobID), static_cast<unsigned>(*pCJJobID));
            return Refuse(pStatus, CJ_STATUS_JOB_NOT_FOUND);
        }
        if (!CopyCJDataToSJ(*cj, sjData)) {
            CO_TRACE(trace, TRACE_ERROR, "error accessing YDB");
            return Refuse(pStatus, CJ_STATUS_JOB_NOT_FOUND);
        }
        ResetRecord(pRecord);
        (void)FillCJAsychronRQEntry(pRecord, *cj);
        return UpdateJobEntry(cycle, typ, sjDisp, nullptr, pSJJobID, pCJJobID, pRecord, pAction,
                              pStatus);
    }
    CO_CATCH_RETURN_TRACED(trace)
}

HRESULT CCollectionJobSymAcc::UpdateJobEntry(LONG cycle, LONG typ, IUnknown* sjDisp,
                                             IUnknown* sjICB, ULONG* pSJJobID, ULONG* pCJJobID,
                                             CJAsyncRQRecord* pRecord, ULONG* pAction,
                                             ULONG* pStatus) {
    CJ_SCOPE(trace, "UpdateJobEntry");
    try {
        *pStatus = 0;
        if ((*pAction & CJ_ACTION_UNCHANGED) != 0) {
            return S_OK;
        }
        CAsyncRQGuard lock(m_pRQ.get());
        if (!m_pRQ) {
            return E_OUTOFMEMORY;
        }
        dumpJobEntries("UpdateJobEntry");
        const SYDBJoin join{cycle, *pSJJobID, sjDisp, sjICB};
        CAsyncRQEntry* cj = m_pRQ->GetAsyncCJRQArray(cycle, typ, join.sjJobID);
        if (cj == nullptr) {
            CO_TRACE(trace, TRACE_ERROR, "cycle: %d, single job %u, collection job %u, dwaction %x",
                     static_cast<int>(cycle), static_cast<unsigned>(join.sjJobID),
                     static_cast<unsigned>(*pCJJobID), static_cast<unsigned>(CJ_ACTION_ALONE));
        } else if (!EnterSingleJob(trace, *m_pRQ, *cj, join, *pCJJobID)) {
            *pAction = 0;
        } else if (cj->containing() >= m_dwMinSymSize || cj->m_RQStatus == STATE_STOP) {
            const ULONG action = StopForRecreation(trace, *cj, join.sjJobID) | CJ_ACTION_RECORD;
            ResetRecord(pRecord);
            (void)FillCJAsychronRQEntry(pRecord, *cj);
            *pCJJobID = cj->m_ES_JobID;
            *pAction = action;
            CO_TRACE(trace, TRACE_INFO, "cycle: %d, single job %u, collection job %u, dwaction %x",
                     static_cast<int>(cycle), static_cast<unsigned>(join.sjJobID),
                     static_cast<unsigned>(*pCJJobID), static_cast<unsigned>(action));
        }
        dumpJobEntries("UpdateJobEntry");
        return S_OK;
    }
    CO_CATCH_RETURN_TRACED(trace)
}

HRESULT STDMETHODCALLTYPE CCollectionJobSymAcc::startYDBService(LONG cycle, LONG typ, ULONG value,
                                                                ULONG sjJobID, ULONG cjJobID,
                                                                IUnknown* sjDisp, ULONG* pResult) {
    CJ_SCOPE(trace, "startYDBService");
    try {
        CJ_RETURN_IF_NULL(trace, pResult);
        *pResult = 0;
        SAsyncCookiePair pair;
        {
            CAsyncRQGuard lock(m_pRQ.get());
            if (!m_pRQ) {
                return E_OUTOFMEMORY;
            }
            const CAsyncRQEntry* cj = m_pRQ->GetAsychronRQArray(cjJobID, typ);
            if (cj == nullptr) {
                return S_OK;
            }
            // Joins again; what the join answers is not the caller's business. No CJ leaves
            // the registry in a join, so cj stays valid.
            CJAsyncRQRecordHolder local;
            ULONG sj = sjJobID, cjID = cjJobID, action = 0, status = 0;
            (void)UpdateJobEntry(cycle, typ, sjDisp, nullptr, &sj, &cjID, local.get(), &action,
                                 &status);
            pair = cj->IYDBDecodePair();
        }
        const ComPtr<IMC_YDBDecode> decode =
            AsDecode(CAsychronRQ::getCJ_CallbackIYDBDecode(pair, false));
        if (decode) {
            (void)decode->StartService(cycle, value, sjJobID, cjJobID, pResult);
        }
        return S_OK;
    }
    CO_CATCH_RETURN_TRACED(trace)
}

// ---- each cycle's values, handed to one single job ----------------------------------------

namespace {

// The SJ's values and where they go.
struct SValuesCall {
    ULONG jobID;
    ULONG cjJobID;
    LONG cycle;
    IUnknown* sjData;
    IUnknown* outData;
};

// A read fails with its message's UPP response, or with a stream failure when the data object's
// position could not be put back.
HRESULT FailedRead(const SYDBMessage& m, ULONG* pStatus) {
    const int32_t response =
        m.message.m_Status != 0 ? static_cast<int32_t>(m.message.m_Status) : kStreamFailed;
    *pStatus = CRTErrorDecoder::mapUPPErrorOnESError(response);
    return E_FAIL;
}
bool ReadFailed(const SYDBMessage& m) {
    return m.message.m_Status != 0 || FAILED(m.restored);
}

HRESULT FailedYDB(CCoTrace& trace, ULONG* pStatus, HRESULT hr) {
    CO_TRACE(trace, TRACE_ERROR, "error accessing YDB");
    *pStatus = CJ_STATUS_JOB_NOT_FOUND;
    return hr;
}

// The SJ's variables, in order, as the CJ's values of this cycle; they move from the SJ's
// message, which is not used again.
bool BuildResponse(CCoTrace& trace, SYDBMessage& single, const SValuesCall& call,
                   Upp_DebVarService& response) {
    response.setServiceType(kServiceValues);
    response.m_JobDescr.m_JobType = kJobTypeCycle;
    response.m_JobDescr.m_Param = static_cast<uint32_t>(call.cycle);
    Upp_DebVarList& vars = single.message.m_VarList;
    CO_TRACE(trace, TRACE_INFO, "SJ ES_JobID: %u mit %d variablen, RTJobID: %d",
             static_cast<unsigned>(call.jobID), static_cast<int>(vars.m_Count),
             static_cast<int>(single.dataHeader.m_Words[1]));
    for (const Gen_ExListElem* e = vars.m_pHead; e != nullptr; e = e->m_pNext) {
        CCollectionJobSymAcc::dumpYDBvalues(static_cast<const Upp_DebVar&>(*e));
    }
    response.m_VarList.takeAll(vars);
    response.setResponse();
    return response.m_VarList.m_Error == 0;  // a variable not copied would be lost silently
}

// Writes the CJ's data header and a record of the CJ's command holding the message, and
// commits. A failure puts the object's size and position back: no half answer is handed on.
bool WriteOutput(YDB_Contents& contents, IYDB_Data* out, const SYDBMessage& cj,
                 Upp_DebVarService& message) {
    ULONG size = 0;
    ULONG position = 0;
    if (FAILED(out->GetByteCount(&size)) || FAILED(out->GetPosition(&position))) {
        return false;
    }
    bool written = false;
    {
        ContentsUse use(contents);
        if (contents.createData(out)) {
            cj.dataHeader.write(*contents.m_pStream);
            if (contents.beginRecord(cj.recordHeader.m_Cmd, nullptr, nullptr, kSubCmdValues)) {
                message.write(*contents.m_pStream);
                written = contents.m_pStream->ok() && contents.finishRecord(out);
            }
        }
    }
    if (written && SUCCEEDED(out->Commit())) {
        return true;
    }
    ULONG ignored = 0;
    (void)out->SetByteCount(size);
    (void)out->Seek(position, 0, &ignored);
    return false;
}

// An output object that is missing or not ready gets nothing, and the client hears of it.
HRESULT HandToOutput(CCoTrace& trace, YDB_Contents& contents, const SValuesCall& call,
                     const SYDBMessage& cj, Upp_DebVarService& message, ULONG* pStatus) {
    const ComPtr<IYDB_Data> out = AsYDB(call.outData);
    if (!out) {
        return FailedYDB(trace, pStatus, S_OK);
    }
    ULONG ready = 0;
    const HRESULT hr = out->IsWritable(&ready);
    if (FAILED(hr) || ready == 0) {
        return FailedYDB(trace, pStatus, FAILED(hr) ? E_FAIL : S_OK);
    }
    if (!WriteOutput(contents, out.get(), cj, message)) {
        return FailedYDB(trace, pStatus, E_FAIL);
    }
    CO_TRACE(trace, TRACE_INFO, "YDB-data copied for SJ ES_JobID: %u",
             static_cast<unsigned>(call.jobID));
    return S_OK;
}

// The CJ's data object keeps its request: a merge reads it as the CJ's message and a joining
// SJ receives it, so the SJ's response is never written back into it.
HRESULT HandOnValues(CCoTrace& trace, YDB_Contents& contents, IYDB_Data* cjData, SValuesCall& call,
                     ULONG* pStatus) {
    SYDBMessage collection;
    ReadMessage(cjData, collection);
    CO_TRACE(trace, TRACE_INFO, "Cmd %d in collection job JobID: %u",
             static_cast<int>(collection.message.m_ServiceType),
             static_cast<unsigned>(call.cjJobID));
    if (ReadFailed(collection)) {
        return FailedRead(collection, pStatus);
    }
    const Upp_DebJobDescr& job = collection.message.m_JobDescr;
    call.cycle = job.m_JobType == kJobTypeCycle ? static_cast<LONG>(job.m_Param) : 0;
    const ComPtr<IYDB_Data> sj = AsYDB(call.sjData);
    if (!sj) {
        return FailedYDB(trace, pStatus, S_OK);
    }
    SYDBMessage single;  // its own object: nothing of the CJ's read reaches the SJ's answer
    ReadMessage(sj.get(), single);
    if (ReadFailed(single)) {
        return FailedRead(single, pStatus);
    }
    const Upp_DebVarService& m = single.message;
    if (m.m_ServiceType == kServicePassedOn || m.m_RspQualifier == kQualifierPassedOn) {
        return HandToOutput(trace, contents, call, collection, single.message, pStatus);
    }
    Upp_DebVarService response(kMessageVariant, kListTag);
    if (FAILED(sj->Commit()) || !BuildResponse(trace, single, call, response)) {
        return FailedYDB(trace, pStatus, E_FAIL);
    }
    return HandToOutput(trace, contents, call, collection, response, pStatus);
}

}  // namespace

void CCollectionJobSymAcc::dumpYDBvalues(const Upp_DebVar&) {
    CJ_SCOPE(trace, "dumpYDBvalues");
}

HRESULT STDMETHODCALLTYPE CCollectionJobSymAcc::UpdateYDBValues(ULONG jobID, IUnknown* sjData,
                                                                IUnknown* outData, ULONG* pCJJobID,
                                                                CJAsyncRQRecord* pRecord,
                                                                ULONG* pStatus) {
    CJ_SCOPE(trace, "UpdateYDBValues");
    try {
        CJ_RETURN_IF_NULL(trace, pStatus);
        *pStatus = 0;
        if (pRecord != nullptr) {
            ResetRecord(pRecord);
        }
        CAsyncRQGuard lock(m_pRQ.get());
        if (!m_pRQ) {
            return E_OUTOFMEMORY;
        }
        const CAsyncRQEntry* cj = m_bValueComparison ? m_pRQ->GetCJOfSJOrParent(jobID) : nullptr;
        if (cj == nullptr) {
            CO_TRACE(trace, TRACE_WARNING, "collection job %u not found",
                     static_cast<unsigned>(jobID));
            return Refuse(pStatus, CJ_STATUS_JOB_NOT_FOUND);
        }
        SValuesCall call{jobID, cj->m_ES_JobID, cj->ms, sjData, outData};
        if (pCJJobID != nullptr) {
            *pCJJobID = call.cjJobID;
        }
        if (cj->m_RQStatus == STATE_STOP) {
            CO_TRACE(trace, TRACE_INFO, "creation of collection job %u,cycle: %d in progress",
                     static_cast<unsigned>(call.cjJobID), static_cast<int>(call.cycle));
            return Refuse(pStatus, CJ_STATUS_RECREATING);
        }
        const ComPtr<IYDB_Data> cjData = AsYDB(cj->m_spYDBData.get());
        if (!cjData) {
            CO_TRACE(trace, TRACE_ERROR, "QI for IYDB_Data failed");
            *pStatus = CJ_STATUS_JOB_NOT_FOUND;  // a CJ whose data object could not be made
            return E_FAIL;
        }
        const HRESULT hr = HandOnValues(trace, *this, cjData.get(), call, pStatus);
        CO_TRACE(trace, TRACE_INFO, "values set in collection job %u,cycle: %d",
                 static_cast<unsigned>(call.cjJobID), static_cast<int>(call.cycle));
        if (pRecord != nullptr) {
            (void)FillCJAsychronRQEntry(pRecord, *cj);
        }
        return hr;
    }
    CO_CATCH_RETURN_TRACED(trace)
}
