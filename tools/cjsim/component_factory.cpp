// Creation of the component and registration of the callback-table class for the simulator.
#include "component_factory.h"

#include "base/st/symcjacc/symcjacc.h"
#include "base/st/symcjacc/symcjanyopt.h"
#include "btl/settings.h"
#include "platform/module.h"

#include <cstdio>

namespace cjsim {

namespace {

std::basic_string<OLECHAR> CollectionKey() {
    return std::basic_string<OLECHAR>(BTL_GetRegKeyRoot()) + OLESTR("\\OnlServer\\Collection");
}

const OLECHAR kOptimizerValue[] = OLESTR("AnyptrOptimizer");

std::string Hex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    return text;
}

}  // namespace

HRESULT RegisterCallbackTable(std::string& error) {
    // The stand-in lies beside the program and registers itself, as regsvr32 would do.
    HMODULE module = LoadLibraryA("mccbtable.dll");
    if (module == nullptr) {
        const HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
        error = "cannot load the callback-table module mccbtable.dll (" + Hex(hr) +
                "); it is built beside the program";
        return hr;
    }
    using RegisterFn = HRESULT(STDAPICALLTYPE*)();
    auto reg = platform::proc_address<RegisterFn>(module, "DllRegisterServer");
    const HRESULT hr = reg != nullptr ? reg() : E_NOTIMPL;
    if (FAILED(hr)) {
        error = "registering the callback-table class failed (" + Hex(hr) + ")";
    }
    return hr;  // the module stays loaded for the process
}

HRESULT CreateComponent(platform::ComPtr<IMC_CollectionJobSymAcc>& out, std::string& error) {
    out.reset();
    // Linked in: the optimizer must read the switch that this process has just set.
    CAnyPtrOptimizer::forgetOptimizerSetting();
    try {
        platform::ComPtr<CCollectionJobSymAcc> made(new CCollectionJobSymAcc);  // adds a reference
        const HRESULT hr = made.query(IID_IMC_CollectionJobSymAcc, out);
        if (FAILED(hr)) {
            error = "the component does not answer IMC_CollectionJobSymAcc (" + Hex(hr) + ")";
        }
        return hr;
    } catch (const std::bad_alloc&) {
        error = "out of memory creating the component";
        return E_OUTOFMEMORY;
    }
}

OptimizerSetting::OptimizerSetting(DWORD value) {
    platform::UniqueRegKey key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, CollectionKey().c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, key.put(), nullptr) != ERROR_SUCCESS) {
        return;
    }
    DWORD type = 0, size = sizeof m_previous;
    m_hadValue = RegQueryValueExW(key.get(), kOptimizerValue, nullptr, &type,
                                  reinterpret_cast<BYTE*>(&m_previous), &size) == ERROR_SUCCESS &&
                 type == REG_DWORD && size == sizeof m_previous;
    RegSetValueExW(key.get(), kOptimizerValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                   sizeof value);
}

OptimizerSetting::~OptimizerSetting() {
    platform::UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, CollectionKey().c_str(), 0, KEY_ALL_ACCESS, key.put()) !=
        ERROR_SUCCESS) {
        return;
    }
    if (m_hadValue) {
        RegSetValueExW(key.get(), kOptimizerValue, 0, REG_DWORD,
                       reinterpret_cast<const BYTE*>(&m_previous), sizeof m_previous);
    } else {
        RegDeleteValueW(key.get(), kOptimizerValue);
    }
}

}  // namespace cjsim
