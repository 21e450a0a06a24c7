// Building names arrays of ANY-pointer names and reading reformed names and lookup tables back,
// through the plain OLE Automation calls a client would use.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <tuple>
#include <vector>

#include "base/st/symcjacc/symcjanyopt.h"
#include "platform/raii.h"

namespace anyptr_test {

using platform::UniqueVariant;

// One name's address fields.
struct Range {
    int typ;
    int area;
    int unit;
    int start;
    int cnt;

    long long end() const { return static_cast<long long>(start) + cnt; }
    bool same_space(const Range& o) const {
        return typ == o.typ && area == o.area && unit == o.unit;
    }
    bool operator==(const Range& o) const {
        return std::tie(typ, area, unit, start, cnt) ==
               std::tie(o.typ, o.area, o.unit, o.start, o.cnt);
    }
};

inline std::ostream& operator<<(std::ostream& os, const Range& r) {
    return os << "{typ " << r.typ << " area " << r.area << " unit " << r.unit << " [" << r.start
              << ", " << r.end() << ")}";
}

using Row = std::array<LONG, 4>;

// The 12 item bytes as three VT_I4 elements (little-endian memory image).
inline UniqueVariant raw_name(const std::array<BYTE, 12>& item, VARTYPE vt = VT_I4) {
    UniqueVariant v;
    SAFEARRAY* psa = SafeArrayCreateVector(vt, 0, 3);
    for (LONG i = 0; i < 3; ++i) {
        DWORD e = 0;
        for (int b = 0; b < 4; ++b) {
            e |= static_cast<DWORD>(item[i * 4 + b]) << (8 * b);
        }
        SafeArrayPutElement(psa, &i, &e);
    }
    v->vt = static_cast<VARTYPE>(VT_ARRAY | vt);
    v->parray = psa;
    return v;
}

inline std::array<BYTE, 12> item_of(const Range& r, BYTE syntax = 0xA2) {
    return {0x12,
            0x0A,
            syntax,
            static_cast<BYTE>(r.typ),
            static_cast<BYTE>(r.cnt >> 8),
            static_cast<BYTE>(r.cnt),
            static_cast<BYTE>(r.unit >> 8),
            static_cast<BYTE>(r.unit),
            static_cast<BYTE>(r.area >> 8),
            static_cast<BYTE>(r.area),
            static_cast<BYTE>(r.start >> 8),
            static_cast<BYTE>(r.start)};
}

// A names array (VARIANT of VT_ARRAY | VT_VARIANT) holding the given elements, moved in.
inline UniqueVariant names_of(std::vector<UniqueVariant> elements, LONG lower = 0) {
    UniqueVariant v;
    SAFEARRAY* psa = SafeArrayCreateVector(VT_VARIANT, lower, static_cast<ULONG>(elements.size()));
    for (size_t i = 0; i < elements.size(); ++i) {
        LONG index = lower + static_cast<LONG>(i);
        SafeArrayPutElement(psa, &index, elements[i].get());  // copies
    }
    v->vt = VT_ARRAY | VT_VARIANT;
    v->parray = psa;
    return v;
}

inline UniqueVariant names_of(const std::vector<Range>& ranges, LONG lower = 0) {
    std::vector<UniqueVariant> elements;
    for (const Range& r : ranges) {
        elements.push_back(raw_name(item_of(r)));
    }
    return names_of(std::move(elements), lower);
}

inline LONG lower_bound(const VARIANT* names) {
    LONG lower = 0;
    SafeArrayGetLBound(names->parray, 1, &lower);
    return lower;
}

// The item bytes of element `index` (0-based) of a names array; fails the test when it is no
// ANY-pointer name.
inline std::array<BYTE, 12> item_at(const VARIANT* names, LONG index) {
    std::array<BYTE, 12> item{};
    LONG lower = 0;
    SafeArrayGetLBound(names->parray, 1, &lower);
    LONG at = lower + index;
    UniqueVariant element;
    EXPECT_EQ(SafeArrayGetElement(names->parray, &at, element.get()), S_OK);
    DWORD e[3] = {};
    EXPECT_EQ(GetAnyPtrFromName(element.get(), e), S_OK);
    for (int k = 0; k < 12; ++k) {
        item[k] = static_cast<BYTE>(e[k / 4] >> (8 * (k % 4)));
    }
    return item;
}

inline Range range_of(const std::array<BYTE, 12>& item) {
    return {item[3], (item[8] << 8) | item[9], (item[6] << 8) | item[7], (item[10] << 8) | item[11],
            (item[4] << 8) | item[5]};
}

// Names as ranges, from the array's lower bound; checks the array's shape and the header bytes of
// every name.
inline std::vector<Range> reformed_ranges(const VARIANT* reformed) {
    std::vector<Range> r;
    EXPECT_EQ(reformed->vt, VT_ARRAY | VT_VARIANT);
    if (reformed->vt != (VT_ARRAY | VT_VARIANT)) {
        return r;
    }
    LONG lower = -1, upper = -2;
    SafeArrayGetLBound(reformed->parray, 1, &lower);
    SafeArrayGetUBound(reformed->parray, 1, &upper);
    EXPECT_EQ(SafeArrayGetDim(reformed->parray), 1u);
    for (LONG i = 0; i <= upper - lower; ++i) {
        const auto item = item_at(reformed, i);
        EXPECT_EQ(item[0], 0x12);
        EXPECT_EQ(item[1], 0x0A);
        EXPECT_EQ(item[2], 0xA2);
        r.push_back(range_of(item));
    }
    return r;
}

// Lookup rows as a client reads them: column c of name i at indices {c, i}.
inline std::vector<Row> lookup_rows(const VARIANT* lookup) {
    std::vector<Row> rows;
    EXPECT_EQ(lookup->vt, VT_ARRAY | VT_I4);
    if (lookup->vt != (VT_ARRAY | VT_I4)) {
        return rows;
    }
    SAFEARRAY* psa = lookup->parray;
    EXPECT_EQ(SafeArrayGetDim(psa), 2u);
    LONG lower1 = -1, upper1 = -1, lower2 = -1, upper2 = -2;
    SafeArrayGetLBound(psa, 1, &lower1);
    SafeArrayGetUBound(psa, 1, &upper1);
    SafeArrayGetLBound(psa, 2, &lower2);
    SafeArrayGetUBound(psa, 2, &upper2);
    EXPECT_EQ(lower1, 0);
    EXPECT_EQ(upper1, 3);
    EXPECT_EQ(lower2, 0);
    for (LONG i = 0; i <= upper2; ++i) {
        Row row{};
        for (LONG c = 0; c < 4; ++c) {
            LONG indices[2] = {c, i};
            EXPECT_EQ(SafeArrayGetElement(psa, indices, &row[c]), S_OK);
        }
        rows.push_back(row);
    }
    return rows;
}

inline std::vector<Row> identity_rows(size_t n) {
    std::vector<Row> rows;
    for (size_t i = 0; i < n; ++i) {
        rows.push_back({static_cast<LONG>(i), 0, 0, 0});
    }
    return rows;
}

}  // namespace anyptr_test
