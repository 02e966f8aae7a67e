#include "testing/AllocationCounter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<long long> gAllocations{0};
std::atomic<long long> gFrees{0};
thread_local long long tAllocations = 0;

void CountAllocation() {
  gAllocations.fetch_add(1, std::memory_order_relaxed);
  ++tAllocations;
}

void Free(void* p) {
  if (p != nullptr) {
    gFrees.fetch_add(1, std::memory_order_relaxed);
    std::free(p);
  }
}

}  // namespace

namespace talvik_count {

long long ProcessAllocations() {
  return gAllocations.load();
}

long long ThreadAllocations() {
  return tAllocations;
}

long long LiveAllocations() {
  return gAllocations.load() - gFrees.load();
}

}  // namespace talvik_count

[[gnu::noinline]] void* operator new(std::size_t size) {
  CountAllocation();
  if (void* p = std::malloc(size == 0 ? 1 : size)) {
    return p;
  }
  throw std::bad_alloc();
}
[[gnu::noinline]] void* operator new[](std::size_t size) {
  return operator new(size);
}
[[gnu::noinline]] void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  CountAllocation();
  return std::malloc(size == 0 ? 1 : size);
}
[[gnu::noinline]] void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
[[gnu::noinline]] void operator delete(void* p) noexcept {
  Free(p);
}
[[gnu::noinline]] void operator delete[](void* p) noexcept {
  Free(p);
}
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept {
  Free(p);
}
[[gnu::noinline]] void operator delete[](void* p, std::size_t) noexcept {
  Free(p);
}
