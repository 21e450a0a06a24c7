// Shared between the parts of the COM runtime; not part of the platform's interface.
#pragma once

#include "platform/nonwin/objidl.h"

namespace platform_internal {

// True when the calling thread may use COM: it initialized it, or the process has a
// multithreaded apartment that it implicitly belongs to.
bool com_initialized();

// The process's one global interface table (no reference is added).
IGlobalInterfaceTable* global_interface_table();

}  // namespace platform_internal
