#include "allocation_counter.h"

#include <cstdlib>
#include <new>

namespace allocation_counter {

long count = 0;
long live = 0;
long failing_at = 0;
long failures = 0;

namespace {

void* allocate(std::size_t size) {
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

void release(void* p) noexcept {
    if (p) --live;
    std::free(p);
}

}  // namespace

}  // namespace allocation_counter

void* operator new(std::size_t size) { return allocation_counter::allocate(size); }
void* operator new[](std::size_t size) { return allocation_counter::allocate(size); }
void operator delete(void* p) noexcept { allocation_counter::release(p); }
void operator delete[](void* p) noexcept { allocation_counter::release(p); }
void operator delete(void* p, std::size_t) noexcept { allocation_counter::release(p); }
void operator delete[](void* p, std::size_t) noexcept { allocation_counter::release(p); }
