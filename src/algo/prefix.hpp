#pragma once
// Prefix sums for windows whose length changes from position to position:
// any window is then answered in constant time as a difference of two sums.
// Only the last `history` + 1 sums are ever read, so they live in a ring
// buffer sized to the longest window the call actually asks for rather than
// to the group: memory and cache traffic follow the windows, not n.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "ring.hpp"
#include "types.hpp"
#include "window.hpp"

namespace quorbel::algo {

// The longest history a per-position window can use over positions [s, e):
// at most periods[t], and no more than the `available(t)` values before it.
template <class Available>
std::size_t longest_window(std::span<const std::uint64_t> periods, std::size_t s, std::size_t e,
                           Available&& available) {
  std::size_t longest = 0;
  for (std::size_t t = s; t < e; ++t) {
    const std::size_t w = std::min<std::uint64_t>(periods[t], available(t));
    longest = w > longest ? w : longest;
  }
  return longest;
}

// Default mode: plain (P) and position-weighted (Q, optional) prefix sums of a
// group slice from its first position on, NaN adding nothing, and the end of
// the last NaN run seen, so that "no NaN in lo .. t" is one comparison.
template <class T, bool Weighted>
class PrefixWalk {
 public:
  // `history`: the longest window (in positions) any query reaches back.
  explicit PrefixWalk(std::size_t history) : sum_(history), weighted_(Weighted ? history : 0) {
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
  Ring<T> sum_;
  Ring<T> weighted_;
  std::size_t nan_end_ = 0;
};

// NaN-skipping mode: the positions of the non-NaN values met from the start
// of the range on, with prefix sums P' and (optionally) Q' over them, the
// c-th value weighted c in Q'.
template <class T, bool Weighted>
class SkipPrefix {
 public:
  // `history`: the most values any query reaches back.
  explicit SkipPrefix(std::size_t history)
      : positions_(history), sum_(history), weighted_(Weighted ? history : 0) {
    sum_[0] = 0;
    if constexpr (Weighted) weighted_[0] = 0;
  }

  void record(std::size_t t, T v) {
    positions_[count_] = t;
    sum_[count_ + 1] = sum_[count_] + v;
    if constexpr (Weighted) weighted_[count_ + 1] = weighted_[count_] + v * static_cast<T>(count_ + 1);
    ++count_;
  }

  std::size_t count() const { return count_; }
  // The last w values lie on the w consecutive positions ending at t.
  bool consecutive(std::size_t t, std::uint64_t w) const {
    return count_ >= w && t - positions_[count_ - w] + 1 == w;
  }
  // Sums over the last w recorded values (w <= count()).
  T sum_last(std::size_t w) const { return sum_[count_] - sum_[count_ - w]; }
  T weighted_last(std::size_t w) const { return weighted_[count_] - weighted_[count_ - w]; }

 private:
  Ring<std::size_t> positions_;
  Ring<T> sum_;
  Ring<T> weighted_;
  std::size_t count_ = 0;
};

// Default mode of a per-position window: walks the group slice from its first
// position (values before the range belong to the windows), extending the
// prefix sums, and writes `value(t, periods[t], prefix)` at every non-NaN
// position of the range; NaN positions get NaN.
template <class T, bool Weighted, class Value>
void walk_prefix(std::span<T> r, std::span<const T> x, std::span<const std::uint64_t> periods, Range range,
                 Value&& value) {
  PrefixWalk<T, Weighted> prefix(longest_window(periods, range.s, range.e, [](std::size_t t) { return t + 1; }));
  for (std::size_t t = 0; t < range.e; ++t) {
    const T v = x[t];
    prefix.push(t, v);
    if (t < range.s) continue;
    const T out = value(t, periods[t], prefix);
    r[t] = is_nan(v) ? kNaN<T> : out;
  }
}

// NaN-skipping mode: records the non-NaN values of the range and writes
// `value(t, periods[t], values)` at each of them; NaN positions get NaN.
template <class T, bool Weighted, class Value>
void walk_skip_prefix(std::span<T> r, std::span<const T> x, std::span<const std::uint64_t> periods, Range range,
                      Value&& value) {
  SkipPrefix<T, Weighted> values(
      longest_window(periods, range.s, range.e, [&](std::size_t t) { return t + 1 - range.s; }));
  for (std::size_t t = range.s; t < range.e; ++t) {
    const T v = x[t];
    if (is_nan(v)) {
      r[t] = kNaN<T>;
      continue;
    }
    values.record(t, v);
    r[t] = value(t, periods[t], values);
  }
}

// The linear-weight divisor w(w+1)/2, formed in unsigned arithmetic wide
// enough not to wrap, then converted to the element type.
template <class T>
T triangle(std::uint64_t w) {
  if (w < (std::uint64_t{1} << 32)) return static_cast<T>((w * w + w) >> 1);  // the common, cheap case
  const unsigned __int128 v = static_cast<unsigned __int128>(w) * w + w;
  return static_cast<T>(v >> 1);
}

}  // namespace quorbel::algo
