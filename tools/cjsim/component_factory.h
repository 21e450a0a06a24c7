// How the simulator obtains the component and the engineering system's classes it needs: kept
// in one place so that the way of creating them can change without touching the simulation.
#pragma once

#include <string>

#include "collectionjobsymacc.h"

namespace cjsim {

// Makes the callback-table class reachable through CoCreateInstance (the component keeps its
// clients' callbacks as cookies of that table). On failure, error says why.
HRESULT RegisterCallbackTable(std::string& error);

// Makes the YDB data object class reachable through CoCreateInstance, for the YDB clients and
// the component's collection jobs. On failure, error says why.
HRESULT RegisterYDBDataClass(std::string& error);

// Creates one component object as a client would and hands out its interface.
HRESULT CreateComponent(platform::ComPtr<IMC_CollectionJobSymAcc>& out, std::string& error);

// The optimizer switch's value that merges overlapping and touching ranges.
inline constexpr DWORD kOptimizerMerge = 2;

// Sets the optimizer switch for this run (merge overlapping and touching ranges) and puts the
// previous value back when destroyed.
class OptimizerSetting {
  public:
    explicit OptimizerSetting(DWORD value);
    ~OptimizerSetting();
    OptimizerSetting(const OptimizerSetting&) = delete;
    OptimizerSetting& operator=(const OptimizerSetting&) = delete;

  private:
    bool m_hadValue = false;
    DWORD m_previous = 0;
};

}  // namespace cjsim
