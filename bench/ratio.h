// A benchmark's ratio to the baseline that ran before it in the same process: the baseline
// records its CPU time per iteration under a key, the measured case reports "ratio" against it.
// Register the baseline first; the library runs benchmarks (and all their repetitions) in order.
// The thread's CPU time, not wall time: the ratio should not move with the machine's load.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace bench {

inline double ThreadCpuNanos() {
#ifdef _WIN32
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    const auto ticks = [](const FILETIME& t) {
        return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) |
                                   t.dwLowDateTime);
    };
    return (ticks(kernel) + ticks(user)) * 100.0;
#else
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
#endif
}

// CPU time of a benchmark's loop, started where it is made (just before the loop).
class LoopClock {
  public:
    LoopClock() : m_start(ThreadCpuNanos()) {}
    double NanosPerIteration(const benchmark::State& state) const {
        const double spent = ThreadCpuNanos() - m_start;
        return state.iterations() > 0 ? spent / static_cast<double>(state.iterations()) : 0.0;
    }

  private:
    double m_start;
};

// Every repetition's figure, so that a case compares with its baseline's median, not with
// whichever repetition ran last.
inline std::map<std::string, std::vector<double>>& Baselines() {
    static std::map<std::string, std::vector<double>> baselines;
    return baselines;
}

inline double BaselineMedian(const std::string& key) {
    const auto found = Baselines().find(key);
    if (found == Baselines().end() || found->second.empty()) {
        return 0.0;
    }
    std::vector<double> figures = found->second;
    const auto middle = figures.begin() + static_cast<std::ptrdiff_t>(figures.size() / 2);
    std::nth_element(figures.begin(), middle, figures.end());
    return *middle;
}

inline std::string Key(const char* name, benchmark::State& state, int args = 1) {
    std::string key = name;
    for (int i = 0; i < args; ++i) {
        key += '/' + std::to_string(state.range(i));
    }
    return key;
}

// Threaded cases: thread 0 speaks for all (the library sums counters over threads).
inline void RecordBaseline(const std::string& key, const LoopClock& clock,
                           benchmark::State& state) {
    if (state.thread_index() != 0) {
        return;
    }
    Baselines()[key].push_back(clock.NanosPerIteration(state));
    state.counters["ratio"] = 1.0;
    state.SetLabel("baseline " + key);  // scripts/bench.sh pairs cases with baselines by it
}

// No counter when the baseline was filtered out of the run.
inline void ReportRatio(const std::string& key, const LoopClock& clock, benchmark::State& state) {
    if (state.thread_index() != 0) {
        return;
    }
    const double baseline = BaselineMedian(key);
    if (baseline > 0.0) {
        state.counters["ratio"] = clock.NanosPerIteration(state) / baseline;
        state.SetLabel("vs " + key);
    }
}

}  // namespace bench
