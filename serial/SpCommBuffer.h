#pragma once
// TSpCommBuffer: the write thread's queue: one block allocated once; unsent bytes always start at
// Data().

#include <atomic>
#include <cstdint>
#include <memory>

class TSpCommBuffer {
 public:
  explicit TSpCommBuffer(std::int32_t capacity);

  std::uint8_t* Data() const { return FData.get(); }
  // Read without the owner's lock by the room test; changed only under it.
  std::int32_t Size() const { return FSize.load(std::memory_order_acquire); }
  std::int32_t Capacity() const { return FCapacity; }

  // Copies count bytes behind the queued ones. The caller guarantees the room.
  void Append(const void* source, std::int32_t count);
  // Drops the first count bytes and moves the rest down to Data().
  void Remove(std::int32_t count);

 private:
  std::unique_ptr<std::uint8_t[]> FData;
  std::int32_t FCapacity;
  std::atomic<std::int32_t> FSize{0};
};
