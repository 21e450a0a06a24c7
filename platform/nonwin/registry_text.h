// Text helpers of the registry and the loader: UTF-8 <-> UTF-16 conversion for the narrow
// functions, module names and the store file, and the case folding that makes key and value names
// case-insensitive.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>

namespace platform_registry {

constexpr char16_t kReplacement = 0xFFFD;

inline bool is_high_surrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
inline bool is_low_surrogate(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

inline void append_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// Unpaired surrogates become U+FFFD, as the system's conversion to UTF-8 does.
inline std::string utf16_to_utf8(const char16_t* s, size_t n) {
    std::string out;
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        const char16_t c = s[i];
        if (is_high_surrogate(c) && i + 1 < n && is_low_surrogate(s[i + 1])) {
            append_utf8(out, 0x10000 + ((char32_t(c) - 0xD800) << 10) + (s[i + 1] - 0xDC00));
            ++i;
        } else if (is_high_surrogate(c) || is_low_surrogate(c)) {
            append_utf8(out, kReplacement);
        } else {
            append_utf8(out, c);
        }
    }
    return out;
}

// Decodes UTF-8. Lenient mode turns each invalid sequence into U+FFFD (what narrow callers get);
// strict mode fails instead (a store file we did not write).
inline bool utf8_to_utf16(const char* s, size_t n, std::u16string& out, bool lenient) {
    out.clear();
    out.reserve(n);
    const auto* p = reinterpret_cast<const unsigned char*>(s);
    size_t i = 0;
    while (i < n) {
        const unsigned char b = p[i];
        if (b < 0x80) {
            out.push_back(b);
            ++i;
            continue;
        }
        // Sequence length, payload bits of the lead byte, and the smallest code point that
        // needs this length (shorter encodings are invalid).
        size_t len = 0;
        char32_t cp = 0;
        char32_t min = 0;
        if ((b & 0xE0) == 0xC0) {
            len = 2;
            cp = b & 0x1F;
            min = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            len = 3;
            cp = b & 0x0F;
            min = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            len = 4;
            cp = b & 0x07;
            min = 0x10000;
        }
        size_t k = 1;
        for (; len != 0 && k < len && i + k < n && (p[i + k] & 0xC0) == 0x80; ++k) {
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if (len == 0 || k < len || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            if (!lenient) {
                return false;
            }
            out.push_back(kReplacement);
            i += std::max<size_t>(k, 1);
            continue;
        }
        if (cp >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += len;
    }
    return true;
}

inline std::u16string utf8_to_utf16(const char* s, size_t n) {
    std::u16string out;
    utf8_to_utf16(s, n, out, true);
    return out;
}

// One-to-one upper-case pairs of UTF-16 units, the mapping the reference registry compares names
// with (no special casing: U+00DF, U+0131 and U+03C2 stay themselves). Units in [first, last]
// whose distance from first is a multiple of step map to unit + delta.
struct CaseRange {
    char16_t first;
    char16_t last;
    int32_t delta;
    int32_t step;
};

inline constexpr CaseRange kUpperCase[] = {
    {0x0061, 0x007a, -32, 1},    {0x00e0, 0x00f6, -32, 1},    {0x00f8, 0x00fe, -32, 1},
    {0x00ff, 0x00ff, 121, 1},    {0x0101, 0x012f, -1, 2},     {0x0133, 0x0137, -1, 2},
    {0x013a, 0x0148, -1, 2},     {0x014b, 0x0177, -1, 2},     {0x017a, 0x017e, -1, 2},
    {0x0180, 0x0180, 195, 1},    {0x0183, 0x0185, -1, 2},     {0x0188, 0x0188, -1, 1},
    {0x018c, 0x018c, -1, 1},     {0x0192, 0x0192, -1, 1},     {0x0195, 0x0195, 97, 1},
    {0x0199, 0x0199, -1, 1},     {0x019a, 0x019a, 163, 1},    {0x019e, 0x019e, 130, 1},
    {0x01a1, 0x01a5, -1, 2},     {0x01a8, 0x01a8, -1, 1},     {0x01ad, 0x01ad, -1, 1},
    {0x01b0, 0x01b0, -1, 1},     {0x01b4, 0x01b6, -1, 2},     {0x01b9, 0x01b9, -1, 1},
    {0x01bd, 0x01bd, -1, 1},     {0x01bf, 0x01bf, 56, 1},     {0x01c6, 0x01c6, -2, 1},
    {0x01c9, 0x01c9, -2, 1},     {0x01cc, 0x01cc, -2, 1},     {0x01ce, 0x01dc, -1, 2},
    {0x01dd, 0x01dd, -79, 1},    {0x01df, 0x01ef, -1, 2},     {0x01f3, 0x01f3, -2, 1},
    {0x01f5, 0x01f5, -1, 1},     {0x01f9, 0x021f, -1, 2},     {0x0223, 0x0233, -1, 2},
    {0x023c, 0x023c, -1, 1},     {0x023f, 0x0240, 10815, 1},  {0x0242, 0x0242, -1, 1},
    {0x0247, 0x024f, -1, 2},     {0x0250, 0x0250, 10783, 1},  {0x0251, 0x0251, 10780, 1},
    {0x0252, 0x0252, 10782, 1},  {0x0253, 0x0253, -210, 1},   {0x0254, 0x0254, -206, 1},
    {0x0256, 0x0257, -205, 1},   {0x0259, 0x0259, -202, 1},   {0x025b, 0x025b, -203, 1},
    {0x025c, 0x025c, 42319, 1},  {0x0260, 0x0260, -205, 1},   {0x0261, 0x0261, 42315, 1},
    {0x0263, 0x0263, -207, 1},   {0x0265, 0x0265, 42280, 1},  {0x0266, 0x0266, 42308, 1},
    {0x0268, 0x0268, -209, 1},   {0x0269, 0x0269, -211, 1},   {0x026a, 0x026a, 42308, 1},
    {0x026b, 0x026b, 10743, 1},  {0x026c, 0x026c, 42305, 1},  {0x026f, 0x026f, -211, 1},
    {0x0271, 0x0271, 10749, 1},  {0x0272, 0x0272, -213, 1},   {0x0275, 0x0275, -214, 1},
    {0x027d, 0x027d, 10727, 1},  {0x0280, 0x0280, -218, 1},   {0x0282, 0x0282, 42307, 1},
    {0x0283, 0x0283, -218, 1},   {0x0287, 0x0287, 42282, 1},  {0x0288, 0x0288, -218, 1},
    {0x0289, 0x0289, -69, 1},    {0x028a, 0x028b, -217, 1},   {0x028c, 0x028c, -71, 1},
    {0x0292, 0x0292, -219, 1},   {0x029d, 0x029d, 42261, 1},  {0x029e, 0x029e, 42258, 1},
    {0x0371, 0x0373, -1, 2},     {0x0377, 0x0377, -1, 1},     {0x037b, 0x037d, 130, 1},
    {0x03ac, 0x03ac, -38, 1},    {0x03ad, 0x03af, -37, 1},    {0x03b1, 0x03c1, -32, 1},
    {0x03c3, 0x03cb, -32, 1},    {0x03cc, 0x03cc, -64, 1},    {0x03cd, 0x03ce, -63, 1},
    {0x03d7, 0x03d7, -8, 1},     {0x03d9, 0x03ef, -1, 2},     {0x03f2, 0x03f2, 7, 1},
    {0x03f3, 0x03f3, -116, 1},   {0x03f8, 0x03f8, -1, 1},     {0x03fb, 0x03fb, -1, 1},
    {0x0430, 0x044f, -32, 1},    {0x0450, 0x045f, -80, 1},    {0x0461, 0x0481, -1, 2},
    {0x048b, 0x04bf, -1, 2},     {0x04c2, 0x04ce, -1, 2},     {0x04cf, 0x04cf, -15, 1},
    {0x04d1, 0x052f, -1, 2},     {0x0561, 0x0586, -48, 1},    {0x10d0, 0x10fa, 3008, 1},
    {0x10fd, 0x10ff, 3008, 1},   {0x13f8, 0x13fd, -8, 1},     {0x1d79, 0x1d79, 35332, 1},
    {0x1d7d, 0x1d7d, 3814, 1},   {0x1d8e, 0x1d8e, 35384, 1},  {0x1e01, 0x1e95, -1, 2},
    {0x1ea1, 0x1eff, -1, 2},     {0x1f00, 0x1f07, 8, 1},      {0x1f10, 0x1f15, 8, 1},
    {0x1f20, 0x1f27, 8, 1},      {0x1f30, 0x1f37, 8, 1},      {0x1f40, 0x1f45, 8, 1},
    {0x1f51, 0x1f57, 8, 2},      {0x1f60, 0x1f67, 8, 1},      {0x1f70, 0x1f71, 74, 1},
    {0x1f72, 0x1f75, 86, 1},     {0x1f76, 0x1f77, 100, 1},    {0x1f78, 0x1f79, 128, 1},
    {0x1f7a, 0x1f7b, 112, 1},    {0x1f7c, 0x1f7d, 126, 1},    {0x1f80, 0x1f87, 8, 1},
    {0x1f90, 0x1f97, 8, 1},      {0x1fa0, 0x1fa7, 8, 1},      {0x1fb0, 0x1fb1, 8, 1},
    {0x1fb3, 0x1fb3, 9, 1},      {0x1fc3, 0x1fc3, 9, 1},      {0x1fd0, 0x1fd1, 8, 1},
    {0x1fe0, 0x1fe1, 8, 1},      {0x1fe5, 0x1fe5, 7, 1},      {0x1ff3, 0x1ff3, 9, 1},
    {0x214e, 0x214e, -28, 1},    {0x2170, 0x217f, -16, 1},    {0x2184, 0x2184, -1, 1},
    {0x24d0, 0x24e9, -26, 1},    {0x2c30, 0x2c5f, -48, 1},    {0x2c61, 0x2c61, -1, 1},
    {0x2c65, 0x2c65, -10795, 1}, {0x2c66, 0x2c66, -10792, 1}, {0x2c68, 0x2c6c, -1, 2},
    {0x2c73, 0x2c73, -1, 1},     {0x2c76, 0x2c76, -1, 1},     {0x2c81, 0x2ce3, -1, 2},
    {0x2cec, 0x2cee, -1, 2},     {0x2cf3, 0x2cf3, -1, 1},     {0x2d00, 0x2d25, -7264, 1},
    {0x2d27, 0x2d27, -7264, 1},  {0x2d2d, 0x2d2d, -7264, 1},  {0xa641, 0xa66d, -1, 2},
    {0xa681, 0xa69b, -1, 2},     {0xa723, 0xa72f, -1, 2},     {0xa733, 0xa76f, -1, 2},
    {0xa77a, 0xa77c, -1, 2},     {0xa77f, 0xa787, -1, 2},     {0xa78c, 0xa78c, -1, 1},
    {0xa791, 0xa793, -1, 2},     {0xa794, 0xa794, 48, 1},     {0xa797, 0xa7a9, -1, 2},
    {0xa7b5, 0xa7c3, -1, 2},     {0xa7c8, 0xa7ca, -1, 2},     {0xa7d1, 0xa7d1, -1, 1},
    {0xa7d7, 0xa7d9, -1, 2},     {0xa7f6, 0xa7f6, -1, 1},     {0xab53, 0xab53, -928, 1},
    {0xab70, 0xabbf, -38864, 1}, {0xff41, 0xff5a, -32, 1}};

inline char16_t upper_case(char16_t c) {
    if (c < 0x80) {
        return c >= 'a' && c <= 'z' ? static_cast<char16_t>(c - 32) : c;
    }
    const auto* it = std::upper_bound(std::begin(kUpperCase), std::end(kUpperCase), c,
                                      [](char16_t v, const CaseRange& r) { return v < r.first; });
    if (it == std::begin(kUpperCase)) {
        return c;
    }
    --it;
    if (c > it->last || (c - it->first) % it->step != 0) {
        return c;
    }
    return static_cast<char16_t>(c + it->delta);
}

// The key under which a name is filed: names that differ only in case share it, and ordering
// by it is the enumeration order.
inline std::u16string fold(const std::u16string& name) {
    std::u16string out(name);
    for (char16_t& c : out) {
        c = upper_case(c);
    }
    return out;
}

}  // namespace platform_registry
