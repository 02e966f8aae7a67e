#pragma once
// TSpSet: a small typed set of enumeration values, stored as a bit mask (bit n for ordinal n).

#include <cstdint>
#include <initializer_list>

template <class E, class Bits>
class TSpSet {
 public:
  constexpr TSpSet() = default;
  constexpr TSpSet(std::initializer_list<E> items) {
    for (E item : items) {
      insert(item);
    }
  }

  // Bits outside the enumeration's `count` values are dropped.
  static constexpr TSpSet FromBits(Bits bits, unsigned count) {
    TSpSet set;
    set.FBits = static_cast<Bits>(bits & ((1u << count) - 1u));
    return set;
  }

  constexpr bool contains(E item) const { return (FBits & Bit(item)) != 0; }
  constexpr TSpSet& insert(E item) {
    FBits = static_cast<Bits>(FBits | Bit(item));
    return *this;
  }
  constexpr TSpSet& erase(E item) {
    FBits = static_cast<Bits>(FBits & ~Bit(item));
    return *this;
  }
  constexpr bool empty() const { return FBits == 0; }
  constexpr Bits bits() const { return FBits; }

  friend constexpr bool operator==(TSpSet, TSpSet) = default;

 private:
  static constexpr Bits Bit(E item) { return static_cast<Bits>(1u << static_cast<unsigned>(item)); }

  Bits FBits = 0;
};
