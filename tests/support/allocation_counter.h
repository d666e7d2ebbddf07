// Counts the program's heap allocations, and can make one of them fail.
// Include in exactly one source file of a test program: it replaces the
// global operator new.
#ifndef QUON_TEST_ALLOCATION_COUNTER_H
#define QUON_TEST_ALLOCATION_COUNTER_H

#include <cstdlib>
#include <new>

namespace allocation_counter {

inline long count = 0;
// Blocks allocated and not yet freed.
inline long live = 0;
// When not 0, the allocation that brings `count` to this number throws
// std::bad_alloc instead of allocating.
inline long failing_at = 0;
// Allocations made to fail so far.
inline long failures = 0;

inline void* allocate(std::size_t size) {
    if (++count == failing_at) {
        ++failures;
        throw std::bad_alloc();
    }
    if (void* p = std::malloc(size ? size : 1)) {
        ++live;
        return p;
    }
    throw std::bad_alloc();
}

inline void release(void* p) noexcept {
    if (p) --live;
    std::free(p);
}

}  // namespace allocation_counter

void* operator new(std::size_t size) { return allocation_counter::allocate(size); }
void* operator new[](std::size_t size) { return allocation_counter::allocate(size); }
void operator delete(void* p) noexcept { allocation_counter::release(p); }
void operator delete[](void* p) noexcept { allocation_counter::release(p); }
void operator delete(void* p, std::size_t) noexcept { allocation_counter::release(p); }
void operator delete[](void* p, std::size_t) noexcept { allocation_counter::release(p); }

// Allocations made while running `f`.
template <class F>
long allocationsDuring(F f) {
    const long before = allocation_counter::count;
    f();
    return allocation_counter::count - before;
}

#endif
