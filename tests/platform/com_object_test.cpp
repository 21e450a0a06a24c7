// The COM object base and class object: which interface answers which id, what each count policy
// does at zero, and how long the module stays locked.
#include <gtest/gtest.h>

#include "platform/com_object.h"
#include "platform/com_ptr.h"
#include "platform/winapi.h"
#include "support/counting_unknown.h"
#include "support/ping_object.h"

namespace {

using platform::ComPtr;

// Two interfaces, the free-threaded marshaler on request.
class TwoFaced final
    : public platform::ComObject<TwoFaced, platform::CallerOwned, ICjTestPing, IClassFactory> {
  public:
    explicit TwoFaced(bool freeThreaded) {
        if (freeThreaded) {
            EXPECT_EQ(AggregateFreeThreadedMarshaler(), S_OK);
        }
    }
    HRESULT STDMETHODCALLTYPE Ping(LONG*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID, void**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

enum class Face { First, Second, Other, None };

TEST(ComObjectTest, AnswersTheListedInterfacesWithTheFirstAsIdentity) {
    struct Row {
        const IID* iid;
        bool freeThreaded;
        HRESULT hr;
        Face face;
    };
    const Row rows[] = {
        // iid                free-threaded  answer        pointer
        {&IID_IUnknown, false, S_OK, Face::First},
        {&IID_ICjTestPing, false, S_OK, Face::First},
        {&IID_IClassFactory, false, S_OK, Face::Second},
        {&IID_IMarshal, false, E_NOINTERFACE, Face::None},
        {&IID_IMarshal, true, S_OK, Face::Other},
        {&IID_IStream, true, E_NOINTERFACE, Face::None},
    };
    for (const Row& row : rows) {
        TwoFaced object(row.freeThreaded);
        void* p = reinterpret_cast<void*>(1);
        ASSERT_EQ(object.QueryInterface(*row.iid, &p), row.hr);
        void* const first = static_cast<ICjTestPing*>(&object);
        void* const faces[] = {first, static_cast<IClassFactory*>(&object), p, nullptr};
        EXPECT_EQ(p, faces[static_cast<int>(row.face)]);
        if (row.face == Face::Other) {
            EXPECT_TRUE(p != nullptr && p != first);
        }
        if (SUCCEEDED(row.hr)) {
            EXPECT_EQ(object.refs(), 2u);  // the marshaler's answer counts on our identity too
            static_cast<IUnknown*>(p)->Release();
        }
        EXPECT_EQ(object.refs(), 1u);
        EXPECT_EQ(object.QueryInterface(*row.iid, nullptr), E_POINTER);
    }
}

int g_locks = 0;
int g_locksInDestructor = -1;
struct TestModule {
    static void Lock() noexcept { ++g_locks; }
    static void Unlock() noexcept { --g_locks; }
};

class Counted : public platform::ComObject<Counted, platform::DeleteAtZero, ICjTestPing> {
  public:
    ~Counted() override { g_locksInDestructor = g_locks; }
    HRESULT STDMETHODCALLTYPE Ping(LONG*) override { return S_OK; }
};

TEST(ClassObjectTest, ObjectsAndClientReferencesLockTheModuleUntilTheyAreGone) {
    g_locks = 0;
    auto* made =
        new platform::ClassObject<TestModule>(&platform::CreateModuleLocked<Counted, TestModule>);
    ComPtr<IClassFactory> held = ComPtr<IClassFactory>::attach(made);  // the module's reference
    EXPECT_EQ(g_locks, 0);
    {
        ComPtr<IClassFactory> client(held.get());
        EXPECT_EQ(g_locks, 1);
        ComPtr<IClassFactory> another(held.get());
        EXPECT_EQ(g_locks, 1);
    }
    EXPECT_EQ(g_locks, 0);

    ComPtr<ICjTestPing> object;
    ASSERT_EQ(held->CreateInstance(nullptr, IID_ICjTestPing, object.put_void()), S_OK);
    EXPECT_EQ(g_locks, 1);
    object.reset();
    EXPECT_EQ(g_locksInDestructor, 1);  // still locked while the destructor ran
    EXPECT_EQ(g_locks, 0);

    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(held->CreateInstance(nullptr, IID_IClassFactory, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(g_locks, 0);  // the refused object is gone again
    testing_support::CountingUnknown outer;
    EXPECT_EQ(held->CreateInstance(&outer, IID_IUnknown, &p), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(held->CreateInstance(&outer, IID_ICjTestPing, &p), CLASS_E_NOAGGREGATION);
    ASSERT_EQ(held->LockServer(TRUE), S_OK);
    EXPECT_EQ(g_locks, 1);
    ASSERT_EQ(held->LockServer(FALSE), S_OK);
    EXPECT_EQ(g_locks, 0);
}

}  // namespace
