// cjsim: drives the collection-job component with simulated clients and a simulated controller
// on a virtual clock, and verifies every value the clients receive.
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>

#include "results.h"
#include "scenario.h"
#include "simulator.h"

namespace {

void Usage(std::ostream& out) {
    out << "Usage: cjsim [options] [SCENARIO-FILE]\n"
           "\n"
           "Creates the collection-job component as a client does, runs simulated clients on\n"
           "several threads against a simulated controller on a virtual clock (ticks of 1 ms,\n"
           "no real waiting), and verifies that every value every client received equals a\n"
           "direct read of the simulated memory at the same tick.\n"
           "\n"
           "Each client walks the road of a read request: addSymbolsIVar, UpdateIVarJobEntry,\n"
           "and on a re-creation (action bit 0x002) deletes the old job on the controller,\n"
           "creates the new one, reports UpdateJobState, setRt_JobID and UpdateCJ_IVarCB; it\n"
           "reads its values through GetIVarLookupTbl and cancels with cancelASynch. A YDB\n"
           "client (service=ydb) walks addSymbolsYDB, UpdateYDBJobEntry, UpdateJobState,\n"
           "setRt_JobID, UpdateCJ_YDBCB and startYDBService, and has each cycle's values\n"
           "handed to it through UpdateYDBValues. A client's road step is not interleaved\n"
           "with another's on the same cycle time and type.\n"
           "\n"
           "Without SCENARIO-FILE the embedded default scenario runs (see --print-default).\n"
           "\n"
           "Options:\n"
           "  --trace          show the component's trace (levels 1, 3, 4) through the trace\n"
           "                   stand-in's sink: stderr, or BSTTRACE_SINK=file:PATH\n"
           "  --dot FILE       write a Graphviz picture of the final job table to FILE\n"
           "                   (render with: dot -Tsvg FILE -o jobs.svg)\n"
           "  --quiet          leave out the line per event and the progress line on stderr;\n"
           "                   print summary and verification\n"
           "  --seed N         order of the starts and cancels that fall on one tick (default 1);\n"
           "                   a seed gives the same output whatever the thread count\n"
           "  --json FILE      the whole result as JSON (docs/simulator.md gives its shape)\n"
           "  --csv FILE       the summary table as CSV\n"
           "  --timeline FILE  an SVG picture of the jobs on the controller over virtual time\n"
           "  --print-default  print the default scenario and exit\n"
           "  --version        the version, and exit\n"
           "  --help           this text\n"
           "\n"
           "Output: a line per event 't=TICK CLIENT what happened (action word); job rt N'\n"
           "where rt is the controller's run-time job id; then a table per cycle time and type\n"
           "(single jobs, jobs on the controller without and with the component, requested and\n"
           "reformed names, names read per cycle) and the verification.\n"
           "\n"
           "Output lines of one tick follow the order in which their effects took place.\n"
           "\n"
           "Exit codes: 0 verification passed; 1 mismatches or errors; 2 bad arguments, bad\n"
           "scenario, the component could not be created or a result file not written.\n"
           "\n"
        << cjsim::ScenarioFormatHelp();
}

}  // namespace

// The result files asked for with --json, --csv and --timeline.
struct ResultFiles {
    std::string json, csv, timeline;

    // Takes argv[i] (and its value) when it is one of the options of the result files or --seed.
    bool Take(int argc, char** argv, int& i, cjsim::SimOptions& options, int& exitCode) {
        const std::string arg = argv[i];
        std::string* target = arg == "--json"       ? &json
                              : arg == "--csv"      ? &csv
                              : arg == "--timeline" ? &timeline
                                                    : nullptr;
        if (target == nullptr && arg != "--seed") {
            return false;
        }
        if (++i == argc) {
            std::cerr << "cjsim: " << arg << " needs " << (target ? "a file name" : "a number")
                      << "\n";
            exitCode = 2;
            return true;
        }
        const std::string value = argv[i];
        char* end = nullptr;
        const unsigned long long seed = std::strtoull(value.c_str(), &end, 10);
        if (target != nullptr) {
            *target = value;
        } else if (value.empty() || value[0] == '-' || *end != '\0' || seed > 0xFFFFFFFFull) {
            std::cerr << "cjsim: expected '--seed N' with N from 0 to 4294967295, got '" << value
                      << "'\n";
            exitCode = 2;
        } else {
            options.seed = static_cast<uint32_t>(seed);
        }
        return true;
    }

    // Writes the files asked for; a file that cannot be written fails the run with exit code 2.
    int Write(const cjsim::SimResult& result) const {
        int exitCode = result.exitCode;
        const std::pair<const std::string*, void (*)(const cjsim::SimResult&, std::ostream&)>
            files[] = {{&json, cjsim::WriteJson},
                       {&csv, cjsim::WriteCsv},
                       {&timeline, cjsim::WriteTimeline}};
        for (const auto& [path, writer] : files) {
            std::string error;
            if (!path->empty() && !cjsim::WriteResultFile(*path, result, writer, error)) {
                std::cerr << "cjsim: " << error << "\n";
                exitCode = 2;
            }
        }
        return exitCode;
    }
};

int main(int argc, char** argv) {
    cjsim::SimOptions options;
    options.progress = &std::cerr;
    ResultFiles results;
    int optionError = 0;
    std::string file;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            Usage(std::cout);
            return 0;
        } else if (arg == "--version") {
            std::cout << "cjsim " CJ_VERSION "\n";
            return 0;
        } else if (arg == "--print-default") {
            std::cout << cjsim::DefaultScenarioText();
            return 0;
        } else if (arg == "--trace") {
            options.trace = true;
        } else if (arg == "--quiet") {
            options.events = false;
            options.progress = nullptr;
        } else if (results.Take(argc, argv, i, options, optionError)) {
            if (optionError != 0) {
                return optionError;
            }
        } else if (arg == "--dot") {
            if (++i == argc) {
                std::cerr << "cjsim: --dot needs a file name\n";
                return 2;
            }
            options.dotFile = argv[i];
        } else if (!arg.empty() && arg[0] == '-') {
            std::cerr << "cjsim: unknown option '" << arg << "' (see --help)\n";
            return 2;
        } else if (!file.empty()) {
            std::cerr << "cjsim: one scenario file only (see --help)\n";
            return 2;
        } else {
            file = arg;
        }
    }
    cjsim::Scenario scenario;
    std::string error;
    if (file.empty()) {
        std::istringstream text(cjsim::DefaultScenarioText());
        if (!cjsim::ParseScenario(text, "<default>", scenario, error)) {
            std::cerr << "cjsim: " << error << "\n";
            return 2;
        }
    } else if (!cjsim::LoadScenarioFile(file, scenario, error)) {
        std::cerr << "cjsim: " << error << "\n";
        return 2;
    }
    return results.Write(cjsim::RunSimulation(scenario, options, std::cout));
}
