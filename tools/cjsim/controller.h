// The simulated controller: memory whose values change every tick, and a job table whose jobs
// read their names into a buffer each time their cycle divides the tick.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "collectionjobsymacc.h"
#include "scenario.h"

namespace cjsim {

// The value of one element at one tick; the verification computes it again independently.
uint32_t MemoryValue(const NameRange& space, int address, unsigned long tick);

inline constexpr unsigned long kNoSample = 0xFFFFFFFFul;

struct RingLink {
    unsigned long sj = 0;
    unsigned long next = 0;
    unsigned rqStatus = 0;
};

struct ControllerJob {
    unsigned long rt = 0;
    long cycle = 0;
    long type = 0;
    unsigned long es = 0;      // ES job id: the SJ's for a job of its own, else the CJ's
    unsigned long prevEs = 0;  // the CJ's id before its latest re-creation
    bool collection = false;
    std::vector<NameRange> names;
    unsigned long sampleTick = kNoSample;
    std::vector<std::vector<uint32_t>> values;  // one run per name, of the latest execution
    unsigned state = 0;                         // CJ state as last reported by the component
    std::vector<RingLink> ring;
};

class Controller {
  public:
    unsigned long Create(long cycle, long type, std::vector<NameRange> names, unsigned long es,
                         unsigned long prevEs, bool collection);
    bool Remove(unsigned long rt);
    bool Exists(unsigned long rt) const;
    // A decode callback names a collection job by its current or its previous ES id; the
    // current one wins. Returns the removed job's RT id, 0 when none matched.
    unsigned long RemoveCollection(unsigned long es);
    // The collection job that runs under exactly this ES id and type; 0 when none does.
    unsigned long FindCollection(unsigned long es, long type) const;
    // Keeps the state and single-job ring of a collection job from a record of the component.
    void SetRing(unsigned long es, const CJAsyncRQRecord& record);
    // Runs every job whose cycle divides the tick; returns the names read per (cycle, type).
    std::map<std::pair<long, long>, size_t> Execute(unsigned long tick);
    // Elements [offset, offset + count) of name `pos` of a job (count 0: the whole name), with
    // the tick they were read at. False when the job or the name does not exist.
    bool Read(unsigned long rt, size_t pos, size_t offset, size_t count, unsigned long& tick,
              std::vector<uint32_t>& out) const;
    // Name `pos` of a job; false when the job or the name does not exist.
    bool Name(unsigned long rt, size_t pos, NameRange& out) const;
    std::vector<ControllerJob> Jobs() const;
    // Jobs and names the controller carries per (cycle, type).
    std::map<std::pair<long, long>, std::pair<size_t, size_t>> Load() const;

  private:
    ControllerJob* FindCollectionLocked(unsigned long es);

    mutable std::mutex m_lock;
    std::map<unsigned long, ControllerJob> m_jobs;  // by RT id
    unsigned long m_nextRt = 1;
};

}  // namespace cjsim
