// Whole simulations run in-process: the default scenario, the job limit, heavy cancelling from
// many threads, and a client that maps its values through a wrong lookup row on purpose.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "scenario.h"
#include "simulator.h"

namespace {

cjsim::Scenario Parsed(const std::string& text) {
    cjsim::Scenario s;
    std::string error;
    std::istringstream in(text);
    EXPECT_TRUE(cjsim::ParseScenario(in, "test", s, error)) << error;
    return s;
}

cjsim::SimResult Simulate(const cjsim::Scenario& s, std::string* output = nullptr,
                          const cjsim::SimOptions& options = {}) {
    std::ostringstream out;
    cjsim::SimResult r = cjsim::RunSimulation(s, options, out);
    if (output != nullptr) {
        *output = out.str();
    }
    return r;
}

const cjsim::KeyStats* Key(const cjsim::SimResult& r, long cycle, long type) {
    for (const cjsim::KeyStats& k : r.keys) {
        if (k.cycle == cycle && k.type == type) {
            return &k;
        }
    }
    return nullptr;
}

TEST(SimRun, TheDefaultScenarioMergesAndEveryValueArrives) {
    std::string out;
    const cjsim::SimResult r = Simulate(Parsed(cjsim::DefaultScenarioText()), &out);
    ASSERT_EQ(r.exitCode, 0) << out;
    EXPECT_EQ(r.mismatches + r.errors, 0u) << out;
    EXPECT_GT(r.values, 1000u);
    EXPECT_LT(r.peakJobsWith, r.peakJobsWithout) << out;
    // The four axes of 100 ms share one job whose reads are fewer than the names asked for.
    const cjsim::KeyStats* axes = Key(r, 100, 9);
    ASSERT_NE(axes, nullptr);
    EXPECT_EQ(axes->collectionJobs, 1u);
    EXPECT_EQ(axes->jobsWith, 1u);
    EXPECT_LT(axes->reformed, axes->requested);
    EXPECT_LT(axes->readsWith, axes->readsWithout);
    // The job limit leaves the 20 ms clients a job each.
    const cjsim::KeyStats* late = Key(r, 20, 9);
    ASSERT_NE(late, nullptr);
    EXPECT_EQ(late->jobsWith, 2u);
    EXPECT_EQ(late->collectionJobs, 0u);
    // The YDB clients of 100 ms share one job and receive their values through the component.
    EXPECT_GT(r.ydbValues, 300u);
    const cjsim::KeyStats* traces = Key(r, 100, 1);
    ASSERT_NE(traces, nullptr);
    EXPECT_TRUE(traces->ydb);
    EXPECT_EQ(traces->jobsWith, 1u);
    EXPECT_LT(traces->jobsWith, traces->jobsWithout);
    for (const char* seen : {"re-created as", "leaves collection job", "deleted (reason 1226)",
                             "no collection job (job limit)", "unconfirmed collection job",
                             "re-creates collection job", "(YDB)"}) {
        EXPECT_NE(out.find(seen), std::string::npos) << seen << "\n" << out;
    }
}

TEST(SimRun, AtTheJobLimitClientsRunAloneAndStillReceiveEveryValue) {
    // Limit 4: ids 2 and 3 per type. Six cycle times of one type, two clients each.
    std::string text = "duration 400\nthreads 4\nlimit 4\n";
    const int cycles[] = {10, 20, 30, 40, 50, 60};
    for (int i = 0; i < 6; ++i) {
        for (int k = 0; k < 2; ++k) {
            text += "client c" + std::to_string(i) + "_" + std::to_string(k) +
                    " cycle=" + std::to_string(cycles[i]) +
                    " type=4 start=" + std::to_string(i * 10 + k * 5 + 1) + " read=2/" +
                    std::to_string(i) + "/5:" + std::to_string(k * 3) + "+4\n";
        }
    }
    std::string out;
    const cjsim::SimResult r = Simulate(Parsed(text), &out);
    ASSERT_EQ(r.exitCode, 0) << out;
    size_t collections = 0, jobs = 0;
    for (const cjsim::KeyStats& k : r.keys) {
        collections += k.collectionJobs;
        jobs += k.jobsWith;
    }
    EXPECT_EQ(collections, 2u) << out;
    EXPECT_EQ(jobs, 2u + 8u) << out;  // two shared jobs, eight clients alone
    EXPECT_EQ(r.peakJobsWithout, 12u);
}

TEST(SimRun, HeavyCancellingFromEightThreadsLosesNoValue) {
    // Starts and cancels fall on few ticks, so the threads meet on the same (cycle, type).
    std::string text = "duration 2000\nthreads 8\n";
    for (int i = 0; i < 48; ++i) {
        const int cycle = 10 * (1 + i % 3);
        const int start = (i * 37) % 1000 / 100 * 100;
        const int cancel = start + 100 * (1 + i % 7);
        text += "client h" + std::to_string(i) + " cycle=" + std::to_string(cycle) +
                " type=" + std::to_string(1 + i % 2) + " start=" + std::to_string(start) +
                (i % 12 == 5 ? "" : " cancel=" + std::to_string(cancel)) + " read=1/" +
                std::to_string(i % 4) + "/5:" + std::to_string((i * 7) % 40) + "+" +
                std::to_string(1 + i % 6) + ",3/3/2:" + std::to_string(i % 9) + "+2\n";
    }
    std::string out;
    const cjsim::SimResult r = Simulate(Parsed(text), &out);
    ASSERT_EQ(r.exitCode, 0) << out;
    EXPECT_GT(r.reads, 1000u);
    for (const char* seen : {"deleted (reason 1226)", "re-created as", "leaves collection job"}) {
        EXPECT_NE(out.find(seen), std::string::npos) << seen << "\n" << out;
    }
}

// The log without its header line, which names the thread count.
std::string Log(const cjsim::Scenario& s, uint32_t seed) {
    cjsim::SimOptions options;
    options.seed = seed;
    std::string out;
    EXPECT_EQ(Simulate(s, &out, options).exitCode, 0) << out;
    return out.substr(out.find('\n') + 1);
}

TEST(SimRun, ASeedGivesTheSameCausalLogWhateverTheThreadCount) {
    // Six clients of one cycle and type start on the same ticks and two cancel together: the
    // order of their effects decides who creates and who joins which collection job.
    std::string text = "duration 300\n";
    for (int i = 0; i < 6; ++i) {
        text += "client k" + std::to_string(i) +
                " cycle=10 type=9 start=" + std::to_string(i < 3 ? 0 : 50) +
                (i % 3 == 0 ? " cancel=150" : "") + " read=1/10/5:" + std::to_string(3 * i) +
                "+4\n";
    }
    text +=
        "client y0 cycle=10 type=1 start=0 service=ydb read=1/10/5:0+2\n"
        "client y1 cycle=10 type=1 start=0 service=ydb read=1/10/5:2+2\n";
    cjsim::Scenario s = Parsed(text);
    s.threads = 1;
    const std::string reference = Log(s, 7);
    for (int threads : {1, 4, 4, 8}) {
        s.threads = threads;
        EXPECT_EQ(Log(s, 7), reference) << threads << " threads";
    }
    // A collection job is joined only after the line that re-created it under that id.
    std::set<unsigned long> created;
    std::istringstream lines(reference);
    for (std::string line; std::getline(lines, line);) {
        const size_t joins = line.find("joins collection job ");
        const unsigned long id =
            joins == std::string::npos ? 0 : std::stoul(line.substr(joins + 21));
        if (id >= 1000) {  // ids the clients gave re-created jobs
            EXPECT_EQ(created.count(id), 1u) << id << " joined before it was created:\n"
                                             << reference;
        }
        const size_t as = line.find("re-created as ");
        if (as != std::string::npos) {
            created.insert(std::stoul(line.substr(as + 14)));
        }
    }
    EXPECT_FALSE(created.empty()) << reference;
    EXPECT_NE(Log(s, 8), reference) << "the seed does not order the steps";
}

TEST(SimRun, AClientTakingTheWrongRunIsCaughtByTheVerification) {
    // client: a lookup row (IVar) or a run (YDB) one further than its own
    for (const char* client : {"axis2", "trace2"}) {
        cjsim::SimOptions options;
        options.wrongRowClient = client;
        options.events = false;
        std::string out;
        const cjsim::SimResult r = Simulate(Parsed(cjsim::DefaultScenarioText()), &out, options);
        EXPECT_EQ(r.exitCode, 1) << out;
        EXPECT_GT(r.mismatches, 0u);
        EXPECT_EQ(r.errors, 0u) << out;
        EXPECT_NE(out.find(std::string(client) + ": "), std::string::npos) << out;
        EXPECT_NE(out.find("Verification FAILED"), std::string::npos) << out;
    }
}

TEST(SimRun, AServiceWithNothingComparedFailsTheVerification) {
    // The YDB client starts after the last tick of its cycle: no value of it is ever compared.
    std::string out;
    const cjsim::SimResult r = Simulate(Parsed("duration 100\n"
                                               "client a cycle=10 type=9 start=0 read=1/1/1:0+1\n"
                                               "client b cycle=60 type=1 start=70 service=ydb "
                                               "read=1/1/1:0+1\n"),
                                        &out);
    EXPECT_EQ(r.exitCode, 1) << out;
    EXPECT_EQ(r.ydbValues, 0u);
    EXPECT_NE(out.find("no value of the YDB service was compared"), std::string::npos) << out;
}

}  // namespace
