// The YDB data object class served in a benchmark's process, on a thread in the multithreaded
// apartment, for the whole run.
#pragma once

#include <cstdlib>
#include <memory>

#include "engsys/ydbdata_class.h"

namespace bench {

inline void ServeYdbDataClass() {
    static const auto served = [] {
        (void)CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        return std::make_unique<testing_support::YdbDataClass>();
    }();
    if (!served->ready()) {
        std::abort();
    }
}

}  // namespace bench
