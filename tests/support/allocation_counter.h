// Counts the program's heap allocations. Include in exactly one source
// file of a test program: it replaces the global operator new.
#ifndef QUON_TEST_ALLOCATION_COUNTER_H
#define QUON_TEST_ALLOCATION_COUNTER_H

#include <cstdlib>
#include <new>

namespace allocation_counter {
inline long count = 0;
}

void* operator new(std::size_t size) {
    ++allocation_counter::count;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

// Allocations made while running `f`.
template <class F>
long allocationsDuring(F f) {
    const long before = allocation_counter::count;
    f();
    return allocation_counter::count - before;
}

#endif
