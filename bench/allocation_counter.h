// Counts heap allocations of the whole program (the string library's
// included): the benchmark binary replaces the global operator new.
#ifndef QUON_BENCH_ALLOCATION_COUNTER_H
#define QUON_BENCH_ALLOCATION_COUNTER_H

#include <cstdint>

namespace allocation_counter {
extern uint64_t allocations;
}

#endif
