// Callback cookies: registering over a registration, revoking with a null interface, which slot
// a fetch takes, and what failures of the tables leave behind.
#include <gtest/gtest.h>

#include "base/st/symcjacc/asychronrq.h"
#include "registry_fixture.h"
#include "support/counting_unknown.h"
#include "support/decode_callback.h"
#include "support/ping_object.h"

namespace {

using platform::ComPtr;
using testing_support::CountingUnknown;
using testing_support::RecordingDecode;

class CallbackCookieTest : public testing_support::RegistryFixture {
  protected:
    static ComPtr<IGlobalInterfaceTable> SystemTable() {
        ComPtr<IGlobalInterfaceTable> git;
        EXPECT_EQ(CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IGlobalInterfaceTable, git.put_void()),
                  S_OK);
        return git;
    }
};

TEST_F(CallbackCookieTest, RegisteringOverARegistrationRevokesItFirst) {
    RecordingDecode first, second;
    SAsyncSymRQEntry sj;
    CAsychronRQ::CallbackDisp(&first, sj);
    CAsychronRQ::CallbackDisp(&second, sj);
    EXPECT_EQ(traced(), (std::vector<std::string>{"validate callback interface",
                                                  "invalidate callback interface",
                                                  "validate callback interface"}));
    EXPECT_EQ((std::vector<bool>{first.refs() == 1, second.refs() > 1}),
              (std::vector<bool>{true, true}));

    // The single job's own callback interface is registered silently.
    CountingUnknown icb;
    capture.clear();
    CAsychronRQ::CallbackICB_Interface(&icb, sj);
    CAsychronRQ::CallbackICB_Interface(nullptr, sj);
    CAsychronRQ::CallbackDisp(nullptr, sj);
    EXPECT_EQ(traced(), (std::vector<std::string>{"invalidate callback interface",
                                                  "IYDBDecodeInterface interface is NULL"}));
    EXPECT_EQ(testing_support::refs_of(icb, second), testing_support::released(2));
}

TEST_F(CallbackCookieTest, AFailedRevocationStillForgetsTheCookie) {
    CountingUnknown icb;
    CAsyncRQEntry cj;
    CAsychronRQ::newCJ_CallbackICB_Decode(&icb, cj);
    ASSERT_EQ(cj.m_bNewICB_DecodeValid, 1u);
    ASSERT_EQ(SystemTable()->RevokeInterfaceFromGlobal(cj.m_newCookieICB_Decode), S_OK);
    capture.clear();
    CAsychronRQ::newCJ_CallbackICB_Decode(nullptr, cj);
    EXPECT_EQ(traced(4).size(), 1u);
    EXPECT_TRUE(traced_start(4,
                             "error calling spIGIT->RevokeInterfaceFromGlobal( "
                             "sRQEntry.m_newCookieICB_Decode) hr = 0x8"));
    EXPECT_EQ((std::vector<ULONG>{cj.m_bNewICB_DecodeValid, cj.m_newCookieICB_Decode, icb.refs()}),
              (std::vector<ULONG>{0, 0, 1}));
}

// A CJ with both slots of both kinds registered, as after a re-creation.
struct TwoSlotCJ {
    TwoSlotCJ() {
        CAsychronRQ::newCJ_CallbackIYDBDecode(&oldDecode, cj);
        CAsychronRQ::newCJ_CallbackICB_Decode(&oldDecode, cj);
        cj.SetIYDBDecodePair({1, cj.m_newCookieIYDBDecode, 0, 0});
        cj.SetICB_DecodePair({1, cj.m_newCookieICB_Decode, 0, 0});
        CAsychronRQ::newCJ_CallbackIYDBDecode(&newDecode, cj);
        CAsychronRQ::newCJ_CallbackICB_Decode(&newDecode, cj);
    }
    ~TwoSlotCJ() {
        CAsychronRQ::newCJ_CallbackIYDBDecode(nullptr, cj);
        CAsychronRQ::oldCJ_CallbackIYDBDecode(cj);
        CAsychronRQ::newCJ_CallbackICB_Decode(nullptr, cj);
        CAsychronRQ::oldCJ_CallbackICB_Decode(cj);
    }
    RecordingDecode oldDecode, newDecode;
    CAsyncRQEntry cj;
};

TEST_F(CallbackCookieTest, FetchesChooseTheirSlotByValidityAndRevokeFlag) {
    struct Case {
        const char* name;
        bool ydbSide, oldValid, newValid, revoke;
        int expected;  // 0 empty, 1 old, 2 new
    } cases[] = {
        // clang-format off
        // name                 ydb    old    new    revoke  slot fetched
        {"ydb both, revoke",     true,  true,  true,  true,  1},
        {"ydb both, keep",       true,  true,  true,  false, 2},
        {"ydb old only, keep",   true,  true,  false, false, 0},
        {"ydb old only, revoke", true,  true,  false, true,  1},
        {"ydb none",             true,  false, false, true,  0},
        {"icb old only, keep",   false, true,  false, false, 1},
        {"icb both, keep",       false, true,  true,  false, 1},
        {"icb new only, revoke", false, false, true,  true,  2},
    };  // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TwoSlotCJ slots;
        SAsyncCookiePair pair = c.ydbSide ? slots.cj.IYDBDecodePair() : slots.cj.ICB_DecodePair();
        pair.bOldValid = c.oldValid ? 1 : 0;
        pair.bNewValid = c.newValid ? 1 : 0;
        const SAsyncCookiePair before = pair;
        ComPtr<IUnknown> got = c.ydbSide ? CAsychronRQ::getCJ_CallbackIYDBDecode(pair, c.revoke)
                                         : CAsychronRQ::getCJ_CallbackICB_Decode(pair, c.revoke);
        RecordingDecode* want = c.expected == 1   ? &slots.oldDecode
                                : c.expected == 2 ? &slots.newDecode
                                                  : nullptr;
        if (want == nullptr) {
            EXPECT_FALSE(got);
        } else {
            EXPECT_TRUE(testing_support::same_object(got.get(), want));
        }
        const bool revokedOld = c.revoke && c.expected == 1;
        const bool revokedNew = c.revoke && c.expected == 2;
        EXPECT_EQ(
            (std::vector<ULONG>{pair.bOldValid, pair.m_oldCookie_Decode, pair.bNewValid,
                                pair.m_newCookie_Decode}),
            (std::vector<ULONG>{
                revokedOld ? 0u : before.bOldValid, revokedOld ? 0u : before.m_oldCookie_Decode,
                revokedNew ? 0u : before.bNewValid, revokedNew ? 0u : before.m_newCookie_Decode}));
        // Write the pair back, as callers do, so that the slots are released exactly once.
        pair.bOldValid |= c.oldValid ? 0 : 1;
        pair.bNewValid |= c.newValid ? 0 : 1;
        c.ydbSide ? slots.cj.SetIYDBDecodePair(pair) : slots.cj.SetICB_DecodePair(pair);
    }
}

TEST_F(CallbackCookieTest, AFailedFetchReturnsEmptyAndDoesNotRevoke) {
    TwoSlotCJ slots;
    SAsyncCookiePair pair = slots.cj.ICB_DecodePair();
    const ULONG realCookie = pair.m_oldCookie_Decode;
    pair.m_oldCookie_Decode = realCookie + 0x100;  // not a cookie of the table
    capture.clear();
    EXPECT_FALSE(CAsychronRQ::getCJ_CallbackICB_Decode(pair, true));
    EXPECT_EQ(pair.bOldValid, 1u);
    EXPECT_EQ(traced(4).size(), 1u);
    EXPECT_TRUE(traced_start(4,
                             "error calling spIGIT->GetInterfaceFromGlobal( "
                             "sAsyncRQEntry.m_oldCookie_Decode, __uuidof(IUnknown), "
                             "(void**)&spIUnk) hr = 0x8"));
}

}  // namespace
