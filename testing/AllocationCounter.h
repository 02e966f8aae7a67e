#pragma once
// Counts the allocations of a benchmark program. Linking AllocationCounter.cpp replaces the
// global operator new and delete with counting versions over malloc and free.

namespace talvik_bench {

// Allocations since the program started, by every thread.
long long ProcessAllocations();
// Allocations by the calling thread.
long long ThreadAllocations();

}  // namespace talvik_bench
