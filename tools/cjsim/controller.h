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
    // The job's life, for the results: ticks it was created and deleted at (kNever: runs on),
    // the clients it read for with the position of their first name, and the elements it
    // read per execution summed with those its clients would have read without the component.
    unsigned long created = 0;
    unsigned long deleted = kNever;
    std::vector<std::pair<size_t, unsigned long>> clients;  // (client index, base)
    uint64_t executions = 0;
    uint64_t elementsWith = 0;
    uint64_t elementsWithout = 0;
};

class Controller {
  public:
    // The tick that creations, deletions and executions are recorded at.
    void SetTick(unsigned long tick) { m_tick = tick; }
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
    // Every job of the run, deleted ones included (without their values), by RT id.
    std::vector<ControllerJob> History() const;
    // A client whose values the job reads from its name `base` on.
    void AddClient(unsigned long rt, size_t client, unsigned long base);
    // Elements the job's clients would have read this execution without the component.
    void AddElementsWithout(unsigned long rt, uint64_t elements);
    // Jobs, collection jobs and names the controller carries per (cycle, type).
    struct KeyLoad {
        size_t jobs = 0;
        size_t collectionJobs = 0;
        size_t names = 0;
    };
    std::map<std::pair<long, long>, KeyLoad> Load() const;

  private:
    ControllerJob* FindCollectionLocked(unsigned long es);
    void EraseLocked(std::map<unsigned long, ControllerJob>::iterator job);

    mutable std::mutex m_lock;
    std::map<unsigned long, ControllerJob> m_jobs;     // by RT id
    std::map<unsigned long, ControllerJob> m_deleted;  // by RT id, without values
    unsigned long m_nextRt = 1;
    unsigned long m_tick = 0;
};

}  // namespace cjsim
