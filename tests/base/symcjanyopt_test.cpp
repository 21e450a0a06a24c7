// ANY-pointer names, the reforming in both states, pass-through of anything else, the optimizer
// setting and the dumps.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "anyptr_names.h"
#include "btl/settings.h"
#include "support/record_array.h"
#include "support/scoped_setting.h"
#include "support/trace_capture.h"
#include "support/wstr.h"

namespace {

using namespace anyptr_test;
using platform::UniqueBstr;
using testing_support::ScopedSetting;

class AnyPtrTraced : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(capture.ready());
        capture.levels(1, 1, (1u << 1) | (1u << 3) | (1u << 4));
    }
    // "level text" of what reached the trace library.
    std::vector<std::string> traced() const {
        std::vector<std::string> r;
        for (const auto& m : capture.messages()) {
            r.push_back(std::to_string(m.level) + " " + m.text);
        }
        return r;
    }
    testing_support::TraceCapture capture;
};

UniqueVariant vector_of(VARTYPE vt, LONG lower, ULONG count) {
    UniqueVariant v;
    v->vt = static_cast<VARTYPE>(VT_ARRAY | vt);
    v->parray = SafeArrayCreateVector(vt, lower, count);
    return v;
}

UniqueVariant with_vt(VARTYPE vt, SAFEARRAY* psa) {
    UniqueVariant v;
    v->vt = vt;
    v->parray = psa;
    return v;
}

SAFEARRAY* g_byRefTarget = nullptr;  // what by-reference VARIANTs point at (not owned by them)
UniqueVariant by_ref(VARTYPE vt) {
    UniqueVariant v;
    v->vt = static_cast<VARTYPE>(VT_BYREF | VT_ARRAY | vt);
    v->pparray = &g_byRefTarget;
    return v;
}

TEST(AnyPtrNameTest, PackedNameHasTheDocumentedBytesAndReadsBackAsTheRecord) {
    UniqueVariant name;
    name->vt = VT_BSTR;  // replaced without a leak
    name->bstrVal = UniqueBstr::from(OLESTR("old")).release();
    ASSERT_EQ(makeAnyPtrName({5, 3, 0, 0x0102, 0x1234, 0x0A0B, 0, -1}, name.get()), S_OK);
    EXPECT_EQ(name.vt(), VT_ARRAY | VT_I4);
    std::vector<UniqueVariant> one;
    one.push_back(std::move(name));
    UniqueVariant names = names_of(one, 7);
    EXPECT_EQ(item_at(names.get(), 0),
              Item({0x12, 0x0A, 0xA2, 0x34, 0x00, 0x03, 0x0A, 0x0B, 0x01, 0x02, 0x00, 0x05}));
    CAnyPtrOptimizer opt;
    ASSERT_EQ(opt.readOriginalNames(names.get()), S_OK);
    const AnyPtrRec& rec = opt.requestedRecords().at(0);
    EXPECT_EQ(std::vector<LONG>({rec.m_Start, rec.m_Cnt, rec.m_Spare, rec.m_Area, rec.m_Typ,
                                 rec.m_Unit, rec.m_OrigIndex, rec.m_ReformedIndex}),
              std::vector<LONG>({5, 3, 0, 0x0102, 0x34, 0x0A0B, 0, -1}));
}

TEST(AnyPtrNameTest, OnlyZeroBasedThreeElementArraysOfFourByteIntegersAreNames) {
    UniqueVariant target = raw_name(item_of(R(0, 1)));
    g_byRefTarget = target->parray;
    SAFEARRAYBOUND threeByOne[2] = {{3, 0}, {1, 0}};
    struct {
        const char* name;
        UniqueVariant v;
        HRESULT hr;
    } shapes[] = {
        // clang-format off
        // shape, its answer
        {"VT_I4", raw_name(item_of(R(0, 1))), S_OK},
        {"VT_UI4", raw_name(item_of(R(0, 1)), VT_UI4), S_OK},
        {"scalar", with_vt(VT_I4, nullptr), anyptr::kNotAnAnyPtr},
        {"VT_I2", vector_of(VT_I2, 0, 3), anyptr::kNotAnAnyPtr},
        {"VT_BOOL", vector_of(VT_BOOL, 0, 3), anyptr::kNotAnAnyPtr},  // passes the type test,
        {"VT_DATE", vector_of(VT_DATE, 0, 3), anyptr::kNotAnAnyPtr},  // but not 4-byte elements
        {"2 elements", vector_of(VT_I4, 0, 2), anyptr::kNotAnAnyPtr},
        {"4 elements", vector_of(VT_I4, 0, 4), anyptr::kNotAnAnyPtr},
        {"empty", vector_of(VT_I4, 0, 0), anyptr::kNotAnAnyPtr},
        {"lower bound 1", vector_of(VT_I4, 1, 3), anyptr::kNotAnAnyPtr},
        {"3x1", with_vt(VT_ARRAY | VT_I4, SafeArrayCreate(VT_I4, 2, threeByOne)), anyptr::kNotAnAnyPtr},
        {"null array", with_vt(VT_ARRAY | VT_I4, nullptr), anyptr::kNotAnAnyPtr},
        {"by reference", by_ref(VT_I4), anyptr::kNotAnAnyPtr},
    };  // clang-format on
    for (auto& s : shapes) {
        DWORD e[3] = {};
        EXPECT_EQ(GetAnyPtrFromName(s.v.get(), e), s.hr) << s.name;
    }
}

TEST(AnyPtrNameTest, ReadingNamesChecksOnlyTheSyntaxByte) {
    Item odd = item_of(R(10, 4, 7));
    odd[0] = 0x99;
    odd[1] = 0x00;
    std::vector<UniqueVariant> elements;
    elements.push_back(raw_name(odd));
    elements.push_back(raw_name(item_of(R(20, 1, 8))));
    CAnyPtrOptimizer opt;
    ASSERT_EQ(opt.readOriginalNames(names_of(elements, 5).get()), S_OK);
    ASSERT_EQ(opt.requestedRecords().size(), 2u);
    EXPECT_EQ(opt.requestedRecords()[0].m_Start, 10);
    EXPECT_EQ(opt.requestedRecords()[1].m_OrigIndex, 1);  // counted from the lower bound

    elements.push_back(raw_name(item_of(R(0, 1), 0xA3)));
    EXPECT_EQ(opt.readOriginalNames(names_of(elements).get()), anyptr::kUnknownSyntax);
    EXPECT_TRUE(opt.requestedRecords().empty());
}

struct ReformCase {
    const char* name;
    DWORD state;
    std::vector<Range> requested, reformed;
    std::vector<Row> rows;
};

TEST(AnyPtrReformTest, StatesGiveTheirReformedNamesAndRowsInRequestOrder) {
    const ReformCase cases[] = {
        // clang-format off
        // name, state, requested, reformed, lookup rows (index, offset, count)
        {"1: identical", 1, {R(0, 4), R(0, 4)}, {R(0, 4)}, {{0, 0, 4, 0}, {0, 0, 4, 0}}},
        {"1: overlapping", 1, {R(2, 4), R(0, 4)}, {R(0, 4), R(2, 4)}, {{1, 0, 4}, {0, 0, 4}}},
        {"1: other count", 1, {R(0, 4), R(0, 2)}, {R(0, 2), R(0, 4)}, {{1, 0, 4}, {0, 0, 2}}},
        {"2: identical", 2, {R(0, 4), R(0, 4)}, {R(0, 4)}, {{0, 0, 4}, {0, 0, 4}}},
        {"2: overlapping", 2, {R(0, 4), R(2, 4)}, {R(0, 6)}, {{0, 0, 4}, {0, 2, 4}}},
        {"2: contained", 2, {R(0, 10), R(3, 2)}, {R(0, 10)}, {{0, 0, 10}, {0, 3, 2}}},
        {"2: touching, disjoint, out of order", 2, {R(7, 1), R(2, 3), R(0, 2)}, {R(0, 5), R(7, 1)},
         {{1, 0, 1}, {0, 2, 3}, {0, 0, 2}}},
        {"2: no gap bridged", 2, {R(0, 2), R(3, 1)}, {R(0, 2), R(3, 1)}, {{0, 0, 2}, {1, 0, 1}}},
        {"2: chain", 2, {R(8, 4), R(0, 5), R(4, 5)}, {R(0, 12)}, {{0, 8, 4}, {0, 0, 5}, {0, 4, 5}}},
        // Sorted by unit, then type, then area.
        {"2: other Typ", 2, {R(0, 4, 6), R(0, 4)}, {R(0, 4), R(0, 4, 6)}, {{1, 0, 4}, {0, 0, 4}}},
        {"2: other Area", 2, {R(0, 4, 5, 2), R(2, 4)}, {R(2, 4), R(0, 4, 5, 2)}, {{1, 0, 4}, {0, 0, 4}}},
        {"2: Unit first", 2, {R(0, 4, 1, 1, 9), R(0, 4, 7)}, {R(0, 4, 7), R(0, 4, 1, 1, 9)},
         {{1, 0, 4}, {0, 0, 4}}},
        // Cnt is 16 bits: no reformed name grows past 0xFFFF elements.
        {"2: union 0xFFFF", 2, {R(0, 30000), R(30000, 35535)}, {R(0, 65535)},
         {{0, 0, 30000}, {0, 30000, 35535}}},
        {"2: [0, 40000) + [40000, 80000)", 2, {R(0, 40000), R(40000, 40000)},
         {R(0, 40000), R(40000, 40000)}, {{0, 0, 40000}, {1, 0, 40000}}},
        {"2: later ranges join the name started last", 2,
         {R(0, 100), R(50, 65500), R(60, 10), R(65530, 25)}, {R(0, 100), R(50, 65505)},
         {{0, 0, 100}, {1, 0, 65500}, {1, 10, 10}, {1, 65480, 25}}},
        {"0: unchanged", 0, {R(0, 4), R(0, 4)}, {R(0, 4), R(0, 4)}, identity_rows(2)},
        {"2: no names", 2, {}, {}, {}},
    };  // clang-format on
    for (const ReformCase& c : cases) {
        for (LONG lower : {0, 1, -3}) {
            SCOPED_TRACE(testing::Message() << c.name << ", lower bound " << lower);
            UniqueVariant names = names_of(c.requested, lower), reformed, lookup;
            CAnyPtrOptimizer opt;
            opt.setState(c.state);
            ASSERT_EQ(opt.processNames(names.get(), reformed.get(), lookup.get()), S_OK);
            EXPECT_EQ(lower_bound(reformed.get()), c.state == 0 ? lower : 0);
            EXPECT_EQ(reformed_ranges(reformed.get()), c.reformed);
            EXPECT_EQ(lookup_rows(lookup.get()), c.rows);
        }
    }
}

TEST_F(AnyPtrTraced, AnotherSyntaxPassesEveryNameUnchangedForTheRestOfTheObjectsLife) {
    std::vector<UniqueVariant> elements;
    elements.push_back(raw_name(item_of(R(0, 4))));
    elements.push_back(raw_name(item_of(R(0, 4), 0x11)));
    UniqueVariant names = names_of(elements, 3), reformed, lookup;
    CAnyPtrOptimizer opt;
    opt.setState(CAnyPtrOptimizer::STATE_MERGE);
    ASSERT_EQ(opt.processNames(names.get(), reformed.get(), lookup.get()), S_OK);
    EXPECT_EQ(traced(), std::vector<std::string>({"1 unknown Anyptr Syntax, no Optimizing"}));
    EXPECT_EQ(lookup_rows(lookup.get()), identity_rows(2));
    EXPECT_NE(reformed->parray, names->parray);  // a copy
    EXPECT_EQ(lower_bound(reformed.get()), 3);
    EXPECT_EQ(item_at(reformed.get(), 1), item_at(names.get(), 1));

    ASSERT_EQ(opt.processNames(names_of({R(0, 4), R(0, 4)}).get(), reformed.get(), lookup.get()),
              S_OK);
    EXPECT_EQ(lookup_rows(lookup.get()), identity_rows(2));
}

UniqueVariant names_with(UniqueVariant element) {
    std::vector<UniqueVariant> v;
    v.push_back(raw_name(item_of(R(0, 4))));
    v.push_back(std::move(element));
    return names_of(v);
}

TEST_F(AnyPtrTraced, NamesArraysOfAnyOtherShapePassUnchangedOrFail) {
    UniqueVariant target = names_of({R(0, 4)});
    g_byRefTarget = target->parray;
    const std::string notAName = "1 readOriginalNames failed, hr:=FFFFFFFF";
    const std::string notVariants = "1 readOriginalNames failed, hr:=80020008";
    const std::string unsupported = "4 error unsupported names array, vt 0x";
    struct {
        const char* name;
        UniqueVariant names;
        HRESULT hr;  // S_OK: passed on unchanged with the identity table
        std::string trace;
    } shapes[] = {
        // clang-format off
        // shape, answer, trace
        {"empty element", names_with(UniqueVariant()), S_OK, notAName},
        {"VT_BOOL element", names_with(vector_of(VT_BOOL, 0, 3)), S_OK, notAName},
        {"by-reference element", names_with(by_ref(VT_I4)), S_OK, notAName},
        {"array of BSTR", vector_of(VT_BSTR, 0, 2), S_OK, notVariants},
        {"array of VT_I4", vector_of(VT_I4, 0, 3), S_OK, notVariants},
        {"no array", with_vt(VT_I4, nullptr), DISP_E_BADVARTYPE, unsupported + "3"},
        {"null array", with_vt(VT_ARRAY | VT_VARIANT, nullptr), DISP_E_BADVARTYPE, unsupported + "200C"},
        {"by reference", by_ref(VT_VARIANT), DISP_E_BADVARTYPE, unsupported + "600C"},
        {"two dimensions", square_names(), E_INVALIDARG, unsupported + "200C"},
    };  // clang-format on
    for (auto& s : shapes) {
        SCOPED_TRACE(s.name);
        capture.clear();
        CAnyPtrOptimizer opt;
        opt.setState(CAnyPtrOptimizer::STATE_MERGE);
        UniqueVariant reformed, lookup;
        reformed->vt = VT_BSTR;  // freed when replaced, kept on failure
        reformed->bstrVal = UniqueBstr::from(OLESTR("old")).release();
        ASSERT_EQ(opt.processNames(s.names.get(), reformed.get(), lookup.get()), s.hr);
        EXPECT_EQ(traced(), std::vector<std::string>({s.trace}));
        if (s.hr != S_OK) {
            EXPECT_EQ(reformed.vt(), VT_BSTR);
            EXPECT_EQ(lookup.vt(), VT_EMPTY);
            continue;
        }
        EXPECT_EQ(reformed.vt(), s.names.vt());
        EXPECT_NE(reformed->parray, s.names->parray);
        LONG upper = -1;
        SafeArrayGetUBound(s.names->parray, 1, &upper);
        EXPECT_EQ(lookup_rows(lookup.get()), identity_rows(static_cast<size_t>(upper + 1)));
    }
    // Records are refused by their kind in every state, before the pass-through copies them.
    testing_support::RecordArray records(2);
    ASSERT_TRUE(records.ready());
    for (DWORD state : {CAnyPtrOptimizer::STATE_OFF, CAnyPtrOptimizer::STATE_MERGE}) {
        capture.clear();
        CAnyPtrOptimizer opt;
        opt.setState(state);
        UniqueVariant reformed, lookup;
        EXPECT_EQ(opt.processNames(records.variant(), reformed.get(), lookup.get()),
                  DISP_E_BADVARTYPE);
        EXPECT_EQ(traced(),
                  std::vector<std::string>({"4 error unsupported names array, vt 0x2024"}));
        EXPECT_EQ(reformed.vt(), VT_EMPTY);
    }
    UniqueVariant out;
    EXPECT_EQ(CAnyPtrOptimizer().processNames(target.get(), nullptr, out.get()), E_POINTER);
}

class AnyPtrSettingTest : public AnyPtrTraced {
  protected:
    void TearDown() override { CAnyPtrOptimizer::forgetOptimizerSetting(); }
    static DWORD state_after_init() {
        CAnyPtrOptimizer opt;
        EXPECT_EQ(opt.initOptimizer(), S_OK);
        return opt.state();
    }
};

// One test for every value, so that no two test processes share the registry value.
TEST_F(AnyPtrSettingTest, ValuesSelectTheStateAndWhenTheSettingIsReadAgain) {
    const OLECHAR* key = OLESTR("OnlServer\\Collection");
    const OLECHAR* value = OLESTR("AnyptrOptimizer");
    const std::string path =
        testing_support::narrow(BTL_GetRegKeyRoot(),
                                std::char_traits<OLECHAR>::length(BTL_GetRegKeyRoot())) +
        "\\OnlServer\\Collection\\AnyptrOptimizer";
    const std::string read = "1 CCoSettings::GetValue (" + path + ") = ";
    struct {
        const char* name;
        DWORD type;  // 0: no value
        DWORD value, state;
        std::vector<std::string> traces;  // after "init Optimizer from Registry Key"
    } cases[] = {
        // clang-format off
        // name, registry type, value, state, traces
        {"missing", 0, 0, 0, {"1 CCoSettings::GetValue (" + path + ") is missing, default is OFF, hr=00000002"}},
        {"0", REG_DWORD, 0, 0, {read + "0, hr=00000000"}},
        {"1", REG_DWORD, 1, 1, {read + "1, hr=00000000"}},
        {"2", REG_DWORD, 2, 2, {read + "2, hr=00000000"}},
        {"1000", REG_DWORD, 1000, 0, {read + "1000, hr=00000000"}},
        {"1001", REG_DWORD, 1001, 1, {read + "1001, hr=00000000"}},
        {"1002", REG_DWORD, 1002, 2, {read + "1002, hr=00000000"}},
        {"5", REG_DWORD, 5, 0, {read + "5, hr=00000000"}},
        {"0xFFFFFFFF", REG_DWORD, 0xFFFFFFFF, 0, {read + "-1, hr=00000000", "3 illegal Optimizer state, will be disabled"}},
        {"text", REG_SZ, 0, 1, {"1 RegQueryValue (" + path + ") failed, hr=0000000D"}},  // keeps 1
    };  // clang-format on
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        CAnyPtrOptimizer::forgetOptimizerSetting();
        capture.clear();
        std::unique_ptr<ScopedSetting> setting;
        if (c.type == REG_DWORD) {
            setting = std::make_unique<ScopedSetting>(key, value, c.value);
        } else if (c.type == REG_SZ) {
            setting = std::make_unique<ScopedSetting>(key, value, REG_SZ,
                                                      std::vector<BYTE>{'2', 0, 0, 0});
        }
        EXPECT_EQ(state_after_init(), c.state);
        c.traces.insert(c.traces.begin(), "1 init Optimizer from Registry Key");
        EXPECT_EQ(traced(), c.traces);
    }

    // Plain values are read once, 1000-1002 again at every init.
    CAnyPtrOptimizer::forgetOptimizerSetting();
    const DWORD sequence[][2] = {{1001, 1}, {1000, 0}, {2, 2}, {0, 2}};
    for (const auto& step : sequence) {
        ScopedSetting s(key, value, step[0]);
        EXPECT_EQ(state_after_init(), step[1]) << step[0];
    }
}

struct Dumped {
    UniqueVariant requested, reformed, lookup;
    explicit Dumped(const std::vector<Range>& names, LONG lower)
        : requested(names_of(names, lower)) {
        CAnyPtrOptimizer opt;
        opt.setState(CAnyPtrOptimizer::STATE_MERGE);
        EXPECT_EQ(opt.processNames(requested.get(), reformed.get(), lookup.get()), S_OK);
    }
    HRESULT dump(bool detailed) const {
        return CAnyPtrOptimizer::dumpNameOptimizing(requested.get(), reformed.get(), lookup.get(),
                                                    detailed);
    }
};

TEST_F(AnyPtrTraced, DumpsCountOrListEveryNameWithItsLookupRow) {
    Dumped d({R(2, 3, 5, 3), R(0, 2, 5, 3), R(100, 12, 12, 1000)}, 4);
    ASSERT_EQ(d.dump(false), S_OK);
    EXPECT_EQ(traced(), std::vector<std::string>({"1 AnyPtrOptimizer Requested 3, Reformed: 2 "}));
    capture.clear();
    ASSERT_EQ(d.dump(true), S_OK);
    // Reformed names, then each original name with the lookup row that finds it.
    const auto t = traced();
    ASSERT_EQ(t.size(), 7u);
    EXPECT_EQ(t[0], "1 dumping reformed Names:");
    EXPECT_EQ(t[1], "1 AnyPtr[00] := { 12 a a2 Typ:05 Area:0003, Cnt:05, SubArea[000..005] }");
    EXPECT_EQ(t[3], "1 dumping original Names and Lookup:");
    EXPECT_EQ(t[4],
              "1 AnyPtr[00] :=  12 a a2 Typ:05 Area:0003, Cnt:03,                 "
              "SubArea[002..005], Lookup at Pos:00, Offs:02, Cnt:03 ");
    EXPECT_NE(t[6].find("Lookup at Pos:01, Offs:00, Cnt:12"), std::string::npos);
}

TEST_F(AnyPtrTraced, DumpFailuresEndTheDumpWithTheirTrace) {
    SAFEARRAYBOUND oneRow[2] = {{4, 0}, {1, 0}};
    struct {
        const char* name;
        bool detailed;
        UniqueVariant Dumped::*slot;
        UniqueVariant replacement;
        HRESULT hr;
        std::string error;
    } failures[] = {
        // clang-format off
        // name, detailed, the part replaced, its replacement, answer, last trace
        {"requested no array", false, &Dumped::requested, UniqueVariant(), DISP_E_BADVARTYPE, "4 VariantHasSafeArray failed: -2147352568"},
        {"lookup of VARIANT", true, &Dumped::lookup, names_of({R(1, 1)}), DISP_E_BADVARTYPE, "4 VariantHasSafeArray failed: -2147352568"},
        {"lookup too short", true, &Dumped::lookup, with_vt(VT_ARRAY | VT_I4, SafeArrayCreate(VT_I4, 2, oneRow)), DISP_E_BADINDEX, "4 VariantSafeArrayGetElement failed: -2147352565"},
        {"reformed not names", true, &Dumped::reformed, names_with(UniqueVariant()), anyptr::kNotAnAnyPtr, "4 GetAnyPtrFromName failed: -1"},
    };  // clang-format on
    for (auto& f : failures) {
        SCOPED_TRACE(f.name);
        Dumped d({R(0, 2), R(2, 3)}, 0);
        d.*f.slot = std::move(f.replacement);
        capture.clear();
        EXPECT_EQ(d.dump(f.detailed), f.hr);
        EXPECT_EQ(traced().back(), f.error);
    }
}

}  // namespace
