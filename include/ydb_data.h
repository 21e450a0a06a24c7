// IYDB_Data: the data object of the engineering system's YDB service, in which debug-service
// messages travel. The component only calls it; the object itself lives outside the component.
#pragma once

#include "platform/com_ptr.h"
#include "platform/winapi.h"

// Positions count from the first method after IUnknown (position n is vtable slot n + 2). Only
// the positions below are part of the contract; the reserved slots keep the table's shape and
// answer E_NOTIMPL in our stand-in.
//
// | Pos | Method          | Contract                                                            |
// |-----|-----------------|---------------------------------------------------------------------|
// |  1  | GetByteCount    | size of the data in bytes                                           |
// |  2  | WriteElements   | append count elements of width bytes, tagged with the type code     |
// |  3  | ReadElements    | read count elements into a buffer from CoTaskMemAlloc               |
// |  4  | ReadContents    | the whole data into a CoTaskMemAlloc buffer; first out is unused    |
// |  5  | WriteContents   | replace the whole data by length bytes; the last two words are 0    |
// |  6  | InitData        | reset and lay down the prefix of a record (five 32-bit values)      |
// |  9  | Commit          | complete pending writes                                             |
// | 12  | Seek            | move to a position (origin 0: from the start)                       |
// | 13  | GetPosition     | current position in bytes                                           |
// | 14  | Touch           | no effect on the caller's state; callable at any time               |
// | 16  | IsWritable      | readiness: non-zero when the object may be written                  |
// | 20  | SetByteCount    | set the size of the data (cuts or extends)                          |
struct IYDB_Data : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetByteCount(ULONG* pCount) = 0;
    virtual HRESULT STDMETHODCALLTYPE WriteElements(const void* pData, ULONG count, ULONG width,
                                                    ULONG typeCode) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReadElements(void** ppBuffer, ULONG count, ULONG width,
                                                   ULONG typeCode) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReadContents(ULONG* pUnused, BYTE** ppBuffer) = 0;
    virtual HRESULT STDMETHODCALLTYPE WriteContents(const BYTE* pBuffer, ULONG length,
                                                    ULONG reserved1, ULONG reserved2) = 0;
    virtual HRESULT STDMETHODCALLTYPE InitData(ULONG v1, ULONG v2, ULONG v3, ULONG v4,
                                               ULONG v5) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved7() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved8() = 0;
    virtual HRESULT STDMETHODCALLTYPE Commit() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved10() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved11() = 0;
    virtual HRESULT STDMETHODCALLTYPE Seek(ULONG position, ULONG origin, ULONG* pNewPosition) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPosition(ULONG* pPosition) = 0;
    virtual HRESULT STDMETHODCALLTYPE Touch() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved15() = 0;
    virtual HRESULT STDMETHODCALLTYPE IsWritable(ULONG* pWritable) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved17() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved18() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved19() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetByteCount(ULONG count) = 0;
};

// {1ABC6A22-24A3-4E50-9FAD-F6BA6B929EE3}
PLATFORM_DEFINE_GUID(IID_IYDB_Data, 0x1ABC6A22, 0x24A3, 0x4E50, 0x9F, 0xAD, 0xF6, 0xBA, 0x6B, 0x92,
                     0x9E, 0xE3);
PLATFORM_INTERFACE_ID(IYDB_Data, IID_IYDB_Data);

// Optional second face of a data object for the element calls of one message: a read into the
// caller's memory (no task-memory buffer per element) and the object's lock held across the
// calls. Everything else is as through IYDB_Data: ReadElementsInto counts, fails and moves the
// position as ReadElements does. A data object without it is used through IYDB_Data alone.
struct IYDB_DataDirect : public IUnknown {
    // As ReadElements, the elements copied to pTarget (skipped when it is null) on success.
    virtual HRESULT STDMETHODCALLTYPE ReadElementsInto(void* pTarget, ULONG count, ULONG width,
                                                       ULONG typeCode) = 0;
    // Holds the object's lock for the calling thread until the matching UnlockSequence; nests.
    virtual HRESULT STDMETHODCALLTYPE LockSequence() = 0;
    virtual HRESULT STDMETHODCALLTYPE UnlockSequence() = 0;
};

// {153DF585-7AAD-4A94-83EA-8BF1F4764C67}
PLATFORM_DEFINE_GUID(IID_IYDB_DataDirect, 0x153DF585, 0x7AAD, 0x4A94, 0x83, 0xEA, 0x8B, 0xF1, 0xF4,
                     0x76, 0x4C, 0x67);
PLATFORM_INTERFACE_ID(IYDB_DataDirect, IID_IYDB_DataDirect);

// The YDB service's data object class. {49B166E3-4019-11D3-B734-0060085D76B8}
PLATFORM_DEFINE_GUID(CLSID_YDB_Data, 0x49B166E3, 0x4019, 0x11D3, 0xB7, 0x34, 0x00, 0x60, 0x08, 0x5D,
                     0x76, 0xB8);

// Type codes of WriteElements/ReadElements and the element width each one implies.
enum YDB_ElementType : ULONG {
    YDB_ELEM_CHAR = 0,  // character, boolean, raw byte (1)
    YDB_ELEM_U8 = 1,
    YDB_ELEM_I16 = 2,
    YDB_ELEM_U16 = 3,
    YDB_ELEM_I32 = 4,
    YDB_ELEM_U32 = 5,
    YDB_ELEM_F32 = 6,
    YDB_ELEM_F64 = 7,
    YDB_ELEM_I64 = 8,
};

inline constexpr ULONG YDB_ElementWidth(ULONG typeCode) {
    constexpr ULONG widths[] = {1, 1, 2, 2, 4, 4, 4, 8, 8};
    return typeCode < sizeof(widths) / sizeof(widths[0]) ? widths[typeCode] : 0;
}
