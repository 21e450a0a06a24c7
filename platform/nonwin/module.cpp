// Modules as shared libraries, the thread's last error, local memory, system message texts and
// UTF-8/UTF-16 conversion.
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include "platform/nonwin/module.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/nonwin/kernel.h"
#include "platform/nonwin/objidl.h"
#include "platform/nonwin/registry_text.h"

namespace {

thread_local DWORD t_lastError = ERROR_SUCCESS;
thread_local std::string t_loadError;

std::string to_utf8(const WCHAR* s, size_t n) {
    return platform_registry::utf16_to_utf8(s, n);
}

std::u16string to_utf16(const char* s, size_t n) {
    return platform_registry::utf8_to_utf16(s, n);
}

size_t wlen(const WCHAR* s) {
    size_t n = 0;
    while (s[n] != 0) {
        ++n;
    }
    return n;
}

// Copies text plus a terminator into a caller's buffer of `size` units; on truncation the
// buffer holds as much as fits plus a terminator and the result is `size` (as Windows Vista on).
template <class Ch>
DWORD copy_truncated(const std::basic_string<Ch>& text, Ch* buf, DWORD size) {
    if (size == 0) {
        t_lastError = ERROR_INSUFFICIENT_BUFFER;
        return 0;
    }
    if (text.size() < size) {
        std::memcpy(buf, text.data(), text.size() * sizeof(Ch));
        buf[text.size()] = 0;
        t_lastError = ERROR_SUCCESS;
        return static_cast<DWORD>(text.size());
    }
    std::memcpy(buf, text.data(), (size - 1) * sizeof(Ch));
    buf[size - 1] = 0;
    t_lastError = ERROR_INSUFFICIENT_BUFFER;
    return size;
}

// ---- modules ----

bool ends_with_ci(const std::string& s, const char* suffix) {
    const size_t n = std::strlen(suffix);
    if (s.size() < n) {
        return false;
    }
    for (size_t i = 0; i < n; ++i) {
        if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) != suffix[i]) {
            return false;
        }
    }
    return true;
}

// "dir\bsttrace.dll" -> ("dir/", "libbsttrace.so"); names of shared libraries stay as they are.
void map_module_name(std::string name, std::string& dir, std::string& file) {
    for (char& c : name) {
        if (c == '\\') {
            c = '/';
        }
    }
    const size_t slash = name.rfind('/');
    dir = slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
    file = slash == std::string::npos ? name : name.substr(slash + 1);
    if (file.find(".so") != std::string::npos && !ends_with_ci(file, ".dll")) {
        return;
    }
    if (ends_with_ci(file, ".dll")) {
        file.resize(file.size() - 4);
    } else if (file.find('.') != std::string::npos) {
        return;  // another extension: the caller named an exact file
    }
    file = "lib" + file + ".so";
}

std::string directory_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string program_path() {
    char buf[4096];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

std::string module_path_containing(const void* address) {
    Dl_info info{};
    if (address != nullptr && dladdr(address, &info) != 0 && info.dli_fname != nullptr) {
        return info.dli_fname;
    }
    return std::string();
}

HMODULE as_module(void* handle) {
    return static_cast<HMODULE>(handle);
}

HMODULE load_module(const std::string& name, const void* caller) {
    std::string dir, file;
    map_module_name(name, dir, file);
    void* handle = nullptr;
    std::string lastError;
    bool foundError = false;
    auto attempt = [&](const std::string& path) {
        if (handle == nullptr) {
            handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (handle == nullptr) {
                // A file that is there but will not load says more than a later miss.
                const char* e = dlerror();
                const bool found =
                    path.find('/') != std::string::npos && access(path.c_str(), F_OK) == 0;
                if (lastError.empty() || !foundError) {
                    lastError = e != nullptr ? e : path;
                    foundError = found;
                }
            }
        }
    };
    if (!dir.empty()) {
        if (dir[0] != '/') {
            // Made absolute, as Windows keeps a module's full path: GetModuleFileName must name
            // the module from any folder (a registered server's path, for one).
            char cwd[4096];
            if (getcwd(cwd, sizeof cwd) != nullptr) {
                dir = std::string(cwd) + "/" + dir;
            } else if (dir[0] != '.') {
                dir = "./" + dir;  // a relative folder, not a name for the library path
            }
        }
        attempt(dir + file);
    } else {
        // Beside the module that asks, beside the program, then the library path.
        const std::string callerDir = directory_of(module_path_containing(caller));
        if (!callerDir.empty()) {
            attempt(callerDir + file);
        }
        const std::string programDir = directory_of(program_path());
        if (!programDir.empty() && programDir != callerDir) {
            attempt(programDir + file);
        }
        attempt(file);
    }
    if (handle == nullptr) {
        std::string message = "LoadLibrary(" + name + "): " + lastError + "\n";
        OutputDebugStringA(message.c_str());
        t_lastError = ERROR_MOD_NOT_FOUND;
        t_loadError = lastError;
        return nullptr;
    }
    t_loadError.clear();
    return as_module(handle);
}

struct FindLoaded {
    std::string file;
    std::string path;
};

int match_loaded(dl_phdr_info* info, size_t, void* data) {
    auto* find = static_cast<FindLoaded*>(data);
    if (info->dlpi_name == nullptr || info->dlpi_name[0] == 0) {
        return 0;
    }
    const std::string path = info->dlpi_name;
    const size_t slash = path.rfind('/');
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    if (base == find->file || path == find->file) {
        find->path = path;
        return 1;
    }
    return 0;
}

HMODULE loaded_module(const std::string& name) {
    std::string dir, file;
    map_module_name(name, dir, file);
    FindLoaded find{dir.empty() ? file : dir + file, {}};
    dl_iterate_phdr(match_loaded, &find);
    if (find.path.empty()) {
        return nullptr;
    }
    void* handle = dlopen(find.path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle != nullptr) {
        dlclose(handle);  // a module handle does not keep the module loaded
    }
    return as_module(handle);
}

std::string module_file_name(HMODULE module) {
    if (module == nullptr) {
        return program_path();
    }
    link_map* map = nullptr;
    if (dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) {
        return std::string();
    }
    if (map->l_name == nullptr || map->l_name[0] == 0) {
        return program_path();
    }
    return map->l_name;
}

// ---- message texts ----

struct MessageText {
    DWORD id;
    const char* text;
};

// The system's texts for the codes COM, OLE Automation and the registry answer with.
const MessageText kMessages[] = {
    {0x00000000, "The operation completed successfully."},
    {0x00000002, "The system cannot find the file specified."},
    {0x00000003, "The system cannot find the path specified."},
    {0x00000005, "Access is denied."},
    {0x00000006, "The handle is invalid."},
    {0x00000008, "Not enough memory resources are available to process this command."},
    {0x0000000E, "Not enough memory resources are available to complete this operation."},
    {0x00000057, "The parameter is incorrect."},
    {0x0000007A, "The data area passed to a system call is too small."},
    {0x0000007E, "The specified module could not be found."},
    {0x0000007F, "The specified procedure could not be found."},
    {0x000000EA, "More data is available."},
    {0x00000103, "No more data is available."},
    {0x000003F2, "The configuration registry key is invalid."},
    {0x000003FA,
     "Illegal operation attempted on a registry key that has been marked for deletion."},
    {0x80004001, "Not implemented"},
    {0x80004002, "No such interface supported"},
    {0x80004003, "Invalid pointer"},
    {0x80004004, "Operation aborted"},
    {0x80004005, "Unspecified error"},
    {0x8000FFFF, "Catastrophic failure"},
    {0x80010106, "Cannot change thread mode after it is set."},
    {0x80020005, "Type mismatch."},
    {0x80020008, "Bad variable type."},
    {0x80020009, "Exception occurred."},
    {0x8002000A, "Out of present range."},
    {0x8002000B, "Invalid index."},
    {0x8002000D, "Memory is locked."},
    {0x80030001, "Unable to perform requested operation."},
    {0x80030009, "The storage operation used an invalid pointer."},
    {0x80040110, "Class does not support aggregation (or class object is remote)"},
    {0x80040111, "ClassFactory cannot supply requested class"},
    {0x80040154, "Class not registered"},
    {0x800401F0, "CoInitialize has not been called."},
    {0x800401F3, "Invalid class string"},
    {0x800401F4, "Invalid interface string"},
    {0x800401F9, "Error in the DLL"},
};

const char* message_text(DWORD id) {
    // HRESULTs of Win32 errors share the Win32 texts.
    if ((id & 0xFFFF0000u) == 0x80070000u) {
        id &= 0xFFFFu;
    }
    for (const MessageText& m : kMessages) {
        if (m.id == id) {
            return m.text;
        }
    }
    return nullptr;
}

template <class Ch>
DWORD format_message(DWORD flags, DWORD id, const std::basic_string<Ch>& text, Ch* buffer,
                     DWORD size) {
    (void)id;
    if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        auto** out = reinterpret_cast<Ch**>(buffer);
        if (out == nullptr) {
            t_lastError = ERROR_INVALID_PARAMETER;
            return 0;
        }
        const size_t units = std::max<size_t>(text.size() + 1, size);
        auto* mem = static_cast<Ch*>(LocalAlloc(LPTR, units * sizeof(Ch)));
        if (mem == nullptr) {
            t_lastError = ERROR_NOT_ENOUGH_MEMORY;
            return 0;
        }
        std::memcpy(mem, text.data(), text.size() * sizeof(Ch));
        *out = mem;
        return static_cast<DWORD>(text.size());
    }
    if (buffer == nullptr || text.size() + 1 > size) {
        t_lastError = ERROR_INSUFFICIENT_BUFFER;
        return 0;
    }
    std::memcpy(buffer, text.data(), text.size() * sizeof(Ch));
    buffer[text.size()] = 0;
    return static_cast<DWORD>(text.size());
}

// Returns the message with its line break, or null (and the last error) when there is none.
const char* system_message(DWORD flags, DWORD id) {
    if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM)) {
        t_lastError = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    const char* text = message_text(id);
    if (text == nullptr) {
        t_lastError = ERROR_MR_MID_NOT_FOUND;
    }
    return text;
}

}  // namespace

DWORD GetLastError() {
    return t_lastError;
}
void SetLastError(DWORD dwErrCode) {
    t_lastError = dwErrCode;
}

HLOCAL LocalAlloc(UINT uFlags, SIZE_T uBytes) {
    void* p = std::malloc(uBytes == 0 ? 1 : uBytes);
    if (p == nullptr) {
        t_lastError = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    if (uFlags & LMEM_ZEROINIT) {
        std::memset(p, 0, uBytes);
    }
    return p;
}

HLOCAL LocalFree(HLOCAL hMem) {
    std::free(hMem);
    return nullptr;
}

HMODULE LoadLibraryW(LPCWSTR name) {
    if (name == nullptr) {
        t_lastError = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    return load_module(to_utf8(name, wlen(name)), __builtin_return_address(0));
}

HMODULE LoadLibraryA(LPCSTR name) {
    if (name == nullptr) {
        t_lastError = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    return load_module(name, __builtin_return_address(0));
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
    void* handle = module != nullptr ? static_cast<void*>(module) : dlopen(nullptr, RTLD_NOW);
    void* sym = name != nullptr ? dlsym(handle, name) : nullptr;
    if (sym == nullptr) {
        t_lastError = ERROR_PROC_NOT_FOUND;
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(sym);
}

BOOL FreeLibrary(HMODULE module) {
    if (module == nullptr || dlclose(module) != 0) {
        t_lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    return TRUE;
}

HMODULE GetModuleHandleA(LPCSTR name) {
    if (name == nullptr) {
        return as_module(dlopen(nullptr, RTLD_NOW));
    }
    HMODULE m = loaded_module(name);
    if (m == nullptr) {
        t_lastError = ERROR_MOD_NOT_FOUND;
    }
    return m;
}

HMODULE GetModuleHandleW(LPCWSTR name) {
    if (name == nullptr) {
        return GetModuleHandleA(nullptr);
    }
    return GetModuleHandleA(to_utf8(name, wlen(name)).c_str());
}

BOOL GetModuleHandleExA(DWORD flags, LPCSTR name, HMODULE* out) {
    if (out == nullptr) {
        t_lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    *out = nullptr;
    if (!(flags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS)) {
        *out = GetModuleHandleA(name);
        if (*out == nullptr) {
            return FALSE;
        }
        if (!(flags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT) && name != nullptr) {
            dlopen(module_file_name(*out).c_str(), RTLD_NOW | RTLD_NOLOAD);  // one more load
        }
        return TRUE;
    }
    Dl_info info{};
    link_map* map = nullptr;
    if (name == nullptr ||
        dladdr1(name, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0 ||
        map == nullptr) {
        t_lastError = ERROR_MOD_NOT_FOUND;
        return FALSE;
    }
    void* handle = nullptr;
    if (map->l_name == nullptr || map->l_name[0] == 0) {
        handle = dlopen(nullptr, RTLD_NOW);  // the program itself
    } else {
        handle = dlopen(map->l_name, RTLD_NOW | RTLD_NOLOAD);
        if (handle != nullptr && (flags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT)) {
            dlclose(handle);
        }
    }
    if (handle == nullptr) {
        t_lastError = ERROR_MOD_NOT_FOUND;
        return FALSE;
    }
    *out = as_module(handle);
    return TRUE;
}

BOOL GetModuleHandleExW(DWORD flags, LPCWSTR name, HMODULE* out) {
    if ((flags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) || name == nullptr) {
        return GetModuleHandleExA(flags, reinterpret_cast<LPCSTR>(name), out);
    }
    return GetModuleHandleExA(flags, to_utf8(name, wlen(name)).c_str(), out);
}

DWORD GetModuleFileNameA(HMODULE module, LPSTR buf, DWORD size) {
    const std::string path = module_file_name(module);
    if (path.empty()) {
        t_lastError = ERROR_MOD_NOT_FOUND;
        return 0;
    }
    return copy_truncated(path, buf, size);
}

DWORD GetModuleFileNameW(HMODULE module, LPWSTR buf, DWORD size) {
    const std::string path = module_file_name(module);
    if (path.empty()) {
        t_lastError = ERROR_MOD_NOT_FOUND;
        return 0;
    }
    return copy_truncated(to_utf16(path.data(), path.size()), buf, size);
}

BOOL DisableThreadLibraryCalls(HMODULE) {
    return TRUE;
}

DWORD FormatMessageW(DWORD flags, LPCVOID, DWORD id, DWORD, LPWSTR buffer, DWORD size, va_list*) {
    const char* text = system_message(flags, id);
    if (text == nullptr) {
        return 0;
    }
    const std::string line = std::string(text) + "\r\n";
    return format_message(flags, id, to_utf16(line.data(), line.size()), buffer, size);
}

DWORD FormatMessageA(DWORD flags, LPCVOID, DWORD id, DWORD, LPSTR buffer, DWORD size, va_list*) {
    const char* text = system_message(flags, id);
    if (text == nullptr) {
        return 0;
    }
    return format_message(flags, id, std::string(text) + "\r\n", buffer, size);
}

int MultiByteToWideChar(UINT, DWORD, LPCSTR src, int srcLen, LPWSTR dest, int destLen) {
    if (src == nullptr || srcLen == 0 || destLen < 0) {
        t_lastError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    // A length of -1 means up to and including the terminator.
    const size_t n = srcLen < 0 ? std::strlen(src) + 1 : static_cast<size_t>(srcLen);
    const std::u16string wide = to_utf16(src, n);
    if (destLen == 0) {
        return static_cast<int>(wide.size());
    }
    if (dest == nullptr || wide.size() > static_cast<size_t>(destLen)) {
        t_lastError = ERROR_INSUFFICIENT_BUFFER;
        return 0;
    }
    std::memcpy(dest, wide.data(), wide.size() * sizeof(WCHAR));
    return static_cast<int>(wide.size());
}

int WideCharToMultiByte(UINT, DWORD, LPCWSTR src, int srcLen, LPSTR dest, int destLen, LPCSTR,
                        LPBOOL usedDefault) {
    if (src == nullptr || srcLen == 0 || destLen < 0) {
        t_lastError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    if (usedDefault != nullptr) {
        *usedDefault = FALSE;
    }
    const size_t n = srcLen < 0 ? wlen(src) + 1 : static_cast<size_t>(srcLen);
    const std::string narrow = to_utf8(src, n);
    if (destLen == 0) {
        return static_cast<int>(narrow.size());
    }
    if (dest == nullptr || narrow.size() > static_cast<size_t>(destLen)) {
        t_lastError = ERROR_INSUFFICIENT_BUFFER;
        return 0;
    }
    std::memcpy(dest, narrow.data(), narrow.size());
    return static_cast<int>(narrow.size());
}

const char* PlatformLastLoadError() {
    return t_loadError.c_str();
}
