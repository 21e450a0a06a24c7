// A COM object that counts its references, for tests that check AddRef/Release balance.
#pragma once

#include "platform/com_object.h"
#include "platform/winapi.h"

namespace testing_support {

// Stack-allocated in tests: reaching zero does not delete.
class CountingUnknown
    : public platform::ComObject<CountingUnknown, platform::CallerOwned, IUnknown> {};

}  // namespace testing_support
