// The simulated controller's memory model and job table.
#include "controller.h"

namespace cjsim {

uint32_t MemoryValue(const NameRange& space, int address, unsigned long tick) {
    // A cheap integer hash: every element differs from its neighbours and changes every tick.
    uint64_t x = static_cast<uint64_t>(space.unit) * 0x9E3779B97F4A7C15ull;
    x ^= static_cast<uint64_t>(space.area) * 0xC2B2AE3D27D4EB4Full;
    x ^= static_cast<uint64_t>(space.typ) * 0x165667B19E3779F9ull;
    x ^= static_cast<uint64_t>(static_cast<uint32_t>(address)) * 0x27D4EB2F165667C5ull;
    x ^= static_cast<uint64_t>(tick) * 0xFF51AFD7ED558CCDull;
    x ^= x >> 33;
    x *= 0xC4CEB9FE1A85EC53ull;
    x ^= x >> 29;
    return static_cast<uint32_t>(x);
}

unsigned long Controller::Create(long cycle, long type, std::vector<NameRange> names,
                                 unsigned long es, unsigned long prevEs, bool collection) {
    std::lock_guard<std::mutex> guard(m_lock);
    const unsigned long rt = m_nextRt++;
    ControllerJob& job = m_jobs[rt];
    job.rt = rt;
    job.cycle = cycle;
    job.type = type;
    job.es = es;
    job.prevEs = prevEs;
    job.collection = collection;
    job.names = std::move(names);
    job.created = m_tick;
    return rt;
}

void Controller::EraseLocked(std::map<unsigned long, ControllerJob>::iterator job) {
    ControllerJob& kept = m_deleted[job->first];
    kept = std::move(job->second);
    kept.deleted = m_tick;
    kept.values.clear();
    m_jobs.erase(job);
}

bool Controller::Remove(unsigned long rt) {
    std::lock_guard<std::mutex> guard(m_lock);
    const auto it = m_jobs.find(rt);
    if (it == m_jobs.end()) {
        return false;
    }
    EraseLocked(it);
    return true;
}

bool Controller::Exists(unsigned long rt) const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_jobs.count(rt) != 0;
}

ControllerJob* Controller::FindCollectionLocked(unsigned long es) {
    for (auto& [rt, job] : m_jobs) {
        if (job.collection && job.es == es) {
            return &job;
        }
    }
    for (auto& [rt, job] : m_jobs) {
        if (job.collection && job.prevEs == es) {
            return &job;
        }
    }
    return nullptr;
}

unsigned long Controller::RemoveCollection(unsigned long es) {
    std::lock_guard<std::mutex> guard(m_lock);
    ControllerJob* job = FindCollectionLocked(es);
    if (job == nullptr) {
        return 0;
    }
    const unsigned long rt = job->rt;
    EraseLocked(m_jobs.find(rt));
    return rt;
}

unsigned long Controller::FindCollection(unsigned long es, long type) const {
    std::lock_guard<std::mutex> guard(m_lock);
    for (const auto& [rt, job] : m_jobs) {
        if (job.collection && job.es == es && job.type == type) {
            return rt;
        }
    }
    return 0;
}

void Controller::SetRing(unsigned long es, const CJAsyncRQRecord& record) {
    std::lock_guard<std::mutex> guard(m_lock);
    ControllerJob* job = FindCollectionLocked(es);
    if (job == nullptr) {
        return;
    }
    job->state = record.m_RQStatus;
    job->ring.clear();
    for (ULONG i = 0; record.m_pSJ != nullptr && i < record.containing; ++i) {
        const SJAsyncRQRecord& sj = record.m_pSJ[i];
        job->ring.push_back({sj.ES_JobID, sj.next_ES_JobID, sj.RQStatus});
    }
}

std::map<std::pair<long, long>, size_t> Controller::Execute(unsigned long tick) {
    std::map<std::pair<long, long>, size_t> reads;
    std::lock_guard<std::mutex> guard(m_lock);
    for (auto& [rt, job] : m_jobs) {
        if (tick % static_cast<unsigned long>(job.cycle) != 0) {
            continue;
        }
        job.sampleTick = tick;
        ++job.executions;
        job.values.resize(job.names.size());
        for (size_t n = 0; n < job.names.size(); ++n) {
            const NameRange& name = job.names[n];
            job.elementsWith += static_cast<uint64_t>(name.cnt);
            job.values[n].resize(static_cast<size_t>(name.cnt));
            for (int k = 0; k < name.cnt; ++k) {
                job.values[n][static_cast<size_t>(k)] = MemoryValue(name, name.start + k, tick);
            }
        }
        reads[{job.cycle, job.type}] += job.names.size();
    }
    return reads;
}

bool Controller::Read(unsigned long rt, size_t pos, size_t offset, size_t count,
                      unsigned long& tick, std::vector<uint32_t>& out) const {
    std::lock_guard<std::mutex> guard(m_lock);
    const auto it = m_jobs.find(rt);
    if (it == m_jobs.end() || pos >= it->second.values.size()) {
        return false;
    }
    const std::vector<uint32_t>& run = it->second.values[pos];
    if (count == 0) {
        offset = 0;
        count = run.size();
    }
    if (offset > run.size() || count > run.size() - offset) {
        return false;
    }
    tick = it->second.sampleTick;
    out.assign(run.begin() + static_cast<std::ptrdiff_t>(offset),
               run.begin() + static_cast<std::ptrdiff_t>(offset + count));
    return true;
}

bool Controller::Name(unsigned long rt, size_t pos, NameRange& out) const {
    std::lock_guard<std::mutex> guard(m_lock);
    const auto it = m_jobs.find(rt);
    if (it == m_jobs.end() || pos >= it->second.names.size()) {
        return false;
    }
    out = it->second.names[pos];
    return true;
}

std::vector<ControllerJob> Controller::Jobs() const {
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<ControllerJob> jobs;
    for (const auto& [rt, job] : m_jobs) {
        jobs.push_back(job);
    }
    return jobs;
}

std::vector<ControllerJob> Controller::History() const {
    std::lock_guard<std::mutex> guard(m_lock);
    std::map<unsigned long, const ControllerJob*> all;
    for (const auto& [rt, job] : m_deleted) {
        all[rt] = &job;
    }
    for (const auto& [rt, job] : m_jobs) {
        all[rt] = &job;
    }
    std::vector<ControllerJob> jobs;
    for (const auto& [rt, job] : all) {
        jobs.push_back(*job);
        jobs.back().values.clear();
    }
    return jobs;
}

void Controller::AddClient(unsigned long rt, size_t client, unsigned long base) {
    std::lock_guard<std::mutex> guard(m_lock);
    const auto it = m_jobs.find(rt);
    if (it != m_jobs.end()) {
        it->second.clients.emplace_back(client, base);
    }
}

void Controller::AddElementsWithout(unsigned long rt, uint64_t elements) {
    std::lock_guard<std::mutex> guard(m_lock);
    const auto it = m_jobs.find(rt);
    if (it != m_jobs.end()) {
        it->second.elementsWithout += elements;
    }
}

std::map<std::pair<long, long>, Controller::KeyLoad> Controller::Load() const {
    std::lock_guard<std::mutex> guard(m_lock);
    std::map<std::pair<long, long>, KeyLoad> load;
    for (const auto& [rt, job] : m_jobs) {
        KeyLoad& entry = load[{job.cycle, job.type}];
        entry.jobs += 1;
        entry.collectionJobs += job.collection ? 1 : 0;
        entry.names += job.names.size();
    }
    return load;
}

}  // namespace cjsim
