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
        return answer({1, jobID, reason, 0, 0}, pStatus, deleteStatus);
    }
    HRESULT STDMETHODCALLTYPE UpdateJob(ULONG jobID, CJAsyncRQRecord record,
                                        ULONG* pStatus) override {
        return answer({2, jobID, record.containing, record.ms, 0}, pStatus, updateStatus);
    }
    HRESULT STDMETHODCALLTYPE Reserved3() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE StartService(LONG cycle, ULONG value, ULONG sjJobID, ULONG cjJobID,
                                           ULONG* pResult) override {
        return answer({4, cjJobID, value, cycle, sjJobID}, pResult, startResult);
    }

    std::vector<DecodeCall> calls() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_calls;
    }

    ULONG deleteStatus = 0;
    ULONG updateStatus = 0;
    ULONG startResult = 0;

  private:
    HRESULT answer(const DecodeCall& call, ULONG* out, ULONG value) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_calls.push_back(call);
        if (out != nullptr) {
            *out = value;
        }
        return S_OK;
    }

    mutable std::mutex m_lock;
    std::vector<DecodeCall> m_calls;
};

}  // namespace testing_support
