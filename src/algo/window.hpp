#pragma once
// The window modes, written once for every rolling kernel.
//
// A kernel describes its running statistic as a small state type:
//   bool enter(j)   position j joins the window; true when it counts as missing
//                   (the state ignores a missing value, or treats it its own way)
//   bool leave(j)   position j leaves; true when it was counted as missing
//   T value(i, n)   the output at position i for a window of n values
// and the walkers below decide which positions form the window, keep the count
// of missing positions and write the output or NaN.
//
// Default mode: the positional window i-p+1 .. i, pre-loaded with the values
// just before the computation range; any missing value suppresses the output.
// Strict mode adds that the window must be complete. NaN-skipping mode: the
// window is the last p non-NaN values from the start of the range on.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "context.hpp"
#include "driver.hpp"
#include "error.hpp"
#include "types.hpp"

namespace quorbel::algo {

struct WindowRule {
  // Only complete windows produce output, whatever the flags say.
  bool full_only = false;
};

// The left edge of the NaN-skipping window and the number of non-NaN values in
// it. The edge only moves forward, so a whole walk costs O(n).
template <class T>
struct SkipNanEdge {
  std::span<const T> x;
  std::size_t left;
  std::size_t count = 0;

  // Moves the window to end at position i. `on_leave(j)` is called, in
  // increasing order, for every non-NaN position the left edge passes.
  template <class OnLeave>
  void advance(std::size_t i, std::uint64_t p, OnLeave&& on_leave) {
    if (!is_nan(x[i])) ++count;
    while (count > p) {
      if (!is_nan(x[left])) {
        --count;
        on_leave(left);
      }
      ++left;
    }
    while (left <= i && is_nan(x[left])) ++left;
  }

  // The window ends at i and holds exactly p values on p consecutive positions.
  bool complete(std::size_t i, std::uint64_t p) const { return count == p && i + 1 - left == p; }
};

// The positions [s, e) a kernel computes, with everything outside already NaN.
struct Range {
  std::size_t s;
  std::size_t e;
};

template <class T>
Range prepare_range(const Context& ctx, std::span<T> r) {
  const std::size_t n = r.size();
  const std::size_t s = ctx.start_at(n);
  const std::size_t e = std::max(s, ctx.end_at(n));
  std::fill(r.begin(), r.begin() + s, kNaN<T>);
  std::fill(r.begin() + e, r.end(), kNaN<T>);
  return {s, e};
}

// Default and strict mode.
template <class T, class State>
void walk_positional(const Context& ctx, std::span<T> r, std::uint64_t p, State& st, Range range,
                     WindowRule rule) {
  const auto [s, e] = range;
  const bool partial = !rule.full_only && !ctx.strict();
  std::int64_t missing = 0;
  for (std::size_t j = s - std::min<std::uint64_t>(s, p); j < s; ++j) missing += st.enter(j);
  for (std::size_t i = s; i < e; ++i) {
    missing += st.enter(i);
    if (i >= p) missing -= st.leave(i - p);
    const bool write = missing == 0 && (partial || i + 1 >= p);
    r[i] = write ? st.value(i, std::min<std::uint64_t>(i + 1, p)) : kNaN<T>;
  }
}

// NaN-skipping and strict NaN-skipping mode. The entering value is added
// before the values passed by the left edge are removed.
template <class T, class State>
void walk_skip_nan(const Context& ctx, std::span<T> r, std::span<const T> x, std::uint64_t p,
                   State& st, Range range, WindowRule rule) {
  const auto [s, e] = range;
  const bool strict = ctx.strict();
  const bool need_full = strict || rule.full_only;
  SkipNanEdge<T> edge{x, s};
  for (std::size_t i = s; i < e; ++i) {
    const bool present = !is_nan(x[i]);
    if (present) st.enter(i);
    edge.advance(i, p, [&](std::size_t j) { st.leave(j); });
    const bool write = present && (!need_full || edge.count == p) &&
                       (!strict || edge.complete(i, p));
    r[i] = write ? st.value(i, edge.count) : kNaN<T>;
  }
}

// The cumulative window of the running aggregates (periods = 0): `add(j)`
// takes position j into the aggregate and says whether it took it; from the
// first position taken on, every position gets the aggregate.
template <class T, class Add, class Value>
void walk_cumulative(std::span<T> r, Range range, Add&& add, Value&& value) {
  bool any = false;
  for (std::size_t i = range.s; i < range.e; ++i) {
    any = add(i) || any;
    r[i] = any ? value() : kNaN<T>;
  }
}

// Runs a rolling statistic over one group slice in the mode the flags select,
// for a window length p >= 1.
template <class T, class State>
void run_window(const Context& ctx, std::span<T> r, std::span<const T> x, std::uint64_t p, State& st,
                WindowRule rule = {}) {
  const Range range = prepare_range(ctx, r);
  if (ctx.skip_nan())
    walk_skip_nan(ctx, r, x, p, st, range, rule);
  else
    walk_positional(ctx, r, p, st, range, rule);
}

// A window whose length is read per position from `periods`: checks the
// lengths, then runs `skip_nan(r, x, periods, range)` or `positional(...)` on
// every group slice, as the flags select, with the slice's range prepared.
template <class T, class SkipNan, class Positional>
Status run_per_position(const Context& ctx, std::span<T> r, std::span<const T> input,
                        std::span<const std::uint64_t> periods, SkipNan&& skip_nan, Positional&& positional) {
  if (auto err = check_lengths(r.size(), input.size(), periods.size())) return err;
  run_groups(
      ctx,
      [&](std::span<T> rs, std::span<const T> xs, std::span<const std::uint64_t> ps) {
        const Range range = prepare_range(ctx, rs);
        if (ctx.skip_nan())
          skip_nan(rs, xs, ps, range);
        else
          positional(rs, xs, ps, range);
      },
      r, input, periods);
  return {};
}

}  // namespace quorbel::algo
