// The component module's entry points and class object, reached by loading the module as the
// COM runtime does: the module lock, the cached class object, plain and aggregated creation.
#include <gtest/gtest.h>

#include <atomic>

#include "collectionjobsymacc.h"
#include "platform/com_object.h"
#include "platform/com_ptr.h"
#include "platform/module.h"
#include "platform/winapi.h"
#include "support/counting_unknown.h"

namespace {

using platform::ComPtr;

PLATFORM_DEFINE_GUID(kOtherClass, 0x7C0FFEE1, 0x0000, 0x4000, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00,
                     0x00, 0x08);

class ComponentEntryTest : public ::testing::Test {
  protected:
    using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
    using CanUnloadNowFn = HRESULT(STDAPICALLTYPE*)();

    void SetUp() override {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        m_module.reset(LoadLibraryA("CollectionJobSymAcc.dll"));
        ASSERT_TRUE(m_module);
        m_getClassObject =
            platform::proc_address<GetClassObjectFn>(m_module.get(), "DllGetClassObject");
        m_canUnloadNow = platform::proc_address<CanUnloadNowFn>(m_module.get(), "DllCanUnloadNow");
        ASSERT_NE(m_getClassObject, nullptr);
        ASSERT_NE(m_canUnloadNow, nullptr);
        ASSERT_EQ(
            m_getClassObject(CLSID_CollectionJobSymAcc, IID_IClassFactory, m_factory.put_void()),
            S_OK);
    }
    void TearDown() override {
        m_factory.reset();
        EXPECT_EQ(m_canUnloadNow(), S_OK) << "a test left the module locked";
        m_module.reset();
        CoUninitialize();
    }

    HRESULT can_unload() const { return m_canUnloadNow(); }

    platform::UniqueModule m_module;
    GetClassObjectFn m_getClassObject = nullptr;
    CanUnloadNowFn m_canUnloadNow = nullptr;
    ComPtr<IClassFactory> m_factory;
};

TEST_F(ComponentEntryTest, ClassObjectIsCachedAndServesOnlyItsClass) {
    const struct {
        const CLSID* clsid;
        const IID* iid;
        HRESULT hr;
    } cases[] = {
        {&CLSID_CollectionJobSymAcc, &IID_IClassFactory, S_OK},
        {&CLSID_CollectionJobSymAcc, &IID_IUnknown, S_OK},
        {&kOtherClass, &IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE},
        {&CLSID_CollectionJobSymAcc, &IID_IMC_CollectionJobSymAcc, E_NOINTERFACE},
    };
    for (const auto& c : cases) {
        void* p = reinterpret_cast<void*>(1);
        EXPECT_EQ(m_getClassObject(*c.clsid, *c.iid, &p), c.hr);
        EXPECT_EQ(p, c.hr == S_OK ? static_cast<IUnknown*>(m_factory.get()) : nullptr);
        ComPtr<IUnknown>::attach(static_cast<IUnknown*>(p));
    }
}

TEST_F(ComponentEntryTest, ModuleStaysLockedWhileAnythingIsHeld) {
    EXPECT_EQ(can_unload(), S_FALSE);  // the class object held by the fixture
    m_factory->AddRef();
    m_factory->Release();
    EXPECT_EQ(can_unload(), S_FALSE);

    ComPtr<IMC_CollectionJobSymAcc> first;
    ComPtr<IMC_CollectionJobSymAcc> second;
    ASSERT_EQ(m_factory->CreateInstance(nullptr, IID_IMC_CollectionJobSymAcc, first.put_void()),
              S_OK);
    ASSERT_EQ(m_factory->CreateInstance(nullptr, IID_IMC_CollectionJobSymAcc, second.put_void()),
              S_OK);
    EXPECT_NE(first.get(), second.get());
    ASSERT_EQ(m_factory->LockServer(TRUE), S_OK);
    m_factory.reset();

    // Each of: an object, another object, a server lock keeps it loaded.
    EXPECT_EQ(can_unload(), S_FALSE);
    first.reset();
    EXPECT_EQ(can_unload(), S_FALSE);
    second.reset();
    EXPECT_EQ(can_unload(), S_FALSE);
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(m_getClassObject(CLSID_CollectionJobSymAcc, IID_IClassFactory, factory.put_void()),
              S_OK);
    ASSERT_EQ(factory->LockServer(FALSE), S_OK);
    factory.reset();
    EXPECT_EQ(can_unload(), S_OK);
}

TEST_F(ComponentEntryTest, CreateInstanceArgumentsQueriesAndIdentity) {
    testing_support::CountingUnknown outer;
    EXPECT_EQ(m_factory->CreateInstance(nullptr, IID_IMC_CollectionJobSymAcc, nullptr), E_POINTER);
    const struct {
        IUnknown* outer;
        const IID* iid;
        HRESULT expected;
    } cases[] = {
        {&outer, &IID_IMC_CollectionJobSymAcc, CLASS_E_NOAGGREGATION},
        {&outer, &IID_IClassFactory, CLASS_E_NOAGGREGATION},
        {nullptr, &IID_IClassFactory, E_NOINTERFACE},
    };
    for (const auto& c : cases) {
        void* p = reinterpret_cast<void*>(1);
        EXPECT_EQ(m_factory->CreateInstance(c.outer, *c.iid, &p), c.expected);
        EXPECT_EQ(p, nullptr);
    }
    EXPECT_EQ(outer.refs(), 1u);

    // A plain object answers its interfaces with one identity.
    ComPtr<IUnknown> unknown, identity;
    ComPtr<IMC_CollectionJobSymAcc> object;
    ASSERT_EQ(m_factory->CreateInstance(nullptr, IID_IUnknown, unknown.put_void()), S_OK);
    ASSERT_EQ(unknown.query(object), S_OK);
    ASSERT_EQ(object.query(identity), S_OK);
    EXPECT_EQ(identity, unknown);
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(object->QueryInterface(IID_IClassFactory, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
}

// An outer object that aggregates the component and exposes its interface as its own.
class Outer final : public platform::ComObject<Outer, platform::CallerOwned, IUnknown> {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualIID(riid, IID_IMC_CollectionJobSymAcc) && inner) {
            return inner->QueryInterface(riid, ppv);
        }
        return ComObject::QueryInterface(riid, ppv);
    }

    ComPtr<IUnknown> inner;
};

TEST_F(ComponentEntryTest, AggregationGivesTheInnerUnknownThatDelegatesToTheOuter) {
    Outer outer;
    ASSERT_EQ(m_factory->CreateInstance(&outer, IID_IUnknown, outer.inner.put_void()), S_OK);
    EXPECT_EQ(outer.refs(), 1u);  // the inner unknown counts for itself

    ComPtr<IUnknown> innerAgain;
    ASSERT_EQ(outer.inner.query(innerAgain), S_OK);
    EXPECT_EQ(innerAgain, outer.inner);
    innerAgain.reset();
    {
        ComPtr<IMC_CollectionJobSymAcc> object;
        ASSERT_EQ(outer.QueryInterface(IID_IMC_CollectionJobSymAcc, object.put_void()), S_OK);
        EXPECT_EQ(outer.refs(), 2u);  // the interface's reference belongs to the outer object
        EXPECT_EQ(object->AddRef(), 3u);
        EXPECT_EQ(object->Release(), 2u);
        // Its IUnknown is the outer object's: identity and every other query go there.
        ComPtr<IUnknown> identity;
        ASSERT_EQ(object.query(identity), S_OK);
        EXPECT_EQ(identity.get(), static_cast<IUnknown*>(&outer));
        for (IUnknown* asked : {static_cast<IUnknown*>(object.get()), outer.inner.get()}) {
            void* p = reinterpret_cast<void*>(1);
            EXPECT_EQ(asked->QueryInterface(IID_IClassFactory, &p), E_NOINTERFACE);
            EXPECT_EQ(p, nullptr);
        }
        EXPECT_EQ(object->setLimits(12, 34), S_OK);  // calls reach the object
    }
    EXPECT_EQ(outer.refs(), 1u);
    m_factory.reset();
    EXPECT_EQ(can_unload(), S_FALSE);  // the aggregated object lives on
    outer.inner.reset();
    EXPECT_EQ(can_unload(), S_OK);
}

}  // namespace
