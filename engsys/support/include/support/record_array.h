// A one-dimensional array of records as a client could hand one over (VT_ARRAY | VT_RECORD),
// without a record info behind it: code that must refuse records has to do so by the array's
// kind before it touches an element, or it reaches for the missing record info (on Windows) or
// takes the record's bytes for something else.
#pragma once

#include "platform/winapi.h"

namespace testing_support {

class RecordArray {
  public:
    explicit RecordArray(ULONG count, ULONG recordBytes = 16) {
        if (SUCCEEDED(SafeArrayAllocDescriptor(1, &m_psa))) {
            m_psa->cbElements = recordBytes;
            m_psa->fFeatures = FADF_RECORD;
            m_psa->rgsabound[0].cElements = count;
            m_psa->rgsabound[0].lLbound = 0;
            (void)SafeArrayAllocData(m_psa);
        }
        VariantInit(&m_variant);
        m_variant.vt = VT_ARRAY | VT_RECORD;
        m_variant.parray = m_psa;
    }
    // The record flag goes first, so that destroying the array asks no record info to clear.
    ~RecordArray() {
        if (m_psa != nullptr) {
            m_psa->fFeatures = 0;
            (void)SafeArrayDestroy(m_psa);
        }
    }
    RecordArray(const RecordArray&) = delete;
    RecordArray& operator=(const RecordArray&) = delete;

    bool ready() const { return m_psa != nullptr && m_psa->pvData != nullptr; }
    SAFEARRAY* array() const { return m_psa; }
    // The VARIANT a client passes; it does not own the array.
    VARIANT* variant() { return &m_variant; }

  private:
    SAFEARRAY* m_psa = nullptr;
    VARIANT m_variant;
};

}  // namespace testing_support
