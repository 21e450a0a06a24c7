// How the simulator obtains the component and the engineering system's classes it needs: served
// in this process from the modules themselves, so that a run registers nothing anywhere and no
// setting of the user's changes, even when the run is killed.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "collectionjobsymacc.h"
#include "platform/com_ptr.h"
#include "platform/module.h"

namespace cjsim {

// A module file name as the platform spells it: "name.dll" on Windows, "libname.so" elsewhere.
std::string PlatformModuleName(const std::string& name);

// The full path of a module of this build beside the running program.
std::string BesideProgram(const std::string& name);

// Linux: makes this process's registry a private one in memory, whatever PLATFORM_REGISTRY_FILE
// names. Call before anything uses the registry; false (and why) when it is too late. On Windows
// the system's registry is read and nothing is written to it, so there is nothing to do.
bool UsePrivateRegistry(std::string& error);

// The registry the run reads, for the run's header.
std::string RegistryDescription();

// How the header names a mode of the optimizer switch AnyptrOptimizer.
const char* OptimizerModeName(DWORD mode);

// The classes of one run: the component's from the module asked for, the callback table's and the
// YDB data object's from the stand-ins beside the program, each registered in this process only
// (CoRegisterClassObject), so that CoCreateInstance reaches them as a client's does while the
// registry is neither read for them nor written. The optimizer mode reaches the component
// through the settings library's override for this process. All of it ends with the object.
class RunClasses {
  public:
    RunClasses();
    ~RunClasses();
    RunClasses(const RunClasses&) = delete;
    RunClasses& operator=(const RunClasses&) = delete;

    // module: the component's module file; empty: the one beside the program. COM must be
    // initialized. On failure, error says why.
    HRESULT Serve(const std::string& module, DWORD optimizer, std::string& error);

    // The full path of the component's module that Serve loaded.
    const std::string& ComponentPath() const { return m_componentPath; }

    // Creates one component object as a client would and hands out its interface.
    HRESULT CreateComponent(platform::ComPtr<IMC_CollectionJobSymAcc>& out, std::string& error);

  private:
    struct Served;
    HRESULT ServeClass(const std::string& path, REFCLSID clsid, const char* what,
                       std::string& error);
    HRESULT SetOptimizer(const DWORD* value, std::string& error);

    std::vector<std::unique_ptr<Served>> m_served;
    std::string m_componentPath;
    bool m_optimizerSet = false;
};

}  // namespace cjsim
