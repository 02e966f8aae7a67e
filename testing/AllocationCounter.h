#pragma once
// ProcessAllocations and ThreadAllocations: count the allocations of a program (a benchmark, or a
// test that watches for leaks). Linking AllocationCounter.cpp replaces the global operator new and
// delete with counting versions over malloc and free.

namespace talvik_count {

// Allocations since the program started, by every thread.
long long ProcessAllocations();
// Allocations by the calling thread.
long long ThreadAllocations();
// Blocks allocated and not yet freed, by every thread.
long long LiveAllocations();

}  // namespace talvik_count
