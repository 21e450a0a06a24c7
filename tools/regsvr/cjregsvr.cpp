// cjregsvr: loads a module and runs its DllRegisterServer or DllUnregisterServer, telling on
// failure what went wrong with an exit code per kind of failure.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/module.h"
#include "platform/winapi.h"
#ifndef _WIN32
#include "platform/nonwin/registry_store.h"
#endif

namespace {

enum ExitCode {
    kOk = 0,
    kUsage = 1,
    kLoadFailed = 2,
    kNoEntryPoint = 3,
    kEntryPointFailed = 4,
    kNotSaved = 5,
};

void usage(FILE* out) {
    std::fputs(
        "usage: cjregsvr [-u] [-s] MODULE\n"
        "Registers the in-process server MODULE by its DllRegisterServer, or with -u\n"
        "unregisters it by its DllUnregisterServer.\n"
        "  -u          unregister\n"
        "  -s          silent: no message on success\n"
        "  --version   the version\n"
        "  -h, --help  this text\n"
        "MODULE is a path or a module name (name.dll is libname.so on Linux). The registry is\n"
        "the platform's: on Linux the file named by PLATFORM_REGISTRY_FILE (without it the\n"
        "registration is lost when the program ends).\n"
        "Exit codes: 0 done, 1 usage, 2 module not loaded, 3 entry point missing,\n"
        "4 entry point failed, 5 the registry store could not be saved.\n",
        out);
}

// The system's text for an HRESULT, without its line break; empty when there is none.
std::string error_text(DWORD code) {
    char buffer[512] = {};
    const DWORD n =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                       MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buffer, sizeof buffer, nullptr);
    std::string text(buffer, n);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

void report(const char* what, const char* module, DWORD code) {
    const std::string text = error_text(code);
    std::fprintf(stderr, "cjregsvr: %s %s: 0x%08lX%s%s\n", what, module,
                 static_cast<unsigned long>(code), text.empty() ? "" : " ", text.c_str());
}

struct Arguments {
    bool unregister = false;
    bool silent = false;
    const char* module = nullptr;
};

// Reads the command line; kOk with done set when it was answered already (help, version).
int parse_arguments(int argc, char** argv, Arguments& args, bool& done) {
    done = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0 ||
            std::strcmp(arg, "/?") == 0) {
            usage(stdout);
            done = true;
            return kOk;
        }
        if (std::strcmp(arg, "--version") == 0) {
            std::puts("cjregsvr " CJ_VERSION);
            done = true;
            return kOk;
        }
        if (std::strcmp(arg, "-u") == 0 || std::strcmp(arg, "/u") == 0) {
            args.unregister = true;
        } else if (std::strcmp(arg, "-s") == 0 || std::strcmp(arg, "/s") == 0) {
            args.silent = true;
        } else if (arg[0] == '-' || args.module != nullptr) {
            std::fprintf(stderr, "cjregsvr: unexpected argument '%s'\n", arg);
            usage(stderr);
            return kUsage;
        } else {
            args.module = arg;
        }
    }
    if (args.module == nullptr) {
        std::fputs("cjregsvr: no module given\n", stderr);
        usage(stderr);
        return kUsage;
    }
    return kOk;
}

// Loads the module and runs the entry point asked for.
int run_entry_point(const Arguments& args) {
    const platform::UniqueModule loaded(LoadLibraryA(args.module));
    if (!loaded) {
        const DWORD code = GetLastError();
        report("cannot load", args.module, code);
#ifndef _WIN32
        // The code alone says "not found" for every failure; the loader knows which it was.
        std::fprintf(stderr, "cjregsvr: the loader says: %s\n", PlatformLastLoadError());
#endif
        return kLoadFailed;
    }
    const char* entry = args.unregister ? "DllUnregisterServer" : "DllRegisterServer";
    using EntryFn = HRESULT(STDAPICALLTYPE*)();
    const auto fn = platform::proc_address<EntryFn>(loaded.get(), entry);
    if (fn == nullptr) {
        std::fprintf(stderr, "cjregsvr: %s has no entry point %s\n", args.module, entry);
        return kNoEntryPoint;
    }
    const HRESULT hr = fn();
    if (FAILED(hr)) {
        const std::string what = std::string(entry) + " failed in";
        report(what.c_str(), args.module, static_cast<DWORD>(hr));
        return kEntryPointFailed;
    }
#ifndef _WIN32
    const std::string problem = platform_registry::store_problem();
    if (!problem.empty()) {
        std::fprintf(stderr, "cjregsvr: %s of %s ran, but the registry store was not saved: %s\n",
                     entry, args.module, problem.c_str());
        return kNotSaved;
    }
#endif
    if (!args.silent) {
        std::printf("cjregsvr: %s of %s succeeded\n", entry, args.module);
    }
    return kOk;
}

}  // namespace

int main(int argc, char** argv) {
    Arguments args;
    bool done = false;
    const int parsed = parse_arguments(argc, argv, args, done);
    if (parsed != kOk || done) {
        return parsed;
    }
#ifndef _WIN32
    if (platform_registry::store_path().empty()) {
        std::fputs(
            "cjregsvr: warning: PLATFORM_REGISTRY_FILE is not set, so the registration "
            "ends with this program\n",
            stderr);
    }
#endif
    return run_entry_point(args);
}
