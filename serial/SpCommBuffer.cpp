#include "serial/SpCommBuffer.h"

#include <cstring>

TSpCommBuffer::TSpCommBuffer(std::int32_t capacity)
    : FData(new std::uint8_t[capacity > 0 ? capacity : 1]),
      FCapacity(capacity > 0 ? capacity : 0) {}

void TSpCommBuffer::Append(const void* source, std::int32_t count) {
  const std::int32_t size = Size();
  if (count > 0) {
    std::memcpy(FData.get() + size, source, static_cast<std::size_t>(count));
    FSize.store(size + count, std::memory_order_release);
  }
}

void TSpCommBuffer::Remove(std::int32_t count) {
  const std::int32_t size = Size();
  if (count <= 0) {
    return;
  }
  if (count > size) {
    count = size;
  }
  std::memmove(FData.get(), FData.get() + count, static_cast<std::size_t>(size - count));
  FSize.store(size - count, std::memory_order_release);
}
