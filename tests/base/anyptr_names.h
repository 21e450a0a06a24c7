// Names arrays of ANY-pointer names built, and reformed names and lookup tables read back, through
// the plain OLE Automation calls a client would use.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <tuple>
#include <vector>

#include "base/st/symcjacc/symcjanyopt.h"
#include "platform/raii.h"

namespace anyptr_test {

using platform::UniqueVariant;
using Item = std::array<BYTE, 12>;
using Row = std::array<LONG, 4>;

struct Range {
    int start, cnt, typ, area, unit;
    long long end() const { return static_cast<long long>(start) + cnt; }
    bool same_space(const Range& o) const {
        return typ == o.typ && area == o.area && unit == o.unit;
    }
    bool operator==(const Range& o) const {
        return std::tie(start, cnt, typ, area, unit) ==
               std::tie(o.start, o.cnt, o.typ, o.area, o.unit);
    }
};
inline Range R(int start, int cnt, int typ = 5, int area = 1, int unit = 0) {
    return {start, cnt, typ, area, unit};
}
inline std::ostream& operator<<(std::ostream& os, const Range& r) {
    return os << "{typ " << r.typ << " area " << r.area << " unit " << r.unit << " [" << r.start
              << ", " << r.end() << ")}";
}

inline Item item_of(const Range& r, BYTE syntax = 0xA2) {
    auto hi = [](int v) { return static_cast<BYTE>(v >> 8); };
    auto lo = [](int v) { return static_cast<BYTE>(v); };
    return {0x12,       0x0A,       syntax,     lo(r.typ),  hi(r.cnt),   lo(r.cnt),
            hi(r.unit), lo(r.unit), hi(r.area), lo(r.area), hi(r.start), lo(r.start)};
}
inline Range range_of(const Item& i) {
    return {(i[10] << 8) | i[11], (i[4] << 8) | i[5], i[3], (i[8] << 8) | i[9], (i[6] << 8) | i[7]};
}

// The item as three elements of type vt (its little-endian memory image).
inline UniqueVariant raw_name(const Item& item, VARTYPE vt = VT_I4) {
    UniqueVariant v;
    v->vt = static_cast<VARTYPE>(VT_ARRAY | vt);
    v->parray = SafeArrayCreateVector(vt, 0, 3);
    for (LONG i = 0; i < 3; ++i) {
        DWORD e = 0;
        for (int b = 0; b < 4; ++b) {
            e |= static_cast<DWORD>(item[i * 4 + b]) << (8 * b);
        }
        SafeArrayPutElement(v->parray, &i, &e);
    }
    return v;
}

// A names array (VT_ARRAY | VT_VARIANT) holding copies of the elements.
inline UniqueVariant names_of(const std::vector<UniqueVariant>& elements, LONG lower = 0) {
    UniqueVariant v;
    v->vt = VT_ARRAY | VT_VARIANT;
    v->parray = SafeArrayCreateVector(VT_VARIANT, lower, static_cast<ULONG>(elements.size()));
    for (size_t i = 0; i < elements.size(); ++i) {
        LONG index = lower + static_cast<LONG>(i);
        SafeArrayPutElement(v->parray, &index, const_cast<VARIANT*>(elements[i].get()));
    }
    return v;
}
inline UniqueVariant names_of(const std::vector<Range>& ranges, LONG lower = 0) {
    std::vector<UniqueVariant> elements;
    for (const Range& r : ranges) {
        elements.push_back(raw_name(item_of(r)));
    }
    return names_of(elements, lower);
}

inline LONG lower_bound(const VARIANT* names, UINT dim = 1) {
    LONG lower = -99;
    SafeArrayGetLBound(names->parray, dim, &lower);
    return lower;
}

// The item of element `index` (0-based) of a names array.
inline Item item_at(const VARIANT* names, LONG index) {
    Item item{};
    LONG at = lower_bound(names) + index;
    UniqueVariant element;
    DWORD e[3] = {};
    EXPECT_EQ(SafeArrayGetElement(names->parray, &at, element.get()), S_OK);
    EXPECT_EQ(GetAnyPtrFromName(element.get(), e), S_OK);
    AnyPtrItemBytes(e, item.data());
    return item;
}

// Reformed names as ranges; every one must carry the header bytes the optimizer writes.
inline std::vector<Range> reformed_ranges(const VARIANT* reformed) {
    std::vector<Range> r;
    LONG upper = -1;
    EXPECT_EQ(SafeArrayGetUBound(reformed->parray, 1, &upper), S_OK);
    for (LONG i = 0; i <= upper - lower_bound(reformed); ++i) {
        const Item item = item_at(reformed, i);
        EXPECT_EQ(Item({item[0], item[1], item[2]}), Item({0x12, 0x0A, 0xA2}));
        r.push_back(range_of(item));
    }
    return r;
}

// Lookup rows as a client reads them: column c of name i at indices {c, i}.
inline std::vector<Row> lookup_rows(const VARIANT* lookup) {
    std::vector<Row> rows;
    LONG upper[2] = {-1, -1};
    EXPECT_EQ(lookup->vt, VT_ARRAY | VT_I4);
    EXPECT_EQ(SafeArrayGetDim(lookup->parray), 2u);
    SafeArrayGetUBound(lookup->parray, 1, &upper[0]);
    SafeArrayGetUBound(lookup->parray, 2, &upper[1]);
    // Four columns along dimension 1, rows along dimension 2, both from 0.
    EXPECT_EQ(Row({lower_bound(lookup, 1), upper[0], lower_bound(lookup, 2), 0}),
              Row({0, 3, 0, 0}));
    for (LONG i = 0; i <= upper[1]; ++i) {
        Row row{};
        for (LONG c = 0; c < 4; ++c) {
            LONG indices[2] = {c, i};
            EXPECT_EQ(SafeArrayGetElement(lookup->parray, indices, &row[c]), S_OK);
        }
        rows.push_back(row);
    }
    return rows;
}

// A 2x2 array of VARIANTs: names of a shape no call takes.
inline UniqueVariant square_names() {
    SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
    UniqueVariant v;
    v->vt = VT_ARRAY | VT_VARIANT;
    v->parray = SafeArrayCreate(VT_VARIANT, 2, bounds);
    return v;
}

// Whether each requested name lies inside the reformed name its row (from `at` on) points at, at
// the row's offset; a row of count 0 passed its name on unchanged.
inline bool maps_back(const std::vector<Range>& requested, const std::vector<Row>& rows,
                      const std::vector<Range>& reformed, size_t at = 0) {
    for (size_t k = 0; k < requested.size(); ++k) {
        if (at + k >= rows.size() || rows[at + k][0] < 0 ||
            static_cast<size_t>(rows[at + k][0]) >= reformed.size()) {
            return false;
        }
        const Row& row = rows[at + k];
        const Range &in = reformed[static_cast<size_t>(row[0])], &req = requested[k];
        if (row[2] == 0 ? !(in == req)
                        : !(in.same_space(req) && in.start + row[1] == req.start &&
                            row[2] == req.cnt && req.end() <= in.end())) {
            return false;
        }
    }
    return true;
}

inline std::vector<Row> identity_rows(size_t n) {
    std::vector<Row> rows;
    for (size_t i = 0; i < n; ++i) {
        rows.push_back({static_cast<LONG>(i), 0, 0, 0});
    }
    return rows;
}

}  // namespace anyptr_test
