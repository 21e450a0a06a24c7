// ANY-pointer names, the reforming in both states, pass-through of anything else, the optimizer
// setting and the dumps.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "anyptr_names.h"
#include "base/st/symcjacc/symcjanyopt.h"
#include "btl/settings.h"
#include "co/co_trace.h"
#include "support/scoped_setting.h"
#include "support/trace_capture.h"
#include "support/wstr.h"

namespace {

using anyptr_test::identity_rows;
using anyptr_test::item_of;
using anyptr_test::lookup_rows;
using anyptr_test::names_of;
using anyptr_test::Range;
using anyptr_test::raw_name;
using anyptr_test::reformed_ranges;
using anyptr_test::Row;
using platform::UniqueBstr;
using platform::UniqueVariant;
using testing_support::ScopedSetting;
using testing_support::TraceCapture;

// Traces of level 1, 3 and 4 that the component wrote (not silent ones).
class AnyPtrTraced : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(capture.ready());
        capture.levels(1, 1, (1u << 1) | (1u << 3) | (1u << 4));
    }
    std::vector<std::string> texts(int level) const {
        std::vector<std::string> r;
        for (const auto& m : capture.messages()) {
            if (m.level == level && !m.silent) {
                r.push_back(m.text);
            }
        }
        return r;
    }
    TraceCapture capture;
};

struct Outcome {
    HRESULT hr;
    std::vector<Range> reformed;
    std::vector<Row> rows;
};

Outcome run(DWORD state, const VARIANT* names) {
    CAnyPtrOptimizer opt;
    opt.setState(state);
    UniqueVariant reformed, lookup;
    Outcome o{opt.processNames(names, reformed.get(), lookup.get()), {}, {}};
    if (o.hr == S_OK) {
        LONG lower = -1;
        SafeArrayGetLBound(reformed->parray, 1, &lower);
        EXPECT_EQ(lower, state == 0 ? anyptr_test::lower_bound(names) : 0);
        o.reformed = reformed_ranges(reformed.get());
        o.rows = lookup_rows(lookup.get());
    }
    return o;
}

// --- the item ---

TEST(AnyPtrNameTest, PackedNameHasTheDocumentedBytesAndUnpacksToTheSameRecord) {
    const AnyPtrRec rec = {5, 3, 0, 0x0102, 0x1234, 0x0A0B, 0, -1};
    UniqueVariant name;
    ASSERT_EQ(makeAnyPtrName(rec, name.get()), S_OK);
    EXPECT_EQ(name.vt(), VT_ARRAY | VT_I4);
    std::vector<UniqueVariant> one;
    one.push_back(std::move(name));
    UniqueVariant names = names_of(std::move(one));
    EXPECT_EQ(anyptr_test::item_at(names.get(), 0),
              (std::array<BYTE, 12>{0x12, 0x0A, 0xA2, 0x34, 0x00, 0x03, 0x0A, 0x0B, 0x01, 0x02,
                                    0x00, 0x05}));

    CAnyPtrOptimizer opt;
    ASSERT_EQ(opt.readOriginalNames(names.get()), S_OK);
    ASSERT_EQ(opt.requestedRecords().size(), 1u);
    const AnyPtrRec& back = opt.requestedRecords()[0];
    EXPECT_EQ(back.m_Start, 5);
    EXPECT_EQ(back.m_Cnt, 3);
    EXPECT_EQ(back.m_Spare, 0);
    EXPECT_EQ(back.m_Area, 0x0102);
    EXPECT_EQ(back.m_Typ, 0x34);
    EXPECT_EQ(back.m_Unit, 0x0A0B);
    EXPECT_EQ(back.m_ReformedIndex, -1);
}

TEST(AnyPtrNameTest, PackingReplacesTheOldContents) {
    UniqueVariant name;
    name->vt = VT_BSTR;
    name->bstrVal = UniqueBstr::from(OLESTR("old")).release();
    ASSERT_EQ(makeAnyPtrName({1, 2, 0, 3, 4, 5, 0, 0}, name.get()), S_OK);  // no leak (ASan)
    EXPECT_EQ(name.vt(), VT_ARRAY | VT_I4);
}

// A VARIANT that is what a client might pass as one name.
struct NameShape {
    const char* name;
    UniqueVariant (*make)();
    HRESULT expected;
};

UniqueVariant vector_of(VARTYPE vt, LONG lower, ULONG count) {
    UniqueVariant v;
    v->vt = static_cast<VARTYPE>(VT_ARRAY | vt);
    v->parray = SafeArrayCreateVector(vt, lower, count);
    return v;
}

TEST(AnyPtrNameTest, OnlyZeroBasedThreeElementArraysOfFourByteIntegersAreNames) {
    static SAFEARRAY* byRefTarget = nullptr;
    const NameShape shapes[] = {
        {"VT_I4",
         [] {
             return raw_name(item_of({1, 1, 1, 0, 1}));
         },
         S_OK},
        {"VT_UI4",
         [] {
             return raw_name(item_of({1, 1, 1, 0, 1}), VT_UI4);
         },
         S_OK},
        {"scalar",
         [] {
             UniqueVariant v;
             v->vt = VT_I4;
             v->lVal = 0xA20A12;
             return v;
         },
         anyptr::kNotAnAnyPtr},
        {"VT_I2 array", [] { return vector_of(VT_I2, 0, 3); }, anyptr::kNotAnAnyPtr},
        // Pass the type test, but their elements are not 4 bytes.
        {"VT_BOOL array", [] { return vector_of(VT_BOOL, 0, 3); }, anyptr::kNotAnAnyPtr},
        {"VT_DATE array", [] { return vector_of(VT_DATE, 0, 3); }, anyptr::kNotAnAnyPtr},
        {"2 elements", [] { return vector_of(VT_I4, 0, 2); }, anyptr::kNotAnAnyPtr},
        {"4 elements", [] { return vector_of(VT_I4, 0, 4); }, anyptr::kNotAnAnyPtr},
        {"empty", [] { return vector_of(VT_I4, 0, 0); }, anyptr::kNotAnAnyPtr},
        {"lower bound 1", [] { return vector_of(VT_I4, 1, 3); }, anyptr::kNotAnAnyPtr},
        {"3x1",
         [] {
             SAFEARRAYBOUND b[2] = {{3, 0}, {1, 0}};
             UniqueVariant v;
             v->vt = VT_ARRAY | VT_I4;
             v->parray = SafeArrayCreate(VT_I4, 2, b);
             return v;
         },
         anyptr::kNotAnAnyPtr},
        {"null array",
         [] {
             UniqueVariant v;
             v->vt = VT_ARRAY | VT_I4;
             v->parray = nullptr;
             return v;
         },
         anyptr::kNotAnAnyPtr},
        {"by reference",
         [] {
             UniqueVariant v;
             v->vt = VT_BYREF | VT_ARRAY | VT_I4;  // not owned: VariantClear leaves it
             v->pparray = &byRefTarget;
             return v;
         },
         anyptr::kNotAnAnyPtr},
    };
    UniqueVariant target = raw_name(item_of({1, 1, 1, 0, 1}));
    byRefTarget = target->parray;
    for (const NameShape& s : shapes) {
        UniqueVariant v = s.make();
        DWORD e[3] = {};
        EXPECT_EQ(GetAnyPtrFromName(v.get(), e), s.expected) << s.name;
    }
}

TEST(AnyPtrNameTest, ReadingNamesChecksOnlyTheSyntaxByte) {
    CAnyPtrOptimizer opt;
    auto item = item_of({7, 2, 3, 10, 4});
    item[0] = 0x99;
    item[1] = 0x00;
    std::vector<UniqueVariant> elements;
    elements.push_back(raw_name(item));
    elements.push_back(raw_name(item_of({8, 2, 3, 20, 1})));
    UniqueVariant names = names_of(std::move(elements), 5);
    ASSERT_EQ(opt.readOriginalNames(names.get()), S_OK);
    ASSERT_EQ(opt.requestedRecords().size(), 2u);
    EXPECT_EQ(opt.requestedRecords()[0].m_Start, 10);
    EXPECT_EQ(opt.requestedRecords()[0].m_OrigIndex, 0);  // counted from the lower bound
    EXPECT_EQ(opt.requestedRecords()[1].m_Typ, 8);
    EXPECT_EQ(opt.requestedRecords()[1].m_OrigIndex, 1);

    std::vector<UniqueVariant> other;
    other.push_back(raw_name(item_of({7, 2, 3, 10, 4})));
    other.push_back(raw_name(item_of({7, 2, 3, 10, 4}, 0xA3)));
    UniqueVariant foreign = names_of(std::move(other));
    EXPECT_EQ(opt.readOriginalNames(foreign.get()), anyptr::kUnknownSyntax);
    EXPECT_TRUE(opt.requestedRecords().empty());

    UniqueVariant empty = names_of(std::vector<Range>{});
    EXPECT_EQ(opt.readOriginalNames(empty.get()), S_OK);
    EXPECT_TRUE(opt.requestedRecords().empty());
}

// --- reforming ---

struct ReformCase {
    const char* name;
    DWORD state;
    std::vector<Range> requested;
    std::vector<Range> reformed;
    std::vector<Row> rows;
};

TEST(AnyPtrReformTest, StatesGiveTheirReformedNamesAndRowsInRequestOrder) {
    const Range a = {5, 1, 0, 0, 4};
    const ReformCase cases[] = {
        {"1: identical", 1, {a, a}, {a}, {{0, 0, 4, 0}, {0, 0, 4, 0}}},
        {"1: overlapping stay apart",
         1,
         {{5, 1, 0, 0, 4}, {5, 1, 0, 2, 4}},
         {{5, 1, 0, 0, 4}, {5, 1, 0, 2, 4}},
         {{0, 0, 4, 0}, {1, 0, 4, 0}}},
        {"1: same start, other count",
         1,
         {{5, 1, 0, 0, 4}, {5, 1, 0, 0, 2}},
         {{5, 1, 0, 0, 2}, {5, 1, 0, 0, 4}},
         {{1, 0, 4, 0}, {0, 0, 2, 0}}},
        {"2: identical", 2, {a, a, a}, {a}, {{0, 0, 4, 0}, {0, 0, 4, 0}, {0, 0, 4, 0}}},
        {"2: overlapping",
         2,
         {{5, 1, 0, 0, 4}, {5, 1, 0, 2, 4}},
         {{5, 1, 0, 0, 6}},
         {{0, 0, 4, 0}, {0, 2, 4, 0}}},
        {"2: contained",
         2,
         {{5, 1, 0, 0, 10}, {5, 1, 0, 3, 2}},
         {{5, 1, 0, 0, 10}},
         {{0, 0, 10, 0}, {0, 3, 2, 0}}},
        {"2: touching and disjoint",
         2,
         {{5, 1, 0, 0, 2}, {5, 1, 0, 2, 3}, {5, 1, 0, 7, 1}},
         {{5, 1, 0, 0, 5}, {5, 1, 0, 7, 1}},
         {{0, 0, 2, 0}, {0, 2, 3, 0}, {1, 0, 1, 0}}},
        {"2: gap of one is not bridged",
         2,
         {{5, 1, 0, 0, 2}, {5, 1, 0, 3, 1}},
         {{5, 1, 0, 0, 2}, {5, 1, 0, 3, 1}},
         {{0, 0, 2, 0}, {1, 0, 1, 0}}},
        {"2: out of order",
         2,
         {{5, 1, 0, 7, 1}, {5, 1, 0, 2, 3}, {5, 1, 0, 0, 2}},
         {{5, 1, 0, 0, 5}, {5, 1, 0, 7, 1}},
         {{1, 0, 1, 0}, {0, 2, 3, 0}, {0, 0, 2, 0}}},
        {"2: chain widens step by step",
         2,
         {{5, 1, 0, 8, 4}, {5, 1, 0, 0, 5}, {5, 1, 0, 4, 5}},
         {{5, 1, 0, 0, 12}},
         {{0, 8, 4, 0}, {0, 0, 5, 0}, {0, 4, 5, 0}}},
        // Sorted by unit, then type, then area.
        {"2: other Typ",
         2,
         {{6, 1, 0, 0, 4}, {5, 1, 0, 0, 4}},
         {{5, 1, 0, 0, 4}, {6, 1, 0, 0, 4}},
         {{1, 0, 4, 0}, {0, 0, 4, 0}}},
        {"2: other Area",
         2,
         {{5, 2, 0, 0, 4}, {5, 1, 0, 2, 4}},
         {{5, 1, 0, 2, 4}, {5, 2, 0, 0, 4}},
         {{1, 0, 4, 0}, {0, 0, 4, 0}}},
        {"2: other Unit before other Typ",
         2,
         {{1, 1, 9, 0, 4}, {7, 1, 0, 0, 4}},
         {{7, 1, 0, 0, 4}, {1, 1, 9, 0, 4}},
         {{1, 0, 4, 0}, {0, 0, 4, 0}}},
        // Cnt is 16 bits: no reformed name may be widened past 0xFFFF elements.
        {"2: union of exactly 0xFFFF merges",
         2,
         {{5, 1, 0, 0, 30000}, {5, 1, 0, 30000, 35535}},
         {{5, 1, 0, 0, 65535}},
         {{0, 0, 30000, 0}, {0, 30000, 35535, 0}}},
        {"2: [0, 40000) and [40000, 80000) stay apart",
         2,
         {{5, 1, 0, 0, 40000}, {5, 1, 0, 40000, 40000}},
         {{5, 1, 0, 0, 40000}, {5, 1, 0, 40000, 40000}},
         {{0, 0, 40000, 0}, {1, 0, 40000, 0}}},
        {"2: overlap past 0xFFFF starts a new name, which takes what follows",
         2,
         {{5, 1, 0, 0, 100}, {5, 1, 0, 50, 65500}, {5, 1, 0, 60, 10}, {5, 1, 0, 65530, 25}},
         {{5, 1, 0, 0, 100}, {5, 1, 0, 50, 65505}},
         {{0, 0, 100, 0}, {1, 0, 65500, 0}, {1, 10, 10, 0}, {1, 65480, 25, 0}}},
        {"0: unchanged",
         0,
         {{5, 1, 0, 0, 4}, {5, 1, 0, 0, 4}},
         {{5, 1, 0, 0, 4}, {5, 1, 0, 0, 4}},
         identity_rows(2)},
        {"2: no names", 2, {}, {}, {}},
    };
    for (const ReformCase& c : cases) {
        for (LONG lower : {0, 1, -3}) {
            SCOPED_TRACE(testing::Message() << c.name << ", lower bound " << lower);
            UniqueVariant names = names_of(c.requested, lower);
            const Outcome o = run(c.state, names.get());
            ASSERT_EQ(o.hr, S_OK);
            EXPECT_EQ(o.reformed, c.reformed);
            EXPECT_EQ(o.rows, c.rows);
        }
    }
}

TEST_F(AnyPtrTraced, AnotherSyntaxPassesEveryNameUnchangedForTheRestOfTheObjectsLife) {
    std::vector<UniqueVariant> elements;
    elements.push_back(raw_name(item_of({5, 1, 0, 0, 4})));
    elements.push_back(raw_name(item_of({5, 1, 0, 0, 4}, 0x11)));
    elements.push_back(raw_name(item_of({5, 1, 0, 2, 4})));
    UniqueVariant names = names_of(std::move(elements), 3);

    CAnyPtrOptimizer opt;
    opt.setState(CAnyPtrOptimizer::STATE_MERGE);
    UniqueVariant reformed, lookup;
    ASSERT_EQ(opt.processNames(names.get(), reformed.get(), lookup.get()), S_OK);
    EXPECT_EQ(texts(1), (std::vector<std::string>{"unknown Anyptr Syntax, no Optimizing"}));
    EXPECT_EQ(opt.state(), CAnyPtrOptimizer::STATE_OFF);
    EXPECT_EQ(lookup_rows(lookup.get()), identity_rows(3));
    // A copy, lower bound kept, never the caller's array.
    ASSERT_EQ(reformed.vt(), VT_ARRAY | VT_VARIANT);
    EXPECT_NE(reformed->parray, names->parray);
    LONG lower = 0;
    SafeArrayGetLBound(reformed->parray, 1, &lower);
    EXPECT_EQ(lower, 3);
    for (LONG i = 0; i < 3; ++i) {
        EXPECT_EQ(anyptr_test::item_at(reformed.get(), i), anyptr_test::item_at(names.get(), i));
    }

    // Good names now pass unchanged too.
    UniqueVariant good = names_of(std::vector<Range>{{5, 1, 0, 0, 4}, {5, 1, 0, 0, 4}});
    ASSERT_EQ(opt.processNames(good.get(), reformed.get(), lookup.get()), S_OK);
    EXPECT_EQ(lookup_rows(lookup.get()), identity_rows(2));
}

// Names arrays as any client might hand them over.
struct ArrayShape {
    const char* name;
    UniqueVariant (*make)();
    HRESULT expected;    // S_OK: passed on unchanged with the identity table
    const char* trace1;  // level-1 trace of a pass-through, else null
};

UniqueVariant names_with(UniqueVariant element) {
    std::vector<UniqueVariant> v;
    v.push_back(raw_name(item_of({5, 1, 0, 0, 4})));
    v.push_back(std::move(element));
    return names_of(std::move(v));
}

TEST_F(AnyPtrTraced, NamesArraysOfAnyOtherShapePassUnchangedOrFail) {
    static SAFEARRAY* byRefTarget = nullptr;
    const char* const readFailed = "readOriginalNames failed, hr:=FFFFFFFF";
    const ArrayShape shapes[] = {
        {"element empty", [] { return names_with(UniqueVariant()); }, S_OK, readFailed},
        {"element VT_BOOL array", [] { return names_with(vector_of(VT_BOOL, 0, 3)); }, S_OK,
         readFailed},
        {"element empty VT_I4 array", [] { return names_with(vector_of(VT_I4, 0, 0)); }, S_OK,
         readFailed},
        {"element by reference",
         [] {
             UniqueVariant e;
             e->vt = VT_BYREF | VT_ARRAY | VT_I4;
             e->pparray = &byRefTarget;
             return names_with(std::move(e));
         },
         S_OK, readFailed},
        {"array of BSTR",
         [] {
             UniqueVariant v = vector_of(VT_BSTR, 0, 2);
             return v;
         },
         S_OK, "readOriginalNames failed, hr:=80020008"},
        {"array of VT_I4", [] { return vector_of(VT_I4, 0, 3); }, S_OK,
         "readOriginalNames failed, hr:=80020008"},
        {"no array",
         [] {
             UniqueVariant v;
             v->vt = VT_I4;
             return v;
         },
         DISP_E_BADVARTYPE, nullptr},
        {"null array",
         [] {
             UniqueVariant v;
             v->vt = VT_ARRAY | VT_VARIANT;
             v->parray = nullptr;
             return v;
         },
         DISP_E_BADVARTYPE, nullptr},
        {"array by reference",
         [] {
             UniqueVariant v;
             v->vt = VT_BYREF | VT_ARRAY | VT_VARIANT;
             v->pparray = &byRefTarget;
             return v;
         },
         DISP_E_BADVARTYPE, nullptr},
        {"two dimensions",
         [] {
             SAFEARRAYBOUND b[2] = {{2, 0}, {2, 0}};
             UniqueVariant v;
             v->vt = VT_ARRAY | VT_VARIANT;
             v->parray = SafeArrayCreate(VT_VARIANT, 2, b);
             return v;
         },
         E_INVALIDARG, nullptr},
    };
    UniqueVariant target = names_of(std::vector<Range>{{5, 1, 0, 0, 4}});
    byRefTarget = target->parray;
    for (const ArrayShape& s : shapes) {
        SCOPED_TRACE(s.name);
        capture.clear();
        UniqueVariant names = s.make();
        CAnyPtrOptimizer opt;
        opt.setState(CAnyPtrOptimizer::STATE_MERGE);
        // The outputs hold something that must be freed when replaced, and kept on failure.
        UniqueVariant reformed, lookup;
        reformed->vt = VT_BSTR;
        reformed->bstrVal = UniqueBstr::from(OLESTR("old")).release();
        ASSERT_EQ(opt.processNames(names.get(), reformed.get(), lookup.get()), s.expected);
        if (s.expected != S_OK) {
            EXPECT_EQ(reformed.vt(), VT_BSTR);
            EXPECT_EQ(lookup.vt(), VT_EMPTY);
            continue;
        }
        EXPECT_EQ(texts(1), (std::vector<std::string>{s.trace1}));
        EXPECT_EQ(reformed.vt(), names.vt());
        EXPECT_NE(reformed->parray, names->parray);
        LONG upper = -1;
        SafeArrayGetUBound(names->parray, 1, &upper);
        EXPECT_EQ(lookup_rows(lookup.get()), identity_rows(static_cast<size_t>(upper + 1)));
    }
}

TEST(AnyPtrReformTest, NullOutputsAreRefused) {
    UniqueVariant names = names_of(std::vector<Range>{{5, 1, 0, 0, 4}});
    UniqueVariant out;
    CAnyPtrOptimizer opt;
    EXPECT_EQ(opt.processNames(names.get(), nullptr, out.get()), E_POINTER);
    EXPECT_EQ(opt.processNames(names.get(), out.get(), nullptr), E_POINTER);
    EXPECT_EQ(opt.processNames(nullptr, out.get(), out.get()), E_POINTER);
}

// --- the setting ---

struct SettingCase {
    const char* name;
    DWORD type;  // 0: no value
    DWORD value;
    DWORD state;
    std::vector<std::string> traces;  // levels 1 and 3, "%s" is the key path
};

std::string with_path(std::string text, const std::string& path) {
    const auto at = text.find("%s");
    return at == std::string::npos ? text : text.replace(at, 2, path);
}

class AnyPtrSettingTest : public AnyPtrTraced {
  protected:
    void TearDown() override { CAnyPtrOptimizer::forgetOptimizerSetting(); }
    const std::string path =
        testing_support::narrow(BTL_GetRegKeyRoot(),
                                std::char_traits<OLECHAR>::length(BTL_GetRegKeyRoot())) +
        "\\OnlServer\\Collection\\AnyptrOptimizer";
    static constexpr const OLECHAR* kKey = OLESTR("OnlServer\\Collection");
    static constexpr const OLECHAR* kValue = OLESTR("AnyptrOptimizer");
};

TEST_F(AnyPtrSettingTest, ValuesSelectTheStateAndWhenTheSettingIsReadAgain) {
    const std::string init = "1 init Optimizer from Registry Key";
    const SettingCase cases[] = {
        {"missing",
         0,
         0,
         0,
         {init, "1 CCoSettings::GetValue (%s) is missing, default is OFF, hr=00000002"}},
        {"0", REG_DWORD, 0, 0, {init, "1 CCoSettings::GetValue (%s) = 0, hr=00000000"}},
        {"1", REG_DWORD, 1, 1, {init, "1 CCoSettings::GetValue (%s) = 1, hr=00000000"}},
        {"2", REG_DWORD, 2, 2, {init, "1 CCoSettings::GetValue (%s) = 2, hr=00000000"}},
        {"1000", REG_DWORD, 1000, 0, {init, "1 CCoSettings::GetValue (%s) = 1000, hr=00000000"}},
        {"1001", REG_DWORD, 1001, 1, {init, "1 CCoSettings::GetValue (%s) = 1001, hr=00000000"}},
        {"1002", REG_DWORD, 1002, 2, {init, "1 CCoSettings::GetValue (%s) = 1002, hr=00000000"}},
        {"5", REG_DWORD, 5, 0, {init, "1 CCoSettings::GetValue (%s) = 5, hr=00000000"}},
        {"0xFFFFFFFF",
         REG_DWORD,
         0xFFFFFFFF,
         0,
         {init, "1 CCoSettings::GetValue (%s) = -1, hr=00000000",
          "3 illegal Optimizer state, will be disabled"}},
        // A failed read keeps the start value 1.
        {"text", REG_SZ, 0, 1, {init, "1 RegQueryValue (%s) failed, hr=0000000D"}},
    };
    for (const SettingCase& c : cases) {
        SCOPED_TRACE(c.name);
        CAnyPtrOptimizer::forgetOptimizerSetting();
        capture.clear();
        std::unique_ptr<ScopedSetting> setting;
        if (c.type == REG_DWORD) {
            setting = std::make_unique<ScopedSetting>(kKey, kValue, c.value);
        } else if (c.type == REG_SZ) {
            setting = std::make_unique<ScopedSetting>(kKey, kValue, REG_SZ,
                                                      std::vector<BYTE>{'2', 0, 0, 0});
        }
        ASSERT_TRUE(!setting || setting->ok());
        CAnyPtrOptimizer opt;
        EXPECT_EQ(opt.initOptimizer(), S_OK);
        EXPECT_EQ(opt.state(), c.state);
        std::vector<std::string> expected;
        for (const std::string& t : c.traces) {
            expected.push_back(with_path(t, path));
        }
        std::vector<std::string> got;
        for (const auto& m : capture.messages()) {
            if ((m.level == 1 || m.level == 3) && !m.silent) {
                got.push_back(std::to_string(m.level) + " " + m.text);
            }
        }
        EXPECT_EQ(got, expected);
    }

    // One test for all, so that no two processes share the value. Plain values are read once,
    // 1000-1002 at every init.
    const auto state_after_init = [] {
        CAnyPtrOptimizer opt;
        opt.initOptimizer();
        return opt.state();
    };
    CAnyPtrOptimizer::forgetOptimizerSetting();
    {
        ScopedSetting s(kKey, kValue, 1);
        EXPECT_EQ(state_after_init(), 1u);
    }
    {
        ScopedSetting s(kKey, kValue, 2);
        EXPECT_EQ(state_after_init(), 1u);  // still the value read first
    }
    CAnyPtrOptimizer::forgetOptimizerSetting();
    {
        ScopedSetting s(kKey, kValue, 1001);
        EXPECT_EQ(state_after_init(), 1u);
    }
    {
        ScopedSetting s(kKey, kValue, 1000);
        EXPECT_EQ(state_after_init(), 0u);
    }
    {
        ScopedSetting s(kKey, kValue, 2);
        EXPECT_EQ(state_after_init(), 2u);  // re-read, and now read once
    }
    {
        ScopedSetting s(kKey, kValue, 0);
        EXPECT_EQ(state_after_init(), 2u);
    }
}

// --- the dump ---

struct Dumped {
    UniqueVariant requested, reformed, lookup;
};

Dumped optimized(const std::vector<Range>& requested, LONG lower) {
    Dumped d;
    d.requested = names_of(requested, lower);
    CAnyPtrOptimizer opt;
    opt.setState(CAnyPtrOptimizer::STATE_MERGE);
    EXPECT_EQ(opt.processNames(d.requested.get(), d.reformed.get(), d.lookup.get()), S_OK);
    return d;
}

TEST_F(AnyPtrTraced, DumpsCountOrListEveryNameWithItsLookupRow) {
    Dumped d = optimized({{5, 3, 0, 2, 3}, {5, 3, 0, 0, 2}, {12, 1000, 0, 100, 12}}, 4);
    ASSERT_EQ(CAnyPtrOptimizer::dumpNameOptimizing(d.requested.get(), d.reformed.get(),
                                                   d.lookup.get(), false),
              S_OK);
    EXPECT_EQ(texts(1), (std::vector<std::string>{"AnyPtrOptimizer Requested 3, Reformed: 2 "}));

    capture.clear();
    ASSERT_EQ(CAnyPtrOptimizer::dumpNameOptimizing(d.requested.get(), d.reformed.get(),
                                                   d.lookup.get(), true),
              S_OK);
    const std::string pad = "                 ";
    EXPECT_EQ(texts(1), (std::vector<std::string>{
                            "dumping reformed Names:",
                            "AnyPtr[00] := { 12 a a2 Typ:05 Area:0003, Cnt:05, SubArea[000..005] }",
                            "AnyPtr[01] := { 12 a a2 Typ:12 Area:1000, Cnt:12, SubArea[100..112] }",
                            "dumping original Names and Lookup:",
                            "AnyPtr[00] :=  12 a a2 Typ:05 Area:0003, Cnt:03," + pad +
                                "SubArea[002..005], Lookup at Pos:00, Offs:02, Cnt:03 ",
                            "AnyPtr[01] :=  12 a a2 Typ:05 Area:0003, Cnt:02," + pad +
                                "SubArea[000..002], Lookup at Pos:00, Offs:00, Cnt:02 ",
                            "AnyPtr[02] :=  12 a a2 Typ:12 Area:1000, Cnt:12," + pad +
                                "SubArea[100..112], Lookup at Pos:01, Offs:00, Cnt:12 ",
                        }));
    EXPECT_TRUE(texts(4).empty());
}

TEST_F(AnyPtrTraced, DumpFailuresEndTheDumpWithTheirTrace) {
    struct DumpFailure {
        const char* name;
        bool detailed;
        void (*spoil)(Dumped&);
        HRESULT hr;
        std::string error;
    };
    const DumpFailure failures[] = {
        {"requested not an array", false, [](Dumped& d) { d.requested.reset(); }, DISP_E_BADVARTYPE,
         "VariantHasSafeArray failed: -2147352568"},
        {"no lookup table", true, [](Dumped& d) { d.lookup.reset(); }, DISP_E_BADVARTYPE,
         "VariantHasSafeArray failed: -2147352568"},
        {"lookup table of VARIANT", true,
         [](Dumped& d) {
             d.lookup = names_of(std::vector<Range>{{1, 1, 1, 1, 1}});
         },
         DISP_E_BADVARTYPE, "VariantHasSafeArray failed: -2147352568"},
        {"lookup table too short", true,
         [](Dumped& d) {
             SAFEARRAYBOUND b[2] = {{4, 0}, {1, 0}};
             d.lookup.reset();
             d.lookup->vt = VT_ARRAY | VT_I4;
             d.lookup->parray = SafeArrayCreate(VT_I4, 2, b);
         },
         DISP_E_BADINDEX, "VariantSafeArrayGetElement failed: -2147352565"},
        {"reformed name not a name", true,
         [](Dumped& d) {
             LONG zero = 0;
             UniqueVariant empty;
             SafeArrayPutElement(d.reformed->parray, &zero, empty.get());
         },
         anyptr::kNotAnAnyPtr, "GetAnyPtrFromName failed: -1"},
    };
    for (const DumpFailure& f : failures) {
        SCOPED_TRACE(f.name);
        Dumped d = optimized({{5, 3, 0, 2, 3}, {5, 3, 0, 0, 2}}, 0);
        f.spoil(d);
        capture.clear();
        EXPECT_EQ(CAnyPtrOptimizer::dumpNameOptimizing(d.requested.get(), d.reformed.get(),
                                                       d.lookup.get(), f.detailed),
                  f.hr);
        EXPECT_EQ(texts(4), (std::vector<std::string>{f.error}));
    }
}

}  // namespace
