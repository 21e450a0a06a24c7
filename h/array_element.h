// One element fetched from a SAFEARRAY by SafeArrayGetElement: held in a zeroed VARIANT-sized
// buffer, handed to SafeArrayPutElement in the form each element kind expects, and released
// according to what the source array owns (VARIANT, BSTR, interface or plain bytes).
#pragma once

#include <cstring>

#include "platform/winapi.h"

class CArrayElement {
  public:
    explicit CArrayElement(const SAFEARRAY* from) noexcept : m_features(from->fFeatures) {
        std::memset(&m_cell, 0, sizeof m_cell);
        VariantInit(&m_cell);
    }
    ~CArrayElement() { Release(); }
    CArrayElement(const CArrayElement&) = delete;
    CArrayElement& operator=(const CArrayElement&) = delete;

    // Element kinds that a VARIANT-sized cell can hold. A record is copied by its record info
    // into memory it owns, never as bytes, so records never fit.
    static bool Fits(const SAFEARRAY* psa) noexcept {
        return psa->cbElements <= sizeof(VARIANT) && !(psa->fFeatures & FADF_RECORD);
    }
    // True when elements of a can be stored into b as they are.
    static bool SameKind(const SAFEARRAY* a, const SAFEARRAY* b) noexcept {
        return a->cbElements == b->cbElements && Ownership(a->fFeatures) == Ownership(b->fFeatures);
    }

    void* Slot() noexcept { return &m_cell; }

    // What SafeArrayPutElement takes: the BSTR or interface pointer itself, else the address.
    void* PutArgument() noexcept {
        if (m_features & FADF_BSTR) {
            return *reinterpret_cast<BSTR*>(&m_cell);
        }
        if (m_features & (FADF_UNKNOWN | FADF_DISPATCH)) {
            return *reinterpret_cast<IUnknown**>(&m_cell);
        }
        return &m_cell;
    }

    void Release() noexcept {
        if (m_features & FADF_VARIANT) {
            (void)VariantClear(&m_cell);
        } else if (m_features & FADF_BSTR) {
            SysFreeString(*reinterpret_cast<BSTR*>(&m_cell));
        } else if (m_features & (FADF_UNKNOWN | FADF_DISPATCH)) {
            if (IUnknown* unk = *reinterpret_cast<IUnknown**>(&m_cell)) {
                unk->Release();
            }
        }
        std::memset(&m_cell, 0, sizeof m_cell);
        VariantInit(&m_cell);
    }

  private:
    static USHORT Ownership(USHORT features) noexcept {
        return features & (FADF_VARIANT | FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH | FADF_RECORD);
    }

    USHORT m_features;
    VARIANT m_cell;
};
