// Heap allocations of the whole program so far (the string library's
// included): the benchmark binary replaces the global operator new.
#ifndef QUON_BENCH_ALLOCATION_COUNTER_H
#define QUON_BENCH_ALLOCATION_COUNTER_H

long allocationCount();

#endif
