// The simulation: client threads walking the component's IVar and YDB roads against a simulated
// controller on a virtual clock, with a summary and the verification of every value received.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "scenario.h"

namespace cjsim {

struct SimOptions {
    bool trace = false;      // switch the component's trace levels 1, 3 and 4 on
    bool events = true;      // a line per event
    std::string dotFile;     // Graphviz picture of the final job table, when set
    std::string module;      // the component's module file; empty: the one beside the program
    unsigned optimizer = 2;  // the optimizer mode: 0 off, 1 identical ranges, 2 merge
    // Orders the starts and cancels that fall on one tick; the same seed gives the same run
    // whatever the thread count.
    uint32_t seed = 1;
    // A progress line every second for runs longer than a few seconds, when set.
    std::ostream* progress = nullptr;
    // Test-only fault injection: this client maps its values through the lookup row that
    // follows its own, so the verification must catch it.
    std::string wrongRowClient;
};

// One line of the summary: one (cycle, type) at the moment with the most live clients.
struct KeyStats {
    long cycle = 0;
    long type = 0;
    bool ydb = false;        // the service: YDB or IVar
    size_t clients = 0;      // single jobs of the scenario
    size_t jobsWithout = 0;  // live single jobs: the jobs a controller carries without us
    size_t jobsWith = 0;     // jobs the controller carries
    size_t collectionJobs = 0;
    size_t requested = 0;       // names the live clients asked for
    size_t reformed = 0;        // names the controller reads
    double readsWithout = 0.0;  // names read per cycle, averaged over the run
    double readsWith = 0.0;
};

// One line of the log: a client's start or cancel, what the controller did on a decode
// callback, or an error on the road.
struct SimEvent {
    unsigned long tick = 0;
    std::string client;
    std::string kind;  // "start", "cancel", "controller" or "error"
    std::string text;  // the line as printed, without the tick
};

// A job the controller ran during the run, deleted or not.
struct SimJob {
    unsigned long rt = 0;
    long cycle = 0;
    long type = 0;
    bool ydb = false;
    bool collection = false;
    unsigned long es = 0;      // the CJ's ES id, or the SJ's for a job of its own
    unsigned long prevEs = 0;  // the CJ's id before the re-creation that made this job; 0: none
    unsigned long created = 0;
    unsigned long deleted = kNever;  // kNever: still running at the end
    std::vector<NameRange> names;    // the names (ranges) the controller reads
    std::vector<std::pair<std::string, unsigned long>> clients;  // client, its first name
    uint64_t executions = 0;
    uint64_t elementsWith = 0;     // elements read
    uint64_t elementsWithout = 0;  // elements its clients would have read without the component
};

struct SimResult {
    // 0 verified, 1 mismatches or errors, 2 could not run, 3 verified but an output file could
    // not be written
    int exitCode = 2;
    uint64_t reads = 0;
    uint64_t values = 0;
    uint64_t mismatches = 0;
    uint64_t errors = 0;
    uint64_t ydbReads = 0;  // of reads and values, those of YDB clients
    uint64_t ydbValues = 0;
    unsigned long peakTick = 0;
    size_t peakJobsWithout = 0;
    size_t peakJobsWith = 0;
    std::vector<KeyStats> keys;
    std::string source;  // the scenario
    std::string module;  // the component's module file the run tested
    unsigned optimizer = 2;
    unsigned long duration = 0;
    int threads = 0;
    uint32_t seed = 0;
    std::vector<SimEvent> events;
    std::vector<SimJob> jobs;
    std::vector<std::string> problems;  // the first mismatches and errors
};

// Runs the scenario in this process and writes events, summary and verification to out, and
// what ended the run or kept an output from being written to err.
SimResult RunSimulation(const Scenario& scenario, const SimOptions& options, std::ostream& out,
                        std::ostream& err);
inline SimResult RunSimulation(const Scenario& scenario, const SimOptions& options,
                               std::ostream& out) {
    return RunSimulation(scenario, options, out, out);
}

}  // namespace cjsim
