// A module with one export, for loading, lookup and unloading tests.
#include "platform/winapi.h"

PLATFORM_EXPORT int CjPlainAnswer() {
    return 42;
}
