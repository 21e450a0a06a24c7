// The classes a simulator run serves in its own process, and the private registry on Linux.
#include "component_factory.h"

#include <cstdio>
#include <cstdlib>

#include "engsys/exports.h"
#include "mc_callbacks.h"
#include "ydb_data.h"
#ifndef _WIN32
#include "platform/nonwin/registry_store.h"
#endif

namespace cjsim {

namespace {

std::string Hex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    return text;
}

std::string ModulePath(HMODULE module) {
    char path[4096] = {};
    const DWORD n = GetModuleFileNameA(module, path, sizeof path);
    return n > 0 && n < sizeof path ? std::string(path, n) : std::string();
}

HMODULE LoadModuleFile(const std::string& path) {
#ifdef _WIN32
    // The module's own folder first for what it imports, as for a registered server; that needs
    // a full path.
    char full[MAX_PATH * 4] = {};
    const DWORD n = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    return LoadLibraryExA(n > 0 && n < sizeof full ? full : path.c_str(), nullptr,
                          LOAD_WITH_ALTERED_SEARCH_PATH);
#else
    return LoadLibraryA(path.c_str());
#endif
}

std::string LoadFailure(const std::string& what, const std::string& path) {
    const DWORD code = GetLastError();
    std::string why;
#ifdef _WIN32
    char text[512] = {};
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, text, sizeof text, nullptr);
    why.assign(text, n);
    while (!why.empty() && (why.back() == '\n' || why.back() == '\r' || why.back() == ' ')) {
        why.pop_back();
    }
#else
    why = PlatformLastLoadError();
#endif
    return "cannot load " + what + " '" + path +
           "': " + (why.empty() ? Hex(HRESULT_FROM_WIN32(code)) : why);
}

// The optimizer switch's address as the settings library resolves the component's read of it.
const int kSettingLocation = 2;  // SettingLocationMachine; the root-based read ignores it
const int kSettingBase = 0;      // SettingBaseRoot
const OLECHAR kOptimizerPath[] = OLESTR("OnlServer\\Collection\\AnyptrOptimizer");
// The switch's values 1000..1002 are the modes 0..2 re-read at every optimizer's start, so that
// a later run in the same process (the tests) gets its own mode, not the first run's.
const DWORD kRereadBase = 1000;

}  // namespace

std::string PlatformModuleName(const std::string& name) {
#ifdef _WIN32
    return name + ".dll";
#else
    return "lib" + name + ".so";
#endif
}

std::string BesideProgram(const std::string& name) {
    const std::string program = ModulePath(nullptr);
    const size_t slash = program.find_last_of("/\\");
    return (slash == std::string::npos ? std::string() : program.substr(0, slash + 1)) + name;
}

bool UsePrivateRegistry(std::string& error) {
#ifdef _WIN32
    (void)error;
    return true;
#else
    // The store reads the variable once, when the registry is first used.
    unsetenv("PLATFORM_REGISTRY_FILE");
    if (!platform_registry::store_path().empty()) {
        error = "the registry store " + platform_registry::store_path() +
                " was opened before the run could use a private one";
        return false;
    }
    return true;
#endif
}

std::string RegistryDescription() {
#ifdef _WIN32
    return "the system's, not written by the run";
#else
    const std::string path = platform_registry::store_path();
    return path.empty() ? "in memory, private to this run" : path + ", not written by the run";
#endif
}

const char* OptimizerModeName(DWORD mode) {
    switch (mode) {
        case 0:
            return "off";
        case 1:
            return "identical ranges";
        default:
            return "merge overlapping and touching ranges";
    }
}

struct RunClasses::Served {
    platform::UniqueModule module;
    platform::ComPtr<IClassFactory> factory;
    DWORD cookie = 0;
    bool registered = false;

    ~Served() {
        if (registered) {
            (void)CoRevokeClassObject(cookie);
        }
        factory.reset();
        if (!module) {
            return;
        }
        // A module whose objects are still in use stays loaded.
        using CanUnloadFn = HRESULT(STDAPICALLTYPE*)();
        const auto canUnload = platform::proc_address<CanUnloadFn>(module.get(), "DllCanUnloadNow");
        if (canUnload != nullptr && canUnload() != S_OK) {
            (void)module.release();
        }
    }
};

RunClasses::RunClasses() = default;

RunClasses::~RunClasses() {
    if (m_optimizerSet) {
        std::string ignored;
        (void)SetOptimizer(nullptr, ignored);
    }
    // Revoked in reverse order of serving; the component goes before the classes it uses.
    while (!m_served.empty()) {
        m_served.pop_back();
    }
}

HRESULT RunClasses::ServeClass(const std::string& path, REFCLSID clsid, const char* what,
                               std::string& error) {
    auto served = std::make_unique<Served>();
    served->module.reset(LoadModuleFile(path));
    if (!served->module) {
        error = LoadFailure(what, path);
        return E_FAIL;
    }
    using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    const auto get =
        platform::proc_address<GetClassObjectFn>(served->module.get(), "DllGetClassObject");
    if (get == nullptr) {
        error = std::string(what) + " '" + path + "' has no entry point DllGetClassObject";
        return E_NOINTERFACE;
    }
    HRESULT hr = get(clsid, IID_IClassFactory, served->factory.put_void());
    if (SUCCEEDED(hr)) {
        hr = CoRegisterClassObject(clsid, served->factory.get(), CLSCTX_INPROC_SERVER,
                                   REGCLS_MULTIPLEUSE, &served->cookie);
        served->registered = SUCCEEDED(hr);
    }
    if (FAILED(hr)) {
        error = std::string(what) + " '" + path + "' does not serve its class (" + Hex(hr) + ")";
        return hr;
    }
    m_served.push_back(std::move(served));
    return S_OK;
}

HRESULT RunClasses::SetOptimizer(const DWORD* value, std::string& error) {
    const platform::UniqueModule settings(LoadLibraryA("bsttool.dll"));
    const auto setOverride =
        platform::proc_address<engsys::SettingOverrideFn>(settings.get(), "bsttool_SetOverride");
    const LONG result = setOverride != nullptr
                            ? setOverride(&kSettingLocation, &kSettingBase, kOptimizerPath, value)
                            : ERROR_PROC_NOT_FOUND;
    if (result != 0) {
        error = "the settings library " + PlatformModuleName("bsttool") +
                " takes no optimizer mode for this run (" + std::to_string(result) + ")";
        return E_FAIL;
    }
    m_optimizerSet = value != nullptr;
    return S_OK;
}

HRESULT RunClasses::Serve(const std::string& module, DWORD optimizer, std::string& error) {
    const std::string path =
        module.empty() ? BesideProgram(PlatformModuleName("CollectionJobSymAcc")) : module;
    HRESULT hr = ServeClass(BesideProgram(PlatformModuleName("mccbtable")), CLSID_MC_CallbackTable,
                            "the callback-table module", error);
    if (SUCCEEDED(hr)) {
        hr = ServeClass(BesideProgram(PlatformModuleName("ydbdata")), CLSID_YDB_Data,
                        "the YDB data object module", error);
    }
    if (SUCCEEDED(hr)) {
        hr = ServeClass(path, CLSID_CollectionJobSymAcc, "the component's module", error);
    }
    if (FAILED(hr)) {
        return hr;
    }
    m_componentPath = ModulePath(m_served.back()->module.get());
    const DWORD reread = kRereadBase + optimizer;
    return SetOptimizer(&reread, error);
}

HRESULT RunClasses::CreateComponent(platform::ComPtr<IMC_CollectionJobSymAcc>& out,
                                    std::string& error) {
    out.reset();
    const HRESULT hr = CoCreateInstance(CLSID_CollectionJobSymAcc, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_IMC_CollectionJobSymAcc, out.put_void());
    if (FAILED(hr)) {
        error = "cannot create the component from '" + m_componentPath + "' (" + Hex(hr) + ")";
    }
    return hr;
}

}  // namespace cjsim
