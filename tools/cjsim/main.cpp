// cjsim: drives the collection-job component with simulated clients and a simulated controller
// on a virtual clock, and verifies every value the clients receive.
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>

#include "component_factory.h"
#include "output_paths.h"
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
           "  --module PATH    the component's module to test (default: " +
               cjsim::PlatformModuleName("CollectionJobSymAcc") +
               "\n"
               "                   beside the program)\n"
               "  --optimizer N    the optimizer mode: 0 off, 1 identical ranges, 2 merge\n"
               "                   overlapping and touching ranges (default 2)\n"
               "  --quiet          leave out the line per event and the progress line on stderr;\n"
               "                   print summary and verification\n"
               "  --seed N         order of the starts and cancels that fall on one tick (default\n"
               "                   1); a seed gives the same output whatever the thread count\n"
               "  --json FILE      the whole result as JSON (docs/simulator.md gives its shape)\n"
               "  --csv FILE       the summary table as CSV\n"
               "  --timeline FILE  an SVG picture of the jobs on the controller over virtual time\n"
               "  --print-default  print the default scenario and exit\n"
               "  --version        the version, and exit\n"
               "  --help           this text\n"
               "\n"
               "Output: a line per event 't=TICK CLIENT what happened (action word); job rt N'\n"
               "where rt is the controller's run-time job id; then a table per cycle time and "
               "type\n"
               "(single jobs, jobs on the controller without and with the component, requested "
               "and\n"
               "reformed names, names read per cycle) and the verification.\n"
               "\n"
               "Output lines of one tick follow the order in which their effects took place.\n"
               "\n"
               "The run registers nothing and changes no setting: the component's class is served\n"
               "in this process from the module, and the run's header names that file, the\n"
               "optimizer mode and the registry read (on Linux a private one in memory).\n"
               "\n"
               "Exit codes: 0 verification passed; 1 mismatches or errors; 2 bad arguments, bad\n"
               "scenario, an output file that cannot be written or the component could not be\n"
               "created; 3 verification passed but an output file could not be written.\n"
               "\n"
        << cjsim::ScenarioFormatHelp();
}

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

    // Writes the files asked for after a run that took place; a file that could not be written
    // turns a passed verification into exit code 3.
    int Write(const cjsim::SimResult& result) const {
        int exitCode = result.exitCode;
        if (exitCode == 2) {
            return exitCode;
        }
        const std::pair<const std::string*, void (*)(const cjsim::SimResult&, std::ostream&)>
            files[] = {{&json, cjsim::WriteJson},
                       {&csv, cjsim::WriteCsv},
                       {&timeline, cjsim::WriteTimeline}};
        for (const auto& [path, writer] : files) {
            if (!path->empty()) {
                std::ostringstream text;
                std::string error;
                writer(result, text);
                if (!cjsim::WriteOutputFile(*path, text.str(), error)) {
                    std::cerr << "cjsim: " << error << "\n";
                    exitCode = exitCode == 0 ? 3 : exitCode;
                }
            }
        }
        return exitCode;
    }
};

// Reads the scenario, checks every output before the run (which may take long) and runs it.
int Run(const std::string& file, const cjsim::SimOptions& options, const ResultFiles& results) {
    cjsim::Scenario scenario;
    std::string error;
    bool ready = true;
    if (file.empty()) {
        std::istringstream text(cjsim::DefaultScenarioText());
        ready = cjsim::ParseScenario(text, "<default>", scenario, error);
    } else {
        ready = cjsim::LoadScenarioFile(file, scenario, error);
    }
    for (const std::string* path :
         {&options.dotFile, &results.json, &results.csv, &results.timeline}) {
        ready = ready && (path->empty() || cjsim::CheckOutputPath(*path, error));
    }
    if (!ready || !cjsim::UsePrivateRegistry(error)) {
        std::cerr << "cjsim: " << error << "\n";
        return 2;
    }
    return results.Write(cjsim::RunSimulation(scenario, options, std::cout, std::cerr));
}

}  // namespace

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
        } else if (arg == "--dot" || arg == "--module" || arg == "--optimizer") {
            if (++i == argc) {
                std::cerr << "cjsim: " << arg << " needs a value (see --help)\n";
                return 2;
            }
            const std::string value = argv[i];
            if (arg == "--dot") {
                options.dotFile = value;
            } else if (arg == "--module") {
                options.module = value;
            } else if (value.size() == 1 && value[0] >= '0' && value[0] <= '2') {
                options.optimizer = static_cast<unsigned>(value[0] - '0');
            } else {
                std::cerr << "cjsim: expected '--optimizer N' with N 0, 1 or 2, got '" << value
                          << "'\n";
                return 2;
            }
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
    return Run(file, options, results);
}
