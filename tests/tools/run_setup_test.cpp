// What a run is made of and what it leaves: the module it names is the one it tested, the
// optimizer mode is the one asked for whatever the registry says, nothing is registered or set,
// fatal errors go to the error stream and output files are checked and their write failures
// reported.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "collectionjobsymacc.h"
#include "component_factory.h"
#include "mc_callbacks.h"
#include "output_paths.h"
#include "scenario.h"
#include "simulator.h"
#include "support/registry_read.h"
#include "support/scoped_setting.h"
#include "ydb_data.h"

namespace {

namespace fs = std::filesystem;
using olestring = std::basic_string<OLECHAR>;

struct RunOutput {
    cjsim::SimResult result;
    std::string out;
    std::string err;
};

RunOutput Simulate(cjsim::SimOptions options,
                   const std::string& text = cjsim::DefaultScenarioText()) {
    cjsim::Scenario scenario;
    std::string error;
    std::istringstream in(text);
    EXPECT_TRUE(cjsim::ParseScenario(in, "test", scenario, error)) << error;
    options.events = false;
    std::ostringstream out, err;
    RunOutput run;
    run.result = cjsim::RunSimulation(scenario, options, out, err);
    run.out = out.str();
    run.err = err.str();
    return run;
}

const cjsim::KeyStats* Key(const cjsim::SimResult& r, long cycle, long type) {
    for (const cjsim::KeyStats& k : r.keys) {
        if (k.cycle == cycle && k.type == type) {
            return &k;
        }
    }
    return nullptr;
}

olestring ClassKey(REFCLSID clsid) {
    OLECHAR text[40] = {};
    StringFromGUID2(clsid, text, 40);
    return olestring(OLESTR("CLSID\\")) + text + OLESTR("\\InprocServer32");
}

// Whatever a run could register or set, as the registry holds it.
std::vector<olestring> RegistrySnapshot() {
    std::vector<olestring> snapshot;
    for (const CLSID* clsid :
         {&CLSID_CollectionJobSymAcc, &CLSID_MC_CallbackTable, &CLSID_YDB_Data}) {
        snapshot.push_back(
            testing_support::string_value(HKEY_CLASSES_ROOT, ClassKey(*clsid).c_str()));
    }
    const OLECHAR progId[] = OLESTR("CCollectionJobSymAcc.CCollectionJobSymAcc.1");
    snapshot.push_back(testing_support::key_exists(HKEY_CLASSES_ROOT, progId) ? OLESTR("yes")
                                                                              : OLESTR("no"));
    const olestring key = olestring(BTL_GetRegKeyRoot()) + OLESTR("\\OnlServer\\Collection");
    DWORD value = 0, size = sizeof value, type = 0;
    platform::UniqueRegKey handle;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, handle.put()) ==
            ERROR_SUCCESS &&
        RegQueryValueExW(handle.get(), OLESTR("AnyptrOptimizer"), nullptr, &type,
                         reinterpret_cast<BYTE*>(&value), &size) == ERROR_SUCCESS) {
        snapshot.push_back(OLESTR("optimizer ") + olestring(1, OLECHAR('0' + value % 10)));
    }
    return snapshot;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct TempDir {
    TempDir()
        : path(fs::temp_directory_path() /
               ("cjsim-test-" + std::to_string(std::random_device()()))) {
        fs::create_directories(path);
    }
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    fs::path path;
};

TEST(SimSetup, TheModeAskedForRunsAndTheRegistryIsNeitherObeyedNorWritten) {
    // The user's switch says off; each run gets its own mode, in this order, in one process.
    const testing_support::ScopedSetting userSetting(OLESTR("OnlServer\\Collection"),
                                                     OLESTR("AnyptrOptimizer"), 0);
    ASSERT_TRUE(userSetting.ok());
    const std::vector<olestring> before = RegistrySnapshot();
    // optimizer | the four 100 ms axes read fewer names than they asked for
    const std::pair<unsigned, bool> runs[] = {{2, true}, {0, false}, {2, true}};
    for (const auto& [mode, merged] : runs) {
        cjsim::SimOptions options;
        options.optimizer = mode;
        const RunOutput run = Simulate(options);
        ASSERT_EQ(run.result.exitCode, 0) << run.out << run.err;
        const cjsim::KeyStats* axes = Key(run.result, 100, 9);
        ASSERT_NE(axes, nullptr);
        EXPECT_EQ(axes->reformed < axes->requested, merged) << "mode " << mode << "\n" << run.out;
        EXPECT_NE(run.out.find("optimizer " + std::to_string(mode) + " ("), std::string::npos)
            << run.out;
        EXPECT_EQ(RegistrySnapshot(), before) << "mode " << mode;
    }
}

TEST(SimSetup, TheHeaderNamesTheModuleFileTheComponentCameFrom) {
    const std::string beside =
        cjsim::BesideProgram(cjsim::PlatformModuleName("CollectionJobSymAcc"));
    ASSERT_TRUE(fs::exists(beside)) << beside;
    // A copy elsewhere is the one tested when asked for, not the one beside the program.
    TempDir dir;
    const fs::path copy = dir.path / cjsim::PlatformModuleName("CollectionJobSymAcc");
    fs::copy_file(beside, copy);
    for (const std::string& module : {std::string(), copy.string()}) {
        cjsim::SimOptions options;
        options.module = module;
        const RunOutput run = Simulate(options);
        ASSERT_EQ(run.result.exitCode, 0) << run.out << run.err;
        const size_t from = run.out.find("cjsim: component from ");
        ASSERT_NE(from, std::string::npos) << run.out;
        const std::string named = run.out.substr(from + 22, run.out.find('\n', from) - from - 22);
        EXPECT_TRUE(fs::equivalent(named, module.empty() ? fs::path(beside) : copy)) << named;
    }
}

TEST(SimSetup, AModuleThatCannotServeEndsTheRunOnTheErrorStream) {
    // module | what the error says
    const std::pair<std::string, const char*> cases[] = {
        {"cj-no-such-module/" + cjsim::PlatformModuleName("CollectionJobSymAcc"),
         "cannot load the component's module 'cj-no-such-module/"},
        {cjsim::BesideProgram(cjsim::PlatformModuleName("bsttool")),
         "has no entry point DllGetClassObject"},
    };
    for (const auto& [module, message] : cases) {
        cjsim::SimOptions options;
        options.module = module;
        const RunOutput run = Simulate(options);
        EXPECT_EQ(run.result.exitCode, 2);
        EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
        EXPECT_EQ(run.out.find("Verification"), std::string::npos) << run.out;
    }
}

TEST(SimSetup, OutputPathsAreCheckedBeforeAndWritesReportedAfter) {
    TempDir dir;
    const fs::path kept = dir.path / "kept.dot";
    std::ofstream(kept) << "the user's";
    // path | accepted | the error names
    const std::tuple<fs::path, bool, const char*> cases[] = {
        {dir.path / "missing" / "x.dot", false, "No such file or directory"},
        {dir.path, false, "it is a directory"},
        {kept, true, ""},
        {dir.path / "new.dot", true, ""},
    };
    for (const auto& [path, accepted, names] : cases) {
        std::string error;
        EXPECT_EQ(cjsim::CheckOutputPath(path.string(), error), accepted) << path;
        EXPECT_NE(error.find(names), std::string::npos) << error;
    }
    EXPECT_EQ(ReadFile(kept), "the user's");
    EXPECT_FALSE(fs::exists(dir.path / "new.dot")) << "a checked path is left behind";

    // The picture is written after the run; a failed write is an exit code of its own.
    cjsim::SimOptions options;
    options.dotFile = (dir.path / "jobs.dot").string();
    RunOutput run = Simulate(options);
    EXPECT_EQ(run.result.exitCode, 0) << run.err;
    EXPECT_EQ(ReadFile(dir.path / "jobs.dot").rfind("digraph jobs {", 0), 0u);
    options.dotFile = dir.path.string();
    run = Simulate(options);
    EXPECT_EQ(run.result.exitCode, 3);
    EXPECT_NE(run.err.find("cannot write '" + dir.path.string() + "'"), std::string::npos)
        << run.err;
    EXPECT_NE(run.out.find("Verification PASSED"), std::string::npos);
}

}  // namespace
