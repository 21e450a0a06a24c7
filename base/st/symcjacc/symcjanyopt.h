// ANY-pointer names of the variable service: the 12-byte item address, and the optimizer that
// reforms a collection job's names into fewer reads plus the lookup table mapping them back.
#pragma once

#include <vector>

#include "platform/winapi.h"

class CCoTrace;

// Item layout of an ANY-pointer name: three 32-bit elements whose memory image (each
// little-endian) is these 12 bytes. The 16-bit fields are big-endian.
namespace anyptr {
constexpr int kItemBytes = 12;
constexpr BYTE kHeader = 0x12;      // byte 0
constexpr BYTE kRestLength = 0x0A;  // byte 1
constexpr BYTE kSyntaxId = 0xA2;    // byte 2, the only syntax the optimizer reads
// byte 3 Typ; 4-5 Cnt; 6-7 Unit; 8-9 Area; 10-11 SubArea (first element)
constexpr LONG kMaxCnt = 0xFFFF;  // Cnt is carried in 16 bits
// readOriginalNames: a name of another syntax.
constexpr HRESULT kUnknownSyntax = 13;
// GetAnyPtrFromName: the VARIANT is not a one-dimensional, 0-based array of three 32-bit values.
constexpr HRESULT kNotAnAnyPtr = static_cast<HRESULT>(0xFFFFFFFF);
// Lookup table: columns of dimension 1, one row per requested name along dimension 2.
constexpr LONG kLookupColumns = 4;
}  // namespace anyptr

// The optimizer's working form of one name.
struct AnyPtrRec {
    LONG m_Start;  // SubArea
    LONG m_Cnt;
    LONG m_Spare;  // always 0
    LONG m_Area;
    LONG m_Typ;
    LONG m_Unit;
    LONG m_OrigIndex;      // position in the names array, 0 = first whatever its lower bound
    LONG m_ReformedIndex;  // reformed name that covers it, -1 until assigned
};

// Unpacks a name VARIANT into its three 32-bit elements. S_OK, a SAFEARRAY failure, or
// anyptr::kNotAnAnyPtr for anything that is not a held (not by-reference) one-dimensional array
// of three 4-byte integers with lower bound 0.
HRESULT GetAnyPtrFromName(const VARIANT* name, DWORD elements[3]);

// Packs a record into a fresh name (array of three VT_I4) with header bytes 0x12 0x0A 0xA2.
HRESULT makeAnyPtrName(const AnyPtrRec& rec, VARIANT* name);

// Splits/joins the 12 item bytes and the three elements (independent of host byte order).
void AnyPtrItemBytes(const DWORD elements[3], BYTE item[anyptr::kItemBytes]);
void AnyPtrItemElements(const BYTE item[anyptr::kItemBytes], DWORD elements[3]);

// Reforms the names of one IVar collection job; a local object per addition. Whatever happens,
// processNames returning 0 leaves a usable pair of reformed names and lookup table (unchanged
// names with the identity table when the names cannot be reformed).
class CAnyPtrOptimizer {
  public:
    enum State : DWORD { STATE_OFF = 0, STATE_IDENTICAL = 1, STATE_MERGE = 2 };

    // Sets the state from the process-wide setting, reading the registry when the setting is
    // unread or asks for re-reading (1000-1002). Always S_OK.
    HRESULT initOptimizer();
    // Reads the setting into *setting and the process-wide value; answers the read's result.
    HRESULT readOptimizerRegKey(DWORD* setting);

    // requested: VARIANT holding a one-dimensional array of VARIANT names, any lower bound.
    // reformed: one-dimensional array of VARIANT names, lower bound 0.
    // lookup: VT_I4 array [4][n]; column c of requested name i is at indices {c, i}.
    HRESULT processNames(const VARIANT* requested, VARIANT* reformed, VARIANT* lookup);

    // Traces the outcome of processNames: counts only, or every name with its lookup row when
    // the debug-trace switch is on. The collection-job entry form of the registry forwards here
    // with the entry's requested names, reformed names and lookup table.
    static HRESULT dumpNameOptimizing(const VARIANT* requested, const VARIANT* reformed,
                                      const VARIANT* lookup);
    // The same with the form chosen by the caller (detailed = the debug-trace form).
    static HRESULT dumpNameOptimizing(const VARIANT* requested, const VARIANT* reformed,
                                      const VARIANT* lookup, bool detailed);

    DWORD state() const noexcept { return m_State; }
    // Fixes the state without the setting (benchmarks and tests of the reforming itself);
    // values above STATE_MERGE switch the optimizer off.
    void setState(DWORD state) noexcept { m_State = state <= STATE_MERGE ? state : STATE_OFF; }

    // The state a setting value selects; *illegal tells the unread marker 0xFFFFFFFF apart.
    static DWORD StateForSetting(DWORD setting, bool* illegal) noexcept;
    // The process-wide setting back to unread, so that the next initOptimizer reads the
    // registry (tests of the setting).
    static void forgetOptimizerSetting() noexcept;

    // Fills the requested records from a names array, in array order. S_OK, a SAFEARRAY or
    // GetAnyPtrFromName failure, or anyptr::kUnknownSyntax (the list is then empty).
    HRESULT readOriginalNames(const VARIANT* names);
    const std::vector<AnyPtrRec>& requestedRecords() const noexcept { return m_Requested; }

  private:
    // The reforming states' part of processNames; on failure the state falls to STATE_OFF.
    HRESULT reformNames(CCoTrace& trace, const VARIANT* requested, VARIANT* reformed,
                        VARIANT* lookup);
    HRESULT genReformedNames();
    HRESULT writeReformedNames(VARIANT* reformed) const;
    HRESULT writeLookupTable(VARIANT* lookup) const;
    HRESULT genUnchangedNames(const VARIANT* requested, VARIANT* reformed, VARIANT* lookup) const;

    DWORD m_State = STATE_OFF;
    DWORD m_NameCount = 0;
    LONG m_LowerBound = 0;
    std::vector<AnyPtrRec> m_Requested;
    std::vector<AnyPtrRec> m_Reformed;
};
