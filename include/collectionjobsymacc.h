// The public interface of the collection-job component: IMC_CollectionJobSymAcc, the flat job
// records it hands to clients, the clients' decode callback, and the class and interface ids.
#pragma once

#include <cstddef>
#include <cstring>

#include "mc_callbacks.h"
#include "platform/com_ptr.h"
#include "platform/winapi.h"
#include "ydb_data.h"

// One single job of a collection job, as handed to the client (48 bytes).
struct SJAsyncRQRecord {
    LONG Typ;
    ULONG Reserved;
    USHORT RQStatus;
    USHORT Unwritten;  // never written by the component
    ULONG ES_JobID;
    ULONG Service;  // 1 joined on the IVar service, 0 on the YDB service
    ULONG parent_ES_JobID;
    ULONG next_ES_JobID;
    ULONG VarCount;
    ULONG CookieICB_Interface;
    ULONG bICB_InterfaceValid;
    ULONG CookieIYDBDecode;
    ULONG bIYDBDecodeValid;
};

// A flat copy of a collection job (88 bytes in 32-bit builds). The caller owns it: before the
// component fills a record again it clears m_LookupTbl and frees m_pSJ with CoTaskMemFree, so a
// record handed in for the first time must be zeroed (VARIANT empty, pointer null).
struct CJAsyncRQRecord {
    LONG m_Typ;
    ULONG m_ES_JobID;
    ULONG m_RT_JobID;
    USHORT m_RQStatus;  // low 16 bits of the state: 1 created, 2 running, 3 stopped
    USHORT m_Unwritten;
    LONG ms;
    ULONG m_oldCookieIYDBDecode;
    ULONG m_bOldIYDBDecodeValid;
    ULONG m_newCookieIYDBDecode;
    ULONG m_bNewIYDBDecodeValid;
    ULONG m_oldCookieICB_Decode;
    ULONG m_bOldICB_DecodeValid;
    ULONG m_newCookieICB_Decode;
    ULONG m_bNewICB_DecodeValid;
    ULONG m_VarCount;  // variables of the latest addition
    LONG ticks;
    ULONG containing;  // number of records at m_pSJ
    VARIANT m_LookupTbl;
    SJAsyncRQRecord* m_pSJ;  // CoTaskMemAlloc'd, owned by the record
};

// Clients of 32-bit builds rely on these offsets byte for byte.
static_assert(sizeof(SJAsyncRQRecord) == 48, "SJAsyncRQRecord is 48 bytes");
static_assert(offsetof(SJAsyncRQRecord, RQStatus) == 8 &&
                  offsetof(SJAsyncRQRecord, ES_JobID) == 12 &&
                  offsetof(SJAsyncRQRecord, VarCount) == 28 &&
                  offsetof(SJAsyncRQRecord, CookieICB_Interface) == 32,
              "SJAsyncRQRecord offsets");
static_assert(offsetof(CJAsyncRQRecord, m_RQStatus) == 12 && offsetof(CJAsyncRQRecord, ms) == 16 &&
                  offsetof(CJAsyncRQRecord, m_oldCookieIYDBDecode) == 20 &&
                  offsetof(CJAsyncRQRecord, m_VarCount) == 52 &&
                  offsetof(CJAsyncRQRecord, containing) == 60,
              "CJAsyncRQRecord offsets");
static_assert(sizeof(void*) != 4 ||
                  (offsetof(CJAsyncRQRecord, m_LookupTbl) == 64 &&
                   offsetof(CJAsyncRQRecord, m_pSJ) == 80 && sizeof(CJAsyncRQRecord) == 88),
              "CJAsyncRQRecord layout of 32-bit builds");

// Action word of a join (bits; the client acts on them on the target).
inline constexpr ULONG CJ_ACTION_ALONE = 0x001;   // run the SJ as its own job (alone: not joined)
inline constexpr ULONG CJ_ACTION_STOP = 0x002;    // the CJ was stopped: re-create it
inline constexpr ULONG CJ_ACTION_RECORD = 0x014;  // the record holds the CJ, its id returned
inline constexpr ULONG CJ_ACTION_EXTRA =
    0x040;  // YDB: >2 SJs or a client id; IVar: id above the limit
inline constexpr ULONG CJ_ACTION_UNCHANGED = 0x100;  // set by the caller: change nothing

// Outcome of cancelASynch (bits).
inline constexpr ULONG CJ_CANCEL_CJ_REMOVED = 0x02;  // the unconfirmed CJ was removed with its SJs
inline constexpr ULONG CJ_CANCEL_CJ_DELETED = 0x20;  // with 0x80: the emptied CJ was deleted
inline constexpr ULONG CJ_CANCEL_SJ_REMOVED = 0x80;  // the SJ left a running CJ

// Owns one CJAsyncRQRecord across the calls that fill it: zeroed before the first call, what it
// holds freed after the last. Hand get() to the joins as it is; before UpdateJobState or
// cancelASynch, which only zero a record, call reset() so that nothing the record held leaks.
class CJAsyncRQRecordHolder {
  public:
    CJAsyncRQRecordHolder() noexcept { zero(); }
    ~CJAsyncRQRecordHolder() { reset(); }
    CJAsyncRQRecordHolder(const CJAsyncRQRecordHolder&) = delete;
    CJAsyncRQRecordHolder& operator=(const CJAsyncRQRecordHolder&) = delete;

    CJAsyncRQRecord* get() noexcept { return &m_record; }
    const CJAsyncRQRecord* get() const noexcept { return &m_record; }
    CJAsyncRQRecord* operator->() noexcept { return &m_record; }
    const CJAsyncRQRecord* operator->() const noexcept { return &m_record; }
    // The single-job records, containing of them.
    const SJAsyncRQRecord* begin() const noexcept { return m_record.m_pSJ; }
    const SJAsyncRQRecord* end() const noexcept {
        return m_record.m_pSJ == nullptr ? nullptr : m_record.m_pSJ + m_record.containing;
    }
    // Frees what the record holds and leaves it zeroed.
    void reset() noexcept {
        (void)VariantClear(&m_record.m_LookupTbl);
        CoTaskMemFree(m_record.m_pSJ);
        zero();
    }

  private:
    void zero() noexcept {
        std::memset(static_cast<void*>(&m_record), 0, sizeof m_record);
        VariantInit(&m_record.m_LookupTbl);
    }
    CJAsyncRQRecord m_record;
};

// A collection job's decode callback, implemented by clients. The component calls it with its
// registry lock released (except when a cancel deletes a collection job) and passes the out
// status of DeleteJob and UpdateJob back to its own caller unchanged.
struct IMC_YDBDecode : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE DeleteJob(ULONG jobID, ULONG reason, ULONG* pStatus) = 0;
    virtual HRESULT STDMETHODCALLTYPE UpdateJob(ULONG jobID, CJAsyncRQRecord record,
                                                ULONG* pStatus) = 0;
    // Not called by the component.
    virtual HRESULT STDMETHODCALLTYPE Reserved3() = 0;
    virtual HRESULT STDMETHODCALLTYPE StartService(LONG cycle, ULONG value, ULONG sjJobID,
                                                   ULONG cjJobID, ULONG* pResult) = 0;
};

// {35AE730D-8FC9-4A6E-B588-61FA37A725FD}
PLATFORM_DEFINE_GUID(IID_IMC_YDBDecode, 0x35AE730D, 0x8FC9, 0x4A6E, 0xB5, 0x88, 0x61, 0xFA, 0x37,
                     0xA7, 0x25, 0xFD);
PLATFORM_INTERFACE_ID(IMC_YDBDecode, IID_IMC_YDBDecode);

// Reason that a cancel passes to DeleteJob when it empties a collection job.
inline constexpr ULONG MC_DELETE_REASON_EMPTIED = 1226;

// The component's interface. Every method uses the COM calling convention; ids, cycle times,
// types and status words are 32-bit. Callbacks and data objects travel as IUnknown and are asked
// for their interface by the component.
struct IMC_CollectionJobSymAcc : public IUnknown {
    // Adds the request message in the client's data object sjData (IYDB_Data, read only) to a YDB
    // CJ of the cycle and type with room, or creates one; the component keeps its own copy.
    virtual HRESULT STDMETHODCALLTYPE addSymbolsYDB(LONG cycle, LONG typ, IUnknown* sjData,
                                                    ULONG sjJobID, ULONG* pStatus) = 0;
    // Adds the client's ANY-pointer names (a VARIANT vector, copied) to the IVar CJ of the cycle
    // and type, or creates one; CJ_STATUS_ADD_FAILED in *pStatus when they cannot be used.
    virtual HRESULT STDMETHODCALLTYPE addSymbolsIVar(LONG cycle, LONG typ, VARIANT names,
                                                     ULONG sjJobID, ULONG* pStatus) = 0;
    // Joins SJ *pSJJobID to its YDB CJ and writes the CJ's whole message into sjData; *pAction
    // says what to do (CJ_ACTION_*). *pRecord is the caller's: freed, then filled.
    virtual HRESULT STDMETHODCALLTYPE UpdateYDBJobEntry(LONG cycle, LONG typ, IUnknown* sjDisp,
                                                        ULONG* pSJJobID, ULONG* pCJJobID,
                                                        IUnknown* sjData, CJAsyncRQRecord* pRecord,
                                                        ULONG* pAction, ULONG* pStatus) = 0;
    // Hands out the IVar CJ's target names in *pNames (the caller's, to clear) and joins SJ
    // *pSJJobID to it; *pAction as for YDB. *pRecord is the caller's: freed, then filled.
    virtual HRESULT STDMETHODCALLTYPE UpdateIVarJobEntry(LONG cycle, LONG typ, IUnknown* sjICB,
                                                         ULONG* pSJJobID, ULONG* pCJJobID,
                                                         VARIANT* pNames, CJAsyncRQRecord* pRecord,
                                                         ULONG* pAction, ULONG* pStatus) = 0;
    // Reports that the client re-created SJ sjJobID's CJ on the target under newCJJobID. Zeroes
    // *pRecord without freeing it, then fills it with the renamed CJ.
    virtual HRESULT STDMETHODCALLTYPE UpdateJobState(LONG cycle, LONG typ, ULONG sjJobID,
                                                     ULONG newCJJobID, ULONG* pAction,
                                                     CJAsyncRQRecord* pRecord, ULONG* pStatus) = 0;
    // Cancels single job jobID; *pAction gets the outcome (CJ_CANCEL_*), *pCJJobID its CJ. Zeroes
    // *pRecord without freeing it; filled when the SJ left a running CJ.
    virtual HRESULT STDMETHODCALLTYPE cancelASynch(ULONG jobID, ULONG* pCJJobID,
                                                   CJAsyncRQRecord* pRecord, ULONG* pAction,
                                                   ULONG* pStatus) = 0;
    // The YDB road's values of job jobID, between the data objects sjData and outData; not
    // available in this build (E_NOTIMPL).
    virtual HRESULT STDMETHODCALLTYPE UpdateYDBValues(ULONG jobID, IUnknown* sjData,
                                                      IUnknown* outData, ULONG* pCJJobID,
                                                      CJAsyncRQRecord* pRecord, ULONG* pStatus) = 0;
    // Copies IVar CJ jobID's lookup table (requested name -> reformed name, offset, count) into
    // *pLookupTbl, which the caller owns and the call clears first.
    virtual HRESULT STDMETHODCALLTYPE GetIVarLookupTbl(ULONG jobID, LONG typ, VARIANT* pLookupTbl,
                                                       ULONG* pResult) = 0;
    // Reads the device's value-comparison attribute through pInstDetails (IMC_InstDetails) and
    // keeps pszTypeID (copied) for getProperties.
    virtual HRESULT STDMETHODCALLTYPE checkProperties(VARIANT devType, const char* pszTypeID,
                                                      IUnknown* pInstDetails) = 0;
    // The type id kept by checkProperties (*ppTypeID is CoTaskMemAlloc'd; the caller frees it)
    // and whether values are compared; E_ABORT while no type id is kept.
    virtual HRESULT STDMETHODCALLTYPE getProperties(char** ppTypeID, ULONG* pValueComparison) = 0;
    // CJ ids below maxJobs are the component's to give; limit sets the YDB size limit as well.
    virtual HRESULT STDMETHODCALLTYPE setMaxJobs(ULONG maxJobs, ULONG limit, ULONG flag) = 0;
    // The values setMaxJobs set (*pInfo: reserved, 0).
    virtual HRESULT STDMETHODCALLTYPE getMaxJobs(ULONG* pMaxJobs, ULONG* pInfo, ULONG* pFlag) = 0;
    // Room of a YDB CJ: variables and bytes of variable data, both inclusive.
    virtual HRESULT STDMETHODCALLTYPE setLimits(ULONG maxVars, ULONG maxSize) = 0;
    // The room of a YDB CJ.
    virtual HRESULT STDMETHODCALLTYPE getLimits(ULONG* pMaxVars, ULONG* pMaxSize) = 0;
    // A mode word kept for the client; the component does not act on it.
    virtual HRESULT STDMETHODCALLTYPE setMode(ULONG mode) = 0;
    // The mode word last set.
    virtual HRESULT STDMETHODCALLTYPE getMode(ULONG* pMode) = 0;
    // Type and cycle of the CJ that holds, joined last or is job jobID; CJ_STATUS_JOB_NOT_FOUND
    // in *pStatus when none does.
    virtual HRESULT STDMETHODCALLTYPE getJobProperties(ULONG jobID, LONG* pTyp, LONG* pCycle,
                                                       ULONG* pStatus) = 0;
    // The target confirms YDB CJ cjJobID (one tick; it runs at 0); while it has none, the CJ
    // keeps decodeCallback (IMC_YDBDecode; a reference held until the CJ goes).
    virtual HRESULT STDMETHODCALLTYPE UpdateCJ_YDBCB(LONG unused, LONG typ, ULONG cjJobID,
                                                     IUnknown* decodeCallback, ULONG* pStatus) = 0;
    // The target confirms IVar CJ cjJobID: it runs, and decodeCallback (a reference held until
    // the CJ goes) replaces the previous one.
    virtual HRESULT STDMETHODCALLTYPE UpdateCJ_IVarCB(LONG unused, LONG typ, ULONG cjJobID,
                                                      IUnknown* decodeCallback, ULONG* pStatus) = 0;
    // Asks the YDB CJ's decode callback to delete it on the target (registry lock released); the
    // registry keeps the CJ.
    virtual HRESULT STDMETHODCALLTYPE deleteYDBCJob(ULONG cjJobID, LONG typ, ULONG reason,
                                                    ULONG* pStatus) = 0;
    // Hands the YDB CJ's record to its decode callback's UpdateJob; the record is the
    // component's, valid during the call.
    virtual HRESULT STDMETHODCALLTYPE updateYDBCJob(ULONG cjJobID, LONG typ, ULONG* pStatus) = 0;
    // As deleteYDBCJob, through the IVar CJ's decode callback.
    virtual HRESULT STDMETHODCALLTYPE deleteIVarCJob(ULONG cjJobID, LONG typ, ULONG reason,
                                                     ULONG* pStatus) = 0;
    // As updateYDBCJob, for an IVar CJ (the callback is given the CJ's id before its renaming).
    virtual HRESULT STDMETHODCALLTYPE updateIVarCJob(ULONG cjJobID, LONG typ, ULONG* pStatus) = 0;
    // Records the controller's run-time id of the CJ holding SJ sjJobID (else of CJ cjJobID).
    virtual HRESULT STDMETHODCALLTYPE setRt_JobID(LONG cycle, LONG typ, ULONG sjJobID,
                                                  ULONG cjJobID, ULONG rtJobID, ULONG* pStatus) = 0;
    // Replaces the ES id in *pJobID (a CJ's or an SJ's, above 0x80000000) with its CJ's run-time
    // id, 0 when none; smaller ids stay as they are.
    virtual HRESULT STDMETHODCALLTYPE getRt_JobID(LONG cycle, ULONG ignored, ULONG* pJobID,
                                                  ULONG* pStatus) = 0;
    // The CJ of the cycle and type holding SJ sjJobID: its id in *pCJJobID, *pState 8 when it
    // holds SJs, else 4.
    virtual HRESULT STDMETHODCALLTYPE existCycle(LONG cycle, LONG typ, ULONG sjJobID,
                                                 ULONG* pCJJobID, ULONG* pState) = 0;
    // A new single-job id, above 0x80000000, unique in the process until the numbers wrap.
    virtual HRESULT STDMETHODCALLTYPE newJobID(ULONG* pID) = 0;
    // Joins SJ sjJobID again and asks YDB CJ cjJobID's decode callback to start its service;
    // *pResult is the callback's answer.
    virtual HRESULT STDMETHODCALLTYPE startYDBService(LONG cycle, LONG typ, ULONG value,
                                                      ULONG sjJobID, ULONG cjJobID,
                                                      IUnknown* sjDisp, ULONG* pResult) = 0;
};

// {610B3F95-B9A1-4CB9-970B-6138466AC804}
PLATFORM_DEFINE_GUID(IID_IMC_CollectionJobSymAcc, 0x610B3F95, 0xB9A1, 0x4CB9, 0x97, 0x0B, 0x61,
                     0x38, 0x46, 0x6A, 0xC8, 0x04);
PLATFORM_INTERFACE_ID(IMC_CollectionJobSymAcc, IID_IMC_CollectionJobSymAcc);

// The component class. {483CF5CF-1E62-49d0-AE9D-66B708239993}
PLATFORM_DEFINE_GUID(CLSID_CollectionJobSymAcc, 0x483CF5CF, 0x1E62, 0x49D0, 0xAE, 0x9D, 0x66, 0xB7,
                     0x08, 0x23, 0x99, 0x93);

// Engineering-system status codes returned in status words.
inline constexpr ULONG CJ_STATUS_ADD_FAILED = 0xBE09FFFF;
inline constexpr ULONG CJ_STATUS_JOB_NOT_FOUND = 0xBE09000D;
inline constexpr ULONG CJ_STATUS_RECREATING = 0xBE090047;
inline constexpr ULONG CJ_STATUS_UPDATE_NOT_FOUND = 0xBE090048;
