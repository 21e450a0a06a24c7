// String forms of GUIDs: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
#include "platform/nonwin/guid.h"
#include "platform/nonwin/objidl.h"

namespace {

int hex_value(OLECHAR c) {
    if (c >= u'0' && c <= u'9') {
        return c - u'0';
    }
    if (c >= u'a' && c <= u'f') {
        return c - u'a' + 10;
    }
    if (c >= u'A' && c <= u'F') {
        return c - u'A' + 10;
    }
    return -1;
}

// Reads `digits` hex digits at s[pos]; false on any non-hex character (the terminator included,
// so reading never passes the end of a short string).
template <class T>
bool read_hex(LPCOLESTR s, int pos, int digits, T& out) {
    T v = 0;
    for (int i = 0; i < digits; ++i) {
        const int h = hex_value(s[pos + i]);
        if (h < 0) {
            return false;
        }
        v = static_cast<T>((v << 4) | static_cast<T>(h));
    }
    out = v;
    return true;
}

bool parse_braced_guid(LPCOLESTR s, GUID& g) {
    if (s[0] != u'{') {
        return false;
    }
    GUID r{};
    if (!read_hex(s, 1, 8, r.Data1) || s[9] != u'-' || !read_hex(s, 10, 4, r.Data2) ||
        s[14] != u'-' || !read_hex(s, 15, 4, r.Data3) || s[19] != u'-' ||
        !read_hex(s, 20, 2, r.Data4[0]) || !read_hex(s, 22, 2, r.Data4[1]) || s[24] != u'-') {
        return false;
    }
    for (int i = 0; i < 6; ++i) {
        if (!read_hex(s, 25 + 2 * i, 2, r.Data4[2 + i])) {
            return false;
        }
    }
    if (s[37] != u'}' || s[38] != 0) {
        return false;
    }
    g = r;
    return true;
}

size_t length(LPCOLESTR s) {
    size_t n = 0;
    while (s[n] != 0) {
        ++n;
    }
    return n;
}

}  // namespace

int StringFromGUID2(REFGUID g, LPOLESTR out, int cchMax) {
    if (out == nullptr || cchMax < CHARS_IN_GUID) {
        return 0;
    }
    static const char digits[] = "0123456789ABCDEF";
    int pos = 0;
    auto put_hex = [&](unsigned long long v, int n) {
        for (int i = n - 1; i >= 0; --i) {
            out[pos++] = static_cast<OLECHAR>(digits[(v >> (4 * i)) & 0xF]);
        }
    };
    out[pos++] = u'{';
    put_hex(g.Data1, 8);
    out[pos++] = u'-';
    put_hex(g.Data2, 4);
    out[pos++] = u'-';
    put_hex(g.Data3, 4);
    out[pos++] = u'-';
    put_hex(g.Data4[0], 2);
    put_hex(g.Data4[1], 2);
    out[pos++] = u'-';
    for (int i = 2; i < 8; ++i) {
        put_hex(g.Data4[i], 2);
    }
    out[pos++] = u'}';
    out[pos++] = 0;
    return pos;
}

HRESULT CLSIDFromString(LPCOLESTR s, LPCLSID pclsid) {
    if (pclsid == nullptr) {
        return E_INVALIDARG;
    }
    if (s == nullptr) {
        *pclsid = CLSID_NULL;
        return S_OK;
    }
    if (parse_braced_guid(s, *pclsid)) {
        return S_OK;
    }
    // Anything that is not a braced GUID may be a ProgID.
    if (s[0] != u'{' && s[0] != 0) {
        return CLSIDFromProgID(s, pclsid);
    }
    return CO_E_CLASSSTRING;
}

HRESULT IIDFromString(LPCOLESTR s, LPIID piid) {
    if (piid == nullptr) {
        return E_INVALIDARG;
    }
    if (s == nullptr) {
        *piid = IID_NULL;
        return S_OK;
    }
    if (length(s) + 1 != CHARS_IN_GUID) {
        return E_INVALIDARG;
    }
    return parse_braced_guid(s, *piid) ? S_OK : CO_E_IIDSTRING;
}
