// The module object's map: every class in it is served by a class object of its own, cached.
#include <gtest/gtest.h>

#include "component/module.h"
#include "platform/com_object.h"
#include "platform/com_ptr.h"
#include "platform/winapi.h"
#include "support/ping_object.h"

namespace {

CComponentModule g_module;

PLATFORM_DEFINE_GUID(kFirstClass, 0x1C9B2A40, 0x7E11, 0x4F0B, 0x8A, 0x35, 0x51, 0x0D, 0x6E, 0x2B,
                     0x91, 0x01);
PLATFORM_DEFINE_GUID(kSecondClass, 0x1C9B2A40, 0x7E11, 0x4F0B, 0x8A, 0x35, 0x51, 0x0D, 0x6E, 0x2B,
                     0x91, 0x02);
PLATFORM_DEFINE_GUID(kUnknownClass, 0x1C9B2A40, 0x7E11, 0x4F0B, 0x8A, 0x35, 0x51, 0x0D, 0x6E, 0x2B,
                     0x91, 0x03);

template <LONG Value>
class Pinger : public platform::ComObject<Pinger<Value>, platform::DeleteAtZero, ICjTestPing> {
  public:
    HRESULT STDMETHODCALLTYPE Ping(LONG* value) override {
        *value = Value;
        return S_OK;
    }
};

const ObjectMapEntry kMap[] = {
    {&kFirstClass, &platform::CreateModuleLocked<Pinger<1>, ComponentModuleLock>},
    {&kSecondClass, &platform::CreateModuleLocked<Pinger<2>, ComponentModuleLock>},
};

TEST(ComponentModuleTest, EveryClassOfTheMapIsServedByItsOwnCachedClassObject) {
    g_module.Init(kMap, 2, nullptr);
    const CLSID* const classes[] = {&kFirstClass, &kSecondClass};
    platform::ComPtr<IClassFactory> factories[2];
    for (LONG i = 0; i < 2; ++i) {
        ASSERT_EQ(g_module.GetClassObject(*classes[i], IID_IClassFactory, factories[i].put_void()),
                  S_OK);
        platform::ComPtr<ICjTestPing> object;
        ASSERT_EQ(factories[i]->CreateInstance(nullptr, IID_ICjTestPing, object.put_void()), S_OK);
        LONG value = 0;
        ASSERT_EQ(object->Ping(&value), S_OK);
        EXPECT_EQ(value, i + 1);
        platform::ComPtr<IClassFactory> again;
        ASSERT_EQ(g_module.GetClassObject(*classes[i], IID_IClassFactory, again.put_void()), S_OK);
        EXPECT_EQ(again, factories[i]);
    }
    EXPECT_NE(factories[0], factories[1]);
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(g_module.GetClassObject(kUnknownClass, IID_IClassFactory, &p),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(g_module.GetLockCount(), 2);  // the client references to both class objects
    factories[0].reset();
    factories[1].reset();
    EXPECT_EQ(g_module.GetLockCount(), 0);
    g_module.Term();
}

}  // namespace

CComponentModule& ComponentModule() noexcept {
    return g_module;
}
