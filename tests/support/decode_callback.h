// A client's decode callback as tests need it: counts its references, records every call with
// its arguments, answers with scripted statuses, and aggregates the free-threaded marshaler as
// the in-process clients of a free-threaded component do.
#pragma once

#include <mutex>
#include <vector>

#include "collectionjobsymacc.h"
#include "platform/com_object.h"
#include "platform/winapi.h"

namespace testing_support {

struct DecodeCall {
    int operation;  // 1 delete, 2 update, 4 start
    ULONG jobID;
    ULONG arg;  // reason (delete), containing of the record (update), value (start)
    LONG cycle;
    ULONG sjJobID;
};

// Owned by the test: reaching zero does not delete.
class RecordingDecode
    : public platform::ComObject<RecordingDecode, platform::CallerOwned, IMC_YDBDecode> {
  public:
    RecordingDecode() { AggregateFreeThreadedMarshaler(); }

    HRESULT STDMETHODCALLTYPE DeleteJob(ULONG jobID, ULONG reason, ULONG* pStatus) override {
        record({1, jobID, reason, 0, 0});
        if (pStatus != nullptr) {
            *pStatus = deleteStatus;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE UpdateJob(ULONG jobID, CJAsyncRQRecord record_,
                                        ULONG* pStatus) override {
        record({2, jobID, record_.containing, record_.ms, 0});
        if (pStatus != nullptr) {
            *pStatus = updateStatus;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reserved3() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE StartService(LONG cycle, ULONG value, ULONG sjJobID, ULONG cjJobID,
                                           ULONG* pResult) override {
        record({4, cjJobID, value, cycle, sjJobID});
        if (pResult != nullptr) {
            *pResult = startResult;
        }
        return S_OK;
    }

    std::vector<DecodeCall> calls() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_calls;
    }

    ULONG deleteStatus = 0;
    ULONG updateStatus = 0;
    ULONG startResult = 0;

  private:
    void record(const DecodeCall& call) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_calls.push_back(call);
    }

    mutable std::mutex m_lock;
    std::vector<DecodeCall> m_calls;
};

}  // namespace testing_support
