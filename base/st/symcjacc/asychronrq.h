// The request registry of one component object (its job bookkeeping; the Windows registry is
// only touched by registration): collection-job (CJ) entries with their single-job (SJ) entries,
// the lock that guards them, and the callback cookies that let the component reach its clients'
// callbacks from any thread.
#pragma once

#include <cstdint>
#include <list>
#include <set>
#include <stdexcept>
#include <unordered_map>
#include <vector>

#include "co/co_lock.h"
#include "collectionjobsymacc.h"
#include "platform/com_ptr.h"
#include "platform/raii.h"
#include "platform/winapi.h"

// Raised when an entry cannot be copied (a VARIANT copy failed); carries the HRESULT.
class CAsyncRQCopyError : public std::runtime_error {
  public:
    explicit CAsyncRQCopyError(HRESULT hr)
        : std::runtime_error("request entry copy failed"), m_hr(hr) {}
    HRESULT hr() const noexcept { return m_hr; }

  private:
    HRESULT m_hr;
};

// CJ states.
enum : LONG { STATE_CREATED = 1, STATE_RUN = 2, STATE_STOP = 3 };
// SJ states: joined; its CJ stopped for re-creation while joined; re-created with it; cancelled.
enum : USHORT { SJ_JOINED = 1, SJ_CANCELLED = 4, SJ_RECREATED = 5, SJ_STOPPED = 7 };

// One single job: twelve 32-bit words, trivially copyable.
struct SAsyncSymRQEntry {
    ULONG ES_JobID = 0;
    ULONG dwService = 0;  // 1 joined on the IVar service, 0 on the YDB service
    LONG Typ = 0;
    ULONG dwReserved = 0;
    USHORT RQStatus = SJ_JOINED;
    USHORT wUnused = 0;
    ULONG parent_ES_JobID = 0;
    ULONG next_ES_JobID = 2;
    ULONG dwVarCount = 0;
    ULONG CookieICB_Interface = 0;
    ULONG bICB_InterfaceValid = 0;
    ULONG CookieIYDBDecode = 0;
    ULONG bIYDBDecodeValid = 0;
};
static_assert(sizeof(SAsyncSymRQEntry) == 48, "an SJ entry is twelve 32-bit words");

// The two slots of one kind of a CJ's decode callback, copied out of the entry so that the
// callback can be fetched with the registry lock released.
struct SAsyncCookiePair {
    ULONG bOldValid = 0;
    ULONG m_oldCookie_Decode = 0;
    ULONG bNewValid = 0;
    ULONG m_newCookie_Decode = 0;
};

// The plain fields of a collection job.
struct SAsyncRQFields {
    ULONG m_ES_JobID = 0;  // the engineering system's id (ES), chosen here or by the client
    ULONG m_RT_JobID = 0;  // the controller's run-time id (RT), reported by setRt_JobID
    LONG m_Typ = 0;
    LONG m_RQStatus = STATE_CREATED;
    LONG ms = 0;                    // cycle time in milliseconds; 0: not cyclic
    ULONG m_dwVarCountAdded = 0;    // variables brought by the latest addition
    ULONG m_dwLastSJ_ES_JobID = 0;  // the SJ that asked last
    ULONG m_dwPrev_ES_JobID = 0;    // m_ES_JobID before the last renumbering
    ULONG m_dwReserved = 0;
    ULONG m_dwVarCount = 0;  // room test
    ULONG m_dwDataSize = 0;  // room test
    LONG ticks = 0;          // merges not yet confirmed; a YDB CJ runs again at 0
    // The decode callbacks' slots, each a cookie and its valid word.
    ULONG m_oldCookieIYDBDecode = 0, m_bOldIYDBDecodeValid = 0;
    ULONG m_newCookieIYDBDecode = 0, m_bNewIYDBDecodeValid = 0;
    ULONG m_oldCookieICB_Decode = 0, m_bOldICB_DecodeValid = 0;
    ULONG m_newCookieICB_Decode = 0, m_bNewICB_DecodeValid = 0;
};

// One collection job. Copies are deep (VARIANTs, SJ list, a reference on the data object) and
// throw CAsyncRQCopyError when a VARIANT cannot be copied; assignment leaves the target as it
// was in that case.
class CAsyncRQEntry : public SAsyncRQFields {
  public:
    CAsyncRQEntry() = default;
    CAsyncRQEntry(const CAsyncRQEntry& other);
    CAsyncRQEntry& operator=(const CAsyncRQEntry& other);
    CAsyncRQEntry(CAsyncRQEntry&&) noexcept = default;
    CAsyncRQEntry& operator=(CAsyncRQEntry&&) noexcept = default;
    ~CAsyncRQEntry() = default;

    SAsyncCookiePair IYDBDecodePair() const noexcept;
    SAsyncCookiePair ICB_DecodePair() const noexcept;
    void SetIYDBDecodePair(const SAsyncCookiePair& pair) noexcept;
    void SetICB_DecodePair(const SAsyncCookiePair& pair) noexcept;
    ULONG containing() const noexcept { return static_cast<ULONG>(m_SJList.size()); }

    platform::ComPtr<IUnknown> m_spYDBData;
    platform::UniqueVariant m_vNames;
    std::list<SAsyncSymRQEntry> m_SJList;
    platform::UniqueVariant m_vRequestedNames;
    platform::UniqueVariant m_vReformedNames;
    platform::UniqueVariant m_vLookupTbl;
};

// Lookups answer from an index rather than by walking the lists, with exactly the walks' rules:
// every index gives a superset of the entries that can match, the rule is tested on each, and
// among matches the order of insertion decides (newest first, as the list runs). A stored CJ's
// cycle, type, ids (own, previous, last asking SJ) and its SJs' ids and parent ids are what the
// index knows: whoever changes one of them, or adds an SJ other than through AddAsyncSymRQ,
// calls Reindex on that CJ before the next lookup. Erasing SJs needs no call.
class CAsychronRQ {
  public:
    CAsychronRQ() = default;
    virtual ~CAsychronRQ();
    CAsychronRQ(const CAsychronRQ&) = delete;
    CAsychronRQ& operator=(const CAsychronRQ&) = delete;

    // Insertion and lookups. None takes the lock: callers hold it (CAsyncRQGuard) across a
    // lookup and every use of the pointer it returned.
    CAsyncRQEntry* AddAsychronRQ(const CAsyncRQEntry& entry);
    SAsyncSymRQEntry* AddAsyncSymRQ(ULONG cjJobID, const SAsyncSymRQEntry* sj, LONG typ);
    // Appends to exactly this CJ (its id may be shared: YDB CJs at the job limit all carry it).
    SAsyncSymRQEntry* AddAsyncSymRQ(CAsyncRQEntry& cj, const SAsyncSymRQEntry& sj);
    // Despite "Array", the Get... lookups return one entry (or null), never an array.
    // The CJ of this id or previous id and this type.
    CAsyncRQEntry* GetAsychronRQArray(ULONG cjJobID, LONG typ) noexcept;
    CAsyncRQEntry* GetAsychronRQArray(ULONG cjJobID) noexcept;  // current id only, any type
    // Lookup by single job: the CJ of this cycle and type that holds the SJ (or joined it last).
    CAsyncRQEntry* GetAsyncCJRQArray(LONG cycle, LONG typ, ULONG sjJobID) noexcept;
    // Room test: the first CJ of this cycle and type that stays within both limits after the
    // addition (none for cycle 0).
    CAsyncRQEntry* GetAsyncCJRQArray(LONG cycle, LONG typ, ULONG varLimit, ULONG sizeLimit,
                                     ULONG varsToAdd, ULONG bytesToAdd) noexcept;
    static SAsyncSymRQEntry* GetAsychronSymRQArray(CAsyncRQEntry* cj, ULONG sjJobID) noexcept;
    ULONG GetSymSize(ULONG cjJobID, LONG typ) noexcept;
    // Removes a whole CJ (onlySJ false) or forgets the callbacks of one SJ (onlySJ true).
    HRESULT KillAsychronRQ(ULONG cjJobID, LONG typ, ULONG sjJobID, bool onlySJ);
    // Exactly the entries given, never another that carries the same id (clients may give two
    // jobs one id): the CJ with all its SJs and callbacks, S_OK also when it is no longer held;
    // the callbacks of one SJ, which stays in its CJ with its cookies zeroed.
    HRESULT KillAsychronRQ(const CAsyncRQEntry* cj);
    static void ReleaseAsyncSymRQ(SAsyncSymRQEntry& sj);

    // The lookups of the component's calls, in list order like the others.
    // The newest CJ whose SJ list holds the SJ.
    CAsyncRQEntry* GetHolderOfSJ(ULONG sjJobID) noexcept;
    // The newest CJ with SJs that holds the job as an SJ or as an SJ's parent, or joined it last.
    const CAsyncRQEntry* GetCJOfJob(ULONG jobID) noexcept;
    // The newest CJ holding an SJ that is the job or whose parent is the job.
    const CAsyncRQEntry* GetCJOfSJOrParent(ULONG jobID) noexcept;
    // The oldest CJ whose own id is the id, of any type.
    const CAsyncRQEntry* GetOldestAsychronRQArray(ULONG cjJobID) noexcept;
    // The run-time id of the oldest CJ that has one under the id or holds the SJ; 0 when none.
    ULONG GetRtJobIDOf(ULONG esJobID) noexcept;
    // The smallest id from 2 that no CJ of the type carries as its id or previous id; `limit`
    // when every id below it is taken.
    ULONG GetFreeJobID(LONG typ, ULONG limit) noexcept;
    // True while the registry still holds exactly this CJ (it may have left while the lock was
    // released).
    bool Holds(const CAsyncRQEntry* cj) const noexcept;
    // After a stored CJ's indexed fields changed (see above).
    void Reindex(CAsyncRQEntry& cj) noexcept;

    const std::list<CAsyncRQEntry>& Entries() const noexcept { return m_CJList; }
    CCoCriticalSection* Lock() noexcept { return &m_Lock; }

    // Register (or, with a null interface, only revoke) a callback in the callback table.
    static void CallbackICB_Interface(IUnknown* pICallback, SAsyncSymRQEntry& rItemSymRQEntry);
    static void CallbackDisp(IMC_YDBDecode* IYDBDecodeInterface, SAsyncSymRQEntry& rItemSymRQEntry);
    static void newCJ_CallbackIYDBDecode(IMC_YDBDecode* IYDBDecodeInterface,
                                         CAsyncRQEntry& sRQEntry);
    static void oldCJ_CallbackIYDBDecode(CAsyncRQEntry& sRQEntry);
    static void newCJ_CallbackICB_Decode(IUnknown* pICallback, CAsyncRQEntry& sRQEntry);
    static void oldCJ_CallbackICB_Decode(CAsyncRQEntry& sRQEntry);
    // Fetch a CJ's callback from the system table, optionally revoking the slot fetched.
    static platform::ComPtr<IUnknown> getCJ_CallbackIYDBDecode(SAsyncCookiePair& sAsyncRQEntry,
                                                               bool revoke);
    static platform::ComPtr<IUnknown> getCJ_CallbackICB_Decode(SAsyncCookiePair& sAsyncRQEntry,
                                                               bool revoke);

  private:
    using CJIterator = std::list<CAsyncRQEntry>::iterator;
    // A CJ in an index list, with its insertion number (higher: nearer the list's front).
    struct SIndexed {
        std::uint64_t seq;
        CAsyncRQEntry* cj;
    };
    using IndexList = std::vector<SIndexed>;  // ascending seq: oldest first
    // What the index holds for one CJ, to take it out again.
    struct SIndexedCJ {
        std::uint64_t seq;
        CJIterator position;
        std::uint64_t cycleType;
        LONG typ;
        ULONG id;
        ULONG prevID;
        std::vector<ULONG> ids;  // sorted, distinct
    };

    HRESULT KillAt(CJIterator cjIt, ULONG sjJobID, bool onlySJ);
    CJIterator PositionOf(const CAsyncRQEntry* cj) noexcept;
    // The newest (or oldest) CJ listed under the key that matches; the lists when the index
    // was lost.
    template <class Match>
    CAsyncRQEntry* Walk(bool newest, Match&& match) noexcept;
    template <class Match>
    CAsyncRQEntry* FindByID(ULONG id, bool newest, Match&& match) noexcept;
    template <class Map, class Key, class Match>
    CAsyncRQEntry* FindIn(Map& map, const Key& key, bool newest, Match&& match) noexcept;
    bool Index(CJIterator position, std::uint64_t seq) noexcept;
    void IndexID(SIndexedCJ& keys, CAsyncRQEntry& cj, ULONG id);
    void IndexSJ(CAsyncRQEntry& cj, const SAsyncSymRQEntry& sj) noexcept;
    // `idsFreed`: the CJ's own and previous id no longer name it.
    void Unindex(const CAsyncRQEntry& cj, bool idsFreed) noexcept;
    void RebuildIndex() noexcept;
    void ForgetIndex() noexcept;
    void FreedJobID(LONG typ, ULONG id) noexcept;

    std::list<CAsyncRQEntry> m_CJList;  // newest first
    CCoCriticalSection m_Lock;
    std::unordered_map<ULONG, IndexList> m_byID;  // every id a CJ's rules may match
    std::unordered_map<std::uint64_t, IndexList> m_byCycleType;
    std::unordered_map<const CAsyncRQEntry*, SIndexedCJ> m_indexed;
    // Per type, what the last search for a free id left: every id from 2 below `from` is taken
    // but for the holes (ids freed since, some perhaps taken again).
    struct SFreeJobIDs {
        ULONG from = 2;
        std::set<ULONG> holes;
    };
    std::unordered_map<LONG, SFreeJobIDs> m_freeIDs;
    std::uint64_t m_nextSeq = 0;
    bool m_indexLost = false;  // an allocation failed: lookups walk the lists until rebuilt
};

// The registry lock for a scope (a null registry is neither locked nor unlocked).
class CAsyncRQGuard : public CCoLockGuard {
  public:
    explicit CAsyncRQGuard(CAsychronRQ* rq) noexcept
        : CCoLockGuard(rq != nullptr ? rq->Lock() : nullptr) {}
};
