// BSTR allocation: [4 bytes spare][4 bytes byte length][characters][two zero bytes].
// The spare word keeps the characters 8-byte aligned, as 64-bit Windows does.
#include "platform/nonwin/oleauto.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t kHeader = 8;
constexpr UINT kMaxBytes = 0x7FFFFFF0u;

unsigned char* block_of(BSTR b) {
    return reinterpret_cast<unsigned char*>(b) - kHeader;
}

void set_byte_length(unsigned char* block, UINT bytes) {
    const DWORD len = bytes;
    std::memcpy(block + 4, &len, sizeof len);
}

// Allocates room for `bytes` bytes plus the terminator; copies src when given, zero-fills
// otherwise.
BSTR allocate(const void* src, UINT bytes) {
    if (bytes > kMaxBytes) {
        return nullptr;
    }
    // One spare byte so that an odd byte length still ends in a whole zero WCHAR.
    auto* block = static_cast<unsigned char*>(std::malloc(kHeader + bytes + 3));
    if (block == nullptr) {
        return nullptr;
    }
    std::memset(block, 0, 4);
    set_byte_length(block, bytes);
    unsigned char* data = block + kHeader;
    if (src != nullptr) {
        std::memcpy(data, src, bytes);
    } else {
        std::memset(data, 0, bytes);
    }
    std::memset(data + bytes, 0, 3);
    return reinterpret_cast<BSTR>(data);
}

// Resizes b keeping the characters that fit; a grown tail is zero-filled. On failure b is kept.
BSTR resize(BSTR b, UINT bytes) {
    const UINT old = SysStringByteLen(b);
    auto* block = static_cast<unsigned char*>(std::realloc(block_of(b), kHeader + bytes + 3));
    if (block == nullptr) {
        return nullptr;
    }
    set_byte_length(block, bytes);
    unsigned char* data = block + kHeader;
    if (bytes > old) {
        std::memset(data + old, 0, bytes - old);
    }
    std::memset(data + bytes, 0, 3);
    return reinterpret_cast<BSTR>(data);
}

UINT string_length(const OLECHAR* s) {
    UINT n = 0;
    while (s[n] != 0) {
        ++n;
    }
    return n;
}

}  // namespace

BSTR SysAllocString(const OLECHAR* psz) {
    if (psz == nullptr) {
        return nullptr;
    }
    return SysAllocStringLen(psz, string_length(psz));
}

BSTR SysAllocStringLen(const OLECHAR* str, UINT len) {
    if (len > kMaxBytes / sizeof(OLECHAR)) {
        return nullptr;
    }
    return allocate(str, len * static_cast<UINT>(sizeof(OLECHAR)));
}

BSTR SysAllocStringByteLen(LPCSTR psz, UINT len) {
    return allocate(psz, len);
}

INT SysReAllocString(BSTR* pbstr, const OLECHAR* psz) {
    if (pbstr == nullptr) {
        return FALSE;
    }
    if (*pbstr == psz) {
        return TRUE;
    }
    // Allocate before freeing: psz may point into the old string.
    BSTR fresh = SysAllocString(psz);
    if (psz != nullptr && fresh == nullptr) {
        return FALSE;
    }
    SysFreeString(*pbstr);
    *pbstr = fresh;
    return TRUE;
}

INT SysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, UINT len) {
    if (pbstr == nullptr) {
        return FALSE;
    }
    // Windows resizes in place when given the string itself or no source, keeping the old
    // characters: callers grow a string by passing it as its own source.
    if (*pbstr != nullptr && (psz == nullptr || psz == *pbstr)) {
        if (len > kMaxBytes / sizeof(OLECHAR)) {
            return FALSE;
        }
        BSTR resized = resize(*pbstr, len * static_cast<UINT>(sizeof(OLECHAR)));
        if (resized == nullptr) {
            return FALSE;
        }
        *pbstr = resized;
        return TRUE;
    }
    BSTR fresh = SysAllocStringLen(psz, len);
    if (fresh == nullptr) {
        return FALSE;
    }
    SysFreeString(*pbstr);
    *pbstr = fresh;
    return TRUE;
}

void SysFreeString(BSTR bstr) {
    if (bstr != nullptr) {
        std::free(block_of(bstr));
    }
}

UINT SysStringByteLen(BSTR bstr) {
    if (bstr == nullptr) {
        return 0;
    }
    DWORD len;
    std::memcpy(&len, block_of(bstr) + 4, sizeof len);
    return len;
}

UINT SysStringLen(BSTR bstr) {
    return SysStringByteLen(bstr) / sizeof(OLECHAR);
}
