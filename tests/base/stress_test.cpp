// Client threads walk random IVar roads on shared cycle times while the callback table and the
// decode callbacks fail at random. At quiescent points each client's view of its jobs must match
// the component's; once the component is released every callback object's references must be
// back where they started. CJ_STRESS_SECONDS sets the duration (2 s), CJ_STRESS_SEED the seed.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <iostream>
#include <list>
#include <map>
#include <mutex>
#include <numeric>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "anyptr_names.h"
#include "base/st/symcjacc/symcjacc.h"
#include "mc_callbacks.h"
#include "registry_fixture.h"
#include "support/counting_unknown.h"
#include "support/decode_callback.h"

namespace {

using anyptr_test::Range;
using anyptr_test::Row;
using platform::ComPtr;
using platform::UniqueVariant;

constexpr int kClients = 6;
constexpr size_t kLiveJobsPerClient = 8;
// The cycle times and types the clients share.
constexpr struct { LONG cycle, typ; } kSlots[] = {{100, 9}, {200, 9}, {100, 12}};
constexpr int kSlotCount = static_cast<int>(sizeof kSlots / sizeof kSlots[0]);
constexpr ULONG kDeleteReason = 7;

constexpr ULONG kCancelDeleted = CJ_CANCEL_SJ_REMOVED | CJ_CANCEL_CJ_DELETED;

// Each thread draws from its own generator, seeded from the run's seed and the thread's index.
thread_local std::mt19937_64 t_rng;
unsigned Pick(size_t n) {
    return static_cast<unsigned>(t_rng() % n);
}
bool Roll(unsigned percent) {
    return Pick(100) < percent;
}

// Share of the table's and the decode callbacks' calls that fail: 2-20 %, chosen by the seed.
unsigned g_failPercent = 5;

// Where a thread is, for the findings.
thread_local std::string t_where = "main";

// What went wrong (the first ones); any finding ends the run at the next quiescent point.
std::mutex g_findingsLock;
std::vector<std::string> g_findings;
std::atomic<bool> g_found{false};

#define STRESS_CHECK(cond, what)                                                     \
    do {                                                                             \
        if (!(cond)) {                                                               \
            std::ostringstream os_;                                                  \
            os_ << t_where << " (line " << std::dec << __LINE__ << "): " << std::hex \
                << std::showbase << #cond << ": " << what;                           \
            std::lock_guard<std::mutex> guard_(g_findingsLock);                      \
            g_found = true;                                                          \
            if (g_findings.size() < 20) {                                            \
                g_findings.push_back(os_.str());                                     \
            }                                                                        \
        }                                                                            \
    } while (0)

// The callback table, served in this process in place of the stand-in, failing registrations
// and revocations at random. The component forgets a cookie whose revocation failed, leaving its
// interface registered; the test revokes such cookies while the component is quiet.
class FailingTable final : public platform::ComObject<FailingTable, platform::CallerOwned,
                                                      IMC_CallbackTable, IClassFactory> {
  public:
    FailingTable() {
        (void)CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IGlobalInterfaceTable, m_git.put_void());
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        return outer != nullptr ? CLASS_E_NOAGGREGATION : QueryInterface(riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

    HRESULT STDMETHODCALLTYPE RegisterInterfaceInGlobal(IUnknown* pUnk, REFIID riid,
                                                        DWORD* pdwCookie) override {
        if (Roll(g_failPercent)) {
            *pdwCookie = 0;
            return E_OUTOFMEMORY;
        }
        return m_git->RegisterInterfaceInGlobal(pUnk, riid, pdwCookie);
    }
    HRESULT STDMETHODCALLTYPE RevokeInterfaceFromGlobal(DWORD dwCookie) override {
        if (!Roll(g_failPercent)) {
            return m_git->RevokeInterfaceFromGlobal(dwCookie);
        }
        ComPtr<IUnknown> held;
        (void)m_git->GetInterfaceFromGlobal(dwCookie, IID_IUnknown, held.put_void());
        std::lock_guard<std::mutex> guard(m_lock);
        m_stranded.push_back(dwCookie);
        ++m_strandedObjects[held.get()];
        return E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE GetInterfaceFromGlobal(DWORD dwCookie, REFIID riid,
                                                     void** ppv) override {
        return m_git->GetInterfaceFromGlobal(dwCookie, riid, ppv);
    }

    bool stranded(IUnknown* object) const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_strandedObjects.count(object) != 0;
    }
    // Only with the component quiet: it no longer knows these cookies.
    void revokeStranded() {
        std::lock_guard<std::mutex> guard(m_lock);
        for (DWORD cookie : m_stranded) {
            (void)m_git->RevokeInterfaceFromGlobal(cookie);
        }
        m_stranded.clear();
        m_strandedObjects.clear();
    }

  private:
    ComPtr<IGlobalInterfaceTable> m_git;
    mutable std::mutex m_lock;
    std::vector<DWORD> m_stranded;
    std::map<IUnknown*, int> m_strandedObjects;
};

// The decode callbacks called on this thread during the current call of the component.
struct DecodeCall {
    int operation;  // 1 delete, 2 update
    ULONG reason;
    ULONG status;  // what the caller must see: 0 when the callback failed and left it alone
};
thread_local std::vector<DecodeCall> t_calls;

ULONG StatusAfterCallbacks() {
    return t_calls.empty() ? 0 : t_calls.back().status;
}

// A client's decode callback: a failed call answers E_FAIL and leaves the status alone, a good
// one writes a status of its own.
class FailingDecode : public testing_support::RecordingDecode {
  public:
    // Slow at times: the component fetches callbacks with its lock released, and a client's
    // object may take its time to answer there.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (Roll(25)) {
            std::this_thread::yield();
        }
        return RecordingDecode::QueryInterface(riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE DeleteJob(ULONG, ULONG reason, ULONG* pStatus) override {
        return Answer(1, reason, pStatus);
    }
    HRESULT STDMETHODCALLTYPE UpdateJob(ULONG, CJAsyncRQRecord, ULONG* pStatus) override {
        return Answer(2, 0, pStatus);
    }

  private:
    static HRESULT Answer(int operation, ULONG reason, ULONG* pStatus) {
        const bool fail = Roll(g_failPercent);
        const ULONG status = fail ? 0 : static_cast<ULONG>(t_rng() | 1);
        if (!fail) {
            *pStatus = status;
        }
        t_calls.push_back({operation, reason, status});
        return fail ? E_FAIL : S_OK;
    }
};

bool Holds(const CJAsyncRQRecordHolder& record, ULONG sj) {
    return std::any_of(record.begin(), record.end(),
                       [sj](const SJAsyncRQRecord& each) { return each.ES_JobID == sj; });
}

// A client's single job as the client knows it from the component's answers.
enum class Held { No, Yes, Cancelled };
struct Job {
    ULONG sj = 0;
    int slot = 0;
    std::vector<Range> ranges;
    testing_support::CountingUnknown icb;
    Held held = Held::No;
    ULONG knownCJ = 0;  // the id the client re-created its collection job under
};

struct Client {
    FailingDecode decode;
    std::list<Job> jobs;  // live ones and those cancelled since the last quiescent point
    unsigned long long steps = 0;
};

// Lets the controller stop every client between two steps, and go on.
class Quiescence {
  public:
    void point() {
        std::unique_lock<std::mutex> lock(m_lock);
        if (m_pause) {
            const unsigned generation = m_generation;
            ++m_waiting;
            m_changed.notify_all();
            m_changed.wait(lock, [&] { return m_generation != generation; });
        }
    }
    void pause(int clients) {
        std::unique_lock<std::mutex> lock(m_lock);
        m_pause = true;
        m_changed.wait(lock, [&] { return m_waiting == clients; });
    }
    void resume() {
        std::lock_guard<std::mutex> guard(m_lock);
        m_pause = false;
        m_waiting = 0;
        ++m_generation;
        m_changed.notify_all();
    }

  private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_pause = false;
    int m_waiting = 0;
    unsigned m_generation = 0;
};

class Stress {
  public:
    Stress(IMC_CollectionJobSymAcc* object, FailingTable& table, unsigned long long seed)
        : m_object(object), m_table(table), m_seed(seed), m_clients(kClients) {}

    void run(double seconds) {
        std::vector<std::thread> threads;
        for (int i = 0; i < kClients; ++i) {
            threads.emplace_back([this, i] { client(i); });
        }
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (std::chrono::steady_clock::now() < end && !g_found) {
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            m_quiet.pause(kClients);
            checkQuiescent();
            m_quiet.resume();
        }
        m_done = true;
        for (std::thread& t : threads) {
            t.join();
        }
        checkQuiescent();
    }

    // Every callback object must hold no reference the component took.
    void checkReleased() {
        t_where = "after the release";
        for (Client& c : m_clients) {
            STRESS_CHECK(c.decode.refs() == 1, "decode callback refs " << c.decode.refs());
            for (Job& job : c.jobs) {
                STRESS_CHECK(job.icb.refs() == 1, "SJ " << job.sj << " refs " << job.icb.refs());
            }
        }
    }

    unsigned long long steps() const {
        return std::accumulate(m_clients.begin(), m_clients.end(), 0ull,
                               [](unsigned long long n, const Client& c) { return n + c.steps; });
    }

  private:
    void client(int index) {
        (void)CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        t_rng.seed(m_seed * 1000003u + static_cast<unsigned>(index));
        Client& c = m_clients[static_cast<size_t>(index)];
        for (;;) {
            m_quiet.point();
            if (m_done) {
                break;
            }
            t_where = "client " + std::to_string(index) + " step " + std::to_string(++c.steps);
            std::vector<Job*> live, confirmed;
            for (Job& job : c.jobs) {
                if (job.held != Held::Cancelled) {
                    live.push_back(&job);
                }
                if (job.held == Held::Yes && job.knownCJ != 0) {
                    confirmed.push_back(&job);
                }
            }
            const unsigned dice = Pick(100);
            if (live.empty() || (dice < 30 && live.size() < kLiveJobsPerClient)) {
                road(c);
            } else if (dice < 45 || confirmed.empty()) {
                cancel(*live[Pick(live.size())]);
            } else if (dice < 85) {
                freeCall(c, *confirmed[Pick(confirmed.size())]);
            } else {
                query(*live[Pick(live.size())]);
            }
        }
        CoUninitialize();
    }

    // Steps 2-6 of one new single job, serialized with the other clients of its cycle and type.
    void road(Client& c) {
        Job& job = c.jobs.emplace_back();
        (void)m_object->newJobID(&job.sj);
        job.slot = static_cast<int>(Pick(kSlotCount));
        for (size_t n = 1 + Pick(4); n > 0; --n) {
            job.ranges.push_back(anyptr_test::R(static_cast<int>(Pick(30000)),
                                                static_cast<int>(1 + Pick(8)), 5,
                                                static_cast<int>(1 + Pick(3))));
        }
        const LONG cycle = kSlots[job.slot].cycle, typ = kSlots[job.slot].typ;
        std::lock_guard<std::mutex> unit(m_units[job.slot]);
        ULONG status = 0xDEAD;
        UniqueVariant names = anyptr_test::names_of(job.ranges);
        STRESS_CHECK(m_object->addSymbolsIVar(cycle, typ, *names.get(), job.sj, &status) == S_OK &&
                         status == 0,
                     "add of SJ " << job.sj << ", status " << status);
        CJAsyncRQRecordHolder record;
        ULONG cj = 0, action = 0;
        names.reset();
        STRESS_CHECK(m_object->UpdateIVarJobEntry(cycle, typ, &job.icb, &job.sj, &cj, names.get(),
                                                  record.get(), &action, &status) == S_OK,
                     "join of SJ " << job.sj);
        if ((action & CJ_ACTION_STOP) == 0) {
            // Alone: the SJ waits in a fresh collection job, or that job went before the join.
            STRESS_CHECK(action == CJ_ACTION_ALONE,
                         "join of SJ " << job.sj << ": action " << action);
            ULONG found = 0, state = 0;
            STRESS_CHECK(m_object->existCycle(cycle, typ, job.sj, &found, &state) == S_OK,
                         "existCycle of " << job.sj);
            job.held = state == 8 ? Held::Yes : Held::No;
            STRESS_CHECK(job.held == Held::Yes || job.icb.refs() == 1,
                         "SJ " << job.sj << " not held keeps refs " << job.icb.refs());
            return;
        }
        STRESS_CHECK((action & ~CJ_ACTION_EXTRA) == (CJ_ACTION_STOP | CJ_ACTION_RECORD) &&
                         Holds(record, job.sj),
                     "join of SJ " << job.sj << ": action " << action);
        const ULONG newCJ = m_nextCJ++;
        CJAsyncRQRecordHolder recreated;
        STRESS_CHECK(m_object->UpdateJobState(cycle, typ, job.sj, newCJ, &action, recreated.get(),
                                              &status) == S_OK &&
                         recreated->m_ES_JobID == newCJ,
                     "re-creation of SJ " << job.sj << "'s job as " << newCJ);
        STRESS_CHECK(
            m_object->setRt_JobID(cycle, typ, job.sj, newCJ, newCJ + 0x10000, &status) == S_OK &&
                status == 0,
            "setRt_JobID " << newCJ << ": " << status);
        STRESS_CHECK(m_object->UpdateCJ_IVarCB(0, typ, newCJ, &c.decode, &status) == S_OK,
                     "confirmation of " << newCJ);
        if (Roll(50)) {
            STRESS_CHECK(m_object->UpdateCJ_YDBCB(0, typ, newCJ, &c.decode, &status) == S_OK,
                         "confirmation of " << newCJ);
        }
        job.held = Held::Yes;
        job.knownCJ = newCJ;
    }

    void cancel(Job& job) {
        const unsigned long long deletesBefore = m_ydbDeletesStarted;
        const bool deleteRunning = m_ydbDeletesRunning != 0;
        CJAsyncRQRecordHolder record;
        ULONG cj = 0, actions = 0xDEAD, status = 0xDEAD;
        t_calls.clear();
        STRESS_CHECK(m_object->cancelASynch(job.sj, &cj, record.get(), &actions, &status) == S_OK,
                     "cancel of SJ " << job.sj);
        const bool raced = deleteRunning || m_ydbDeletesStarted != deletesBefore;
        STRESS_CHECK(status == StatusAfterCallbacks(),
                     "cancel of SJ " << job.sj << ": status " << status);
        STRESS_CHECK(
            job.held == Held::No ? actions == 0
                                 : actions == CJ_CANCEL_CJ_REMOVED ||
                                       actions == CJ_CANCEL_SJ_REMOVED || actions == kCancelDeleted,
            "cancel of SJ " << job.sj << (job.held == Held::No ? " (unheld): " : ": ") << actions);
        if (actions == CJ_CANCEL_SJ_REMOVED || actions == kCancelDeleted) {
            STRESS_CHECK(Holds(record, job.sj) && record->m_ES_JobID == cj,
                         "cancel of SJ " << job.sj << ": record of " << record->m_ES_JobID);
            const bool allCancelled =
                std::all_of(record.begin(), record.end(),
                            [](const SJAsyncRQRecord& sj) { return sj.RQStatus == SJ_CANCELLED; });
            STRESS_CHECK(allCancelled == (actions == kCancelDeleted),
                         "cancel of SJ " << job.sj << " in " << cj << ": " << actions);
        }
        // A decode callback that the record shows registered must delete the emptied job, unless
        // a delete running beside the cancel took it.
        if (actions == kCancelDeleted && !raced &&
            (record->m_bOldIYDBDecodeValid != 0 || record->m_bNewIYDBDecodeValid != 0)) {
            const bool deleted =
                std::any_of(t_calls.begin(), t_calls.end(), [](const DecodeCall& c) {
                    return c.operation == 1 && c.reason == MC_DELETE_REASON_EMPTIED;
                });
            STRESS_CHECK(deleted, "cancel emptied "
                                      << cj << " but did not call its decode callback (cookie "
                                      << record->m_newCookieIYDBDecode << ")");
        }
        job.held = Held::Cancelled;
        STRESS_CHECK(job.icb.refs() == 1 || m_table.stranded(&job.icb),
                     "cancelled SJ " << job.sj << " refs " << job.icb.refs());
    }

    // Confirmations, deletes and updates of the client's collection job: mostly under the id that
    // holds its job now, else under the id it re-created the job under (perhaps renumbered since).
    void freeCall(Client& c, Job& job) {
        const LONG typ = kSlots[job.slot].typ;
        ULONG cj = job.knownCJ, state = 0, status = 0xDEAD;
        if (Roll(75)) {
            (void)m_object->existCycle(kSlots[job.slot].cycle, typ, job.sj, &cj, &state);
        }
        HRESULT hr = S_OK;
        t_calls.clear();
        switch (Pick(6)) {
            case 0:
                hr = m_object->UpdateCJ_IVarCB(0, typ, cj, &c.decode, &status);
                break;
            case 1:
                hr = m_object->UpdateCJ_YDBCB(0, typ, cj, &c.decode, &status);
                break;
            case 2:
                hr = m_object->deleteIVarCJob(cj, typ, kDeleteReason, &status);
                break;
            case 3:
                ++m_ydbDeletesRunning;
                ++m_ydbDeletesStarted;
                hr = m_object->deleteYDBCJob(cj, typ, kDeleteReason, &status);
                --m_ydbDeletesRunning;
                break;
            case 4:
                hr = m_object->updateIVarCJob(cj, typ, &status);
                break;
            default:
                hr = m_object->updateYDBCJob(cj, typ, &status);
                if (t_calls.empty() && status == CJ_STATUS_UPDATE_NOT_FOUND) {
                    status = 0;  // renumbered since
                }
        }
        // Confirmations call nothing back; deletes and updates pass the callback's status on.
        STRESS_CHECK(hr == S_OK && status == StatusAfterCallbacks(),
                     "call on " << cj << ": " << hr << ", status " << status);
    }

    // A client's own job is found while it lives, whatever the others do.
    void query(Job& job) {
        const LONG cycle = kSlots[job.slot].cycle, typ = kSlots[job.slot].typ;
        ULONG cj = 0, state = 0, status = 0;
        LONG gotType = 0, gotCycle = 0;
        STRESS_CHECK(m_object->existCycle(cycle, typ, job.sj, &cj, &state) == S_OK &&
                         m_object->getJobProperties(job.sj, &gotType, &gotCycle, &status) == S_OK,
                     "queries of " << job.sj);
        if (job.held == Held::Yes) {
            STRESS_CHECK(
                state == 8 && cj != 0 && status == 0 && gotType == typ && gotCycle == cycle,
                "SJ " << job.sj << " lost: state " << state << ", status " << status);
        } else {
            STRESS_CHECK(state == 4 && status == CJ_STATUS_JOB_NOT_FOUND,
                         "unheld SJ " << job.sj << " found in " << cj);
        }
        if (job.knownCJ != 0) {
            UniqueVariant table;
            const HRESULT hr = m_object->GetIVarLookupTbl(job.knownCJ, typ, table.get(), &status);
            STRESS_CHECK(hr == E_FAIL || (hr == S_OK && table.vt() == (VT_ARRAY | VT_I4)),
                         "lookup table of " << job.knownCJ << ": " << hr);
        }
    }

    // With every client stopped: each slot's collection job holds exactly the live jobs that
    // their clients were told it holds, with their names, and the cancelled ones only as such.
    void checkQuiescent() {
        t_where = "quiescent point after " + std::to_string(steps()) + " steps";
        std::map<ULONG, Job*> jobs;
        for (Client& c : m_clients) {
            for (Job& job : c.jobs) {
                jobs[job.sj] = &job;
            }
        }
        m_table.revokeStranded();
        std::map<const Job*, ULONG> holder;  // live jobs by the CJ that lists them
        std::map<const Job*, bool> listed;   // cancelled jobs still listed
        for (int slot = 0; slot < kSlotCount; ++slot) {
            CJAsyncRQRecordHolder record;
            UniqueVariant names;
            ULONG sj = 0, cj = 0, action = CJ_ACTION_UNCHANGED, status = 0;
            STRESS_CHECK(m_object->UpdateIVarJobEntry(kSlots[slot].cycle, kSlots[slot].typ, nullptr,
                                                      &sj, &cj, names.get(), record.get(), &action,
                                                      &status) == S_OK &&
                             action == CJ_ACTION_UNCHANGED,
                         "record of slot " << slot);
            if (record->m_pSJ == nullptr) {
                continue;
            }
            const std::vector<Row> rows = record->m_LookupTbl.vt == VT_EMPTY
                                              ? std::vector<Row>{}
                                              : anyptr_test::lookup_rows(&record->m_LookupTbl);
            const std::vector<Range> reformed = names.vt() == VT_EMPTY
                                                    ? std::vector<Range>{}
                                                    : anyptr_test::reformed_ranges(names.get());
            size_t at = 0;
            for (ULONG i = 0; i < record->containing; ++i) {
                const SJAsyncRQRecord& sjr = record->m_pSJ[i];
                const auto it = jobs.find(sjr.ES_JobID);
                STRESS_CHECK(it != jobs.end() && it->second->slot == slot,
                             "stranger SJ " << sjr.ES_JobID << " in " << record->m_ES_JobID);
                if (it != jobs.end() && it->second->held == Held::Cancelled) {
                    listed[it->second] = true;
                    STRESS_CHECK(sjr.RQStatus == SJ_CANCELLED && sjr.bICB_InterfaceValid == 0,
                                 "cancelled SJ " << sjr.ES_JobID << " state " << sjr.RQStatus);
                } else if (it != jobs.end()) {
                    const Job& job = *it->second;
                    STRESS_CHECK(job.held == Held::Yes && holder.count(&job) == 0 &&
                                     (sjr.RQStatus == SJ_JOINED || sjr.RQStatus == SJ_RECREATED),
                                 "SJ " << job.sj << " state " << sjr.RQStatus);
                    holder[&job] = record->m_ES_JobID;
                    STRESS_CHECK((job.icb.refs() > 1) == (sjr.bICB_InterfaceValid != 0),
                                 "SJ " << job.sj << " refs " << job.icb.refs());
                    STRESS_CHECK(sjr.VarCount == job.ranges.size() &&
                                     anyptr_test::maps_back(job.ranges, rows, reformed, at),
                                 "names of SJ " << job.sj);
                }
                at += sjr.VarCount;
            }
            STRESS_CHECK(rows.size() == at,
                         record->m_ES_JobID << " has " << rows.size() << " names for " << at);
        }
        for (Client& c : m_clients) {
            for (auto it = c.jobs.begin(); it != c.jobs.end();) {
                Job& job = *it;
                ULONG cj = 0, state = 0;
                if (job.held == Held::Cancelled) {
                    // Gone from the component, and from the table once the strands are revoked.
                    const bool gone = listed.count(&job) == 0;
                    STRESS_CHECK(!gone || job.icb.refs() == 1,
                                 "cancelled SJ " << job.sj << " refs " << job.icb.refs());
                    it = gone ? c.jobs.erase(it) : std::next(it);
                    continue;
                }
                STRESS_CHECK(m_object->existCycle(kSlots[job.slot].cycle, kSlots[job.slot].typ,
                                                  job.sj, &cj, &state) == S_OK,
                             "existCycle of " << job.sj);
                STRESS_CHECK(job.held == Held::Yes
                                 ? holder.count(&job) != 0 && holder[&job] == cj && state == 8
                                 : state == 4,
                             "SJ " << job.sj << " (held " << (job.held == Held::Yes) << ") in "
                                   << cj << ", state " << state);
                ++it;
            }
        }
    }

    IMC_CollectionJobSymAcc* m_object;
    FailingTable& m_table;
    unsigned long long m_seed;
    std::vector<Client> m_clients;
    std::mutex m_units[kSlotCount];
    Quiescence m_quiet;
    std::atomic<bool> m_done{false};
    std::atomic<ULONG> m_nextCJ{1000};
    std::atomic<unsigned long long> m_ydbDeletesStarted{0};
    std::atomic<int> m_ydbDeletesRunning{0};
};

double EnvNumber(const char* name, double fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::strtod(text, nullptr) : fallback;
}

class StressTest : public testing_support::RegistryFixture {};

TEST_F(StressTest, ClientsKeepTheirJobsAndEveryReferenceComesBack) {
    capture.levels(1, 1, 0);  // failures show in the answers; traces would dominate the run
    const double seconds = EnvNumber("CJ_STRESS_SECONDS", 2);
    const auto seed = static_cast<unsigned long long>(
        EnvNumber("CJ_STRESS_SEED", static_cast<double>(std::random_device{}())));
    t_rng.seed(seed);
    g_failPercent = 2 + static_cast<unsigned>(seed % 19);
    std::cout << "stress: seed " << seed << ", " << seconds << " s, " << kClients << " clients, "
              << g_failPercent << " % of callback calls failing" << std::endl;

    FailingTable table;
    DWORD classCookie = 0;
    ASSERT_EQ(CoRegisterClassObject(CLSID_MC_CallbackTable, static_cast<IClassFactory*>(&table),
                                    CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &classCookie),
              S_OK);
    ComPtr<IMC_CollectionJobSymAcc> object;
    {
        ComPtr<CCollectionJobSymAcc> made(new CCollectionJobSymAcc);  // adds the first reference
        ASSERT_EQ(made.query(IID_IMC_CollectionJobSymAcc, object), S_OK);
    }
    Stress stress(object.get(), table, seed);
    stress.run(seconds);
    object.reset();  // the component releases what it still holds
    table.revokeStranded();
    stress.checkReleased();
    EXPECT_EQ(CoRevokeClassObject(classCookie), S_OK);

    std::cout << "stress: " << stress.steps() << " steps" << std::endl;
    for (const std::string& finding : g_findings) {
        ADD_FAILURE() << "seed " << seed << ", " << finding;
    }
}

}  // namespace
