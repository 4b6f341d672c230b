#pragma once

#include <bit>
#include <cstddef>
#include <memory>

namespace quorbel::algo {

// The last entries of a sequence indexed from 0: entry k lives in slot k mod
// capacity, capacity a power of two above `history`.
template <class V>
class Ring {
 public:
  explicit Ring(std::size_t history)
      : mask_(std::bit_ceil(history + 1) - 1), slots_(std::make_unique_for_overwrite<V[]>(mask_ + 1)) {}
  V& operator[](std::size_t k) { return slots_[k & mask_]; }
  const V& operator[](std::size_t k) const { return slots_[k & mask_]; }

  // A read-only handle indexed like the ring.
  struct View {
    const V* slots;
    std::size_t mask;
    const V& operator[](std::size_t k) const { return slots[k & mask]; }
  };
  View view() const { return {slots_.get(), mask_}; }

 private:
  std::size_t mask_;
  std::unique_ptr<V[]> slots_;
};

}  // namespace quorbel::algo
