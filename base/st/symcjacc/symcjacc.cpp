// The component object: construction, the interface's identity, the job bounds and the device
// properties. The job operations live beside it, one source per road.
#include "base/st/symcjacc/symcjacc.h"

#include <cstring>
#include <new>

#include "base/st/symcjacc/symcjacc_internal.h"
#include "platform/raii.h"

namespace {

// Job numbers handed to clients; shared by every object of the process.
std::atomic<ULONG> g_JobNumber{0x80000000};

}  // namespace

CCollectionJobSymAcc::CCollectionJobSymAcc() {
    CJ_SCOPE(trace, "CCollectionJobSymAcc");
    CO_TRACE(trace, TRACE_CONSTRUCTION, "CTOR");
    m_pRQ.reset(new (std::nothrow) CAsychronRQ);
}

CCollectionJobSymAcc::~CCollectionJobSymAcc() {
    CJ_SCOPE(trace, "~CCollectionJobSymAcc");
    try {
        m_pRQ.reset();
    } catch (...) {
        CoDiagnosticsReport();
        CO_TRACE(trace, TRACE_ERROR, "caught any unhandled exception");
    }
}

// ---- settings -------------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE CCollectionJobSymAcc::setMaxJobs(ULONG maxJobs, ULONG limit, ULONG flag) {
    CJ_SCOPE(trace, "setMaxJobs");
    m_dwMaxJobs = maxJobs;
    m_dwMaxSize = limit;  // the same bound that setLimits sets second
    m_bMaxJobsFlag = flag != 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CCollectionJobSymAcc::getMaxJobs(ULONG* pMaxJobs, ULONG* pInfo,
                                                           ULONG* pFlag) {
    CJ_SCOPE(trace, "getMaxJobs");
    CJ_RETURN_IF_NULL(trace, pMaxJobs, pInfo, pFlag);
    *pMaxJobs = m_dwMaxJobs;
    *pInfo = m_dwMaxJobsInfo;
    *pFlag = m_bMaxJobsFlag ? 1 : 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CCollectionJobSymAcc::setLimits(ULONG maxVars, ULONG maxSize) {
    CJ_SCOPE(trace, "setLimits");
    m_dwMaxVars = maxVars;
    m_dwMaxSize = maxSize;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CCollectionJobSymAcc::getLimits(ULONG* pMaxVars, ULONG* pMaxSize) {
    CJ_SCOPE(trace, "getLimits");
    CJ_RETURN_IF_NULL(trace, pMaxVars, pMaxSize);
    *pMaxVars = m_dwMaxVars;
    *pMaxSize = m_dwMaxSize;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CCollectionJobSymAcc::setMode(ULONG mode) {
    CJ_SCOPE(trace, "setMode");
    m_dwMode = mode;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CCollectionJobSymAcc::getMode(ULONG* pMode) {
    CJ_SCOPE(trace, "getMode");
    CJ_RETURN_IF_NULL(trace, pMode);
    *pMode = m_dwMode;
    return S_OK;
}

// ---- device properties ----------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE CCollectionJobSymAcc::checkProperties(VARIANT devType,
                                                                const char* pszTypeID,
                                                                IUnknown* pInstDetails) {
    CJ_SCOPE(trace, "checkProperties");
    try {
        platform::ComPtr<IMC_InstDetails> spIInstDetails;
        if (pInstDetails == nullptr ||
            FAILED(pInstDetails->QueryInterface(IID_IMC_InstDetails, spIInstDetails.put_void())) ||
            !spIInstDetails) {
            return 0x0000FFFF;
        }
        const platform::UniqueBstr key = platform::UniqueBstr::from(OLESTR("BI_VALUE_COMPARISON"));
        platform::UniqueBstr bstrTmp;
        ULONG dwRet = 0;
        HRESULT hr = E_FAIL;
        try {
            hr = spIInstDetails->getAttributeByTypeID(devType, key.get(), bstrTmp.put(), &dwRet);
        } catch (...) {
            hr = E_FAIL;
            CO_TRACE(trace, TRACE_ERROR,
                     "caught exception calling spIInstDetails->getAttributeByTypeID(devType, "
                     "ATTRIBKEY_VALUECOMPARISON, &bstrTmp, &dwRet)");
        }
        if (FAILED(hr) || dwRet != 0) {
            CO_TRACE(trace, TRACE_ERROR,
                     "error calling spIInstDetails->getAttributeByTypeID(devType, "
                     "ATTRIBKEY_VALUECOMPARISON, &bstrTmp, &dwRet) hr = 0x%lX (%s), ret=0x%lX",
                     static_cast<unsigned long>(static_cast<ULONG>(hr)),
                     hr == S_OK ? "S_OK" : CCoHResultText(hr).c_str(),
                     static_cast<unsigned long>(dwRet));
            if (dwRet == 0) {
                dwRet = 0xFFFF;
            }
        }
        if (hr == S_OK && dwRet == 0 && bstrTmp.get() != nullptr &&
            SysStringLen(bstrTmp.get()) == 3 &&
            std::memcmp(bstrTmp.get(), OLESTR("YES"), 3 * sizeof(OLECHAR)) == 0) {
            m_bValueComparison = true;
        }
        {
            std::lock_guard<std::mutex> guard(m_TypeIDLock);
            m_strTypeID = pszTypeID != nullptr ? pszTypeID : "";
        }
        return hr;
    }
    CO_CATCH_RETURN_TRACED(trace)
}

HRESULT STDMETHODCALLTYPE CCollectionJobSymAcc::getProperties(char** ppTypeID,
                                                              ULONG* pValueComparison) {
    CJ_SCOPE(trace, "getProperties");
    try {
        CJ_RETURN_IF_NULL(trace, ppTypeID, pValueComparison);
        std::lock_guard<std::mutex> guard(m_TypeIDLock);
        if (m_strTypeID.empty()) {
            CO_TRACE(trace, TRACE_ERROR, "invalid type id");
            return E_ABORT;
        }
        const size_t size = m_strTypeID.size() + 1;
        auto* copy = static_cast<char*>(CoTaskMemAlloc(size));
        if (copy == nullptr) {
            CO_TRACE(trace, TRACE_ERROR, "out of memory");
            return E_OUTOFMEMORY;
        }
        std::memcpy(copy, m_strTypeID.c_str(), size);
        *ppTypeID = copy;
        *pValueComparison = m_bValueComparison ? 1 : 0;
        return S_OK;
    }
    CO_CATCH_RETURN_TRACED(trace)
}

// ---- job numbers ----------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE CCollectionJobSymAcc::newJobID(ULONG* pID) {
    if (pID == nullptr) {
        CJ_SCOPE(trace, "newJobID");
        CO_TRACE(trace, TRACE_ERROR, "error: NULL pointer argument");
        return E_POINTER;
    }
    // Atomic, so that two threads never get the same number; past 0xFFFFFFFF it starts again
    // at 0x80000000.
    ULONG current = g_JobNumber.load();
    ULONG next = 0;
    do {
        next = current + 1;
        if (next < 0x80000000) {
            next = 0x80000000;
        }
    } while (!g_JobNumber.compare_exchange_weak(current, next));
    *pID = next;
    return S_OK;
}
