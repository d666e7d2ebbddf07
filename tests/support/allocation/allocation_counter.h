// Counts the program's heap allocations, and can make one of them fail.
// Linking the quon_allocation_counter library replaces the global
// operator new of the whole program (the string library's included).
#ifndef QUON_TEST_ALLOCATION_COUNTER_H
#define QUON_TEST_ALLOCATION_COUNTER_H

namespace allocation_counter {

extern long count;
// Blocks allocated and not yet freed.
extern long live;
// When not 0, the allocation that brings `count` to this number throws
// std::bad_alloc instead of allocating.
extern long failing_at;
// Allocations made to fail so far.
extern long failures;

}  // namespace allocation_counter

// Allocations made while running `f`.
template <class F>
long allocationsDuring(F f) {
    const long before = allocation_counter::count;
    f();
    return allocation_counter::count - before;
}

#endif
