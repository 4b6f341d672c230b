#pragma once
// Prefix sums for windows whose length changes from position to position:
// any window is then answered in constant time as a difference of two sums.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "types.hpp"

namespace quorbel::algo {

// Default mode: plain (P) and position-weighted (Q, optional) prefix sums of a
// group slice from its first position on, NaN adding nothing, and the end of
// the last NaN run seen, so that "no NaN in lo .. t" is one comparison.
template <class T, bool Weighted>
class PrefixWalk {
 public:
  explicit PrefixWalk(std::size_t e)
      : sum_(std::make_unique_for_overwrite<T[]>(e + 1)),
        weighted_(Weighted ? std::make_unique_for_overwrite<T[]>(e + 1) : nullptr) {
    sum_[0] = 0;
    if constexpr (Weighted) weighted_[0] = 0;
  }

  // Extends the sums by position t (called for t = 0, 1, ... in order).
  void push(std::size_t t, T v) {
    if (is_nan(v)) {
      nan_end_ = t + 1;
      sum_[t + 1] = sum_[t];
      if constexpr (Weighted) weighted_[t + 1] = weighted_[t];
    } else {
      sum_[t + 1] = sum_[t] + v;
      if constexpr (Weighted) weighted_[t + 1] = weighted_[t] + v * static_cast<T>(t + 1);
    }
  }

  // No NaN among positions lo .. t (t the last position pushed).
  bool clean(std::size_t lo) const { return nan_end_ <= lo; }
  // P[b] - P[a] and Q[b] - Q[a].
  T sum(std::size_t a, std::size_t b) const { return sum_[b] - sum_[a]; }
  T weighted(std::size_t a, std::size_t b) const { return weighted_[b] - weighted_[a]; }

 private:
  std::unique_ptr<T[]> sum_;
  std::unique_ptr<T[]> weighted_;
  std::size_t nan_end_ = 0;
};

// NaN-skipping mode: the positions of the non-NaN values met from the start
// of the range on, with prefix sums P' and (optionally) Q' over them, the
// c-th value weighted c in Q'.
template <class T, bool Weighted>
class SkipPrefix {
 public:
  explicit SkipPrefix(std::size_t capacity) {
    positions_.reserve(capacity);
    sum_.reserve(capacity + 1);
    sum_.push_back(0);
    if constexpr (Weighted) {
      weighted_.reserve(capacity + 1);
      weighted_.push_back(0);
    }
  }

  void record(std::size_t t, T v) {
    positions_.push_back(t);
    sum_.push_back(sum_.back() + v);
    if constexpr (Weighted) weighted_.push_back(weighted_.back() + v * static_cast<T>(positions_.size()));
  }

  std::size_t count() const { return positions_.size(); }
  // The last w values lie on the w consecutive positions ending at t.
  bool consecutive(std::size_t t, std::uint64_t w) const {
    return count() >= w && t - positions_[count() - w] + 1 == w;
  }
  // Sums over the last w recorded values (w <= count()).
  T sum_last(std::size_t w) const { return sum_[count()] - sum_[count() - w]; }
  T weighted_last(std::size_t w) const { return weighted_[count()] - weighted_[count() - w]; }

 private:
  std::vector<std::size_t> positions_;
  std::vector<T> sum_;
  std::vector<T> weighted_;
};

// The linear-weight divisor w(w+1)/2, formed in unsigned arithmetic wide
// enough not to wrap, then converted to the element type.
template <class T>
T triangle(std::uint64_t w) {
  const unsigned __int128 v = static_cast<unsigned __int128>(w) * w + w;
  return static_cast<T>(v >> 1);
}

}  // namespace quorbel::algo
