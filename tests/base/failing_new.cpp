// Replaces the global operator new of the test program so that one allocation of a thread can
// be made to fail; everything else goes to malloc as usual.
#include "failing_new.h"

#include <cstdlib>
#include <new>

namespace {

thread_local int t_countdown = -1;  // -1: no failure pending
thread_local bool t_failed = false;

void* Allocate(std::size_t size) {
    if (t_countdown == 0) {
        t_countdown = -1;
        t_failed = true;
        throw std::bad_alloc();
    }
    if (t_countdown > 0) {
        --t_countdown;
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}

}  // namespace

void testing_support::FailAllocationAfter(int n) noexcept {
    t_failed = false;
    t_countdown = n;
}

bool testing_support::StopFailingAllocations() noexcept {
    t_countdown = -1;
    return t_failed;
}

void* operator new(std::size_t size) {
    return Allocate(size);
}
void* operator new[](std::size_t size) {
    return Allocate(size);
}
// The nothrow forms are replaced too, so that every form pairs with the delete below; they are
// never made to fail.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size == 0 ? 1 : size);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
