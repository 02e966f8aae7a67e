#include "platform/host/HostAliases.h"

#include <cstdint>

namespace win::host {
namespace {

std::uint32_t Fnv1a(const std::string& text) {
  std::uint32_t hash = 2166136261u;
  for (const char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 16777619u;
  }
  return hash;
}

}  // namespace

int HostAliases::NumberFor(const std::string& key) {
  if (const auto it = byKey_.find(key); it != byKey_.end()) {
    return it->second;
  }
  constexpr int kSpan = kLast - kFirst + 1;
  const int start = static_cast<int>(Fnv1a(key) % kSpan);
  for (int step = 0; step < kSpan; ++step) {
    const int number = kFirst + (start + step) % kSpan;
    if (taken_.insert(number).second) {
      byKey_.emplace(key, number);
      return number;
    }
  }
  // All 900 numbers remembered: reuse the hashed slot rather than fail.
  return kFirst + start;
}

}  // namespace win::host
