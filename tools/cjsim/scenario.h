// Scenarios of the simulator: clients with their cycle times, types, ANY-pointer ranges and
// start/cancel times and services, read from a line-based text format (docs/simulator.md).
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace cjsim {

// One requested ANY-pointer name: elements [start, start + cnt) of (unit, area, typ).
struct NameRange {
    int unit = 0;
    int area = 0;
    int typ = 0;
    int start = 0;
    int cnt = 1;
};

inline constexpr unsigned long kNever = 0xFFFFFFFFul;

struct ScenarioClient {
    std::string name;
    long cycle = 0;  // ms of the virtual clock
    long type = 0;   // job type
    std::vector<NameRange> names;
    bool ydb = false;  // the YDB service: one variable per element; else the IVar service
    unsigned long start = 0;
    unsigned long cancel = kNever;
    int line = 0;
};

struct Scenario {
    std::string source;  // file name, or "<default>"
    unsigned long duration = 1000;
    int threads = 4;
    unsigned long jobLimit = 8;
    std::vector<ScenarioClient> clients;
};

// Parses a scenario. On failure returns false and sets error to "file:line: what was expected".
bool ParseScenario(std::istream& in, const std::string& file, Scenario& out, std::string& error);
bool LoadScenarioFile(const std::string& path, Scenario& out, std::string& error);

// The embedded scenario that runs when no file is given.
const char* DefaultScenarioText();
// The format reference shown by --help.
const char* ScenarioFormatHelp();

}  // namespace cjsim
