// Creation of the component and registration of the callback-table class for the simulator.
#include "component_factory.h"

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

namespace {

// Registers a module found beside the program through its own DllRegisterServer, as regsvr32
// or cjregsvr would. The module stays loaded for the process.
HRESULT RegisterModule(const char* module, const char* what, std::string& error) {
    HMODULE handle = LoadLibraryA(module);
    if (handle == nullptr) {
        const HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
        error = std::string("cannot load ") + what + " " + module + " (" + Hex(hr) +
                "); it is built beside the program";
        return hr;
    }
    using RegisterFn = HRESULT(STDAPICALLTYPE*)();
    auto reg = platform::proc_address<RegisterFn>(handle, "DllRegisterServer");
    const HRESULT hr = reg != nullptr ? reg() : E_NOTIMPL;
    if (FAILED(hr)) {
        error = std::string("registering ") + what + " " + module + " failed (" + Hex(hr) + ")";
    }
    return hr;
}

const OLECHAR kProgID[] = OLESTR("CCollectionJobSymAcc.CCollectionJobSymAcc.1");

HRESULT CreateRegistered(platform::ComPtr<IMC_CollectionJobSymAcc>& out) {
    CLSID clsid{};
    HRESULT hr = CLSIDFromProgID(kProgID, &clsid);
    if (SUCCEEDED(hr)) {
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IMC_CollectionJobSymAcc,
                              out.put_void());
    }
    return hr;
}

}  // namespace

HRESULT RegisterCallbackTable(std::string& error) {
    return RegisterModule("mccbtable.dll", "the callback-table module", error);
}

HRESULT RegisterYDBDataClass(std::string& error) {
    return RegisterModule("ydbdata.dll", "the YDB data object module", error);
}

HRESULT CreateComponent(platform::ComPtr<IMC_CollectionJobSymAcc>& out, std::string& error) {
    out.reset();
    // By its ProgID, as a client does. Not registered (or registered elsewhere and gone): register
    // the module beside the program and try once more.
    HRESULT hr = CreateRegistered(out);
    if (FAILED(hr)) {
        std::string why;
        if (FAILED(RegisterModule("CollectionJobSymAcc.dll", "the component", why))) {
            error = why;
            return hr;
        }
        hr = CreateRegistered(out);
    }
    if (FAILED(hr)) {
        error = "cannot create the component by its ProgID (" + Hex(hr) + ")";
    }
    return hr;
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
