// Stand-in of the engineering system's callback table: the global interface table's methods,
// delegating to the process's system table so that its cookies resolve and revoke there too.
#include "engsys/com_server.h"
#include "mc_callbacks.h"
#include "platform/com_object.h"
#include "platform/com_ptr.h"
#include "platform/winapi.h"

namespace {

class CallbackTable
    : public platform::ComObject<CallbackTable, platform::DeleteAtZero, IMC_CallbackTable> {
  public:
    CallbackTable() {
        (void)CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IGlobalInterfaceTable, m_git.put_void());
    }

    HRESULT STDMETHODCALLTYPE RegisterInterfaceInGlobal(IUnknown* pUnk, REFIID riid,
                                                        DWORD* pdwCookie) override {
        return m_git ? m_git->RegisterInterfaceInGlobal(pUnk, riid, pdwCookie) : E_UNEXPECTED;
    }
    HRESULT STDMETHODCALLTYPE RevokeInterfaceFromGlobal(DWORD dwCookie) override {
        return m_git ? m_git->RevokeInterfaceFromGlobal(dwCookie) : E_UNEXPECTED;
    }
    HRESULT STDMETHODCALLTYPE GetInterfaceFromGlobal(DWORD dwCookie, REFIID riid,
                                                     void** ppv) override {
        return m_git ? m_git->GetInterfaceFromGlobal(dwCookie, riid, ppv) : E_UNEXPECTED;
    }

  private:
    platform::ComPtr<IGlobalInterfaceTable> m_git;
};

constexpr char kRegistrationScript[] = R"(
HKCR
{
    NoRemove CLSID
    {
        ForceRemove {F7A48574-8EC8-4221-875F-18CD2F64F516} = s 'Callback table'
        {
            InprocServer32 = s '%MODULE%'
            {
                val ThreadingModel = s 'Both'
            }
        }
    }
}
)";

}  // namespace

PLATFORM_EXPORT HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    return engsys::GetClassObject<CallbackTable>(CLSID_MC_CallbackTable, rclsid, riid, ppv);
}

PLATFORM_EXPORT HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return engsys::CanUnloadNow();
}

PLATFORM_EXPORT HRESULT STDAPICALLTYPE DllRegisterServer() {
    return engsys::RunServerScript(kRegistrationScript, cj_registrar::Mode::Register,
                                   kRegistrationScript);
}

PLATFORM_EXPORT HRESULT STDAPICALLTYPE DllUnregisterServer() {
    return engsys::RunServerScript(kRegistrationScript, cj_registrar::Mode::Unregister,
                                   kRegistrationScript);
}
