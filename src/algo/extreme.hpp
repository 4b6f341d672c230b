#pragma once
// Window extremes: the comparison that decides which of two values is the
// better extreme, the monotonic queue (per-position windows), and the
// queue-free block engine (fixed windows).

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <type_traits>

#include "context.hpp"
#include "types.hpp"
#include "window.hpp"

namespace quorbel::algo {

// Which of two values is the better extreme: `keeps(x, v)` is true when a
// queued value v is strictly better than a new value x and so survives it.
struct Highest {
  template <class T>
  static bool keeps(T x, T v) {
    return x < v;
  }
};
struct Lowest {
  template <class T>
  static bool keeps(T x, T v) {
    return x > v;
  }
};

// The monotonic queue: positions in increasing order whose values get strictly
// worse from front to back, so the front is the window's extreme (the newest
// of equal extremes). A ring buffer that doubles when full, so its memory
// follows the longest the queue actually gets.
class MonotonicQueue {
 public:
  bool empty() const { return head_ == tail_; }
  std::size_t front() const { return slots_[head_ & mask_]; }
  std::size_t back() const { return slots_[(tail_ - 1) & mask_]; }
  void pop_front() { ++head_; }
  void pop_back() { --tail_; }

  // Appends j after evicting every queued entry that is not strictly better
  // than value(j); value(k) reads the value an entry stands for.
  template <class Better, class Value>
  void push(std::size_t j, Value&& value) {
    const auto v = value(j);
    while (!empty() && !Better::keeps(v, value(back()))) pop_back();
    if (tail_ - head_ == capacity()) grow();
    slots_[tail_++ & mask_] = j;
  }

  // Drops the entries before `lo` (entries are increasing).
  void drop_before(std::size_t lo) {
    while (!empty() && front() < lo) pop_front();
  }

 private:
  std::size_t capacity() const { return slots_ ? mask_ + 1 : 0; }
  void grow() {
    const std::size_t size = tail_ - head_;
    const std::size_t capacity = std::max<std::size_t>(64, 2 * size);
    auto slots = std::make_unique_for_overwrite<std::size_t[]>(capacity);
    for (std::size_t k = 0; k < size; ++k) slots[k] = slots_[(head_ + k) & mask_];
    slots_ = std::move(slots);
    mask_ = capacity - 1;
    head_ = 0;
    tail_ = size;
  }

  std::unique_ptr<std::size_t[]> slots_;
  std::size_t mask_ = 0;
  std::size_t head_ = 0;
  std::size_t tail_ = 0;
};

// What an extremum function writes at position t for the extreme v found at
// position q.
struct EmitValue {
  static constexpr bool kPositions = false;
  template <class T>
  static T emit(std::size_t, std::size_t, T v) {
    return v;
  }
};
struct EmitBars {
  static constexpr bool kPositions = true;
  template <class T>
  static T emit(std::size_t t, std::size_t q, T) {
    return static_cast<T>(t - q);
  }
};

// The extreme of the last p entries [i-p+1, i] without a queue (entries are
// positions, or the ranks of the non-NaN values in the NaN-skipping mode).
// Entries are cut into blocks of p from the first one; a window is then a
// suffix of the previous block and a prefix of the current one, whose extremes
// are kept in a table and a running value. Each entry costs a few comparisons
// that compile to selects, whatever the data (a queue's evictions mispredict
// on random data). Newer entries win ties, as in the queue.
template <class T, class Better, bool Positions, class Source = const T*>
class BlockExtreme {
 public:
  // An extreme and, when the caller needs it, where it stands.
  struct Best {
    T v;
    [[no_unique_address]] std::conditional_t<Positions, std::size_t, Nothing> at;
  };

  // `x[i]` reads the value of entry i: an array, or a ring of the latest ones.
  BlockExtreme(Source x, std::uint64_t p) : x_(x), p_(p) {}

  // Starts the block at `block`; `previous` says a full block precedes it.
  void begin(std::size_t block, bool previous) {
    block_ = block;
    if (previous) {
      if (!suffix_) suffix_ = std::make_unique_for_overwrite<Best[]>(p_);
      const std::size_t first = block - p_;
      Best best = at(block - 1);
      suffix_[p_ - 1] = best;
      for (std::size_t j = p_ - 1; j-- > 0;) suffix_[j] = best = newer_wins(at(first + j), best);
    }
    run_ = at(block);
  }
  void push(std::size_t i) { run_ = newer_wins(run_, at(i)); }
  // The extreme of [lo, i], i the last position pushed.
  Best best(std::size_t lo) const {
    return lo >= block_ ? run_ : newer_wins(suffix_[lo - (block_ - p_)], run_);
  }

 private:
  Best at(std::size_t i) const {
    if constexpr (Positions)
      return {x_[i], i};
    else
      return {x_[i], {}};
  }
  // Value and position selected separately, so that the compiler can use a
  // max/min instruction for the value and a conditional move for the position.
  static Best newer_wins(Best older, Best newer) {
    const bool keep = Better::keeps(newer.v, older.v);
    Best out;
    out.v = keep ? older.v : newer.v;
    // by arithmetic: the compiler would branch on a conditional here, and the
    // branch mispredicts on random data
    if constexpr (Positions) out.at = newer.at ^ ((older.at ^ newer.at) & (std::size_t{0} - keep));
    return out;
  }

  Source x_;
  std::uint64_t p_;
  std::size_t block_ = 0;
  Best run_{};
  std::unique_ptr<Best[]> suffix_;
};

// Default and strict mode for block extremes: `track` has begin/push of
// BlockExtreme and `value(i, lo)`. A window holding a NaN gives no output, so
// a NaN only ever enters comparisons whose result is discarded.
template <class T, class Track>
void walk_blocks(const Context& ctx, std::span<T> r, std::span<const T> x, std::uint64_t p, Range range,
                 Track& track) {
  const bool partial = !ctx.strict();
  const std::size_t b0 = range.s - std::min<std::uint64_t>(range.s, p);
  std::size_t nan_end = b0;  // one past the last NaN seen
  for (std::size_t block = b0; block < range.e; block += p) {
    const std::size_t end = block + std::min<std::uint64_t>(p, range.e - block);
    track.begin(block, block > b0);
    for (std::size_t i = block; i < end; ++i) {
      if (is_nan(x[i])) nan_end = i + 1;
      if (i > block) track.push(i);
      if (i < range.s) continue;
      const std::size_t lo = i + 1 >= p ? i + 1 - p : 0;
      const bool write = nan_end <= lo && (partial || i + 1 >= p);
      r[i] = write ? track.value(i, lo) : kNaN<T>;
    }
  }
}

}  // namespace quorbel::algo
