// The one place of the benchmark binary that replaces operator new.
#include "../tests/support/allocation_counter.h"

#include "allocation_counter.h"

long allocationCount() { return allocation_counter::count; }
