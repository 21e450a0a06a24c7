// Test control of the YDB data object stand-in: refuse writes, fail a chosen call, and see the
// calls that were made. Not part of the data object's contract; only tests and tools use it.
#pragma once

#include "platform/com_ptr.h"
#include "platform/winapi.h"

// One WriteElements or ReadElements call as the object received it.
struct YDB_ElementCall {
    ULONG write;  // 1 for WriteElements, 0 for ReadElements
    ULONG count;
    ULONG width;
    ULONG typeCode;
};

// Positions are those of IYDB_Data (1 = GetByteCount ... 20 = SetByteCount).
struct IYDB_DataControl : public IUnknown {
    // A refusing object answers the readiness query with 0 and fails every write with
    // E_ACCESSDENIED (element and contents writes, InitData, SetByteCount).
    virtual HRESULT STDMETHODCALLTYPE SetWritable(BOOL writable) = 0;
    // After `skip` further calls at `position`, the next one fails once with `hr` (no effect on
    // the data). Position 0 cancels a pending failure.
    virtual HRESULT STDMETHODCALLTYPE FailCall(ULONG position, ULONG skip, HRESULT hr) = 0;
    // Calls made at a position since creation or the last ClearLog, failed ones included.
    virtual HRESULT STDMETHODCALLTYPE GetCallCount(ULONG position, ULONG* pCount) = 0;
    // The element calls since creation or the last ClearLog (the first 4096 are kept).
    virtual HRESULT STDMETHODCALLTYPE GetElementCallCount(ULONG* pCount) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetElementCall(ULONG index, YDB_ElementCall* pCall) = 0;
    virtual HRESULT STDMETHODCALLTYPE ClearLog() = 0;
};

// {6F1D2C84-3B7A-4E25-9C61-58A0E4D7B312}
PLATFORM_DEFINE_GUID(IID_IYDB_DataControl, 0x6F1D2C84, 0x3B7A, 0x4E25, 0x9C, 0x61, 0x58, 0xA0, 0xE4,
                     0xD7, 0xB3, 0x12);
PLATFORM_INTERFACE_ID(IYDB_DataControl, IID_IYDB_DataControl);

// Largest data the stand-in holds; larger sizes fail with E_OUTOFMEMORY.
inline constexpr ULONG YDB_DATA_MAX_BYTES = 64u * 1024u * 1024u;
