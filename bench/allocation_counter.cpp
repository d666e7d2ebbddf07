#include "allocation_counter.h"

#include <cstdlib>
#include <new>

namespace allocation_counter {
uint64_t allocations = 0;
}

void* operator new(std::size_t size) {
    ++allocation_counter::allocations;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
