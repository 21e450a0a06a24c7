// Runs registration scripts: a tree of registry keys with their default and named values, written
// when a module registers and removed when it unregisters. Shared by every module that serves COM
// classes (the component and the engineering-system stand-ins).
#pragma once

#include <string>
#include <vector>

#include "platform/winapi.h"

namespace cj_registrar {

using olestring = std::basic_string<OLECHAR>;

// A %NAME% variable of a script and the text it stands for.
struct Replacement {
    olestring name;
    olestring value;
};

enum class Mode { Register, Unregister };

// Runs a script (UTF-8 text) in either direction.
//
//   HKCR
//   {
//       NoRemove CLSID                          keep this key when unregistering
//       {
//           ForceRemove {clsid} = s 'Text'      replaced whole on registering, removed whole
//           {
//               InprocServer32 = s '%MODULE%'
//               {
//                   val ThreadingModel = s 'Free'
//               }
//           }
//       }
//   }
//
// Roots: HKCR, HKCU, HKLM, HKU (or their long names). Values: s 'text' (REG_SZ) and d 'number'
// (REG_DWORD). In quoted text '' stands for ', and %% for %. Unregistering removes a key without
// either keyword only when no subkeys are left in it; keys that are missing are skipped.
//
// The script is read whole before anything is written, so a malformed script (DISP_E_EXCEPTION)
// or an unknown variable (E_INVALIDARG) changes nothing. A registration that fails part way is
// undone as far as it got. When `sandbox` is given, each root key of the script becomes a subkey
// of it named after the root ("HKCR"), so that scripts can be tried without touching the roots.
HRESULT RunScript(const char* script, size_t length, Mode mode,
                  const std::vector<Replacement>& replacements, HKEY sandbox = nullptr) noexcept;

// The full path of the module (DLL or shared library) that holds `address`.
HRESULT ModulePathOf(const void* address, olestring& path) noexcept;

// Runs a module's script with %MODULE% set to the path of the module that holds `address`.
HRESULT RunModuleScript(const char* script, size_t length, Mode mode, const void* address) noexcept;

}  // namespace cj_registrar
