// Failure injection for the tests of exception safety: the allocations of the calling thread
// through operator new fail, once, at a chosen count.
#pragma once

namespace testing_support {

// The n-th allocation from now on (0: the next) throws std::bad_alloc; later ones succeed.
void FailAllocationAfter(int n) noexcept;
// Stops the injection; whether an allocation was failed since FailAllocationAfter.
bool StopFailingAllocations() noexcept;

}  // namespace testing_support
