// The simulation: client threads walking the component's IVar and YDB roads against a simulated
// controller on a virtual clock, with a summary and the verification of every value received.
#include "simulator.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <set>
#include <sstream>
#include <thread>
#include <tuple>

#include "component_factory.h"
#include "controller.h"
#include "engsys/exports.h"
#include "output_paths.h"
#include "platform/com_object.h"
#include "platform/module.h"
#include "platform/raii.h"
#include "ydb_messages.h"

namespace cjsim {

namespace {

using platform::ComPtr;
using platform::UniqueVariant;
using Key = std::pair<long, long>;  // (cycle, type)

constexpr ULONG kActionAlone = CJ_ACTION_ALONE;
constexpr ULONG kActionRecreate = CJ_ACTION_STOP;
constexpr ULONG kCancelCJRemoved = CJ_CANCEL_CJ_REMOVED;
constexpr ULONG kCancelSJRemoved = CJ_CANCEL_SJ_REMOVED;
constexpr ULONG kCancelCJDeleted = CJ_CANCEL_CJ_DELETED | CJ_CANCEL_SJ_REMOVED;
constexpr ULONG kReasonRecreate = 1;
// ES ids that clients give re-created collection jobs: above any job limit.
constexpr ULONG kFirstRecreatedID = 1000;

std::string Format(const char* format, ...) PLATFORM_PRINTF_FORMAT(1, 2);
std::string Format(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

std::string RangeText(const NameRange& r) {
    return Format("%d/%d/%d:%d+%d", r.unit, r.area, r.typ, r.start, r.cnt);
}

// What a client would read without the component: its names, or on the YDB service one
// variable per element.
size_t Requested(const ScenarioClient& plan) {
    size_t n = plan.names.size();
    if (plan.ydb) {
        n = 0;
        for (const NameRange& r : plan.names) {
            n += static_cast<size_t>(r.cnt);
        }
    }
    return n;
}

// A client's record, freed as a client must free it.
struct Record : CJAsyncRQRecordHolder {
    CJAsyncRQRecord& r = *get();
};

// The simulator's own codec of ANY-pointer names, so that a fault in the component's codec cannot
// hide in the check of its output. A name is three VT_I4 whose little-endian images are the 12
// item bytes: 12 0A A2, Typ, then Cnt, Unit, Area and SubArea as big-endian 16-bit fields.
constexpr BYTE kNameHeader[3] = {0x12, 0x0A, 0xA2};

UniqueVariant NameOf(const NameRange& n) {
    BYTE item[12] = {kNameHeader[0], kNameHeader[1], kNameHeader[2], static_cast<BYTE>(n.typ)};
    const int fields[] = {n.cnt, n.unit, n.area, n.start};
    for (int f = 0; f < 4; ++f) {
        item[4 + 2 * f] = static_cast<BYTE>(fields[f] >> 8);
        item[5 + 2 * f] = static_cast<BYTE>(fields[f]);
    }
    UniqueVariant name;
    SAFEARRAY* array = SafeArrayCreateVector(VT_I4, 0, 3);
    if (array == nullptr) {
        throw std::bad_alloc();
    }
    name.get()->vt = VT_ARRAY | VT_I4;
    name.get()->parray = array;
    for (LONG e = 0; e < 3; ++e) {
        const BYTE* b = item + 4 * e;
        LONG element =
            static_cast<LONG>(static_cast<ULONG>(b[0]) | static_cast<ULONG>(b[1]) << 8 |
                              static_cast<ULONG>(b[2]) << 16 | static_cast<ULONG>(b[3]) << 24);
        if (FAILED(SafeArrayPutElement(array, &e, &element))) {
            throw std::bad_alloc();
        }
    }
    return name;
}

// False for anything but a name in the form above.
bool RangeOf(const VARIANT* name, NameRange& out) {
    LONG lower = -1, upper = -1;
    if (name->vt != (VT_ARRAY | VT_I4) || name->parray == nullptr ||
        SafeArrayGetDim(name->parray) != 1 || FAILED(SafeArrayGetLBound(name->parray, 1, &lower)) ||
        FAILED(SafeArrayGetUBound(name->parray, 1, &upper)) || lower != 0 || upper != 2) {
        return false;
    }
    BYTE b[12] = {};
    for (LONG e = 0; e < 3; ++e) {
        LONG element = 0;
        if (FAILED(SafeArrayGetElement(name->parray, &e, &element))) {
            return false;
        }
        for (int k = 0; k < 4; ++k) {
            b[4 * e + k] = static_cast<BYTE>(static_cast<ULONG>(element) >> (8 * k));
        }
    }
    if (!std::equal(kNameHeader, kNameHeader + 3, b)) {
        return false;
    }
    out = {(b[6] << 8) | b[7], (b[8] << 8) | b[9], b[3], (b[10] << 8) | b[11], (b[4] << 8) | b[5]};
    return true;
}

UniqueVariant NamesOf(const std::vector<NameRange>& ranges) {
    UniqueVariant names;
    SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(ranges.size()));
    if (array == nullptr) {
        throw std::bad_alloc();
    }
    names.get()->vt = VT_ARRAY | VT_VARIANT;
    names.get()->parray = array;
    for (LONG i = 0; i < static_cast<LONG>(ranges.size()); ++i) {
        UniqueVariant name = NameOf(ranges[static_cast<size_t>(i)]);
        if (FAILED(SafeArrayPutElement(array, &i, name.get()))) {
            throw std::bad_alloc();
        }
    }
    return names;
}

// The ranges a names array of the component holds; false when one is not an ANY pointer.
bool RangesOf(const VARIANT* names, std::vector<NameRange>& out) {
    out.clear();
    if (names->vt != (VT_ARRAY | VT_VARIANT) || names->parray == nullptr) {
        return false;
    }
    LONG lower = 0, upper = -1;
    if (FAILED(SafeArrayGetLBound(names->parray, 1, &lower)) ||
        FAILED(SafeArrayGetUBound(names->parray, 1, &upper))) {
        return false;
    }
    for (LONG i = lower; i <= upper; ++i) {
        UniqueVariant element;
        NameRange range;
        if (FAILED(SafeArrayGetElement(names->parray, &i, element.get())) ||
            !RangeOf(element.get(), range)) {
            return false;
        }
        out.push_back(range);
    }
    return true;
}

// Rows of a lookup table: column c of requested name i at indices {c, i}.
bool LookupRows(const VARIANT* table, std::vector<std::array<LONG, 4>>& rows) {
    rows.clear();
    if (table->vt != (VT_ARRAY | VT_I4) || table->parray == nullptr ||
        SafeArrayGetDim(table->parray) != 2) {
        return false;
    }
    LONG lower[2] = {}, upper[2] = {};
    for (UINT d = 0; d < 2; ++d) {
        if (FAILED(SafeArrayGetLBound(table->parray, d + 1, &lower[d])) ||
            FAILED(SafeArrayGetUBound(table->parray, d + 1, &upper[d]))) {
            return false;
        }
    }
    if (lower[0] != 0 || lower[1] != 0 || upper[0] != 3) {
        return false;
    }
    // The first index varies fastest: row i's columns lie together.
    platform::SafeArrayDataAccess<const LONG> cells(table->parray);
    if (FAILED(cells.hr())) {
        return false;
    }
    for (LONG i = 0; i <= upper[1]; ++i) {
        const LONG* row = cells.data() + 4 * i;
        rows.push_back({row[0], row[1], row[2], row[3]});
    }
    return true;
}

// Threads that run one piece of work each, all together, as often as the clock asks.
class Crew {
  public:
    explicit Crew(int count) {
        for (int i = 0; i < count; ++i) {
            m_threads.emplace_back([this, i] { Loop(i); });
        }
    }
    ~Crew() {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_stop = true;
        }
        m_wake.notify_all();
        for (std::thread& t : m_threads) {
            t.join();
        }
    }
    Crew(const Crew&) = delete;
    Crew& operator=(const Crew&) = delete;

    // Runs steps one after another in the given order, step k on thread threadOf[k]: the effects
    // of a tick's starts and cancels take place in an order the seed alone decides.
    void RunInTurns(const std::vector<int>& threadOf, const std::function<void(size_t)>& step) {
        m_turn = 0;
        Run([&](int thread) {
            for (size_t k = 0; k < threadOf.size(); ++k) {
                if (threadOf[k] != thread) {
                    continue;
                }
                {
                    std::unique_lock<std::mutex> guard(m_turnLock);
                    m_turnDone.wait(guard, [&] { return m_turn == k; });
                }
                step(k);
                {
                    std::lock_guard<std::mutex> guard(m_turnLock);
                    ++m_turn;
                }
                m_turnDone.notify_all();
            }
        });
    }

    void Run(const std::function<void(int)>& work) {
        std::unique_lock<std::mutex> guard(m_lock);
        m_work = &work;
        m_pending = static_cast<int>(m_threads.size());
        ++m_generation;
        m_wake.notify_all();
        m_done.wait(guard, [this] { return m_pending == 0; });
        m_work = nullptr;
    }

  private:
    void Loop(int index) {
        // Every thread that calls the component joins the multithreaded apartment.
        const HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        uint64_t seen = 0;
        std::unique_lock<std::mutex> guard(m_lock);
        for (;;) {
            m_wake.wait(guard, [&] { return m_stop || m_generation != seen; });
            if (m_stop) {
                break;
            }
            seen = m_generation;
            const std::function<void(int)>* work = m_work;
            guard.unlock();
            (*work)(index);
            guard.lock();
            if (--m_pending == 0) {
                m_done.notify_all();
            }
        }
        guard.unlock();
        if (SUCCEEDED(init)) {
            CoUninitialize();
        }
    }

    std::mutex m_lock;
    std::condition_variable m_wake, m_done;
    const std::function<void(int)>* m_work = nullptr;
    uint64_t m_generation = 0;
    int m_pending = 0;
    bool m_stop = false;
    std::mutex m_turnLock;
    std::condition_variable m_turnDone;
    size_t m_turn = 0;
    std::vector<std::thread> m_threads;
};

// The device's instance details as the clients report them: value comparison on, without which
// UpdateYDBValues finds no job. Lives on the stack.
class ValueComparisonOn final
    : public platform::ComObject<ValueComparisonOn, platform::CallerOwned, IMC_InstDetails> {
  public:
    // clang-format off
#define RESERVED(n) HRESULT STDMETHODCALLTYPE Reserved##n() override { return E_NOTIMPL; }
    RESERVED(3) RESERVED(4) RESERVED(5) RESERVED(6) RESERVED(7) RESERVED(8) RESERVED(9)
    RESERVED(10) RESERVED(11) RESERVED(12) RESERVED(13) RESERVED(14) RESERVED(15)
#undef RESERVED
        // clang-format on
        HRESULT STDMETHODCALLTYPE
        getAttributeByTypeID(VARIANT, BSTR, BSTR* pValue, ULONG* pResult) override {
        *pValue = SysAllocString(OLESTR("YES"));
        *pResult = 0;
        return *pValue == nullptr ? E_OUTOFMEMORY : S_OK;
    }
};

class Simulation;

// A client's callback: the single job's callback interface and the collection job's decode
// callback, which deletes and updates jobs on the controller.
class ClientCallback final
    : public platform::ComObject<ClientCallback, platform::DeleteAtZero, IMC_YDBDecode> {
  public:
    explicit ClientCallback(Simulation& sim) : m_sim(sim) { AggregateFreeThreadedMarshaler(); }

    HRESULT STDMETHODCALLTYPE DeleteJob(ULONG jobID, ULONG reason, ULONG* pStatus) override;
    HRESULT STDMETHODCALLTYPE UpdateJob(ULONG jobID, CJAsyncRQRecord record,
                                        ULONG* pStatus) override;
    HRESULT STDMETHODCALLTYPE Reserved3() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE StartService(LONG, ULONG, ULONG, ULONG, ULONG*) override {
        return E_NOTIMPL;
    }

  private:
    Simulation& m_sim;
};

enum class Phase { Pending, Alone, InCJ, Cancelled, Failed };

struct Client {
    const ScenarioClient* plan = nullptr;
    size_t index = 0;
    int thread = 0;
    bool wrongRow = false;
    ComPtr<ClientCallback> callback;
    // Changed only under the road lock of the client's (cycle, type), read between the phases.
    ULONG sj = 0;
    Phase phase = Phase::Pending;
    unsigned long rt = 0;  // controller job that reads for it
    ULONG cjEs = 0;        // its collection job, when in one
    ULONG base = 0;        // position of its first name among the collection job's names
    // The lookup table as read for job rt `tableRt`: kept until the client reads from another.
    unsigned long tableRt = 0;
    std::vector<std::array<LONG, 4>> rows;
    // YDB clients: one variable per element; the request, the values handed over each cycle
    // and the output object they arrive in.
    std::vector<NameRange> elements;
    ComPtr<IYDB_Data> request, values, out;
};

// A line of the log with its place: the turn of a start or cancel, or the client of a read;
// within a place the step's own line comes before what happened during it.
struct Event {
    size_t order;
    bool headline;
    SimEvent event;
};

// A mismatch or error, sorted by its place like the log before the first ones are kept.
struct Problem {
    unsigned long tick;
    int phase;
    size_t order;
    std::string text;
};

enum PhaseOfTick { kEventPhase, kReadPhase, kClosingPhase };

// The events of the thread that is running, so that callbacks can add theirs.
thread_local std::vector<Event>* t_events = nullptr;
thread_local size_t t_order = 0;
thread_local size_t t_client = 0;

// A number generator with the same sequence on every platform, for the order of a tick's steps.
class SeededOrder {
  public:
    explicit SeededOrder(uint32_t seed) : m_state(seed * 0x9E3779B97F4A7C15ull + 1) {}
    template <class T>
    void Shuffle(std::vector<T>& items) {
        for (size_t i = items.size(); i > 1; --i) {
            std::swap(items[i - 1], items[static_cast<size_t>(Next() % i)]);
        }
    }

  private:
    uint64_t Next() {  // splitmix64
        uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint64_t m_state;
};

// A start or cancel of the agenda.
struct Step {
    size_t client;
    bool cancel;
};

class Simulation {
  public:
    Simulation(const Scenario& scenario, const SimOptions& options, std::ostream& out)
        : m_scenario(scenario), m_options(options), m_out(out), m_order(options.seed) {}

    SimResult Run(RunClasses& classes, std::ostream& err);

    void CallbackDelete(ULONG jobID, ULONG reason) {
        const unsigned long rt = m_controller.RemoveCollection(jobID);
        if (rt == 0) {
            Error(
                Format("decode callback: delete of collection job %u, which the controller "
                       "does not run",
                       static_cast<unsigned>(jobID)));
        } else {
            Note("controller",
                 Format("  controller: job rt %lu of collection job %u deleted (reason %u)", rt,
                        static_cast<unsigned>(jobID), static_cast<unsigned>(reason)));
        }
    }
    void CallbackUpdate(ULONG jobID, const CJAsyncRQRecord& record) {
        m_controller.SetRing(record.m_ES_JobID != 0 ? record.m_ES_JobID : jobID, record);
    }

  private:
    std::mutex& RoadLock(const ScenarioClient& plan) {
        std::lock_guard<std::mutex> guard(m_roadLocksLock);
        std::unique_ptr<std::mutex>& lock = m_roadLocks[{plan.cycle, plan.type}];
        if (!lock) {
            lock = std::make_unique<std::mutex>();
        }
        return *lock;
    }
    void Note(const char* kind, std::string text, bool headline = false) {
        if (t_events != nullptr) {
            const std::string client =
                t_client < m_clients.size() ? m_clients[t_client].plan->name : std::string();
            t_events->push_back({t_order, headline, {m_tick, client, kind, std::move(text)}});
        }
    }
    void Headline(const char* kind, std::string text) { Note(kind, std::move(text), true); }
    void Error(const std::string& text) {
        ++m_errors;
        Note("error", "  ERROR " + text);
        AddProblem(text);
    }
    void Mismatch(const std::string& text) {
        ++m_mismatches;
        AddProblem(text);
    }
    void AddProblem(const std::string& text) {
        std::lock_guard<std::mutex> guard(m_problemsLock);
        m_problems.push_back({m_tick, m_phase, t_order, Format("t=%lu ", m_tick) + text});
    }
    bool Check(HRESULT hr, ULONG status, const Client& c, const char* call) {
        if (SUCCEEDED(hr) && status == 0) {
            return true;
        }
        Error(Format("%s: %s answered hr 0x%08X, status 0x%08X", c.plan->name.c_str(), call,
                     static_cast<unsigned>(hr), static_cast<unsigned>(status)));
        return false;
    }
    bool Live(const Client& c) const { return c.phase == Phase::Alone || c.phase == Phase::InCJ; }
    // Records that job rt reads for client c from name `base` on.
    void Assign(Client& c, unsigned long rt, ULONG cj, ULONG base) {
        c.rt = rt;
        c.cjEs = cj;
        c.base = base;
        m_controller.AddClient(rt, c.index, base);
    }

    bool Setup(RunClasses& classes, std::ostream& err);
    int PrepareClients();
    unsigned long NextTick(unsigned long tick) const;
    void RunStarts(Crew& crew, std::vector<Step> steps);
    void ExecuteJobs();
    void RunReads(Crew& crew);
    void FlushLog(int phase);
    void ShowProgress(std::chrono::steady_clock::time_point began);
    void Close();
    ULONG RecreateYDBJob(Client& c, ULONG cj, ULONG action, CJAsyncRQRecordHolder& state);
    void ConfirmYDBJob(Client& c, ULONG es, unsigned long rt, LONG ticks, ULONG first);
    void WriteSummary(SimResult& result);
    void WriteVerification(SimResult& result);

    void Road(Client& c);
    void Recreate(Client& c, ULONG cj, ULONG action, const VARIANT* cjNames);
    size_t HandOver(Client& c, const CJAsyncRQRecord& record, ULONG cj, unsigned long rt,
                    ULONG& base);
    void RoadYDB(Client& c);
    void StartYDBJob(Client& c, const CJAsyncRQRecord& joined, ULONG action);
    void Cancel(Client& c);
    void ReadValues(Client& c);
    void ReadYDBValues(Client& c);
    void CompareYDB(const Client& c, const std::vector<NameRange>& arrived,
                    const std::vector<uint32_t>& got);
    void Compare(const Client& c, size_t i, bool ok, unsigned long sampleTick,
                 const std::vector<uint32_t>& got);
    void Sample();
    std::string Dot() const;
    void CheckFinalTable();
    SimResult Report();

    const Scenario& m_scenario;
    const SimOptions& m_options;
    std::ostream& m_out;
    ComPtr<IMC_CollectionJobSymAcc> m_component;
    Controller m_controller;
    std::vector<Client> m_clients;
    // The clients by thread and cycle time: a tick visits only those whose cycle falls due.
    std::vector<std::map<long, std::vector<Client*>>> m_byThread;
    std::map<unsigned long, std::vector<Step>> m_agenda;  // starts and cancels by tick
    std::set<long> m_cycles;
    SeededOrder m_order;
    std::vector<std::vector<Event>> m_buffers;  // one per thread
    std::vector<SimEvent> m_log;
    int m_phase = kEventPhase;
    size_t m_live = 0;
    std::chrono::steady_clock::time_point m_lastProgress;
    std::map<ULONG, Client*> m_bySJ;  // guarded by m_bySJLock
    std::mutex m_bySJLock;
    std::mutex m_roadLocksLock;
    std::map<Key, std::unique_ptr<std::mutex>> m_roadLocks;
    std::atomic<ULONG> m_nextCJ{kFirstRecreatedID};
    unsigned long m_tick = 0;  // written by the clock between phases only
    std::atomic<uint64_t> m_reads{0}, m_values{0}, m_mismatches{0}, m_errors{0};
    std::atomic<uint64_t> m_ydbReads{0}, m_ydbValues{0};
    std::set<Key> m_ydbKeys;  // (cycle, type) of the YDB clients
    std::mutex m_problemsLock;
    std::vector<Problem> m_problems;
    // Statistics, kept by the clock thread.
    std::map<Key, KeyStats> m_stats;
    std::map<Key, uint64_t> m_executions, m_namesWithout, m_namesWith;
    size_t m_peakLive = 0;
    bool m_sampled = false;
    unsigned long m_peakTick = 0;
};

HRESULT STDMETHODCALLTYPE ClientCallback::DeleteJob(ULONG jobID, ULONG reason, ULONG* pStatus) {
    m_sim.CallbackDelete(jobID, reason);
    if (pStatus != nullptr) {
        *pStatus = 0;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ClientCallback::UpdateJob(ULONG jobID, CJAsyncRQRecord record,
                                                    ULONG* pStatus) {
    m_sim.CallbackUpdate(jobID, record);  // the record stays the component's
    if (pStatus != nullptr) {
        *pStatus = 0;
    }
    return S_OK;
}

// Adds the client's names, joins, and acts on the action word. Held across the whole step: a
// single job stopped for re-creation is dropped by the next merge into its collection job
// unless its client has reported the re-creation first.
void Simulation::Road(Client& c) {
    if (c.plan->ydb) {
        RoadYDB(c);
        return;
    }
    std::lock_guard<std::mutex> road(RoadLock(*c.plan));
    const LONG cycle = c.plan->cycle, typ = c.plan->type;
    ULONG sj = 0, status = 0;
    m_component->newJobID(&sj);
    c.sj = sj;
    {
        std::lock_guard<std::mutex> guard(m_bySJLock);
        m_bySJ[sj] = &c;
    }
    UniqueVariant names = NamesOf(c.plan->names);
    HRESULT hr = m_component->addSymbolsIVar(cycle, typ, *names.get(), sj, &status);
    if (!Check(hr, status, c, "addSymbolsIVar")) {
        c.phase = Phase::Failed;
        return;
    }
    Record record;
    UniqueVariant cjNames;
    ULONG cj = 0, action = 0;
    hr = m_component->UpdateIVarJobEntry(cycle, typ, c.callback.get(), &sj, &cj, cjNames.get(),
                                         &record.r, &action, &status);
    if (!Check(hr, status, c, "UpdateIVarJobEntry")) {
        c.phase = Phase::Failed;
        return;
    }
    if ((action & kActionRecreate) != 0) {
        Recreate(c, cj, action, cjNames.get());
        return;
    }
    if (action != kActionAlone) {
        Error(Format("%s: unexpected action word 0x%03X", c.plan->name.c_str(),
                     static_cast<unsigned>(action)));
    }
    Assign(c, m_controller.Create(cycle, typ, c.plan->names, sj, 0, false), 0, 0);
    c.phase = Phase::Alone;
    ++m_live;
    const std::string why =
        record.r.m_ES_JobID != 0
            ? Format("first of collection job %u, which is not on the controller yet",
                     static_cast<unsigned>(record.r.m_ES_JobID))
            : std::string("no collection job (job limit)");
    Headline("start",
             Format("%-8s start  %4ldms typ %ld, %zu names: runs alone, %s (action 0x%03X); job "
                    "rt %lu",
                    c.plan->name.c_str(), c.plan->cycle, c.plan->type, c.plan->names.size(),
                    why.c_str(), static_cast<unsigned>(action), c.rt));
}

void Simulation::Recreate(Client& c, ULONG cj, ULONG action, const VARIANT* cjNames) {
    const LONG cycle = c.plan->cycle, typ = c.plan->type;
    ULONG status = 0;
    std::vector<NameRange> reformed;
    if (!RangesOf(cjNames, reformed)) {
        Error(Format("%s: the names of collection job %u are not ANY pointers",
                     c.plan->name.c_str(), static_cast<unsigned>(cj)));
        c.phase = Phase::Failed;
        return;
    }
    // Re-creating replaces the job on the controller; its decode callback deletes it there.
    if (const unsigned long oldRt = m_controller.FindCollection(cj, typ); oldRt != 0) {
        HRESULT hr = m_component->deleteIVarCJob(cj, typ, kReasonRecreate, &status);
        Check(hr, status, c, "deleteIVarCJob");
        if (m_controller.Exists(oldRt)) {
            Error(
                Format("%s: deleteIVarCJob(%u) did not delete job rt %lu through the decode "
                       "callback",
                       c.plan->name.c_str(), static_cast<unsigned>(cj), oldRt));
            m_controller.Remove(oldRt);
        }
    }
    const ULONG newCJ = m_nextCJ++;
    const unsigned long rt = m_controller.Create(cycle, typ, reformed, newCJ, cj, true);
    Record state;
    ULONG stateAction = action;
    HRESULT hr =
        m_component->UpdateJobState(cycle, typ, c.sj, newCJ, &stateAction, &state.r, &status);
    Check(hr, status, c, "UpdateJobState");
    if (state.r.m_ES_JobID != newCJ) {
        Error(Format("%s: UpdateJobState left collection job %u as %u", c.plan->name.c_str(),
                     static_cast<unsigned>(newCJ), static_cast<unsigned>(state.r.m_ES_JobID)));
    }
    hr = m_component->setRt_JobID(cycle, typ, c.sj, newCJ, rt, &status);
    Check(hr, status, c, "setRt_JobID");
    hr = m_component->UpdateCJ_IVarCB(0, typ, newCJ, c.callback.get(), &status);
    Check(hr, status, c, "UpdateCJ_IVarCB");
    // A cancel that empties the job deletes it through the decode callback of this slot.
    hr = m_component->UpdateCJ_YDBCB(0, typ, newCJ, c.callback.get(), &status);
    Check(hr, status, c, "UpdateCJ_YDBCB");
    ULONG rtSeen = c.sj;
    hr = m_component->getRt_JobID(cycle, 0, &rtSeen, &status);
    if (Check(hr, status, c, "getRt_JobID") && rtSeen != rt) {
        Error(Format("%s: getRt_JobID answers %u, the controller runs rt %lu", c.plan->name.c_str(),
                     static_cast<unsigned>(rtSeen), rt));
    }

    ULONG base = 0;
    const size_t handedOver = HandOver(c, state.r, newCJ, rt, base);
    m_controller.SetRing(newCJ, state.r);
    Headline(
        "start",
        Format("%-8s start  %4ldms typ %ld, %zu names: joins collection job %u (action 0x%03X), "
               "re-created as %u: %zu single jobs, %u names -> %zu reads; job rt %lu",
               c.plan->name.c_str(), c.plan->cycle, c.plan->type, c.plan->names.size(),
               static_cast<unsigned>(cj), static_cast<unsigned>(action),
               static_cast<unsigned>(newCJ), handedOver, static_cast<unsigned>(base),
               reformed.size(), rt));
}

// The new job reads for every single job of the collection job, in the record's order. Returns
// how many were live, with the collection job's variable count in base.
size_t Simulation::HandOver(Client& c, const CJAsyncRQRecord& record, ULONG cj, unsigned long rt,
                            ULONG& base) {
    size_t handedOver = 0;
    for (ULONG i = 0; record.m_pSJ != nullptr && i < record.containing; ++i) {
        const SJAsyncRQRecord& sj = record.m_pSJ[i];
        Client* owner = nullptr;
        {
            std::lock_guard<std::mutex> guard(m_bySJLock);
            const auto it = m_bySJ.find(sj.ES_JobID);
            owner = it == m_bySJ.end() ? nullptr : it->second;
        }
        if (owner == nullptr) {
            Error(Format("%s: collection job %u holds single job %u of no client",
                         c.plan->name.c_str(), static_cast<unsigned>(cj),
                         static_cast<unsigned>(sj.ES_JobID)));
        } else if (Live(*owner) || owner == &c) {
            if (owner->phase == Phase::Alone) {
                m_controller.Remove(owner->rt);
            }
            m_live += Live(*owner) ? 0 : 1;
            owner->phase = Phase::InCJ;
            Assign(*owner, rt, cj, base);
            ++handedOver;
        }
        base += sj.VarCount;
    }
    return handedOver;
}

// A YDB client's road: its request as a debug-service message in a data object made through
// COM, added and joined; the action word says whether the job is created or re-created.
void Simulation::RoadYDB(Client& c) {
    std::lock_guard<std::mutex> road(RoadLock(*c.plan));
    ULONG sj = 0, status = 0;
    m_component->newJobID(&sj);
    c.sj = sj;
    {
        std::lock_guard<std::mutex> guard(m_bySJLock);
        m_bySJ[sj] = &c;
    }
    c.elements = Elements(c.plan->names);
    c.request = CreateYDBData();
    c.values = CreateYDBData();
    c.out = CreateYDBData();
    if (!c.values || !c.out || !WriteRequest(c.request.get(), c.plan->cycle, c.elements)) {
        Error(Format("%s: no YDB data object for the request", c.plan->name.c_str()));
        c.phase = Phase::Failed;
        return;
    }
    HRESULT hr =
        m_component->addSymbolsYDB(c.plan->cycle, c.plan->type, c.request.get(), sj, &status);
    if (!Check(hr, status, c, "addSymbolsYDB")) {
        c.phase = Phase::Failed;
        return;
    }
    CJAsyncRQRecordHolder record;
    ULONG cj = 0, action = 0;
    hr = m_component->UpdateYDBJobEntry(c.plan->cycle, c.plan->type, c.callback.get(), &sj, &cj,
                                        c.request.get(), record.get(), &action, &status);
    if (!Check(hr, status, c, "UpdateYDBJobEntry")) {
        c.phase = Phase::Failed;
        return;
    }
    StartYDBJob(c, *record.get(), action);
}

// Creates the job on the controller from the message the join handed over (re-creating it when
// it was stopped), confirms it once per tick, starts it, and hands it to its single jobs.
void Simulation::StartYDBJob(Client& c, const CJAsyncRQRecord& joined, ULONG action) {
    std::vector<NameRange> variables;
    std::vector<uint32_t> unused;
    if ((action != kActionAlone && (action & kActionRecreate) == 0) ||
        !ReadVariables(c.request.get(), variables, unused)) {
        Error(Format("%s: action 0x%03X with no job to create", c.plan->name.c_str(),
                     static_cast<unsigned>(action)));
        c.phase = Phase::Failed;
        return;
    }
    const ULONG cj = joined.m_ES_JobID;
    ULONG es = cj, first = c.sj;
    CJAsyncRQRecordHolder state;
    const CJAsyncRQRecord* ring = &joined;
    if ((action & kActionRecreate) != 0) {
        es = RecreateYDBJob(c, cj, action, state);
        first = state->m_pSJ != nullptr ? state->m_pSJ[0].ES_JobID : c.sj;
        ring = state.get();
    }
    const unsigned long rt =
        m_controller.Create(c.plan->cycle, c.plan->type, variables, es, cj, true);
    ConfirmYDBJob(c, es, rt, ring->ticks, first);
    // A job created for this single job alone: the join's record was taken before it joined.
    ULONG base = static_cast<ULONG>(c.elements.size());
    size_t handedOver = 1;
    if (ring == &joined) {
        c.phase = Phase::InCJ;
        ++m_live;
        Assign(c, rt, es, 0);
    } else {
        base = 0;
        handedOver = HandOver(c, *ring, es, rt, base);
    }
    m_controller.SetRing(es, *ring);
    Headline("start",
             Format("%-8s start  %4ldms typ %ld, %zu variables (YDB): %s collection job %u "
                    "(action 0x%03X): %zu single jobs, %u variables; job rt %lu",
                    c.plan->name.c_str(), c.plan->cycle, c.plan->type, c.elements.size(),
                    es == cj ? "creates" : "re-creates", static_cast<unsigned>(es),
                    static_cast<unsigned>(action), handedOver, static_cast<unsigned>(base), rt));
}

// Deletes the stopped job on the controller through the decode callback and reports its new ES
// id, which it returns; state receives the collection job's record.
ULONG Simulation::RecreateYDBJob(Client& c, ULONG cj, ULONG action, CJAsyncRQRecordHolder& state) {
    const LONG typ = c.plan->type;
    ULONG status = 0;
    if (const unsigned long oldRt = m_controller.FindCollection(cj, typ); oldRt != 0) {
        Check(m_component->deleteYDBCJob(cj, typ, kReasonRecreate, &status), status, c,
              "deleteYDBCJob");
        if (m_controller.Exists(oldRt)) {
            Error(Format("%s: deleteYDBCJob(%u) left job rt %lu", c.plan->name.c_str(),
                         static_cast<unsigned>(cj), oldRt));
            m_controller.Remove(oldRt);
        }
    }
    const ULONG es = m_nextCJ++;
    ULONG stateAction = action;
    Check(m_component->UpdateJobState(c.plan->cycle, typ, c.sj, es, &stateAction, state.get(),
                                      &status),
          status, c, "UpdateJobState");
    return es;
}

// setRt_JobID, the confirmation once per tick of the record (at least once), and the start.
void Simulation::ConfirmYDBJob(Client& c, ULONG es, unsigned long rt, LONG ticks, ULONG first) {
    const LONG cycle = c.plan->cycle, typ = c.plan->type;
    ULONG status = 0;
    Check(m_component->setRt_JobID(cycle, typ, c.sj, es, rt, &status), status, c, "setRt_JobID");
    do {
        Check(m_component->UpdateCJ_YDBCB(0, typ, es, c.callback.get(), &status), status, c,
              "UpdateCJ_YDBCB");
    } while (--ticks > 0);
    ULONG result = 0;
    Check(m_component->startYDBService(cycle, typ, 0, first, es, c.callback.get(), &result), 0, c,
          "startYDBService");
}

// The controller's response for the collection job this cycle; the client takes its own run
// into its data object and has the component hand it to its output object.
void Simulation::ReadYDBValues(Client& c) {
    ++m_reads;
    ++m_ydbReads;
    const size_t base = c.base + (c.wrongRow ? 1 : 0);
    std::vector<NameRange> run;
    std::vector<uint32_t> values, one;
    for (size_t k = 0; k < c.elements.size(); ++k) {
        NameRange name;
        unsigned long tick = kNoSample;
        if (!m_controller.Name(c.rt, base + k, name) ||
            !m_controller.Read(c.rt, base + k, 0, 0, tick, one) || tick != m_tick ||
            one.size() != 1) {
            Mismatch(Format("%s: variable %zu: no value of this cycle on the controller",
                            c.plan->name.c_str(), k));
            return;
        }
        run.push_back(name);
        values.push_back(one[0]);
    }
    if (!WriteValues(c.values.get(), c.rt, run, values) || !ResetOutput(c.out.get())) {
        Error(Format("%s: its data objects cannot be written", c.plan->name.c_str()));
        return;
    }
    CJAsyncRQRecordHolder record;
    ULONG cj = 0, status = 0;
    const HRESULT hr =
        m_component->UpdateYDBValues(c.sj, c.values.get(), c.out.get(), &cj, record.get(), &status);
    if (!Check(hr, status, c, "UpdateYDBValues")) {
        return;
    }
    std::vector<NameRange> arrived;
    if (cj != c.cjEs || !ReadVariables(c.out.get(), arrived, values)) {
        Mismatch(Format("%s: no answer of collection job %u in its output object",
                        c.plan->name.c_str(), static_cast<unsigned>(c.cjEs)));
        return;
    }
    CompareYDB(c, arrived, values);
}

void Simulation::CompareYDB(const Client& c, const std::vector<NameRange>& arrived,
                            const std::vector<uint32_t>& got) {
    if (arrived.size() != c.elements.size()) {
        Mismatch(Format("%s: %zu variables arrived, %zu requested", c.plan->name.c_str(),
                        arrived.size(), c.elements.size()));
        return;
    }
    for (size_t k = 0; k < arrived.size(); ++k) {
        const NameRange& want = c.elements[k];
        const NameRange& a = arrived[k];
        if (a.unit != want.unit || a.area != want.area || a.typ != want.typ ||
            a.start != want.start) {
            Mismatch(Format("%s: variable %zu arrived as %s, requested %s", c.plan->name.c_str(), k,
                            RangeText(a).c_str(), RangeText(want).c_str()));
            return;
        }
        ++m_values;
        ++m_ydbValues;
        const uint32_t memory = MemoryValue(want, want.start, m_tick);
        if (got[k] != memory) {
            Mismatch(Format("%s: variable %zu (%s): received 0x%08X, memory holds 0x%08X",
                            c.plan->name.c_str(), k, RangeText(want).c_str(),
                            static_cast<unsigned>(got[k]), static_cast<unsigned>(memory)));
            return;
        }
    }
}

void Simulation::Cancel(Client& c) {
    std::lock_guard<std::mutex> road(RoadLock(*c.plan));
    if (!Live(c)) {
        return;
    }
    Record record;
    ULONG cj = 0, actions = 0, status = 0;
    const HRESULT hr = m_component->cancelASynch(c.sj, &cj, &record.r, &actions, &status);
    Check(hr, status, c, "cancelASynch");
    const char* name = c.plan->name.c_str();
    std::string outcome;
    if (c.phase == Phase::Alone && (actions == kCancelCJRemoved || actions == 0)) {
        m_controller.Remove(c.rt);
        outcome = actions == 0 ? "it was in no collection job"
                               : "its unconfirmed collection job "
                                 "is removed";
        outcome += Format("; job rt %lu deleted", c.rt);
    } else if (c.phase == Phase::InCJ && actions == kCancelSJRemoved) {
        // The controller keeps reading its names until the next merge drops them.
        ULONG updateStatus = 0;
        Check(c.plan->ydb ? m_component->updateYDBCJob(cj, c.plan->type, &updateStatus)
                          : m_component->updateIVarCJob(cj, c.plan->type, &updateStatus),
              updateStatus, c, "update of the collection job");
        outcome = Format("leaves collection job %u, which runs on", static_cast<unsigned>(cj));
    } else if (c.phase == Phase::InCJ && actions == kCancelCJDeleted) {
        if (m_controller.Exists(c.rt)) {
            Error(Format("%s: the cancel deleted collection job %u, but job rt %lu still runs",
                         name, static_cast<unsigned>(cj), c.rt));
            m_controller.Remove(c.rt);
        }
        outcome = Format("was the last of collection job %u: deleted", static_cast<unsigned>(cj));
    } else {
        Error(Format("%s: cancel answered actions 0x%02X for a client %s", name,
                     static_cast<unsigned>(actions),
                     c.phase == Phase::Alone ? "running alone" : "in a collection job"));
    }
    Headline("cancel", Format("%-8s cancel %s (actions 0x%02X)", name, outcome.c_str(),
                              static_cast<unsigned>(actions)));
    c.phase = Phase::Cancelled;
    --m_live;
    c.rt = 0;
}

void Simulation::Compare(const Client& c, size_t i, bool ok, unsigned long sampleTick,
                         const std::vector<uint32_t>& got) {
    const NameRange& name = c.plan->names[i];
    if (!ok || sampleTick != m_tick || got.size() != static_cast<size_t>(name.cnt)) {
        Mismatch(Format("%s: name %zu (%s): %s", c.plan->name.c_str(), i, RangeText(name).c_str(),
                        !ok                    ? "no value arrived"
                        : sampleTick != m_tick ? "stale value"
                                               : "wrong number of elements"));
        return;
    }
    for (size_t k = 0; k < got.size(); ++k) {
        ++m_values;
        const uint32_t want = MemoryValue(name, name.start + static_cast<int>(k), m_tick);
        if (got[k] != want) {
            Mismatch(Format("%s: name %zu (%s) element %zu: received 0x%08X, memory holds 0x%08X",
                            c.plan->name.c_str(), i, RangeText(name).c_str(), k,
                            static_cast<unsigned>(got[k]), static_cast<unsigned>(want)));
            return;
        }
    }
}

void Simulation::ReadValues(Client& c) {
    if (c.plan->ydb) {
        ReadYDBValues(c);
        return;
    }
    ++m_reads;
    std::vector<uint32_t> got;
    unsigned long sampleTick = kNoSample;
    if (c.phase == Phase::Alone) {
        for (size_t i = 0; i < c.plan->names.size(); ++i) {
            const bool ok = m_controller.Read(c.rt, i, 0, 0, sampleTick, got);
            Compare(c, i, ok, sampleTick, got);
        }
        return;
    }
    // The table changes only with the job that reads for the client, as a real client sees it.
    if (c.tableRt != c.rt) {
        UniqueVariant table;
        ULONG result = 0;
        if (FAILED(m_component->GetIVarLookupTbl(c.cjEs, c.plan->type, table.get(), &result)) ||
            !LookupRows(table.get(), c.rows)) {
            Mismatch(Format("%s: no lookup table for collection job %u", c.plan->name.c_str(),
                            static_cast<unsigned>(c.cjEs)));
            return;
        }
        c.tableRt = c.rt;
    }
    const std::vector<std::array<LONG, 4>>& rows = c.rows;
    for (size_t i = 0; i < c.plan->names.size(); ++i) {
        size_t row = c.base + i;
        if (c.wrongRow && !rows.empty()) {
            row = (row + 1) % rows.size();
        }
        bool ok = row < rows.size() && rows[row][0] >= 0 && rows[row][1] >= 0 && rows[row][2] >= 0;
        if (ok) {
            const std::array<LONG, 4>& r = rows[row];
            // A count of 0: the name passed unchanged, its reformed name is read whole.
            ok = m_controller.Read(c.rt, static_cast<size_t>(r[0]), static_cast<size_t>(r[1]),
                                   static_cast<size_t>(r[2]), sampleTick, got);
        }
        Compare(c, i, ok, sampleTick, got);
    }
}

// The load of the moment with the most live clients, for the summary.
void Simulation::Sample() {
    if (m_sampled && m_live <= m_peakLive) {
        return;
    }
    std::map<Key, std::pair<size_t, size_t>> live;
    for (const Client& c : m_clients) {
        if (Live(c)) {
            auto& l = live[{c.plan->cycle, c.plan->type}];
            l.first += 1;
            l.second += Requested(*c.plan);
        }
    }
    m_sampled = true;
    m_peakLive = m_live;
    m_peakTick = m_tick;
    const auto load = m_controller.Load();
    for (auto& [key, s] : m_stats) {
        const auto l = live.find(key);
        const auto j = load.find(key);
        s.jobsWithout = l == live.end() ? 0 : l->second.first;
        s.requested = l == live.end() ? 0 : l->second.second;
        s.jobsWith = j == load.end() ? 0 : j->second.jobs;
        s.reformed = j == load.end() ? 0 : j->second.names;
        s.collectionJobs = j == load.end() ? 0 : j->second.collectionJobs;
    }
}

void Simulation::CheckFinalTable() {
    std::set<unsigned long> served;
    for (const Client& c : m_clients) {
        if (Live(c)) {
            served.insert(c.rt);
        }
    }
    t_client = m_clients.size();
    for (const ControllerJob& job : m_controller.Jobs()) {
        if (served.count(job.rt) == 0) {
            Error(Format("job rt %lu (%s %lu) is left on the controller, read by no client", job.rt,
                         job.collection ? "collection job" : "single job", job.es));
        }
    }
}

std::string Simulation::Dot() const {
    std::ostringstream dot;
    dot << "digraph jobs {\n  rankdir=LR;\n  node [fontname=\"Helvetica\", fontsize=10];\n";
    static const char* const kStates[] = {"?", "created", "run", "stop"};
    std::map<unsigned long, std::string> clientOf;
    for (const Client& c : m_clients) {
        clientOf[c.sj] = c.plan->name;
    }
    for (const ControllerJob& job : m_controller.Jobs()) {
        const std::string id = Format("rt%lu", job.rt);
        if (!job.collection) {
            dot << "  " << id << " [shape=ellipse, label=\""
                << Format("%s\\nsingle job %lu\\n%ldms typ %ld, rt %lu", clientOf[job.es].c_str(),
                          job.es, job.cycle, job.type, job.rt)
                << "\"];\n";
            continue;
        }
        dot << "  " << id << " [shape=box, style=bold, label=\""
            << Format("collection job %lu (was %lu)\\n%ldms typ %ld, rt %lu\\nstate %s, %zu reads",
                      job.es, job.prevEs, job.cycle, job.type, job.rt,
                      job.state < 4 ? kStates[job.state] : "?", job.names.size())
            << "\"];\n";
        for (const RingLink& link : job.ring) {
            dot << "  " << Format("sj%lu", link.sj) << " [shape=ellipse, label=\""
                << Format("%s\\nSJ %lu, RQStatus %u", clientOf[link.sj].c_str(), link.sj,
                          link.rqStatus)
                << "\"];\n";
        }
        if (!job.ring.empty()) {
            dot << "  " << id << " -> " << Format("sj%lu", job.ring.front().sj) << ";\n";
        }
        for (const RingLink& link : job.ring) {
            // A renumbering leaves the last link on the id the ring was built with.
            const bool toCJ = link.next == job.es || link.next == job.prevEs;
            dot << "  " << Format("sj%lu", link.sj) << " -> "
                << (toCJ ? id : Format("sj%lu", link.next)) << (toCJ ? " [style=dashed]" : "")
                << ";\n";
        }
    }
    dot << "}\n";
    return dot.str();
}

void Simulation::WriteSummary(SimResult& result) {
    m_out << "\nSummary per service, cycle time and type, at t=" << m_peakTick
          << " (the moment with the most live clients); reads are names (YDB: variables) per "
             "cycle, averaged over the run\n";
    m_out << "service  cycle   type  single jobs | jobs w/o  jobs with (CJs) | names requested  "
             "reformed | reads w/o   with\n";
    std::array<std::array<size_t, 2>, 2> jobs{};  // [YDB][with]
    for (auto& [key, s] : m_stats) {
        const uint64_t runs = m_executions[key];
        s.readsWithout = runs == 0 ? 0.0 : static_cast<double>(m_namesWithout[key]) / runs;
        s.readsWith = runs == 0 ? 0.0 : static_cast<double>(m_namesWith[key]) / runs;
        result.peakJobsWithout += s.jobsWithout;
        result.peakJobsWith += s.jobsWith;
        jobs[s.ydb][0] += s.jobsWithout;
        jobs[s.ydb][1] += s.jobsWith;
        m_out << Format("%-7s %6ld %6ld %12zu | %8zu %10zu %5zu | %15zu %9zu | %9.1f %6.1f\n",
                        s.ydb ? "YDB" : "IVar", s.cycle, s.type, s.clients, s.jobsWithout,
                        s.jobsWith, s.collectionJobs, s.requested, s.reformed, s.readsWithout,
                        s.readsWith);
        result.keys.push_back(s);
    }
    m_out << Format(
        "Jobs on the controller at t=%lu: %zu without the component, %zu with it "
        "(IVar %zu / %zu, YDB %zu / %zu).\n",
        m_peakTick, result.peakJobsWithout, result.peakJobsWith, jobs[0][0], jobs[0][1], jobs[1][0],
        jobs[1][1]);
}

void Simulation::WriteVerification(SimResult& result) {
    const uint64_t ivarReads = result.reads - result.ydbReads;
    const uint64_t ivarValues = result.values - result.ydbValues;
    m_out << "\nVerification: " << result.reads << " reads, " << result.values
          << " values compared with a direct read of the simulated memory at the same tick (IVar "
          << ivarReads << " reads, " << ivarValues << " values; YDB " << result.ydbReads
          << " reads, " << result.ydbValues << " values)\n";
    std::array<bool, 2> present{};
    for (const KeyStats& s : result.keys) {
        present[s.ydb] = true;
    }
    // A service whose clients had nothing compared has verified nothing.
    const bool idle = (present[0] && ivarValues == 0) || (present[1] && result.ydbValues == 0);
    for (const Problem& p : m_problems) {
        result.problems.push_back(p.text);
    }
    if (idle) {
        result.problems.push_back(
            Format("no value of %s was compared",
                   present[0] && ivarValues == 0 ? "the IVar service" : "the YDB service"));
    }
    for (const std::string& p : result.problems) {
        m_out << "  " << p << "\n";
    }
    if (result.mismatches == 0 && result.errors == 0 && !idle) {
        m_out << "Verification PASSED: every value every client received matches the memory.\n";
        result.exitCode = 0;
    } else {
        m_out << "Verification FAILED: " << result.mismatches << " mismatches, " << result.errors
              << " errors on the road" << (idle ? ", a service with nothing compared" : "")
              << ".\n";
        result.exitCode = 1;
    }
}

SimResult Simulation::Report() {
    SimResult result;
    result.reads = m_reads;
    result.values = m_values;
    result.mismatches = m_mismatches;
    result.errors = m_errors;
    result.peakTick = m_peakTick;
    result.ydbReads = m_ydbReads;
    result.ydbValues = m_ydbValues;
    result.source = m_scenario.source;
    result.duration = m_scenario.duration;
    result.threads = static_cast<int>(m_byThread.size());
    result.seed = m_options.seed;
    result.events = std::move(m_log);
    for (const ControllerJob& job : m_controller.History()) {
        SimJob j;
        j.rt = job.rt;
        j.cycle = job.cycle;
        j.type = job.type;
        j.ydb = m_ydbKeys.count({job.cycle, job.type}) != 0;
        j.collection = job.collection;
        j.es = job.es;
        j.prevEs = job.prevEs;
        j.created = job.created;
        j.deleted = job.deleted;
        j.names = job.names;
        j.executions = job.executions;
        j.elementsWith = job.elementsWith;
        j.elementsWithout = job.elementsWithout;
        for (const auto& [client, base] : job.clients) {
            j.clients.emplace_back(m_clients[client].plan->name, base);
        }
        result.jobs.push_back(std::move(j));
    }
    WriteSummary(result);
    WriteVerification(result);
    return result;
}

// The component, from the classes this run serves, told that values are compared, with the
// scenario's job limit.
bool Simulation::Setup(RunClasses& classes, std::ostream& err) {
    std::string error;
    if (FAILED(classes.CreateComponent(m_component, error))) {
        err << "cjsim: " << error << "\n";
        return false;
    }
    ValueComparisonOn details;
    UniqueVariant devType;
    if (FAILED(m_component->checkProperties(*devType.get(), "cjsim", &details))) {
        err << "cjsim: the component refused the device properties\n";
        return false;
    }
    // setMaxJobs sets the YDB byte limit as well: keep the one in force.
    ULONG maxJobs = 0, info = 0, flag = 0, maxVars = 0, maxSize = 0;
    m_component->getMaxJobs(&maxJobs, &info, &flag);
    m_component->getLimits(&maxVars, &maxSize);
    m_component->setMaxJobs(m_scenario.jobLimit, maxSize, flag);
    return true;
}

// Deals the clients out to the threads and fills the agenda; returns the thread count.
int Simulation::PrepareClients() {
    const int threads =
        std::max(1, std::min(m_scenario.threads, static_cast<int>(m_scenario.clients.size())));
    m_clients.resize(m_scenario.clients.size());
    m_byThread.resize(static_cast<size_t>(threads));
    m_buffers.resize(static_cast<size_t>(threads));
    for (size_t i = 0; i < m_clients.size(); ++i) {
        Client& c = m_clients[i];
        c.plan = &m_scenario.clients[i];
        c.index = i;
        c.thread = static_cast<int>(i % static_cast<size_t>(threads));
        c.wrongRow = c.plan->name == m_options.wrongRowClient;
        c.callback = ComPtr<ClientCallback>(new ClientCallback(*this));  // adds the first
        m_byThread[static_cast<size_t>(c.thread)][c.plan->cycle].push_back(&c);
        m_agenda[c.plan->start].push_back({i, false});
        if (c.plan->cancel != kNever) {
            m_agenda[c.plan->cancel].push_back({i, true});
        }
        m_cycles.insert(c.plan->cycle);
        KeyStats& s = m_stats[{c.plan->cycle, c.plan->type}];
        s.cycle = c.plan->cycle;
        s.type = c.plan->type;
        s.ydb = c.plan->ydb;
        ++s.clients;
        if (c.plan->ydb) {
            m_ydbKeys.insert({c.plan->cycle, c.plan->type});
        }
    }
    return threads;
}

// The next tick with a start, a cancel or a cycle that falls due; the others are skipped.
unsigned long Simulation::NextTick(unsigned long tick) const {
    const auto event = m_agenda.upper_bound(tick);
    unsigned long next = event == m_agenda.end() ? kNever : event->first;
    for (long cycle : m_cycles) {
        const auto c = static_cast<unsigned long>(cycle);
        next = std::min(next, (tick / c + 1) * c);
    }
    return next;
}

// The tick's starts and cancels, one after another in the seeded order, each on its client's
// thread.
void Simulation::RunStarts(Crew& crew, std::vector<Step> steps) {
    m_order.Shuffle(steps);
    std::vector<int> threadOf;
    for (const Step& step : steps) {
        threadOf.push_back(m_clients[step.client].thread);
    }
    crew.RunInTurns(threadOf, [&](size_t k) {
        Client& c = m_clients[steps[k].client];
        t_events = &m_buffers[static_cast<size_t>(c.thread)];
        t_order = k;
        t_client = c.index;
        if (!steps[k].cancel && c.phase == Phase::Pending) {
            Road(c);
        } else if (steps[k].cancel) {
            Cancel(c);
        }
        t_events = nullptr;
    });
    FlushLog(kEventPhase);
    Sample();
}

// The controller runs the jobs that fall due; the names and elements read with and without the
// component are counted.
void Simulation::ExecuteJobs() {
    m_controller.SetTick(m_tick);
    for (const auto& [key, names] : m_controller.Execute(m_tick)) {
        m_namesWith[key] += names;
    }
    std::map<Key, uint64_t> without;
    for (const auto& byCycle : m_byThread) {
        for (const auto& [cycle, clients] : byCycle) {
            if (m_tick % static_cast<unsigned long>(cycle) != 0) {
                continue;
            }
            for (const Client* c : clients) {
                if (Live(*c)) {
                    without[{cycle, c->plan->type}] += Requested(*c->plan);
                    uint64_t elements = 0;
                    for (const NameRange& r : c->plan->names) {
                        elements += static_cast<uint64_t>(r.cnt);
                    }
                    m_controller.AddElementsWithout(c->rt, elements);
                }
            }
        }
    }
    for (const auto& [key, names] : without) {
        m_namesWithout[key] += names;
        ++m_executions[key];
    }
}

// Every client whose cycle falls due reads its values, all threads at once.
void Simulation::RunReads(Crew& crew) {
    crew.Run([&](int thread) {
        t_events = &m_buffers[static_cast<size_t>(thread)];
        for (const auto& [cycle, clients] : m_byThread[static_cast<size_t>(thread)]) {
            if (m_tick % static_cast<unsigned long>(cycle) != 0) {
                continue;
            }
            for (Client* c : clients) {
                if (Live(*c)) {
                    t_order = c->index;
                    t_client = c->index;
                    ReadValues(*c);
                }
            }
        }
        t_events = nullptr;
    });
    FlushLog(kReadPhase);
}

// Prints and keeps the phase's lines in the order their effects took place, and keeps the
// first problems in the same order.
void Simulation::FlushLog(int phase) {
    std::vector<Event> all;
    for (std::vector<Event>& e : m_buffers) {
        all.insert(all.end(), std::make_move_iterator(e.begin()), std::make_move_iterator(e.end()));
        e.clear();
    }
    std::stable_sort(all.begin(), all.end(), [](const Event& a, const Event& b) {
        return a.order != b.order ? a.order < b.order : a.headline && !b.headline;
    });
    for (Event& e : all) {
        if (m_options.events) {
            m_out << (phase == kClosingPhase ? std::string() : Format("t=%5lu ", m_tick))
                  << e.event.text << "\n";
        }
        m_log.push_back(std::move(e.event));
    }
    std::lock_guard<std::mutex> guard(m_problemsLock);
    std::stable_sort(m_problems.begin(), m_problems.end(), [](const Problem& a, const Problem& b) {
        return std::tie(a.tick, a.phase, a.order) < std::tie(b.tick, b.phase, b.order);
    });
    if (m_problems.size() > 20) {
        m_problems.resize(20);
    }
}

void Simulation::ShowProgress(std::chrono::steady_clock::time_point began) {
    using Clock = std::chrono::steady_clock;
    static constexpr auto kQuietFor = std::chrono::seconds(3);
    const Clock::time_point now = Clock::now();
    if (m_options.progress == nullptr || now - began < kQuietFor ||
        now - m_lastProgress < std::chrono::seconds(1)) {
        return;
    }
    m_lastProgress = now;
    *m_options.progress << Format("cjsim: t=%lu of %lu ms, %zu clients live, %llu values compared",
                                  m_tick, m_scenario.duration, m_live,
                                  static_cast<unsigned long long>(m_values.load()))
                        << std::endl;
}

// The final picture: the component's current rings reach the controller through UpdateJob;
// the job table is checked and drawn.
void Simulation::Close() {
    for (const ControllerJob& job : m_controller.Jobs()) {
        if (job.collection) {
            ULONG status = 0;
            if (m_ydbKeys.count({job.cycle, job.type}) != 0) {
                m_component->updateYDBCJob(job.es, job.type, &status);
            } else {
                m_component->updateIVarCJob(job.es, job.type, &status);
            }
        }
    }
    m_phase = kClosingPhase;
    t_events = &m_buffers[0];
    t_order = 0;
    CheckFinalTable();
    t_events = nullptr;
    FlushLog(kClosingPhase);
}

SimResult Simulation::Run(RunClasses& classes, std::ostream& err) {
    if (!Setup(classes, err)) {
        return {};
    }
    const int threads = PrepareClients();
    m_out << Format(
        "cjsim: scenario %s: %zu clients on %d threads, %lu ms, job limit %lu, seed %u\n",
        m_scenario.source.c_str(), m_clients.size(), threads, m_scenario.duration,
        m_scenario.jobLimit, static_cast<unsigned>(m_options.seed));
    m_out << "cjsim: component from " << classes.ComponentPath() << "\ncjsim: optimizer "
          << m_options.optimizer << " (" << OptimizerModeName(m_options.optimizer)
          << "); registry: " << RegistryDescription() << "\n";
    const auto began = std::chrono::steady_clock::now();
    {
        Crew crew(threads);
        for (m_tick = 0; m_tick <= m_scenario.duration; m_tick = NextTick(m_tick)) {
            m_controller.SetTick(m_tick);
            if (const auto steps = m_agenda.find(m_tick); steps != m_agenda.end()) {
                m_phase = kEventPhase;
                RunStarts(crew, steps->second);
            }
            const bool due = std::any_of(m_cycles.begin(), m_cycles.end(), [&](long cycle) {
                return m_tick % static_cast<unsigned long>(cycle) == 0;
            });
            if (due) {
                m_phase = kReadPhase;
                ExecuteJobs();
                RunReads(crew);
            }
            ShowProgress(began);
        }
        m_tick = m_scenario.duration;
    }
    Close();
    SimResult result = Report();
    result.module = classes.ComponentPath();
    result.optimizer = m_options.optimizer;
    std::string error;
    if (!m_options.dotFile.empty() && !WriteOutputFile(m_options.dotFile, Dot(), error)) {
        err << "cjsim: " << error << "\n";
        result.exitCode = result.exitCode == 0 ? 3 : result.exitCode;
    }
    m_component.reset();
    for (Client& c : m_clients) {
        c.callback.reset();
    }
    return result;
}

}  // namespace

SimResult RunSimulation(const Scenario& scenario, const SimOptions& options, std::ostream& out,
                        std::ostream& err) {
    const HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    SimResult result;
    {
        platform::UniqueModule trace(LoadLibraryA("bsttrace.dll"));
        auto setLevels =
            platform::proc_address<engsys::TraceSetLevelsFn>(trace.get(), "bsttrace_SetLevels");
        auto resetLevels =
            platform::proc_address<engsys::TraceResetLevelsFn>(trace.get(), "bsttrace_ResetLevels");
        if (options.trace && setLevels != nullptr) {
            setLevels(1, 1, (1u << 1) | (1u << 3) | (1u << 4));  // the component's tracer
        }
        try {
            RunClasses classes;
            std::string error;
            if (FAILED(classes.Serve(options.module, options.optimizer, error))) {
                err << "cjsim: " << error << "\n";
            } else {
                Simulation simulation(scenario, options, out);
                result = simulation.Run(classes, err);
            }
        } catch (const std::exception& e) {
            err << "cjsim: " << e.what() << "\n";
            result = SimResult{};
        }
        if (options.trace && resetLevels != nullptr) {
            resetLevels();
        }
    }
    if (SUCCEEDED(init)) {
        CoUninitialize();
    }
    return result;
}

}  // namespace cjsim
