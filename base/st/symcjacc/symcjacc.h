// The component object: the one class the component exposes, owning the request registry of its
// collection and single jobs, the job bounds and the device properties.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "base/st/symcjacc/asychronrq.h"
#include "co/co_trace.h"
#include "collectionjobsymacc.h"
#include "onl/ydbservice/yydb_contents.h"
#include "platform/com_object.h"
#include "platform/winapi.h"

class Upp_DebVar;
namespace symcjacc {
enum class DecodeSide;
}  // namespace symcjacc

// The YDB contents base frames the records the object writes into collection jobs' data objects.
// IUnknown is free-threaded: its count changes atomically.
class CCollectionJobSymAcc
    : public platform::ComObject<CCollectionJobSymAcc, platform::DeleteAtZero,
                                 IMC_CollectionJobSymAcc>,
      public YDB_Contents {
  public:
    CCollectionJobSymAcc();
    virtual ~CCollectionJobSymAcc();
    CCollectionJobSymAcc(const CCollectionJobSymAcc&) = delete;
    CCollectionJobSymAcc& operator=(const CCollectionJobSymAcc&) = delete;

    // IMC_CollectionJobSymAcc, in slot order.
    HRESULT STDMETHODCALLTYPE addSymbolsYDB(LONG cycle, LONG typ, IUnknown* sjData, ULONG sjJobID,
                                            ULONG* pStatus) override;
    HRESULT STDMETHODCALLTYPE addSymbolsIVar(LONG cycle, LONG typ, VARIANT names, ULONG sjJobID,
                                             ULONG* pStatus) override;
    HRESULT STDMETHODCALLTYPE UpdateYDBJobEntry(LONG cycle, LONG typ, IUnknown* sjDisp,
                                                ULONG* pSJJobID, ULONG* pCJJobID, IUnknown* sjData,
                                                CJAsyncRQRecord* pRecord, ULONG* pAction,
                                                ULONG* pStatus) override;
    HRESULT STDMETHODCALLTYPE UpdateIVarJobEntry(LONG cycle, LONG typ, IUnknown* sjICB,
                                                 ULONG* pSJJobID, ULONG* pCJJobID, VARIANT* pNames,
                                                 CJAsyncRQRecord* pRecord, ULONG* pAction,
                                                 ULONG* pStatus) override;
    HRESULT STDMETHODCALLTYPE UpdateJobState(LONG cycle, LONG typ, ULONG sjJobID, ULONG newCJJobID,
                                             ULONG* pAction, CJAsyncRQRecord* pRecord,
                                             ULONG* pStatus) override;
    HRESULT STDMETHODCALLTYPE cancelASynch(ULONG jobID, ULONG* pCJJobID, CJAsyncRQRecord* pRecord,
                                           ULONG* pAction, ULONG* pStatus) override;
    HRESULT STDMETHODCALLTYPE UpdateYDBValues(ULONG jobID, IUnknown* sjData, IUnknown* outData,
                                              ULONG* pCJJobID, CJAsyncRQRecord* pRecord,
                                              ULONG* pStatus) override;
    HRESULT STDMETHODCALLTYPE GetIVarLookupTbl(ULONG jobID, LONG typ, VARIANT* pLookupTbl,
                                               ULONG* pResult) override;
    HRESULT STDMETHODCALLTYPE checkProperties(VARIANT devType, const char* pszTypeID,
                                              IUnknown* pInstDetails) override;
    HRESULT STDMETHODCALLTYPE getProperties(char** ppTypeID, ULONG* pValueComparison) override;
    HRESULT STDMETHODCALLTYPE setMaxJobs(ULONG maxJobs, ULONG limit, ULONG flag) override;
    HRESULT STDMETHODCALLTYPE getMaxJobs(ULONG* pMaxJobs, ULONG* pInfo, ULONG* pFlag) override;
    HRESULT STDMETHODCALLTYPE setLimits(ULONG maxVars, ULONG maxSize) override;
    HRESULT STDMETHODCALLTYPE getLimits(ULONG* pMaxVars, ULONG* pMaxSize) override;
    HRESULT STDMETHODCALLTYPE setMode(ULONG mode) override;
    HRESULT STDMETHODCALLTYPE getMode(ULONG* pMode) override;
    HRESULT STDMETHODCALLTYPE getJobProperties(ULONG jobID, LONG* pTyp, LONG* pCycle,
                                               ULONG* pStatus) override;
    HRESULT STDMETHODCALLTYPE UpdateCJ_YDBCB(LONG unused, LONG typ, ULONG cjJobID,
                                             IUnknown* decodeCallback, ULONG* pStatus) override;
    HRESULT STDMETHODCALLTYPE UpdateCJ_IVarCB(LONG unused, LONG typ, ULONG cjJobID,
                                              IUnknown* decodeCallback, ULONG* pStatus) override;
    HRESULT STDMETHODCALLTYPE deleteYDBCJob(ULONG cjJobID, LONG typ, ULONG reason,
                                            ULONG* pStatus) override;
    HRESULT STDMETHODCALLTYPE updateYDBCJob(ULONG cjJobID, LONG typ, ULONG* pStatus) override;
    HRESULT STDMETHODCALLTYPE deleteIVarCJob(ULONG cjJobID, LONG typ, ULONG reason,
                                             ULONG* pStatus) override;
    HRESULT STDMETHODCALLTYPE updateIVarCJob(ULONG cjJobID, LONG typ, ULONG* pStatus) override;
    HRESULT STDMETHODCALLTYPE setRt_JobID(LONG cycle, LONG typ, ULONG sjJobID, ULONG cjJobID,
                                          ULONG rtJobID, ULONG* pStatus) override;
    HRESULT STDMETHODCALLTYPE getRt_JobID(LONG cycle, ULONG ignored, ULONG* pJobID,
                                          ULONG* pStatus) override;
    HRESULT STDMETHODCALLTYPE existCycle(LONG cycle, LONG typ, ULONG sjJobID, ULONG* pCJJobID,
                                         ULONG* pState) override;
    HRESULT STDMETHODCALLTYPE newJobID(ULONG* pID) override;
    HRESULT STDMETHODCALLTYPE startYDBService(LONG cycle, LONG typ, ULONG value, ULONG sjJobID,
                                              ULONG cjJobID, IUnknown* sjDisp,
                                              ULONG* pResult) override;

    // The hook every variable handed on to a single job passes; a trace scope only.
    static void dumpYDBvalues(const Upp_DebVar& variable);

  protected:
    std::unique_ptr<CAsychronRQ> m_pRQ;
    // Settings are set and read from any thread without the registry lock, hence atomic.
    std::atomic<ULONG> m_dwMinSymSize{2};  // SJs in a CJ at which it is stopped for re-creation
    std::atomic<bool> m_bValueComparison{false};
    std::atomic<bool> m_bMaxJobsFlag{false};
    std::atomic<ULONG> m_dwMaxJobs{8};
    std::atomic<ULONG> m_dwMaxJobsInfo{0};  // nothing sets it; getMaxJobs reports it second
    std::atomic<ULONG> m_dwMode{0};
    std::atomic<ULONG> m_dwMaxVars{256};   // per YDB collection job
    std::atomic<ULONG> m_dwMaxSize{2048};  // per YDB collection job, in bytes of variable data
    CCoCtorDtorTrace m_CtorDtorTrace{"CCollectionJobSymAcc"};
    std::mutex m_TypeIDLock;  // a string cannot be stored atomically
    std::string m_strTypeID;

  private:
    // Steps only the component's own methods take; tests reach them through the interface.
    // Joins an SJ to its YDB CJ (after UpdateYDBJobEntry, and again when its service starts).
    HRESULT UpdateJobEntry(LONG cycle, LONG typ, IUnknown* sjDisp, IUnknown* sjICB, ULONG* pSJJobID,
                           ULONG* pCJJobID, CJAsyncRQRecord* pRecord, ULONG* pAction,
                           ULONG* pStatus);
    // Joins an SJ to its IVar CJ (after UpdateIVarJobEntry handed out the CJ's names).
    HRESULT UpdateIVarEntry(LONG cycle, LONG typ, IUnknown* sjICB, ULONG* pSJJobID, ULONG* pCJJobID,
                            CJAsyncRQRecord* pRecord, ULONG* pAction, ULONG* pStatus);
    // The confirmation, delete and update of a CJ on either decode side; each traces as the
    // interface method of its side.
    HRESULT ConfirmCJ(symcjacc::DecodeSide side, LONG typ, ULONG cjJobID, IUnknown* decodeCallback,
                      ULONG* pStatus);
    HRESULT DeleteCJ(symcjacc::DecodeSide side, ULONG cjJobID, LONG typ, ULONG reason,
                     ULONG* pStatus);
    HRESULT UpdateCJ(symcjacc::DecodeSide side, ULONG cjJobID, LONG typ, ULONG* pStatus);
    // Trace dumps: every entry (when level 1 is on), one client record.
    void dumpJobEntries(const char* heading);
    static void dumpCJJobEntry(const CJAsyncRQRecord& record);
};
